# Memory of one document-mode call, each in a fresh process: columnarize_document on a large
# document, then decolumnarize of that output, set against the bound that document mode keeps.
"""Run as `document_memory.py encode KIND SOURCE COPIES OUTPUT` or `document_memory.py decode
INPUT` by bench/run.py (KIND, SOURCE and COPIES as documents.document_payload takes them)."""

import gc
import json
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

import documents
import memory
import payloads

MB = 1_000_000
# The bound on the extra resident memory at a call's peak: its output, twice its input and this.
# The rows a table is built from may take twice the payload and 8 MB (the budget columnarize
# keeps); the other 8 MB are the interpreter's and the allocator's rounding.
BOUND_CONSTANT = 16 * MB


@dataclass
class Shape:
    label: str
    kind: str  # as documents.document_payload takes it
    source: str
    copies: int


def within_bound(result: dict) -> bool:
    return result["peak"] <= result["output"] + 2 * result["input"] + BOUND_CONSTANT


def measured_call(function, payload: bytes, deliver=None) -> dict:
    """One call's input and output sizes, time, the peak resident bytes it adds on top of its
    input and the resident bytes still added once its output is dropped. `deliver` gets the
    output first, after the peak is read."""
    gc.collect()
    # Writing 5 resets the peak (VmHWM) to the current resident size.
    with open("/proc/self/clear_refs", "w") as clear_refs:
        clear_refs.write("5")
    before = memory.resident_bytes("VmRSS")
    start = time.perf_counter()
    try:
        output = function(payload)
    except MemoryError as error:
        return {"error": memory.memory_error(error)}
    seconds = time.perf_counter() - start
    peak = memory.resident_bytes("VmHWM") - before
    if deliver is not None:
        deliver(output)
    size = len(output)
    del output
    gc.collect()
    kept = memory.resident_bytes("VmRSS") - before
    return {"input": len(payload), "output": size, "seconds": seconds, "peak": peak, "kept": kept}


def encode_child(kind: str, source: str, copies: int, output: Path) -> dict:
    """columnarize_document on the payload; its output goes to the file, for decode_child."""
    import tarvik_codec

    payload = documents.document_payload(kind, source, copies)
    return measured_call(tarvik_codec.columnarize_document, payload, output.write_bytes)


def decode_child(source: Path) -> dict:
    """decolumnarize of what encode_child wrote, read in this fresh process: a call made after
    columnarize_document in the same process would reuse the memory that call freed."""
    import tarvik_codec

    return measured_call(tarvik_codec.decolumnarize, source.read_bytes())


def memory_shapes(corpora: list[Path], tools: list[Path], target: int, squares) -> list[Shape]:
    """Every wrapped corpus and every tool output grown to about `target` bytes, then the N × N
    tables bare and wrapped."""
    shapes = []
    for corpus in corpora:
        copies = payloads.copies_for(len(corpus.read_bytes()), target)
        shapes.append(Shape(f"{corpus.stem} (wrapped)", "wrapped", str(corpus), copies))
    for tool in tools:
        copies = documents.document_copies(tool.read_bytes(), target)
        shapes.append(Shape(tool.stem, "document", str(tool), copies))
    for rows in squares:
        shapes.append(Shape(f"{rows:,} × {rows:,} table", "square", str(rows), 1))
        shapes.append(Shape(f"{rows:,} × {rows:,} table (wrapped)", "square wrapped", str(rows), 1))
    return shapes


def measure_shapes(shapes: list[Shape], scratch_parent: Path) -> list[tuple[Shape, dict, dict]]:
    """(shape, columnarize_document's result, decolumnarize's result) of every shape."""
    scratch_parent.mkdir(parents=True, exist_ok=True)
    found = []
    with tempfile.TemporaryDirectory(dir=scratch_parent) as scratch:
        output = Path(scratch) / "columnar.json"
        for shape in shapes:
            print(f"{shape.label}: memory of document mode ...", file=sys.stderr)
            arguments = ["encode", shape.kind, shape.source, str(shape.copies), str(output)]
            encoded = memory.run_child(arguments, __file__)
            if "error" in encoded:
                decoded = {"error": "no input: columnarize_document failed"}
            else:
                decoded = memory.run_child(["decode", str(output)], __file__)
            output.unlink(missing_ok=True)
            found.append((shape, encoded, decoded))
    return found


def main(argv: list[str]) -> int:
    memory.volunteer_for_oom_killer()
    if argv[0] == "encode":
        result = encode_child(argv[1], argv[2], int(argv[3]), Path(argv[4]))
    elif argv[0] == "decode":
        result = decode_child(Path(argv[1]))
    else:
        sys.exit(f"unknown measurement: {argv[0]}")
    print(json.dumps(result))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
