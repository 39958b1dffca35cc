"""Cuts fuzz seeds out of row-oriented payloads: small arrays made of each file's own row bytes
(its first rows, then single rows spread through the file), so that seeds stay short."""

import json
import pathlib
import sys

MAX_SEED_BYTES = 16 * 1024
SINGLE_ROWS_PER_FILE = 12


def row_spans(text: str) -> list[tuple[int, int]]:
    """Start and end offsets of each element of the compact top-level array in `text`."""
    decoder = json.JSONDecoder()
    spans = []
    position = text.index("[") + 1
    while text[position] != "]":
        _, end = decoder.raw_decode(text, position)
        spans.append((position, end))
        position = end + 1 if text[end] == "," else end
    return spans


def seeds_of(text: str) -> list[str]:
    spans = row_spans(text)
    rows = [text[start:end] for start, end in spans]
    seeds = []
    for count in (1, 2, 3, 5, 8, 13):
        seed = "[" + ",".join(rows[:count]) + "]"
        if len(seed.encode()) <= MAX_SEED_BYTES:
            seeds.append(seed)
    step = max(1, len(rows) // SINGLE_ROWS_PER_FILE)
    for row in rows[::step][:SINGLE_ROWS_PER_FILE]:
        if len(row.encode()) + 2 <= MAX_SEED_BYTES:
            seeds.append("[" + row + "]")
    return seeds


def main() -> None:
    if len(sys.argv) < 3:
        sys.exit("usage: make_seeds.py OUTPUT_DIR ROWS_FILE...")
    out = pathlib.Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for name in sys.argv[2:]:
        path = pathlib.Path(name)
        for number, seed in enumerate(seeds_of(path.read_text(encoding="utf-8"))):
            (out / f"{path.stem}-{number:02}.json").write_bytes(seed.encode())


if __name__ == "__main__":
    main()
