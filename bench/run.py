# Times tarvik_codec.columnarize against three peers (stdlib json, orjson, simdjson parse + minify)
# on every corpus, checks that the Python pipelines agree, and writes results.md and results.png.
"""Benchmark of tarvik_codec against the pipelines a developer would otherwise use.

For every corpus, at its natural size and repeated to about 10 MB, the four pipelines run
interleaved in one process (the native one in a helper process that times itself), and each
figure is the median of --runs runs. See bench/README.md for what each pipeline does.
"""

import argparse
import gc
import json
import os
import platform
import statistics
import subprocess
import sys
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import columnar_reference

BENCH_DIR = Path(__file__).resolve().parent
REPO_DIR = BENCH_DIR.parent
OUT_DIR = BENCH_DIR / "out"
NATIVE_SOURCE = BENCH_DIR / "native" / "simdjson_roundtrip.cpp"
NATIVE_BINARY = OUT_DIR / "simdjson_roundtrip"
MB = 1_000_000
PIPELINES = ("tarvik", "orjson", "stdlib", "native")
PEERS = ("orjson", "stdlib", "native")


def data_dir() -> Path:
    """The folder of row corpora: $TARVIK_DATA_DIR, else shared/ beside the repository."""
    if "TARVIK_DATA_DIR" in os.environ:
        return Path(os.environ["TARVIK_DATA_DIR"])
    beside = REPO_DIR.parent / "shared" / "data" / "rows"
    return beside if beside.is_dir() else Path("/work/shared/data/rows")


def copies_for(size: int, target: int) -> int:
    return max(1, round(target / size))


def scale_payload(payload: bytes, copies: int) -> bytes:
    """The payload's rows repeated `copies` times, as one JSON array.

    The rows' bytes are joined as they are, so every copy keeps the corpus's own escapes and number
    text (re-dumping twitterescaped would turn its escapes into raw UTF-8).
    """
    text = payload.strip()
    if not (text.startswith(b"[") and text.endswith(b"]")):
        raise ValueError("a row payload must be one JSON array")
    rows = text[1:-1].strip()
    if copies == 1 or not rows:
        return payload
    return b"[" + b",".join([rows] * copies) + b"]"


def load_tarvik():
    """tarvik_codec.columnarize, or None with the reason when the module does not import."""
    try:
        import tarvik_codec
    except ImportError as error:
        return None, f"tarvik_codec does not import ({error})"
    return tarvik_codec.columnarize, None


def python_pipelines() -> tuple[dict, dict]:
    """The in-process pipelines by name, and the reason for each one that is missing."""
    pipelines, missing = {}, {}
    tarvik, reason = load_tarvik()
    if tarvik is None:
        missing["tarvik"] = reason
    else:
        pipelines["tarvik"] = tarvik
    if columnar_reference.orjson is None:
        missing["orjson"] = "orjson is not installed"
    else:
        pipelines["orjson"] = columnar_reference.columnarize_orjson
    pipelines["stdlib"] = columnar_reference.columnarize_stdlib
    return pipelines, missing


def build_native() -> str | None:
    """Builds the simdjson program into bench/out if it is stale; returns why not, on failure."""
    if NATIVE_BINARY.exists() and NATIVE_BINARY.stat().st_mtime >= NATIVE_SOURCE.stat().st_mtime:
        return None
    OUT_DIR.mkdir(parents=True, exist_ok=True)
    command = ["g++", "-std=c++20", "-O2", "-Wall", "-Wextra", "-Wshadow", "-Werror"]
    command += ["-o", str(NATIVE_BINARY), str(NATIVE_SOURCE), "-lsimdjson"]
    try:
        built = subprocess.run(command, check=False, capture_output=True, text=True)
    except OSError as error:
        return f"g++ did not start ({error})"
    if built.returncode != 0:
        return "building it failed (is libsimdjson-dev installed?):\n" + built.stderr[-2000:]
    return None


