"""Prints a digest of every output the installed module gives on the repository's inputs.

Run it with two builds and compare: a change that must keep every output byte the same shows no
line of difference. Inputs: each real payload (as it is, wrapped in an envelope, cut to its first
rows), N x N tables, and every conformance file; each through every function of the module. An
output is its bytes or the type and message of the exception raised.

Run: python tools/output_digests.py > digests.txt  (TARVIK_DATA_DIR is honoured)
"""

import hashlib
import sys
from pathlib import Path

import tarvik_codec

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "bench"))
from payloads import data_dir, first_rows, square_table  # noqa: E402


def inputs():
    for path in sorted(data_dir().glob("*.json")):
        payload = path.read_bytes()
        yield path.stem, payload
        yield f"{path.stem} wrapped", b'{"total_count":1,"items":' + payload + b',"next":null}'
        for limit in (1024, 4096):
            if (cut := first_rows(payload, limit)) is not None:
                yield f"{path.stem} first {limit}", cut
    for rows in (1, 100, 3000):
        yield f"{rows} x {rows}", square_table(rows)
    for path in sorted((REPO / "tests" / "conformance" / "json-test-suite").glob("*.json")):
        yield path.name, path.read_bytes()
    for path in sorted((REPO / "tests" / "data").glob("documents/*.json")):
        yield f"document {path.stem}", path.read_bytes()


def outcome(function, payload: bytes) -> bytes:
    try:
        return b"ok " + function(payload)
    except Exception as error:  # noqa: BLE001 - a failure is an output like any other
        return f"{type(error).__name__} {error}".encode()


def main() -> None:
    functions = [getattr(tarvik_codec, name) for name in tarvik_codec.__all__]
    for name, payload in inputs():
        for function in functions:
            digest = hashlib.sha256(outcome(function, payload)).hexdigest()[:16]
            print(f"{function.__name__} {name}: {digest}")


if __name__ == "__main__":
    main()
