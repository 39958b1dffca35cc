# Times tarvik_codec.columnarize against three peers (stdlib json, orjson, simdjson parse + minify)
# on every corpus and size, checks that the Python pipelines agree, and writes results.md and .png.
"""Benchmark of tarvik_codec against the pipelines a developer would otherwise use.

For every corpus, cut to about 1, 4, 16 and 64 KB, at its natural size and repeated to about
10 MB, the four pipelines run interleaved in one process (the native one in a helper process that
times itself), and each figure is the median of --runs samples. See bench/README.md.
"""

import argparse
import gc
import json
import os
import statistics
import sys
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import document_memory
import document_report
import memory
import native_peer
import report
from document_speed import measure_documents
from documents import tool_outputs
from payloads import CorpusMissing, copies_for, corpora, first_rows, scale_payload
from pipelines import load_document_codec, python_pipelines
from timing import calls_per_sample, orjson_roundtrip, rotations, sample_clock, timed_calls

BENCH_DIR = Path(__file__).resolve().parent
KB = 1_000
MB = 1_000_000
SMALL_SIZES = (1 * KB, 4 * KB, 16 * KB, 64 * KB)
# The tiny payloads of the per-call cost: no rows, and one short row.
CALL_COST_PAYLOADS = (b"[]", b'[{"id":1,"name":"x"}]')


@dataclass
class Measurement:
    corpus: str
    size_label: str
    payload_bytes: int
    copies: int
    samples: dict = field(default_factory=dict)  # pipeline -> ns per call, one per sample
    native_parse_ns: list = field(default_factory=list)
    thread_walls: dict = field(default_factory=dict)  # pipeline -> ns per round of N threads
    scaling: dict = field(default_factory=dict)  # pipeline -> N threads over 1, one per round
    failures: dict = field(default_factory=dict)  # pipeline -> error text
    mismatches: list = field(default_factory=list)
    checks: int = 0  # output comparisons made
    note: str | None = None  # why a size has no payload for this corpus

    def mb_per_s(self, pipeline: str) -> float | None:
        values = self.samples.get(pipeline)
        return self.payload_bytes / MB / (statistics.median(values) / 1e9) if values else None

    def native_parse_mb_per_s(self) -> float | None:
        if not self.native_parse_ns:
            return None
        return self.payload_bytes / MB / (statistics.median(self.native_parse_ns) / 1e9)

    def threads_mb_per_s(self, pipeline: str, threads: int) -> list[float]:
        """Aggregate MB/s of each round of N threads."""
        return [
            threads * self.payload_bytes / MB / (wall / 1e9)
            for wall in self.thread_walls.get(pipeline, [])
        ]


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


# Each thread makes this many calls in a row: the figure is what N threads sustain together,
# not the moment they start, when every thread sets up its call at once.
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


# Pipelines that release the interpreter lock, whose N-thread figure is set against one thread
# round by round; the others run one thread at a time anyway.
SCALING_PIPELINES = ("tarvik", "native")


def measure(payload: bytes, m: Measurement, pipelines: dict, native, args, threads: bool) -> None:
    """Times every pipeline on one payload, interleaved sample by sample."""
    check_outputs(payload, pipelines, m)
    live = {name: f for name, f in pipelines.items() if name not in m.failures}
    calls = {}
    for name, function in live.items():  # the first call of check_outputs was the warm-up
        calls[name] = calls_per_sample(timed_calls(function, payload, 1), args.sample_ns)
    names = list(live)
    if native is not None:
        try:
            native.load(payload)
            calls["native"] = calls_per_sample(native.time_runs()[0], args.sample_ns)
            names.append("native")
        except RuntimeError as error:
            m.failures["native"] = str(error)
    m.samples = {name: [] for name in names}
    for order in rotations(names, args.runs):
        for name in order:
            if name == "native":
                total, parse = native.time_runs(calls[name])
                m.samples[name].append(total)
                m.native_parse_ns.append(parse)
            else:
                m.samples[name].append(timed_calls(live[name], payload, calls[name]))

    if not threads:
        return
    for order in rotations(names, args.thread_rounds):
        for name in order:
            if name in m.failures:
                continue
            try:
                if name == "native":
                    single = native.time_threads(1)
                    wall = native.time_threads(args.threads)
                else:
                    single = (
                        threaded_call(live[name], payload, 1) if name in SCALING_PIPELINES else None
                    )
                    wall = threaded_call(live[name], payload, args.threads)
            except Exception as error:  # noqa: BLE001  reported like check_outputs does
                m.failures[name] = f"with threads: {type(error).__name__}: {error}"
                continue
            m.thread_walls.setdefault(name, []).append(wall)
            if single is not None:
                m.scaling.setdefault(name, []).append(args.threads * single / wall)


