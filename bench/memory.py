# Memory of one call, each measured in a fresh process: the peak and the resident memory kept
# after the call per corpus, and time, output and peak of the N × N tables.
"""Run as `memory.py call PIPELINE CORPUS COPIES` or `memory.py square ROWS` by bench/run.py."""

import gc
import json
import signal
import subprocess
import sys
import time
from pathlib import Path

import native_peer
import payloads
from pipelines import load_tarvik, python_pipelines

# A child that runs longer than this is stopped and reported: the benchmark never hangs on one.
CHILD_TIMEOUT_S = 600
SQUARE_ROWS = (3_000, 10_000, 20_000)


def resident_bytes(field_name: str) -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field_name + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(f"no {field_name} in /proc/self/status")


def volunteer_for_oom_killer() -> None:
    """Makes this child the first process the kernel ends when memory runs out, not the driver."""
    try:
        with open("/proc/self/oom_score_adj", "w") as adjust:
            adjust.write("1000")
    except OSError:
        pass


def memory_error(error: MemoryError) -> str:
    return f"MemoryError: {error}" if str(error) else "MemoryError"


def call_child(pipeline: str, corpus: Path, copies: int) -> dict:
    """One call on the corpus repeated `copies` times: the peak resident bytes it adds on top of
    its payload, and the resident bytes still added once its result is dropped."""
    pipelines, missing = python_pipelines()
    if pipeline not in pipelines:
        return {"error": missing.get(pipeline, f"no pipeline {pipeline}")}
    payload = payloads.scale_payload(corpus.read_bytes(), copies)
    gc.collect()
    # Writing 5 resets the peak (VmHWM) to the current resident size.
    with open("/proc/self/clear_refs", "w") as clear_refs:
        clear_refs.write("5")
    before = resident_bytes("VmRSS")
    try:
        output = pipelines[pipeline](payload)
    except MemoryError as error:
        return {"error": memory_error(error)}
    peak = resident_bytes("VmHWM") - before
    size = len(output)
    del output
    gc.collect()
    return {"peak": peak, "kept": resident_bytes("VmRSS") - before, "output": size}


def square_child(rows: int) -> dict:
    """One tarvik call on the N × N table: seconds, output bytes, and the process's peak RSS."""
    columnarize, reason = load_tarvik()
    if columnarize is None:
        return {"error": reason}
    payload = payloads.square_table(rows)
    result = {"payload": len(payload)}
    gc.collect()
    start = time.perf_counter()
    try:
        result["output"] = len(columnarize(payload))
    except MemoryError as error:
        result["error"] = memory_error(error)
    result["seconds"] = time.perf_counter() - start
    # VmHWM, not ru_maxrss: Linux carries ru_maxrss over exec, so it would report the benchmark
    # process this child was forked from whenever that was larger.
    result["peak"] = resident_bytes("VmHWM")
    return result


def run_child(arguments: list[str], script: str = __file__) -> dict:
    """Runs the script (this file by default) as a child with the arguments; its result, or
    {"error": why there is none}."""
    command = [sys.executable, script, *arguments]
    try:
        done = subprocess.run(command, check=False, capture_output=True, timeout=CHILD_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        return {"error": f"no result within {CHILD_TIMEOUT_S} s (stopped)"}
    return child_result(done, json.loads)


def child_result(done: subprocess.CompletedProcess, parse) -> dict:
    if done.returncode < 0:
        return {"error": f"killed by {signal.Signals(-done.returncode).name}"}
    lines = done.stdout.decode(errors="replace").strip().splitlines()
    if done.returncode == 0 and lines:
        return parse(lines[-1])
    errors = done.stderr.decode(errors="replace").strip().splitlines()
    return {"error": errors[-1] if errors else f"exit status {done.returncode}"}


def parse_native(line: str) -> dict:
    peak, kept = line.split()
    return {"peak": int(peak), "kept": int(kept)}


def measure_corpus(corpus: Path, target: int, names: list[str]) -> tuple[int, dict]:
    """Peak and kept resident bytes of one call per pipeline on the corpus repeated to about
    `target` bytes, each in a fresh process; the payload size and the results by pipeline."""
    natural = corpus.read_bytes()
    copies = payloads.copies_for(len(natural), target)
    size = len(payloads.scale_payload(natural, copies))
    results = {}
    for name in names:
        if name == "native":
            payload = payloads.scale_payload(natural, copies)
            try:
                done = native_peer.measure_memory(payload, CHILD_TIMEOUT_S)
            except subprocess.TimeoutExpired:
                results[name] = {"error": f"no result within {CHILD_TIMEOUT_S} s (stopped)"}
                continue
            results[name] = child_result(done, parse_native)
        else:
            results[name] = run_child(["call", name, str(corpus), str(copies)])
    return size, results


def measure_squares(rows_list) -> list[tuple[int, dict]]:
    return [(rows, run_child(["square", str(rows)])) for rows in rows_list]


def main(argv: list[str]) -> int:
    volunteer_for_oom_killer()
    if argv[0] == "call":
        result = call_child(argv[1], Path(argv[2]), int(argv[3]))
    elif argv[0] == "square":
        result = square_child(int(argv[1]))
    else:
        sys.exit(f"unknown measurement: {argv[0]}")
    print(json.dumps(result))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
