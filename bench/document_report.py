# The benchmark's document-mode tables: speed against orjson, columnarize_document against
# columnarize on bare rows, output sizes, and the memory of one call against its bound.
import statistics

from document_memory import BOUND_CONSTANT, within_bound
from document_speed import BARE_COLUMNARIZE, BARE_DOCUMENT, DECODE_PEER, DOCUMENT_PEER
from report import figure, payload_size, ratio

MB = 1_000_000
# The goals set for document mode: each call at least twice orjson's loads + dumps of its input,
# and columnarize_document on a bare row payload at least 0.7 times columnarize.
PEER_GOAL, BARE_GOAL = 2.0, 0.7


def goal_summary(what: str, ratios: dict, goal: float) -> str:
    """A list item: the median and lowest ratio over the documents, how many reach the goal."""
    if not ratios:
        return f"- {what}: not measured."
    lowest = min(ratios, key=ratios.get)
    reached = sum(1 for value in ratios.values() if value >= goal)
    return (
        f"- {what}: median {statistics.median(ratios.values()):.2f}×, lowest"
        f" {ratios[lowest]:.2f}× ({lowest}); {reached} of {len(ratios)} at {goal:g}× or more."
    )


def ratios(cases: list, pipeline: str, peer: str, name=lambda corpus: corpus) -> dict:
    """The pipeline's MB/s over the peer's, by the name of each document timed with both."""
    found = {}
    for case in cases:
        ours, theirs = case.mb_per_s(pipeline), case.mb_per_s(peer)
        if ours and theirs:
            found[name(case.corpus)] = ours / theirs
    return found


def bare_name(corpus: str) -> str:
    return corpus.removesuffix(" (wrapped)")


def speed_table(cases: list) -> list[str]:
    head = "| document | size | columnarize_document | orjson | ratio |"
    head += " decolumnarize (of its output) | orjson | ratio |"
    lines = [head, "|" + "---|" * 8]
    for case in cases:
        if "columnarize_document" in case.failures:
            error = case.failures["columnarize_document"][:80]
            lines.append(
                f"| {case.corpus} | {payload_size(case.payload_bytes)} | failed: {error} |"
            )
            continue
        cells = [case.corpus, payload_size(case.payload_bytes)]
        for ours, peer in (("columnarize_document", DOCUMENT_PEER), ("decolumnarize", DECODE_PEER)):
            speed, peer_speed = case.mb_per_s(ours), case.mb_per_s(peer)
            cells += [figure(speed), figure(peer_speed), ratio(speed, peer_speed)]
        lines.append("| " + " | ".join(cells) + " |")
    lines += [
        "",
        goal_summary(
            "columnarize_document over orjson",
            ratios(cases, "columnarize_document", DOCUMENT_PEER),
            PEER_GOAL,
        ),
        goal_summary(
            "decolumnarize over orjson", ratios(cases, "decolumnarize", DECODE_PEER), PEER_GOAL
        ),
    ]
    return lines


def bare_table(cases: list) -> list[str]:
    lines = [
        "| corpus | size | columnarize_document | columnarize | ratio |",
        "|---|---|---|---|---|",
    ]
    bare = [case for case in cases if BARE_DOCUMENT in case.inputs]
    for case in bare:
        speed = case.mb_per_s(BARE_DOCUMENT)
        columnarize = case.mb_per_s(BARE_COLUMNARIZE)
        cells = [bare_name(case.corpus), payload_size(case.input_bytes(BARE_DOCUMENT))]
        cells += [figure(speed), figure(columnarize), ratio(speed, columnarize)]
        lines.append("| " + " | ".join(cells) + " |")
    summary = goal_summary(
        "columnarize_document over columnarize",
        ratios(bare, BARE_DOCUMENT, BARE_COLUMNARIZE, bare_name),
        BARE_GOAL,
    )
    return [*lines, "", summary]


def share(value: float | None) -> str:
    return "—" if value is None else f"{value:.2f}"


def size_table(cases: list) -> list[str]:
    head = "| document | input | compact JSON | columnarize_document | share of compact"
    lines = [head + " | columnarize's share |", "|---|---|---|---|---|---|"]
    shares = {}
    for case in cases:
        if not case.compact_bytes:
            continue
        shares[case.corpus] = case.output_bytes / case.compact_bytes
        cells = [case.corpus, payload_size(case.payload_bytes), payload_size(case.compact_bytes)]
        cells += [payload_size(case.output_bytes), share(shares[case.corpus])]
        cells.append(share(case.columnarize_share))
        lines.append("| " + " | ".join(cells) + " |")
    lines.append("")
    for what, wrapped in (("wrapped corpora", True), ("tool outputs", False)):
        values = [value for name, value in shares.items() if name.endswith("(wrapped)") == wrapped]
        if values:
            lines.append(
                f"- Share of compact JSON over the {what}: median {statistics.median(values):.2f},"
                f" from {min(values):.2f} to {max(values):.2f}."
            )
    return lines


def memory_cell(result: dict) -> list[str]:
    """input, output, peak (over the input), bound, time and kept of one call."""
    if "error" in result:
        return [f"failed: {result['error'][:60]}", "—", "—", "—", "—", "—"]
    bound = result["output"] + 2 * result["input"] + BOUND_CONSTANT
    peak = f"{result['peak'] / result['input']:.2f}× ({payload_size(result['peak'])})"
    verdict = (
        "within" if within_bound(result) else f"**over by {payload_size(result['peak'] - bound)}**"
    )
    return [
        payload_size(result["input"]),
        payload_size(result["output"]),
        peak,
        f"{payload_size(bound)}, {verdict}",
        f"{result['seconds']:.2f} s",
        payload_size(result["kept"]),
    ]


def memory_table(found: list) -> list[str]:
    head = "| shape | call | input | output | peak (over the input) | bound | time | kept |"
    lines = [head, "|" + "---|" * 8]
    over, failed, calls = [], [], 0
    for shape, encoded, decoded in found:
        for call, result in (("columnarize_document", encoded), ("decolumnarize", decoded)):
            calls += 1
            lines.append(f"| {shape.label} | {call} | " + " | ".join(memory_cell(result)) + " |")
            if "error" in result:
                failed.append(f"{shape.label} ({call})")
            elif not within_bound(result):
                over.append(f"{shape.label} ({call})")
    summary = f"Over the bound: {len(over)} of {calls} calls"
    summary += f" ({', '.join(over)})." if over else "."
    if failed:
        summary += f" Failed: {', '.join(failed)}."
    return [*lines, "", summary]


MEMORY_NOTE = (
    "Each call in a fresh process, decolumnarize reading columnarize_document's output. Peak: extra"
    " resident bytes at the call's peak (its input not counted, its output counted), over the input."
    f" Bound: output + 2 × input + {BOUND_CONSTANT // MB} MB. Kept: resident bytes still added"
    " after the call returned and its output was dropped."
)


def document_lines(cases: list, memory: list) -> list[str]:
    """The section's markdown lines: speed, bare rows, sizes, memory."""
    lines = []
    if cases:
        lines += [
            "## Document mode: speed against orjson's loads + dumps of the same bytes",
            "",
            *speed_table(cases),
            "",
            "## Document mode on bare row payloads, against columnarize",
            "",
            *bare_table(cases),
            "",
            "## Document mode: output sizes",
            "",
            *size_table(cases),
            "",
        ]
    if memory:
        lines += ["## Document mode: memory of one call", "", MEMORY_NOTE, ""]
        lines += [*memory_table(memory), ""]
    return lines
