# The columnarize call: argument binding and its errors, accepted payload and min_rows values, and
# the pipeline's results and messages as a Python caller sees them.
import contextlib
import json
import operator
import tracemalloc

import pytest
from hypothesis import given
from hypothesis import strategies as st
from conftest import settle
from tarvik_codec import columnarize

EMPTY = b'{"columns":[],"rows":[],"constants":{}}'
U64_MAX = 2**64 - 1


class Index:
    """An object that is not an int but converts to one through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


def host_index_error(value) -> str:
    with pytest.raises(TypeError) as raised:
        operator.index(value)
    return str(raised.value)


MISSING = "columnarize() missing 1 required positional argument: 'payload'"
TOO_MANY = "columnarize() takes from 1 to 2 positional arguments but {} were given"
MULTIPLE = "columnarize() got multiple values for argument '{}'"
UNEXPECTED = "columnarize() got an unexpected keyword argument '{}'"
NOT_BYTES = "'{}' object is not an instance of 'bytes'"
PAYLOAD_NOTE = ["while processing 'payload'"]
MIN_ROWS_NOTE = ["while processing 'min_rows'"]

# fmt: off
ARGUMENT_ERRORS = [
    # (args, kwargs, exception type, message, notes)
    ((), {}, TypeError, MISSING, None),
    ((), {"min_rows": 5}, TypeError, MISSING, None),
    ((b"[]", 20, 3), {}, TypeError, TOO_MANY.format(3), None),
    ((b"[]", 20, 3, 4), {"foo": 1}, TypeError, TOO_MANY.format(4), None),
    ((b"[]",), {"payload": b"[]"}, TypeError, MULTIPLE.format("payload"), None),
    ((b"[]", 5), {"min_rows": 5}, TypeError, MULTIPLE.format("min_rows"), None),
    ((b"[]",), {"foo": 1}, TypeError, UNEXPECTED.format("foo"), None),
    ((), {"Payload": b"[]"}, TypeError, UNEXPECTED.format("Payload"), None),
    # Keywords are checked in the order given.
    ((b"[]",), {"payload": b"[]", "foo": 1}, TypeError, MULTIPLE.format("payload"), None),
    ((b"[]",), {"foo": 1, "payload": b"[]"}, TypeError, UNEXPECTED.format("foo"), None),
    # A name without a UTF-8 form is shown with a replacement for each surrogate byte.
    ((b"[]",), {"\udcff": 1}, TypeError, UNEXPECTED.format("\ufffd" * 3), None),
    (("[]",), {}, TypeError, NOT_BYTES.format("str"), PAYLOAD_NOTE),
    ((None,), {}, TypeError, "'None' is not an instance of 'bytes'", PAYLOAD_NOTE),
    ((bytearray(b"[]"),), {}, TypeError, NOT_BYTES.format("bytearray"), PAYLOAD_NOTE),
    ((memoryview(b"[]"),), {}, TypeError, NOT_BYTES.format("memoryview"), PAYLOAD_NOTE),
    (([],), {"min_rows": -1}, TypeError, NOT_BYTES.format("list"), PAYLOAD_NOTE),
    ((b"[]", 3.0), {}, TypeError, host_index_error(3.0), MIN_ROWS_NOTE),
    ((b"[]", "20"), {}, TypeError, host_index_error("20"), MIN_ROWS_NOTE),
    ((b"[]",), {"min_rows": None}, TypeError, host_index_error(None), MIN_ROWS_NOTE),
    ((b"[]", Index(ValueError("no index"))), {}, ValueError, "no index", MIN_ROWS_NOTE),
    ((b"[]", Index(KeyboardInterrupt("stop"))), {}, KeyboardInterrupt, "stop", MIN_ROWS_NOTE),
]
# fmt: on


@pytest.mark.parametrize("args, kwargs, error, message, notes", ARGUMENT_ERRORS)
def test_argument_errors(args, kwargs, error, message, notes):
    with pytest.raises(BaseException) as raised:
        columnarize(*args, **kwargs)
    assert type(raised.value) is error
    assert str(raised.value) == message
    assert getattr(raised.value, "__notes__", None) == notes


def test_a_payload_error_wins_over_a_min_rows_error():
    with pytest.raises(TypeError) as raised:
        columnarize("x", min_rows=-1)
    assert raised.value.__notes__ == ["while processing 'payload'"]


@pytest.mark.parametrize("min_rows", [-1, -(2**70), 2**64, 2**100, Index(-1), Index(2**64)])
def test_min_rows_out_of_range(min_rows):
    # Checked before the transform runs: the payload here is no JSON at all.
    with pytest.raises(OverflowError) as raised:
        columnarize(b"x", min_rows)
    assert raised.value.__notes__ == ["while processing 'min_rows'"]


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((b"[]",), {}),
        ((), {"payload": b"[]"}),
        ((), {"min_rows": 0, "payload": b"[]"}),
        ((b"[]", True), {}),
        ((b"[]", False), {}),
        ((b"[]", U64_MAX), {}),
        ((b"[]", Index(7)), {}),
    ],
)
def test_accepted_arguments(args, kwargs):
    assert columnarize(*args, **kwargs) == EMPTY


@given(st.integers(min_value=0, max_value=U64_MAX))
def test_any_valid_min_rows_leaves_the_output_alone(min_rows):
    assert columnarize(b"[{}]", min_rows) == b'{"columns":[],"rows":[[]],"constants":{}}'


def test_bytes_subclasses_are_accepted_and_the_result_is_exact_bytes():
    class Payload(bytes):
        def __bytes__(self):
            raise AssertionError("the content is read directly")

    result = columnarize(Payload(b'[{"a":1}]'))
    assert type(result) is bytes
    assert result == b'{"columns":["a"],"rows":[[1]],"constants":{}}'


def test_a_panic_raised_by_min_rows_is_resumed_as_a_panic(panic_exception, capfd):
    with pytest.raises(panic_exception) as raised:
        columnarize(b"[]", Index(panic_exception("from Python code")))
    assert raised.value.args == ("from Python code",)
    assert not hasattr(raised.value, "__notes__")
    # The first panic is reported before the new one is raised.
    assert "from Python code" in capfd.readouterr().err


PIPELINE = [
    (b"[]", EMPTY),
    (b' [{"a":1}]\n', b'{"columns":["a"],"rows":[[1]],"constants":{}}'),
    (
        b'[{"a":1,"b":"x","c":null},{"a":1.0,"b":"y"}]',
        b'{"columns":["b"],"rows":[["x"],["y"]],"constants":{"a":1}}',
    ),
    (
        b'[{"a":1,"b":2},{"b":3,"c":4}]',
        b'{"columns":["a","b","c"],"rows":[[1,2,null],[null,3,4]],"constants":{}}',
    ),
    (
        b'[{"o":{"p":1,"q":2}},{"o":{"q":2,"p":1}}]',
        b'{"columns":[],"rows":[[],[]],"constants":{"o":{"p":1,"q":2}}}',
    ),
    (
        '[{"név":"ü","e":"\\u00e9\\ud83d\\ude00"}]'.encode(),
        '{"columns":["név","e"],"rows":[["ü","é😀"]],"constants":{}}'.encode(),
    ),
]


@pytest.mark.parametrize("payload, output", PIPELINE)
def test_pipeline_output(payload, output):
    assert columnarize(payload) == output


PIPELINE_ERRORS = [
    (b"", "invalid row-oriented JSON: EOF while parsing a value at line 1 column 0"),
    (b"{}", "invalid row-oriented JSON: invalid type: map, expected a sequence at line 1 column 0"),
    (b"[1,2", "invalid row-oriented JSON: EOF while parsing a list at line 1 column 4"),
    (b"[] x", "invalid row-oriented JSON: trailing characters at line 1 column 4"),
    (b'[{"a":1},2]', "expected a JSON object row, got: 2"),
    (b"[1]", "expected a JSON object row, got: 1"),
    (b'[{"a":1},"x",[1]]', 'expected a JSON object row, got: "x"'),
    (b"[null]", "expected a JSON object row, got: null"),
]


@pytest.mark.parametrize("payload, message", PIPELINE_ERRORS)
def test_pipeline_errors(payload, message):
    with pytest.raises(RuntimeError) as raised:
        columnarize(payload)
    assert str(raised.value) == message
    assert not hasattr(raised.value, "__notes__")


def test_a_reader_error_wins_over_a_non_object_row():
    with pytest.raises(RuntimeError) as raised:
        columnarize(b'[{"a":1},2,')
    assert str(raised.value).startswith("invalid row-oriented JSON: ")


def test_codec_failures_are_caught_by_the_callers_guard():
    for payload in (b"", b"[1]", b"\xff"):
        try:
            columnarize(payload)
        except Exception as error:  # noqa: BLE001 - the guard of the Python codec
            assert type(error) is RuntimeError
        else:
            pytest.fail(f"{payload!r} was accepted")


def rebuild_rows(output: bytes) -> list[dict]:
    """The rows that a column-oriented document stands for, null members left out."""
    document = json.loads(output)
    assert list(document) == ["columns", "rows", "constants"]
    assert not set(document["columns"]) & set(document["constants"])
    return [
        {
            **{name: cell for name, cell in zip(document["columns"], cells, strict=True)},
            **document["constants"],
        }
        for cells in document["rows"]
    ]


def without_nulls(rows: list[dict]) -> list[dict]:
    return [{name: value for name, value in row.items() if value is not None} for row in rows]


def same_value(actual, expected) -> bool:
    """Exact equality of decoded JSON values. A number may change between int and float only
    where a constant column keeps the first row's form (1 and 1.0 match), never its value."""
    if isinstance(expected, float) or isinstance(actual, float):
        numbers = all(type(value) in (int, float) for value in (actual, expected))
        return numbers and actual == expected
    if isinstance(expected, dict):
        return (
            isinstance(actual, dict)
            and actual.keys() == expected.keys()
            and all(same_value(actual[name], expected[name]) for name in expected)
        )
    if isinstance(expected, list):
        return (
            isinstance(actual, list)
            and len(actual) == len(expected)
            and all(map(same_value, actual, expected))
        )
    return type(actual) is type(expected) and actual == expected


