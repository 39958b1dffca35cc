# The benchmark's tables (printed, and written to results.md) and its chart (results.png), made
# from the measurements of bench/run.py.
import os
import platform
import statistics
import time

import columnar_reference

MB = 1_000_000
PIPELINES = ("tarvik", "orjson", "stdlib", "native")
PEERS = ("orjson", "stdlib", "native")


def figure(value: float | None) -> str:
    if value is None:
        return "—"
    return f"{value:,.0f}" if value >= 100 else f"{value:.1f}"


def ratio(numerator: float | None, denominator: float | None) -> str:
    if not numerator or not denominator:
        return "—"
    return f"{numerator / denominator:.2f}×"


def spread(values: list[float], show=figure) -> str:
    """The median, then the lowest and highest value in brackets."""
    if not values:
        return "—"
    return f"{show(statistics.median(values))} ({show(min(values))}–{show(max(values))})"


def times(value: float) -> str:
    return f"{value:.2f}×"


def megabytes(size: float) -> str:
    return f"{size / MB:,.1f}" if abs(size) < 10 * MB else f"{size / MB:,.0f}"


def payload_size(size: int) -> str:
    return f"{size / 1000:,.1f} KB" if size < MB else f"{size / MB:,.1f} MB"


def throughput_table(measurements: list) -> list[str]:
    """Markdown rows of MB/s per pipeline and tarvik's ratios to the peers (above 1: faster)."""
    head = "| corpus | size | tarvik | orjson | stdlib | native | native parse only |"
    head += " tarvik/orjson | tarvik/stdlib | tarvik/native |"
    lines = [head, "|" + "---|" * 10]
    for m in measurements:
        if not m.payload_bytes:
            lines.append(f"| {m.corpus} | — ({m.note}) |" + " — |" * 8)
            continue
        speed = {name: m.mb_per_s(name) for name in PIPELINES}
        cells = [m.corpus, payload_size(m.payload_bytes)]
        cells += [figure(speed[name]) for name in PIPELINES] + [figure(m.native_parse_mb_per_s())]
        cells += [ratio(speed["tarvik"], speed[peer]) for peer in PEERS]
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def ratio_by_size_table(results: dict, peer: str) -> list[str]:
    """tarvik over one peer per corpus (rows) and size (columns)."""
    labels = list(results)
    lines = ["| corpus | " + " | ".join(labels) + " |", "|" + "---|" * (len(labels) + 1)]
    corpora = [m.corpus for m in next(iter(results.values()))]
    for index, corpus in enumerate(corpora):
        cells = [corpus]
        for label in labels:
            m = results[label][index]
            cells.append(ratio(m.mb_per_s("tarvik"), m.mb_per_s(peer)) if m.payload_bytes else "—")
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def thread_table(measurements: list, threads: int) -> list[str]:
    """Aggregate MB/s of N threads at once, and N threads over one thread measured round by
    round, each as the median and the range over the rounds."""
    head = f"| corpus | size | tarvik | tarvik {threads}/1 thread | orjson | stdlib | native |"
    head += f" native {threads}/1 thread | tarvik/orjson | tarvik/native |"
    lines = [head, "|" + "---|" * 10]
    for m in measurements:
        speed = {name: m.threads_mb_per_s(name, threads) for name in PIPELINES}
        median = {name: statistics.median(v) if v else None for name, v in speed.items()}
        cells = [m.corpus, payload_size(m.payload_bytes)]
        cells += [spread(speed["tarvik"]), spread(m.scaling.get("tarvik", []), times)]
        cells += [figure(median["orjson"]), figure(median["stdlib"])]
        cells += [spread(speed["native"]), spread(m.scaling.get("native", []), times)]
        cells += [ratio(median["tarvik"], median[peer]) for peer in ("orjson", "native")]
        lines.append("| " + " | ".join(cells) + " |")
    medians = {
        m.corpus: statistics.median(m.scaling["tarvik"])
        for m in measurements
        if m.scaling.get("tarvik")
    }
    if medians:
        lowest = min(medians, key=medians.get)
        summary = f"tarvik with {threads} threads over one: median over the corpora"
        summary += f" {times(statistics.median(medians.values()))}, lowest"
        summary += f" {times(medians[lowest])} ({lowest})."
        lines += ["", summary]
    return lines


