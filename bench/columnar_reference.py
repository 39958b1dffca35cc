# The row-to-column transform in plain Python, and the two pipelines built on it that the
# benchmark races against tarvik_codec: stdlib json and orjson around the same transform.
"""Pure-Python reference of the columnar transform.

This is the code a Python developer would write without tarvik_codec: load the payload, turn the
rows into columns, dump the result compactly. It does the same work as the codec on the data
json.loads produces, with two differences that come from the loader, not from the transform:
json.loads keeps integers of any size, and both json.loads and orjson read the literal -0 as the
integer 0, where the codec reads both as floats; and they report malformed text with their own
messages.
"""

import json
from itertools import chain

try:
    import orjson
except ImportError:  # the stdlib pipeline still runs; the benchmark reports orjson as missing
    orjson = None

NOT_OBJECT_ROW = "expected a JSON object row, got: "


class RowError(ValueError):
    """A payload element that is not an object: the transform's one failure."""


def compact_json(value) -> str:
    return json.dumps(value, separators=(",", ":"), ensure_ascii=False)


def model_equal(a, b) -> bool:
    """Equality that tells number forms apart: 1 != 1.0, 1 != True, 0 != False.

    Python's own == says 1 == 1.0 == True, which would call columns constant that the codec keeps
    varying. Objects compare regardless of member order; arrays compare in order.
    """
    kind = type(a)
    if kind is not type(b):
        return False
    if kind is list:
        return len(a) == len(b) and all(map(model_equal, a, b))
    if kind is dict:
        if len(a) != len(b):
            return False
        for key, value in a.items():
            if key not in b or not model_equal(value, b[key]):
                return False
        return True
    return a == b


def is_number(value) -> bool:
    return type(value) is int or type(value) is float


def is_constant(rows: list, name: str) -> bool:
    """Whether every row holds the first row's value for name (absent counts as null).

    Two top-level numbers match when their exact values are equal, whatever their forms (Python
    compares an int and a float exactly); everything else matches by model_equal.
    """
    reference = rows[0].get(name)
    if is_number(reference):
        values = (row.get(name) for row in rows)
        return all(is_number(value) and value == reference for value in values)
    return all(model_equal(row.get(name), reference) for row in rows)


def columnarize_rows(rows: list) -> dict:
    """Turns a list of row objects into {"columns", "rows", "constants"}.

    Columns come in first-seen order; columns null or absent in every row are dropped; with two
    rows or more, columns holding the same value in every row move to "constants" with the first
    row's value. Raises RowError naming the first element that is not an object.
    """
    for row in rows:
        if type(row) is not dict:
            raise RowError(NOT_OBJECT_ROW + compact_json(row))

    # dict.fromkeys keeps the first occurrence of each name, in order.
    names = dict.fromkeys(chain.from_iterable(rows))
    columns = [name for name in names if any(row.get(name) is not None for row in rows)]

    constants = {}
    if len(rows) >= 2:
        first = rows[0]
        for name in columns:
            if is_constant(rows, name):
                constants[name] = first.get(name)
        if constants:
            columns = [name for name in columns if name not in constants]

    return {
        "columns": columns,
        "rows": [list(map(row.get, columns)) for row in rows],
        "constants": constants,
    }


def columnarize_stdlib(payload: bytes) -> bytes:
    """The pipeline with the standard library's json module."""
    document = columnarize_rows(json.loads(payload))
    return json.dumps(document, separators=(",", ":"), ensure_ascii=False).encode()


def columnarize_orjson(payload: bytes) -> bytes:
    """The pipeline with orjson for loading and dumping (compact UTF-8 is its default)."""
    return orjson.dumps(columnarize_rows(orjson.loads(payload)))
