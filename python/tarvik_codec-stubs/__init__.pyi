# Type stub of the native module tarvik_codec (a stub-only package, found by type checkers in an
# installed copy): row-oriented JSON bytes in, column-oriented JSON bytes out, and back.
from typing import SupportsIndex

__all__ = ["columnarize", "columnarize_document", "decolumnarize"]

def columnarize(payload: bytes, min_rows: SupportsIndex = 20) -> bytes:
    """Columnarize a row-oriented JSON payload, with the GIL released during the transform.

    `payload` must be a bytes object (a subclass is accepted) holding a JSON array of objects.
    `min_rows` must be an integer from 0 to 2**64 - 1; it is checked and otherwise ignored.
    Returns `{"columns":[...],"rows":[[...],...],"constants":{...}}` as compact UTF-8 JSON.

    Raises TypeError (arguments), OverflowError (`min_rows` out of range), RuntimeError (a
    payload that is not row-oriented JSON, or an internal fault of the transform) and
    MemoryError (exhausted memory).
    """

def columnarize_document(payload: bytes, min_rows: SupportsIndex = 2) -> bytes:
    """Shrink a whole JSON document, with the GIL released during the work.

    `payload` must be a bytes object (a subclass is accepted) holding one JSON document of any
    kind. Every array of at least max(min_rows, 1) objects becomes a table
    `{"columns","rows","constants"}` and every object of at least max(min_rows, 2) members that
    are all objects a keyed table (`"keys"` first), each only where that text is strictly
    shorter; in a table, a column of objects (or of lists of objects) becomes a group where
    that is shorter. Everything else is written compact. `decolumnarize` gives it back.

    Raises TypeError (arguments), OverflowError (`min_rows` out of range), RuntimeError (a
    payload that is not JSON, or an internal fault) and MemoryError (exhausted memory).
    """

def decolumnarize(payload: bytes) -> bytes:
    """Turn every table of a JSON document back into its rows, with the GIL released.

    Every object whose members are exactly "columns", "rows", "constants" (or "keys" first), in
    that order, becomes the array of objects (the object of objects) it stands for: each row the
    object of its non-null cells, then the constants. Works on the output of `columnarize` and
    of `columnarize_document`.

    Raises TypeError (arguments), RuntimeError (a payload that is not JSON, a broken table —
    "broken table at PATH: …" — or an internal fault) and MemoryError (exhausted memory).
    """