class NativeRoundtrip:
    """The simdjson program as a helper process that times each parse + minify itself."""

    def __init__(self):
        self.process = subprocess.Popen(
            [str(NATIVE_BINARY)], stdin=subprocess.PIPE, stdout=subprocess.PIPE
        )
        ready = self._reply()
        self.implementation = ready.split()[1]

    def _reply(self) -> str:
        line = self.process.stdout.readline().decode().strip()
        if not line:
            raise RuntimeError("the native program ended")
        if line.startswith("error "):
            raise RuntimeError(line[len("error ") :])
        return line

    def _ask(self, command: bytes) -> str:
        self.process.stdin.write(command)
        self.process.stdin.flush()
        return self._reply()

    def load(self, payload: bytes) -> None:
        self._ask(b"load %d\n" % len(payload) + payload)

    def time_once(self) -> tuple[int, int]:
        """Nanoseconds of one parse + minify, and of its parse alone."""
        total, parse, _written = self._ask(b"time\n").split()
        return int(total), int(parse)

    def time_threads(self, threads: int) -> int:
        return int(self._ask(b"threads %d\n" % threads))

    def close(self) -> None:
        self.process.stdin.close()
        self.process.wait()


def timed_call(function, payload: bytes) -> int:
    gc.collect()  # garbage of the previous run is not charged to this one
    start = time.perf_counter_ns()
    function(payload)
    return time.perf_counter_ns() - start


# Each thread makes this many calls in a row: the figure is what N threads sustain together,
# not the moment they start (a call begins by copying its payload with the interpreter lock held,
# which lines up threads that all start at once, for one call only).
CALLS_PER_THREAD = 4


def threaded_call(function, payload: bytes, threads: int) -> int:
    """Wall nanoseconds per round of `threads` threads released together, each calling function
    CALLS_PER_THREAD times in a row.

    The workers clock themselves, from the first start to the last end, so a main thread
    descheduled at the release does not shorten the figure.
    """
    start_line = threading.Barrier(threads)
    starts, ends, failures = [], [], []

    def worker():
        start_line.wait()
        starts.append(time.perf_counter_ns())
        try:
            for _ in range(CALLS_PER_THREAD):
                function(payload)
        except Exception as error:  # noqa: BLE001  reported once all threads are done
            failures.append(error)
        ends.append(time.perf_counter_ns())

    workers = [threading.Thread(target=worker) for _ in range(threads)]
    gc.collect()
    for thread in workers:
        thread.start()
    for thread in workers:
        thread.join()
    if failures:
        raise failures[0]
    return (max(ends) - min(starts)) // CALLS_PER_THREAD


def count_differences(a, b) -> tuple[int, str | None]:
    """How many places two loaded JSON documents differ in, telling int, float and bool apart,
    and the first one as "PATH: LEFT vs RIGHT" (the path relative to a and b)."""
    if type(a) is not type(b):
        return 1, f": {type(a).__name__} {short(a)} vs {type(b).__name__} {short(b)}"
    if type(a) is list:
        if len(a) != len(b):
            return 1, f": {len(a)} elements vs {len(b)}"
        total, first = 0, None
        for index, (left, right) in enumerate(zip(a, b)):
            count, where = count_differences(left, right)
            if count:
                total += count
                first = first or f"[{index}]{where}"
        return total, first
    if type(a) is dict:
        if list(a) != list(b):
            return 1, f": members {short(list(a))} vs {short(list(b))}"
        total, first = 0, None
        for key, value in a.items():
            count, where = count_differences(value, b[key])
            if count:
                total += count
                first = first or f".{key}{where}"
        return total, first
    return (0, None) if a == b else (1, f": {short(a)} vs {short(b)}")


def short(value, limit: int = 80) -> str:
    text = json.dumps(value, ensure_ascii=False)
    return text if len(text) <= limit else text[: limit - 3] + "..."


@dataclass
class Measurement:
    corpus: str
    size_label: str
    payload_bytes: int
    copies: int
    seconds: dict = field(default_factory=dict)  # pipeline -> median seconds of one call
    native_parse_seconds: float | None = None
    thread_seconds: dict = field(default_factory=dict)  # pipeline -> median wall of N at once
    failures: dict = field(default_factory=dict)  # pipeline -> error text
    mismatches: list = field(default_factory=list)
    checks: int = 0  # output comparisons made

    def mb_per_s(self, pipeline: str) -> float | None:
        seconds = self.seconds.get(pipeline)
        return self.payload_bytes / MB / seconds if seconds else None

    def threads_mb_per_s(self, pipeline: str, threads: int) -> float | None:
        seconds = self.thread_seconds.get(pipeline)
        return threads * self.payload_bytes / MB / seconds if seconds else None