def call_cost_table(call_cost: list) -> list[str]:
    lines = ["| payload | call | ns per call | lowest–highest |", "|---|---|---|---|"]
    for payload, call, values in call_cost:
        cells = [f"`{payload.decode()}`" if payload else "—", call]
        cells += [f"{statistics.median(values):,.0f}", f"{min(values):,.0f}–{max(values):,.0f}"]
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def memory_table(memory: list) -> list[str]:
    head = ["corpus", "MB"] + [f"{name} {what}" for name in PIPELINES for what in ("peak", "kept")]
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for corpus, size, found in memory:
        cells = [corpus, f"{size / MB:.0f}"]
        for name in PIPELINES:
            result = found.get(name)
            if result is None:
                cells += ["—", "—"]
            elif "error" in result:
                cells += ["failed: " + result["error"][:60], "—"]
            else:
                cells.append(f"{result['peak'] / size:.2f}× ({megabytes(result['peak'])} MB)")
                cells.append(f"{megabytes(result['kept'])} MB")
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def square_table(squares: list) -> list[str]:
    lines = [
        "| rows N (one distinct member each) | payload | output | time | peak RSS | peak / output |"
    ]
    lines.append("|---|---|---|---|---|---|")
    for rows, result in squares:
        payload = payload_size(result["payload"]) if "payload" in result else "—"
        peak = result.get("peak")
        cells = [f"{rows:,}", payload]
        if "output" in result:
            cells.append(f"{megabytes(result['output'])} MB")
        else:
            cells.append(result["error"][:80])
        cells.append(f"{result['seconds']:.2f} s" if "seconds" in result else "—")
        cells.append(f"{megabytes(peak)} MB" if peak else "—")
        cells.append(ratio(peak, result.get("output")))
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def noise(measured: list) -> str:
    """How far the samples of one figure spread: the middle half's width over the median."""
    widths = []
    for m in measured:
        for name, values in m.samples.items():
            if len(values) >= 2:
                low, _, high = statistics.quantiles(values, n=4)
                widths.append(
                    ((high - low) / statistics.median(values), m.corpus, m.size_label, name)
                )
    if not widths:
        return "- Run-to-run noise: not measured"
    widest = max(widths)
    return (
        f"- Run-to-run noise: the middle half of a figure's samples spans {statistics.median(w[0] for w in widths):.1%}"
        f" of its median (median over {len(widths)} figures); widest {widest[0]:.1%}"
        f" ({widest[3]}, {widest[1]}, {widest[2]})"
    )


def cpu_share(cpu_ns: int, wall_ns: int) -> str:
    if not wall_ns:
        return "- CPU share: not measured"
    share = cpu_ns / wall_ns
    # Below 95%, other work took the cores often enough to slow the figures unevenly.
    verdict = (
        "(well below 100%: other work took the cores, and the figures are slowed unevenly)"
        if share < 0.95
        else "(the cores were free)"
    )
    return f"- CPU share: the timed Python calls had a core for {share:.0%} of their wall time {verdict}"


def machine_lines(
    native_implementation: str | None, args, load_before: float, measured
) -> list[str]:
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
            f"- Median of {args.runs} interleaved samples per figure"
            f"{' (quick mode)' if args.quick else ''};"
            f" {time.strftime('%Y-%m-%d %H:%M', time.gmtime())} UTC"
        ),
        # Other work on the machine skews the figures; the load average tells how much there was.
        f"- Load average (1 min) at the start: {load_before:.1f}; at the end: {os.getloadavg()[0]:.1f}",
        noise(measured),
    ]


MEMORY_NOTE = (
    "Peak: extra resident bytes at the peak of one call over the payload size, each in a fresh"
    " process (the caller's payload itself not counted). Kept: resident bytes still added after"
    " the call returned and its result was dropped."
)


