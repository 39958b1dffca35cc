# Document mode in plain Python, written from its rules and the codec's reading and writing of
# JSON: the oracle that the tests hold columnarize_document and decolumnarize to.
"""A model of columnarize_document and decolumnarize, slow and simple on purpose.

Reading follows the codec's reader on well-formed input: integers from -2**63 to 2**64 - 1 stay
integers, other integer literals and every literal with a fraction or an exponent are the nearest
double, the literal -0 is the float -0.0, a number out of a double's range is refused, and a
repeated member name keeps its last value at its first position. Writing follows the codec's
writer: compact, strings as json.dumps spells them without ASCII escapes, floats as their
shortest round-trip digits, plain from 1e-5 up to below 1e16 and in exponent form beyond.

Every form is judged by writing it: sizes are the UTF-8 lengths of the written texts. Failures
(malformed JSON, a broken table) are ValueError; the model does not reproduce their messages.
"""

import json
import math
from decimal import Decimal
from itertools import chain

TABLE_MEMBERS = ["columns", "rows", "constants"]
KEYED_TABLE_MEMBERS = ["keys", *TABLE_MEMBERS]
GROUP_MEMBERS = ["columns", "constants"]


def read_integer(text: str) -> int | float:
    if text == "-0":
        return -0.0
    value = int(text)
    if -(2**63) <= value <= 2**64 - 1:
        return value
    return read_float(text)


def read_float(text: str) -> float:
    value = float(text)
    if math.isinf(value):
        raise ValueError(f"number out of range: {text}")
    return value


def refuse_constant(text: str):
    raise ValueError(f"not JSON: {text}")


def read(payload: bytes):
    return json.loads(
        payload.decode("utf-8"),
        parse_int=read_integer,
        parse_float=read_float,
        parse_constant=refuse_constant,
    )


def float_text(value: float) -> str:
    if value == 0:
        return "-0.0" if math.copysign(1.0, value) < 0 else "0.0"
    sign = "-" if value < 0 else ""
    _, digits, exponent = Decimal(repr(abs(value))).normalize().as_tuple()
    digits = "".join(map(str, digits))
    first = len(digits) - 1 + exponent  # the decimal exponent of the first digit
    if first > 15 or first < -5:
        fraction = "." + digits[1:] if len(digits) > 1 else ""
        return f"{sign}{digits[0]}{fraction}e{'+' if first > 0 else '-'}{abs(first)}"
    if first < 0:
        return f"{sign}0.{'0' * (-first - 1)}{digits}"
    whole = digits[: first + 1].ljust(first + 1, "0")
    return f"{sign}{whole}.{digits[first + 1 :] or '0'}"


def write(value) -> str:
    """The codec's compact text of a value as read."""
    if type(value) is float:
        return float_text(value)
    if type(value) is list:
        return "[" + ",".join(map(write, value)) + "]"
    if type(value) is dict:
        return "{" + ",".join(f"{write(name)}:{write(item)}" for name, item in value.items()) + "}"
    return json.dumps(value, ensure_ascii=False)


def size(*texts: str) -> int:
    return sum(len(text.encode()) for text in texts)


def is_number(value) -> bool:
    return type(value) is int or type(value) is float


def same(a, b) -> bool:
    """Nested equality: numbers by form and value (1 is not 1.0), objects in any member order."""
    if type(a) is not type(b):
        return False
    if type(a) is list:
        return len(a) == len(b) and all(map(same, a, b))
    if type(a) is dict:
        return a.keys() == b.keys() and all(same(a[name], b[name]) for name in a)
    return a == b


def is_constant(values: list) -> bool:
    """Whether every value matches the first: top-level numbers by exact value (1 matches 1.0,
    0 matches -0.0; Python compares int and float exactly), anything else by same()."""
    first = values[0]
    if is_number(first):
        return all(is_number(value) and value == first for value in values)
    return all(same(value, first) for value in values)


def shorter(plain: str, candidate: str) -> str:
    return candidate if size(candidate) < size(plain) else plain