def measure_call_cost(pipelines: dict, args) -> list[tuple[bytes | None, str, list[float]]]:
    """Nanoseconds per call on the tiny payloads, one per round: (payload, call, samples).

    Each sample is a plain loop of calls; the loop's own cost is the first line, a call of len.
    """
    cases = [(None, "len(payload): the loop's own cost", len)]
    for payload in CALL_COST_PAYLOADS:
        if "tarvik" in pipelines:
            cases.append((payload, "tarvik_codec.columnarize", pipelines["tarvik"]))
        if "orjson" in pipelines:
            cases.append((payload, "orjson.dumps(orjson.loads(p))", orjson_roundtrip))
            cases.append((payload, "orjson pipeline", pipelines["orjson"]))
        cases.append((payload, "stdlib pipeline", pipelines["stdlib"]))
    # A longer sample than a corpus's: the calls are short, and the figure is in nanoseconds.
    calls = [
        calls_per_sample(timed_calls(function, payload or b"[]", 1000), 5 * args.sample_ns)
        for payload, _call, function in cases
    ]
    samples = [[] for _ in cases]
    for order in rotations(list(range(len(cases))), args.runs):
        for index in order:
            payload, _call, function = cases[index]
            samples[index].append(timed_calls(function, payload or b"[]", calls[index]))
    return [(payload, call, values) for (payload, call, _f), values in zip(cases, samples)]


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="a small subset, to check the bench")
    parser.add_argument("--runs", type=int, help="samples per median (at least 7; quick: 3)")
    parser.add_argument("--threads", type=int, default=2, help="threads at once; 1: none")
    parser.add_argument("--corpus", action="append", help="only this corpus (repeatable)")
    parser.add_argument("--scaled-mb", type=float, help="scaled size (10; quick: 1); 0: none")
    parser.add_argument("--memory-mb", type=float, help="memory payload (100; quick: 10); 0: skip")
    parser.add_argument("--no-small", action="store_true", help="skip the 1-64 KB cuts")
    parser.add_argument("--no-square", action="store_true", help="skip the N × N tables")
    parser.add_argument("--no-document", action="store_true", help="skip the document mode")
    parser.add_argument("--document-only", action="store_true", help="only the document mode")
    parser.add_argument("--out", type=Path, help="folder for results.* (quick: bench/out/quick)")
    args = parser.parse_args(argv)
    quick = args.quick
    args.runs = args.runs or (3 if quick else 7)
    if args.runs < (1 if quick else 7):
        parser.error("--runs must be at least 7 (or use --quick)")
    if args.threads < 1:
        parser.error("--threads must be at least 1")
    if args.no_document and args.document_only:
        parser.error("--no-document and --document-only exclude each other")
    if args.corpus is None and quick:
        args.corpus = ["canada", "twitter"]
    args.scaled_mb = (1 if quick else 10) if args.scaled_mb is None else args.scaled_mb
    args.memory_mb = (10 if quick else 100) if args.memory_mb is None else args.memory_mb
    # A run of the document mode alone never replaces the full run's bench/results.*.
    partial = BENCH_DIR / "out" / ("quick" if quick else "document")
    args.out = args.out or (partial if quick or args.document_only else BENCH_DIR)
    args.thread_rounds = max(args.runs, 5)  # the thread figure is reported with its spread
    args.sample_ns = (1 if quick else 10) * 1_000_000
    args.square_rows = memory.SQUARE_ROWS[:1] if quick else memory.SQUARE_ROWS
    return args


def payload_sizes(args) -> list[tuple[str, str, int | None]]:
    """(label, how it is made, target bytes) of every size, smallest first."""
    sizes = [] if args.no_small else [(f"cut to about {s // KB} KB", "cut", s) for s in SMALL_SIZES]
    sizes.append(("natural size", "natural", None))
    if args.scaled_mb > 0:
        sizes.append((f"scaled to about {args.scaled_mb:g} MB", "scaled", int(args.scaled_mb * MB)))
    return sizes


def make_payload(natural: bytes, how: str, target: int | None) -> tuple[bytes | None, int]:
    """The payload of one size and the copies of the corpus in it (0 for a cut)."""
    if how == "cut":
        return first_rows(natural, target), 0
    copies = copies_for(len(natural), target) if how == "scaled" else 1
    return scale_payload(natural, copies), copies


def start_native(missing: dict):
    """The native roundtrip's helper process, or None with the reason put in `missing`."""
    problem = native_peer.build_native()
    native = None
    if problem is None:
        try:
            native = native_peer.NativeRoundtrip()
        except (OSError, RuntimeError) as error:
            problem = f"did not start ({error})"
    if problem:
        missing["native"] = problem
    return native


