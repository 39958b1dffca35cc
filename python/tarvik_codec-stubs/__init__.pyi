# Type stub of the native module tarvik_codec (a stub-only package, found by type checkers in an
# installed copy): row-oriented JSON bytes in, column-oriented JSON bytes out.
from typing import SupportsIndex

__all__ = ["columnarize"]

def columnarize(payload: bytes, min_rows: SupportsIndex = 20) -> bytes:
    """Columnarize a row-oriented JSON payload, with the GIL released during the transform.

    `payload` must be a bytes object (a subclass is accepted) holding a JSON array of objects.
    `min_rows` must be an integer from 0 to 2**64 - 1; it is checked and otherwise ignored.
    Returns `{"columns":[...],"rows":[[...],...],"constants":{...}}` as compact UTF-8 JSON.

    Raises TypeError (arguments), OverflowError (`min_rows` out of range), RuntimeError (a
    payload that is not row-oriented JSON, or an internal fault of the transform) and
    MemoryError (exhausted memory).
    """
