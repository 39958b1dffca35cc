# The speed of document mode: columnarize_document and decolumnarize against orjson's loads +
# dumps of the same bytes, interleaved per document, and columnarize_document on bare row payloads.
import json
import statistics
import sys
from dataclasses import dataclass, field
from pathlib import Path

import columnar_reference
from documents import compact_size, document_payload
from timing import calls_per_sample, orjson_roundtrip, rotations, timed_calls

MB = 1_000_000


@dataclass
class DocumentCase:
    corpus: str  # the document's name, "twitter (wrapped)" for a wrapped corpus
    size_label: str  # the section's name, for the report's noise figure
    inputs: dict  # pipeline -> (function, the bytes it reads)
    compact_bytes: int = 0
    output_bytes: int = 0  # of columnarize_document
    columnarize_share: float | None = (
        None  # columnarize's output over compact JSON, where it applies
    )
    samples: dict = field(default_factory=dict)  # pipeline -> ns per call, one per sample
    failures: dict = field(default_factory=dict)  # pipeline -> error text
    mismatch: str | None = None  # how decolumnarize failed to give the document back

    @property
    def payload_bytes(self) -> int:
        return len(self.inputs["columnarize_document"][1])

    def input_bytes(self, pipeline: str) -> int:
        return len(self.inputs[pipeline][1])

    def mb_per_s(self, pipeline: str) -> float | None:
        values = self.samples.get(pipeline)
        if not values:
            return None
        return self.input_bytes(pipeline) / MB / (statistics.median(values) / 1e9)


SECTION = "document mode"
# The peers: orjson's loads + dumps of the bytes the pipeline before each reads.
DOCUMENT_PEER, DECODE_PEER = "orjson (document)", "orjson (columnar)"
BARE_DOCUMENT, BARE_COLUMNARIZE = "columnarize_document (bare)", "columnarize (bare)"


def without_nulls(value):
    """The loaded value with every member whose value is null left out, as the way back leaves
    them out."""
    if type(value) is dict:
        return {name: without_nulls(item) for name, item in value.items() if item is not None}
    if type(value) is list:
        return [without_nulls(item) for item in value]
    return value


def make_case(name: str, payload: bytes, rows: bytes | None, codec) -> DocumentCase:
    """A document's pipelines and sizes; `rows` is the bare row payload of a wrapped corpus."""
    encoded = codec.columnarize_document(payload)
    inputs = {
        "columnarize_document": (codec.columnarize_document, payload),
        "decolumnarize": (codec.decolumnarize, encoded),
    }
    if columnar_reference.orjson is not None:
        inputs[DOCUMENT_PEER] = (orjson_roundtrip, payload)
        inputs[DECODE_PEER] = (orjson_roundtrip, encoded)
    if rows is not None:
        inputs[BARE_DOCUMENT] = (codec.columnarize_document, rows)
        inputs[BARE_COLUMNARIZE] = (codec.columnarize, rows)
    case = DocumentCase(name, SECTION, inputs, compact_size(payload), len(encoded))
    # columnarize on the rows of a wrapped corpus, on the document itself where it is an array.
    array = rows if rows is not None else payload
    try:
        case.columnarize_share = len(codec.columnarize(array)) / compact_size(array)
    except RuntimeError:  # not an array of objects: columnarize refuses it
        pass
    restored = json.loads(codec.decolumnarize(encoded))
    if without_nulls(restored) != without_nulls(json.loads(payload)):
        case.mismatch = "decolumnarize(columnarize_document(x)) does not load as x"
    return case


def measure_case(case: DocumentCase, args) -> None:
    """Times every pipeline of the case on its own input, interleaved sample by sample."""
    calls = {}
    for name, (function, payload) in case.inputs.items():
        try:
            calls[name] = calls_per_sample(timed_calls(function, payload, 1), args.sample_ns)
        except Exception as error:  # noqa: BLE001  a failing pipeline is reported, not fatal
            case.failures[name] = f"{type(error).__name__}: {error}"
    case.samples = {name: [] for name in calls}
    for order in rotations(list(calls), args.runs):
        for name in order:
            function, payload = case.inputs[name]
            case.samples[name].append(timed_calls(function, payload, calls[name]))


def measure_documents(corpora: list[Path], tools: list[Path], codec, args) -> list[DocumentCase]:
    """Every corpus wrapped in an envelope (with its bare rows), then every tool output."""
    sources = [(f"{path.stem} (wrapped)", "wrapped", path) for path in corpora]
    sources += [(path.stem, "document", path) for path in tools]
    cases = []
    for name, kind, path in sources:
        payload = document_payload(kind, str(path), 1)
        rows = path.read_bytes() if kind == "wrapped" else None
        print(f"{name} (document mode, {len(payload):,} bytes) ...", file=sys.stderr)
        try:
            case = make_case(name, payload, rows, codec)
        except Exception as error:  # noqa: BLE001  reported in its row, the run goes on
            case = DocumentCase(name, SECTION, {"columnarize_document": (None, payload)})
            case.failures["columnarize_document"] = f"{type(error).__name__}: {error}"
            cases.append(case)
            continue
        measure_case(case, args)
        cases.append(case)
    return cases