def check_outputs(payload: bytes, pipelines: dict, measurement: Measurement) -> None:
    """Compares the loaded outputs of the Python peers with tarvik's (or with each other)."""
    loaded = {}
    for name, function in pipelines.items():
        if name in measurement.failures:
            continue
        try:
            loaded[name] = json.loads(function(payload))
        except Exception as error:  # noqa: BLE001  a failing pipeline is reported, not fatal
            measurement.failures[name] = f"{type(error).__name__}: {error}"
    reference = "tarvik" if "tarvik" in loaded else "stdlib"
    for name in ("stdlib", "orjson"):
        if name != reference and name in loaded and reference in loaded:
            measurement.checks += 1
            count, first = count_differences(loaded[name], loaded[reference])
            if count:
                measurement.mismatches.append(
                    f"{name} vs {reference}: {count} places differ, the first at ${first}"
                )


def measure(payload: bytes, measurement: Measurement, pipelines: dict, native, args) -> None:
    """Times every pipeline on one payload, interleaved round by round."""
    check_outputs(payload, pipelines, measurement)
    live = {name: f for name, f in pipelines.items() if name not in measurement.failures}
    names = list(live)
    if native is not None:
        try:
            native.load(payload)
            native.time_once()  # warm-up, like the Python pipelines' first call in check_outputs
            names.append("native")
        except RuntimeError as error:
            measurement.failures["native"] = str(error)
    samples = {name: [] for name in names}
    parse_samples = []
    for run in range(args.runs):
        # Rotating the order keeps any pipeline from always running right after the same one.
        for name in names[run % len(names) :] + names[: run % len(names)]:
            if name == "native":
                total, parse = native.time_once()
                samples[name].append(total)
                parse_samples.append(parse)
            else:
                samples[name].append(timed_call(live[name], payload))
    for name, values in samples.items():
        measurement.seconds[name] = statistics.median(values) / 1e9
    if parse_samples:
        measurement.native_parse_seconds = statistics.median(parse_samples) / 1e9

    if args.threads > 1:
        thread_samples = {name: [] for name in names}
        for run in range(args.runs):
            for name in names[run % len(names) :] + names[: run % len(names)]:
                if name in measurement.failures:
                    continue
                try:
                    if name == "native":
                        wall = native.time_threads(args.threads)
                    else:
                        wall = threaded_call(live[name], payload, args.threads)
                except Exception as error:  # noqa: BLE001  reported like check_outputs does
                    measurement.failures[name] = f"with threads: {type(error).__name__}: {error}"
                    continue
                thread_samples[name].append(wall)
        for name, values in thread_samples.items():
            if name not in measurement.failures:
                measurement.thread_seconds[name] = statistics.median(values) / 1e9


def resident_bytes(field_name: str) -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field_name + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(f"no {field_name} in /proc/self/status")


def memory_child(pipeline: str, corpus: Path, copies: int) -> None:
    """In a fresh process: the peak resident bytes that one call adds on top of its payload."""
    pipelines, missing = python_pipelines()
    if pipeline not in pipelines:
        sys.exit(missing[pipeline])
    payload = scale_payload(corpus.read_bytes(), copies)
    gc.collect()
    # Writing 5 resets the peak (VmHWM) to the current resident size.
    with open("/proc/self/clear_refs", "w") as clear_refs:
        clear_refs.write("5")
    before = resident_bytes("VmRSS")
    output = pipelines[pipeline](payload)
    print(resident_bytes("VmHWM") - before, len(output))


def measure_memory(corpus: Path, target: int, names: list) -> tuple[int, dict]:
    """Peak extra resident bytes of one call per pipeline, each in a fresh process."""
    natural = corpus.read_bytes()
    copies = copies_for(len(natural), target)
    payload = scale_payload(natural, copies)
    peaks = {}
    for name in names:
        if name == "native":
            done = subprocess.run(
                [str(NATIVE_BINARY), "--memory"],
                check=False,
                input=payload,
                capture_output=True,
            )
        else:
            command = [
                sys.executable,
                __file__,
                "--memory-child",
                name,
                str(corpus),
                str(copies),
            ]
            done = subprocess.run(command, check=False, capture_output=True)
        if done.returncode == 0:
            peaks[name] = int(done.stdout.split()[0])
        else:
            lines = done.stderr.decode(errors="replace").strip().splitlines()
            peaks[name] = lines[-1] if lines else f"exit status {done.returncode}"
    return len(payload), peaks


def figure(value: float | None) -> str:
    if value is None:
        return "—"
    return f"{value:,.0f}" if value >= 100 else f"{value:.1f}"


def ratio(numerator: float | None, denominator: float | None) -> str:
    if not numerator or not denominator:
        return "—"
    return f"{numerator / denominator:.2f}×"