class Sections:
    """Every section of the report, as markdown lines."""

    def __init__(self, args, call_cost, results, memory, squares, notes, documents):
        self.args, self.call_cost, self.results = args, call_cost, results
        self.memory, self.squares, self.notes = memory, squares, notes
        self.documents = documents  # the document-mode section's lines, made by document_report

    def lines(self) -> list[str]:
        args = self.args
        lines = ["MB/s of input (1 MB = 10^6 bytes); a ratio above 1× means tarvik is faster.", ""]
        if self.call_cost:
            lines += ["## Per-call cost on tiny payloads", "", *call_cost_table(self.call_cost), ""]
        if len(self.results) > 1:
            lines += [
                "## tarvik over orjson, by payload size",
                "",
                *ratio_by_size_table(self.results, "orjson"),
                "",
            ]
        for label, measurements in self.results.items():
            lines += [f"## {label}", "", *throughput_table(measurements), ""]
        for label, measurements in self.results.items():
            if any(m.thread_walls for m in measurements):
                lines += [f"## {label}, {args.threads} threads at once (aggregate MB/s)", ""]
                lines += [
                    *thread_table([m for m in measurements if m.thread_walls], args.threads),
                    "",
                ]
        if self.memory:
            lines += ["## Memory of one call", ""]
            lines += [MEMORY_NOTE, "", *memory_table(self.memory), ""]
        if self.squares:
            lines += [
                "## N × N tables (tarvik, a fresh process per N)",
                "",
                *square_table(self.squares),
                "",
            ]
        lines += self.documents
        lines += ["## Output check", "", *[f"- {note}" for note in self.notes]]
        return lines


def write_chart(path, results: dict, threads: int, missing: dict) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import ScalarFormatter

    colours = {"tarvik": "#d62728", "orjson": "#1f77b4", "stdlib": "#7f7f7f", "native": "#2ca02c"}
    bar_panels = {label: ms for label, ms in results.items() if not label.startswith("cut")}
    # The thread panel shows the largest size: on small payloads the threads' start-up weighs in.
    scaled = [m for m in list(results.values())[-1] if m.scaling.get("tarvik")]
    panels = len(bar_panels) + 1 + bool(scaled)
    fig, axes = plt.subplots(panels, 1, figsize=(13, 4.2 * panels), squeeze=False)
    axes = list(axes[:, 0])
    for axis, (label, measurements) in zip(axes, bar_panels.items()):
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

    axis = axes[len(bar_panels)]
    corpora = [m.corpus for m in next(iter(results.values()))]
    for index, corpus in enumerate(corpora):
        points = [
            (ms[index].payload_bytes, ms[index].mb_per_s("tarvik") / ms[index].mb_per_s("orjson"))
            for ms in results.values()
            if ms[index].mb_per_s("tarvik") and ms[index].mb_per_s("orjson")
        ]
        if points:
            axis.plot(*zip(*sorted(points)), marker="o", label=corpus)
    axis.set_xscale("log")
    axis.set_xlabel("payload bytes")
    axis.set_ylabel("tarvik / orjson pipeline")
    axis.set_title("tarvik over the orjson pipeline, by payload size")
    axis.grid(which="both", alpha=0.3)
    axis.legend(ncols=4, fontsize="small")

    if scaled:
        axis = axes[-1]
        medians = [statistics.median(m.scaling["tarvik"]) for m in scaled]
        below = [median - min(m.scaling["tarvik"]) for median, m in zip(medians, scaled)]
        above = [max(m.scaling["tarvik"]) - median for median, m in zip(medians, scaled)]
        axis.bar(
            range(len(scaled)),
            medians,
            0.5,
            yerr=[below, above],
            capsize=4,
            color=colours["tarvik"],
        )
        axis.axhline(threads, color="black", linewidth=0.8, linestyle="--")
        axis.set_xticks(range(len(scaled)))
        axis.set_xticklabels([m.corpus for m in scaled], rotation=20, ha="right")
        axis.set_ylabel(f"{threads} threads / 1 thread")
        axis.set_title(
            f"tarvik, {threads} threads over one on {scaled[0].size_label} (median, range over rounds)"
        )
        axis.grid(axis="y", alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