class DocumentColumnarizer:
    """Writes a document with every table, keyed table, group and list group it wins by.

    A value's text depends on the value alone, so each container's text is made once and kept
    (by identity: the document outlives the call) for the plain and the table form to share."""

    def __init__(self, min_rows: int):
        self.min_rows = min_rows
        self.texts: dict[int, str] = {}

    def text(self, value) -> str:
        if type(value) is not list and type(value) is not dict:
            return write(value)
        if id(value) not in self.texts:
            self.texts[id(value)] = self.container_text(value)
        return self.texts[id(value)]

    def container_text(self, value) -> str:
        if type(value) is list:
            plain = "[" + ",".join(map(self.text, value)) + "]"
            if len(value) >= max(self.min_rows, 1) and all(type(row) is dict for row in value):
                return shorter(plain, self.table(value))
            return plain
        members = (f"{write(name)}:{self.text(item)}" for name, item in value.items())
        plain = "{" + ",".join(members) + "}"
        rows = list(value.values())
        if len(rows) >= max(self.min_rows, 2) and all(type(row) is dict for row in rows):
            keys = '{"keys":[' + ",".join(map(write, value)) + "],"
            return shorter(plain, keys + self.table(rows)[1:])
        return plain

    def table(self, rows: list[dict]) -> str:
        entries, cells, constants = self.layout(rows)
        return (
            f'{{"columns":[{",".join(entries)}],"rows":[{",".join(cells)}],'
            f'"constants":{{{constants}}}}}'
        )

    def header(self, objects: list[dict]) -> tuple[str, list[str]]:
        """A group's header and one array of sub-cells per object."""
        entries, cells, constants = self.layout(objects)
        return f'{{"columns":[{",".join(entries)}],"constants":{{{constants}}}}}', cells

    def layout(self, objects: list[dict]) -> tuple[list[str], list[str], str]:
        """The column entries, the text of each object's cells and the constants' members."""
        columns, constants = [], []
        for name in dict.fromkeys(chain.from_iterable(objects)):
            values = [item.get(name) for item in objects]
            if all(value is None for value in values):
                continue
            if len(objects) >= 2 and is_constant(values):
                constants.append(f"{write(name)}:{self.text(values[0])}")
            else:
                columns.append(self.column(write(name), values))
        cells = [
            "[" + ",".join(column[i] for _, column in columns) + "]" for i in range(len(objects))
        ]
        return [entry for entry, _ in columns], cells, ",".join(constants)

    def column(self, label: str, values: list) -> tuple[str, list[str]]:
        """A varying column's entry and cells in its shortest form; the plain form wins ties."""
        plain = label, [self.text(value) for value in values]
        present = [value for value in values if value is not None]
        if len(present) >= 2 and all(type(value) is dict for value in present):
            header, sub_cells = self.header(present)
            following = iter(sub_cells)
            cells = ["null" if value is None else next(following) for value in values]
            candidate = f"{{{label}:{header}}}", cells
        elif (
            present
            and all(type(value) is list for value in present)
            and all(type(item) is dict for value in present for item in value)
            and sum(map(len, present)) >= 2
        ):
            header, sub_cells = self.header(list(chain.from_iterable(present)))
            following = iter(sub_cells)
            cells = [
                "null" if value is None else "[" + ",".join(next(following) for _ in value) + "]"
                for value in values
            ]
            candidate = f"{{{label}:[{header}]}}", cells
        else:
            return plain
        return candidate if size(candidate[0], *candidate[1]) < size(plain[0], *plain[1]) else plain


def columnarize_document(payload: bytes, min_rows: int = 2) -> bytes:
    return DocumentColumnarizer(min_rows).text(read(payload)).encode()


def broken(condition: bool, what: str) -> None:
    if condition:
        raise ValueError(f"broken table: {what}")


def column_layout(entry) -> tuple[str, str, object]:
    """(name, kind, sub-layout) of a column entry: a name, a group or a list group."""
    if type(entry) is str:
        return entry, "plain", None
    broken(type(entry) is not dict or len(entry) != 1, "a column is neither a name nor a group")
    ((name, header),) = entry.items()
    kind = "group"
    if type(header) is list:
        broken(len(header) != 1, "a list group's header is not one element")
        kind, header = "list group", header[0]
    broken(type(header) is not dict or list(header) != GROUP_MEMBERS, "a group header")
    return name, kind, group_layout(header)


def group_layout(header: dict) -> tuple[list, dict]:
    broken(type(header["columns"]) is not list, "columns is not an array")
    broken(type(header["constants"]) is not dict, "constants is not an object")
    constants = {name: restore(value) for name, value in header["constants"].items()}
    return [column_layout(entry) for entry in header["columns"]], constants


def restore_object(layout: tuple[list, dict], cells) -> dict:
    columns, constants = layout
    broken(type(cells) is not list or len(cells) != len(columns), "a row of the wrong length")
    restored = {}
    for (name, kind, sub_layout), cell in zip(columns, cells):
        if cell is None:
            continue
        if kind == "plain":
            restored[name] = restore(cell)
        elif kind == "group":
            restored[name] = restore_object(sub_layout, cell)
        else:
            broken(type(cell) is not list, "a list group cell is not an array")
            restored[name] = [restore_object(sub_layout, item) for item in cell]
    restored.update(constants)
    return restored


def restore(value):
    """The value with every table in it turned back into its array or keyed object."""
    if type(value) is list:
        return list(map(restore, value))
    if type(value) is not dict:
        return value
    names = list(value)
    if names != TABLE_MEMBERS and names != KEYED_TABLE_MEMBERS:
        return {name: restore(item) for name, item in value.items()}
    broken(type(value["rows"]) is not list, "rows is not an array")
    layout = group_layout(value)
    rows = [restore_object(layout, cells) for cells in value["rows"]]
    if names == TABLE_MEMBERS:
        return rows
    keys = value["keys"]
    broken(type(keys) is not list or not all(type(key) is str for key in keys), "keys")
    broken(len(keys) != len(rows), "keys that do not match the rows")
    return dict(zip(keys, rows))


def decolumnarize(payload: bytes) -> bytes:
    return write(restore(read(payload))).encode()