def measure_columnarize(paths: list, pipelines: dict, native, args, notes: list):
    """The per-call cost and every corpus at every size: (call cost, measurements by size)."""
    print("per-call cost on tiny payloads ...", file=sys.stderr)
    call_cost = measure_call_cost(pipelines, args)

    sizes = payload_sizes(args)
    results = {label: [] for label, _how, _target in sizes}
    for corpus in paths:
        natural = corpus.read_bytes()
        for label, how, target in sizes:
            payload, copies = make_payload(natural, how, target)
            if payload is None:
                m = Measurement(corpus.stem, label, 0, 0, note="its first row is larger")
                results[label].append(m)
                continue
            m = Measurement(corpus.stem, label, len(payload), copies)
            print(f"{corpus.stem} ({label}, {len(payload):,} bytes) ...", file=sys.stderr)
            measure(payload, m, pipelines, native, args, threads=args.threads > 1 and how != "cut")
            results[label].append(m)
            notes += [f"{m.corpus} ({label}): {text}" for text in m.mismatches]
            notes += [f"{m.corpus} ({label}): {n} failed: {e}" for n, e in m.failures.items()]
    measured = [m for group in results.values() for m in group if m.payload_bytes]
    checks = sum(m.checks for m in measured)
    mismatched = sum(1 for m in measured if m.mismatches)
    compared = "stdlib and orjson against tarvik" if "tarvik" in pipelines else "orjson to stdlib"
    notes.insert(
        0,
        f"compared the loaded outputs of {compared}: {checks} comparisons"
        f" on {len(measured)} payloads, {mismatched} payloads with a mismatch",
    )
    return call_cost, results


def measure_document_mode(paths: list, tools: list, args, notes: list):
    """Document mode's speed on the wrapped corpora and the tool outputs, then its memory:
    (the timed documents, the memory of every shape)."""
    codec, reason = load_document_codec()
    if codec is None:
        notes.append(f"document mode not measured: {reason}")
        return [], []
    cases = measure_documents(paths, tools, codec, args)
    for case in cases:
        notes += [f"{case.corpus}: {name} failed: {e}" for name, e in case.failures.items()]
        notes += [f"{case.corpus}: {case.mismatch}"] if case.mismatch else []
    checked = [case for case in cases if "columnarize_document" not in case.failures]
    notes.append(
        "loaded decolumnarize(columnarize_document(x)) against x (members whose value is null"
        f" left out): {len(checked)} documents, {sum(1 for c in checked if c.mismatch)} that differ"
    )
    found = []
    if args.memory_mb > 0:
        squares = () if args.no_square else args.square_rows
        shapes = document_memory.memory_shapes(paths, tools, int(args.memory_mb * MB), squares)
        found = document_memory.measure_shapes(shapes, BENCH_DIR / "out")
    return cases, found


def main(argv=None) -> int:
    args = parse_args(argv)
    try:
        paths = corpora(args.corpus)
        tools = [] if args.no_document else tool_outputs()
    except CorpusMissing as problem:
        sys.exit(f"bench: {problem}")

    load_before = os.getloadavg()[0]
    started = time.monotonic()
    pipelines, missing = python_pipelines()
    native = None if args.document_only else start_native(missing)
    for name, reason in missing.items():
        print(f"{name}: not measured: {reason}", file=sys.stderr)
    notes = [f"{name} not measured: {reason.splitlines()[0]}" for name, reason in missing.items()]

    call_cost, results, memory_results, squares = [], {}, [], []
    if not args.document_only:
        call_cost, results = measure_columnarize(paths, pipelines, native, args, notes)
        if native is not None:
            native.close()
        if args.memory_mb > 0:
            names = [name for name in report.PIPELINES if name not in missing]
            for corpus in paths:
                print(f"{corpus.stem}: memory of one call ...", file=sys.stderr)
                size, found = memory.measure_corpus(corpus, int(args.memory_mb * MB), names)
                memory_results.append((corpus.stem, size, found))
        if not args.no_square:
            print("N × N tables ...", file=sys.stderr)
            squares = memory.measure_squares(args.square_rows)
    cases, document_memory_results = [], []
    if not args.no_document:
        cases, document_memory_results = measure_document_mode(paths, tools, args, notes)

    documents = document_report.document_lines(cases, document_memory_results)
    sections = report.Sections(args, call_cost, results, memory_results, squares, notes, documents)
    measured = [m for group in results.values() for m in group if m.payload_bytes] + cases
    machine = report.machine_lines(native and native.implementation, args, load_before, measured)
    machine.append(report.cpu_share(sample_clock["cpu"], sample_clock["wall"]))
    print("\n".join(sections.lines()))
    args.out.mkdir(parents=True, exist_ok=True)
    (args.out / "results.md").write_text(
        "\n".join(["# Benchmark results", "", *machine, "", *sections.lines()]) + "\n"
    )
    written = [args.out / "results.md"]
    if results:
        report.write_chart(args.out / "results.png", results, args.threads, missing)
        written.append(args.out / "results.png")
    print(f"\n{time.monotonic() - started:.0f} s; wrote {' and '.join(map(str, written))}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