def assert_stands_for(output: bytes, rows: list[dict]) -> None:
    assert same_value(without_nulls(rebuild_rows(output)), without_nulls(rows))


def test_real_payloads_round_trip(data_dir):
    for path in sorted(data_dir.glob("*.json")):
        payload = path.read_bytes()
        assert_stands_for(columnarize(payload), json.loads(payload))


# Integers span the 64-bit forms, which the reader keeps exact: a constant must never fold two
# distinct ones. Lone surrogates are left out: the reader refuses them.
TEXT = st.text(st.characters(exclude_categories=["Cs"]), max_size=8)
SCALARS = (
    st.none()
    | st.booleans()
    | st.integers(min_value=-(2**63), max_value=2**64 - 1)
    | st.floats(allow_nan=False, allow_infinity=False)
    | TEXT
)
VALUES = st.recursive(
    SCALARS,
    lambda children: st.lists(children, max_size=3) | st.dictionaries(TEXT, children, max_size=3),
    max_leaves=8,
)
NAMES = st.sampled_from(["a", "b", "c", "", "É", "a b"])
NEAR = st.sampled_from([0, 1, 1.0, "x", 2**53, 2**53 + 1, float(2**53), 2**64 - 1, 2.0**64])
ROWS = st.lists(st.dictionaries(NAMES, VALUES | NEAR), max_size=6)