def throughput_table(measurements: list, threads: int | None = None) -> list[str]:
    """Markdown rows of MB/s per pipeline and tarvik's ratios to the peers (above 1: faster)."""
    head = "| corpus | MB | tarvik | orjson | stdlib | native | native parse only |"
    head += " tarvik/orjson | tarvik/stdlib | tarvik/native |"
    lines = [head, "|" + "---|" * 10]
    for m in measurements:
        if threads:
            speed = {name: m.threads_mb_per_s(name, threads) for name in PIPELINES}
            parse = None
        else:
            speed = {name: m.mb_per_s(name) for name in PIPELINES}
            parse = (
                m.payload_bytes / MB / m.native_parse_seconds if m.native_parse_seconds else None
            )
        cells = [m.corpus, f"{m.payload_bytes / MB:.1f}"]
        cells += [figure(speed[name]) for name in PIPELINES] + [figure(parse)]
        cells += [ratio(speed["tarvik"], speed[peer]) for peer in PEERS]
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def memory_table(memory: list) -> list[str]:
    lines = ["| corpus | MB | " + " | ".join(PIPELINES) + " |", "|" + "---|" * 6]
    for corpus, size, peaks in memory:
        cells = [corpus, f"{size / MB:.0f}"]
        for name in PIPELINES:
            peak = peaks.get(name)
            if peak is None:
                cells.append("—")
            elif isinstance(peak, int):
                cells.append(f"{peak / size:.2f}× ({peak / MB:,.0f} MB)")
            else:
                cells.append("failed: " + peak[:60])
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def machine_lines(native_implementation: str | None, args, load_before: float) -> list[str]:
    cpu = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            cpu = next(line.split(":", 1)[1].strip() for line in cpuinfo if "model name" in line)
    except (OSError, StopIteration):
        pass
    orjson = columnar_reference.orjson
    return [
        f"- Machine: {cpu}, {os.cpu_count()} cores; {platform.system()} {platform.release()}",
        (
            f"- Python {platform.python_version()};"
            f" orjson {orjson.__version__ if orjson else '—'};"
            f" simdjson implementation: {native_implementation or '—'}"
        ),
        (
            f"- Median of {args.runs} interleaved runs per figure;"
            f" {time.strftime('%Y-%m-%d %H:%M', time.gmtime())} UTC"
        ),
        # Other work on the machine skews the figures; the load average tells how much there was.
        f"- Load average (1 min) at the start: {load_before:.1f}; at the end: {os.getloadavg()[0]:.1f}",
    ]


def write_report(path: Path, args, results: dict, memory: list, notes: list, machine: list):
    lines = ["# Benchmark results", "", *machine, ""]
    lines += [
        "MB/s of input (1 MB = 10^6 bytes); a ratio above 1× means tarvik is faster.",
        "",
    ]
    for label, measurements in results.items():
        lines += [f"## {label}", "", *throughput_table(measurements), ""]
        if args.threads > 1:
            lines += [
                f"### {label}, {args.threads} threads at once (aggregate MB/s)",
                "",
            ]
            lines += [*throughput_table(measurements, args.threads), ""]
    if memory:
        lines += ["## Peak resident memory of one call", ""]
        lines += ["Extra resident bytes at the peak of one call over the payload size, each in a"]
        lines += ["fresh process (the caller's payload itself not counted).", ""]
        lines += [*memory_table(memory), ""]
    lines += ["## Output check", ""]
    lines += [f"- {note}" for note in notes]
    path.write_text("\n".join(lines) + "\n")


