# Where the benchmark's row corpora are, and the payloads it makes from them: the corpus repeated
# to a large size, cut to its first rows for a small size, and the synthetic N × N table.
import os
import re
from pathlib import Path

REPO_DIR = Path(__file__).resolve().parents[1]


class CorpusMissing(Exception):
    """No folder of row corpora where the benchmark looks for one."""


def data_dir() -> Path:
    """The folder of row corpora: $TARVIK_DATA_DIR when set, else tests/data/rows of the repo."""
    if os.environ.get("TARVIK_DATA_DIR"):
        return Path(os.environ["TARVIK_DATA_DIR"])
    return REPO_DIR / "tests" / "data" / "rows"


def corpora(names: list[str] | None) -> list[Path]:
    """The corpus files (*.json) of data_dir(), only those named when names are given."""
    folder = data_dir()
    found = sorted(folder.glob("*.json"))
    if not found:
        origin = "$TARVIK_DATA_DIR" if os.environ.get("TARVIK_DATA_DIR") else "the repository"
        raise CorpusMissing(
            f"no row corpus (*.json) in {folder} (from {origin}); set TARVIK_DATA_DIR to a"
            " folder of row payloads"
        )
    if names:
        found = [path for path in found if path.stem in names]
        unknown = set(names) - {path.stem for path in found}
        if unknown:
            raise CorpusMissing(f"no corpus named {', '.join(sorted(unknown))} in {folder}")
    return found


def array_body(payload: bytes) -> bytes:
    """The bytes between the brackets of a payload that is one JSON array, stripped."""
    text = payload.strip()
    if not (text.startswith(b"[") and text.endswith(b"]")):
        raise ValueError("a row payload must be one JSON array")
    return text[1:-1].strip()


def copies_for(size: int, target: int) -> int:
    return max(1, round(target / size))


def scale_payload(payload: bytes, copies: int) -> bytes:
    """The payload's rows repeated `copies` times, as one JSON array.

    The rows' bytes are joined as they are, so every copy keeps the corpus's own escapes and number
    text (re-dumping twitterescaped would turn its escapes into raw UTF-8).
    """
    rows = array_body(payload)
    if copies == 1 or not rows:
        return payload
    return b"[" + b",".join([rows] * copies) + b"]"


# A string (escapes included), or one of the characters that open, close or separate values.
STRUCTURE = re.compile(rb'"(?:[^"\\]|\\.)*+"|[\[\]{},]', re.DOTALL)


def first_rows(payload: bytes, limit: int) -> bytes | None:
    """The payload's first k rows as one array of at most `limit` bytes, k as large as fits: its
    own bytes up to the end of the k-th row, closed by a bracket; None when no row fits."""
    body = array_body(payload)
    depth, end = 0, None
    # A comma at depth 0 ends a row; the rows before it fit when they and two brackets do.
    for token in STRUCTURE.finditer(body):
        start = token.start()
        if start + 2 > limit:
            break
        character = token.group()
        if character in (b"[", b"{"):
            depth += 1
        elif character in (b"]", b"}"):
            depth -= 1
        elif character == b"," and depth == 0:
            end = start
    if len(body) + 2 <= limit:
        end = len(body)
    if end is None:
        return None
    return b"[" + body[:end].rstrip() + b"]"


def square_table(rows: int) -> bytes:
    """N rows of one member each, every member name distinct: an N × N table of cells."""
    return b"[" + b",".join(b'{"c%d":%d}' % (i, i) for i in range(rows)) + b"]"