@given(rows=ROWS, ascii_only=st.booleans())
def test_generated_rows_round_trip(rows, ascii_only):
    payload = json.dumps(rows, ensure_ascii=ascii_only).encode()
    assert_stands_for(columnarize(payload), rows)


LEAK_CASES = {
    "result": lambda: columnarize(b'[{"a":1,"b":[1,2]},{"a":1}]', Index(5)),
    "missing payload": lambda: columnarize(),
    "unknown keyword": lambda: columnarize(b"[]", foo=1),
    "keyword without UTF-8": lambda: columnarize(b"[]", **{"\udcff": 1}),
    "payload type": lambda: columnarize("[]"),
    "min_rows range": lambda: columnarize(b"[]", 2**64),
    "min_rows __index__": lambda: columnarize(b"[]", Index(ValueError("x"))),
    "reader error": lambda: columnarize(b"[1"),
    "non-object row": lambda: columnarize(b'[{"a":1},[1,2,3]]'),
}


@pytest.mark.parametrize("call", LEAK_CASES.values(), ids=LEAK_CASES.keys())
def test_calls_release_every_object_they_make(call):
    def run(times):
        for _ in range(times):
            with contextlib.suppress(Exception):
                call()
        settle()

    run(100)  # first-use objects (interned names, caches) are made here
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        run(2000)
        growth = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
    # One object left behind per call would be 32 bytes or more each time.
    assert growth < 20_000