def write_chart(path: Path, results: dict, missing: dict) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import ScalarFormatter

    colours = {
        "tarvik": "#d62728",
        "orjson": "#1f77b4",
        "stdlib": "#7f7f7f",
        "native": "#2ca02c",
    }
    fig, axes = plt.subplots(len(results), 1, figsize=(13, 4.2 * len(results)), squeeze=False)
    for axis, (label, measurements) in zip(axes[:, 0], results.items()):
        width = 0.2
        for offset, name in enumerate(PIPELINES):
            xs = [i + (offset - 1.5) * width for i in range(len(measurements))]
            heights = [m.mb_per_s(name) or 0 for m in measurements]
            legend = f"{name} (not measured)" if name in missing else name
            axis.bar(xs, heights, width, label=legend, color=colours[name])
        axis.set_xticks(range(len(measurements)))
        axis.set_xticklabels([m.corpus for m in measurements], rotation=20, ha="right")
        axis.set_yscale("log")
        axis.yaxis.set_major_formatter(ScalarFormatter())
        axis.set_ylabel("MB/s of input")
        axis.set_title(label)
        axis.grid(axis="y", which="both", alpha=0.3)
        axis.legend(ncols=4, fontsize="small")
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=7, help="runs per median (at least 7)")
    parser.add_argument("--threads", type=int, default=1, help="also time N threads at once")
    parser.add_argument("--corpus", action="append", help="only this corpus (repeatable)")
    parser.add_argument("--scaled-mb", type=float, default=10, help="scaled size; 0: none")
    parser.add_argument("--memory-mb", type=float, default=100, help="memory payload; 0: skip")
    parser.add_argument("--out", type=Path, default=BENCH_DIR, help="folder for results.*")
    parser.add_argument("--memory-child", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.memory_child is None and args.runs < 7:
        parser.error("--runs must be at least 7")
    if args.threads < 1:
        parser.error("--threads must be at least 1")
    return args


def main(argv=None) -> int:
    args = parse_args(argv)
    if args.memory_child:
        pipeline, corpus, copies = args.memory_child
        memory_child(pipeline, Path(corpus), int(copies))
        return 0

    corpora = sorted(data_dir().glob("*.json"))
    if args.corpus:
        corpora = [path for path in corpora if path.stem in args.corpus]
    if not corpora:
        sys.exit(f"no corpus found in {data_dir()}")

    load_before = os.getloadavg()[0]
    pipelines, missing = python_pipelines()
    native_problem = build_native()
    native = None
    if native_problem is None:
        try:
            native = NativeRoundtrip()
        except (OSError, RuntimeError) as error:
            native_problem = f"did not start ({error})"
    if native_problem:
        missing["native"] = native_problem
    for name, reason in missing.items():
        print(f"{name}: not measured: {reason}", file=sys.stderr)

    sizes = [("natural size", None)]
    if args.scaled_mb > 0:
        sizes.append((f"scaled to about {args.scaled_mb:g} MB", int(args.scaled_mb * MB)))
    results = {label: [] for label, _ in sizes}
    notes = [f"{name} not measured: {reason.splitlines()[0]}" for name, reason in missing.items()]
    for corpus in corpora:
        natural = corpus.read_bytes()
        for label, target in sizes:
            copies = copies_for(len(natural), target) if target else 1
            payload = scale_payload(natural, copies)
            m = Measurement(corpus.stem, label, len(payload), copies)
            print(
                f"{corpus.stem} ({label}, {len(payload) / MB:.1f} MB) ...",
                file=sys.stderr,
            )
            measure(payload, m, pipelines, native, args)
            results[label].append(m)
            notes += [f"{m.corpus} ({label}): {text}" for text in m.mismatches]
            notes += [f"{m.corpus} ({label}): {n} failed: {e}" for n, e in m.failures.items()]
    if native is not None:
        native.close()
    measured = [m for group in results.values() for m in group]
    checks = sum(m.checks for m in measured)
    mismatched = sum(1 for m in measured if m.mismatches)
    compared = "stdlib and orjson against tarvik" if "tarvik" in pipelines else "orjson to stdlib"
    notes.insert(
        0,
        f"compared the loaded outputs of {compared}: {checks} comparisons"
        f" on {len(measured)} payloads, {mismatched} payloads with a mismatch",
    )

    memory = []
    if args.memory_mb > 0:
        names = [name for name in PIPELINES if name not in missing]
        for corpus in corpora:
            print(f"{corpus.stem}: memory of one call ...", file=sys.stderr)
            size, peaks = measure_memory(corpus, int(args.memory_mb * MB), names)
            memory.append((corpus.stem, size, peaks))

    machine = machine_lines(native and native.implementation, args, load_before)
    for label, measurements in results.items():
        print(f"\n{label} (MB/s; ratios above 1× mean tarvik is faster)")
        print("\n".join(throughput_table(measurements)))
        if args.threads > 1:
            print(f"\n{label}, {args.threads} threads at once (aggregate MB/s)")
            print("\n".join(throughput_table(measurements, args.threads)))
    if memory:
        print("\npeak resident memory of one call, over the payload size")
        print("\n".join(memory_table(memory)))
    print("\noutput check:", *notes, sep="\n- ")

    args.out.mkdir(parents=True, exist_ok=True)
    write_report(args.out / "results.md", args, results, memory, notes, machine)
    write_chart(args.out / "results.png", results, missing)
    print(f"\nwrote {args.out / 'results.md'} and {args.out / 'results.png'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
