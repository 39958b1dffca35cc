# Document mode: columnarize_document and decolumnarize held to the plain-Python model of their
# rules (document_model.py) on examples per rule, generated documents and tool outputs.
import functools
import json
from pathlib import Path

import document_model as model
import pytest
from conftest import REPO, find_data_dir
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from tarvik_codec import columnarize_document, decolumnarize

# A member every row of an example repeats, long enough for the table around it to win.
SITE = '"site":"https://github.example.com/acme"'
SITE_CONSTANTS = '"constants":{"site":"https://github.example.com/acme"}}'
LICENSE = '"license":"Apache-2.0 WITH LLVM-exception"'
# Records keyed by version, and their keyed table.
VERSIONS = '{"1.0":{"size":1,' + LICENSE + '},"1.1":{"size":2,' + LICENSE + "}}"
VERSIONS_TABLE = (
    '{"keys":["1.0","1.1"],"columns":["size"],"rows":[[1],[2]],"constants":{' + LICENSE + "}}"
)


def rows(*members: str) -> str:
    """An array of one object per argument, each holding those members and then SITE."""
    return "[" + ",".join("{" + text + "," + SITE + "}" for text in members) + "]"


# fmt: off
EXAMPLES = [
    # (payload, min_rows, output)
    # The examples.
    (
        '{"total_count":3,"items":[{"number":1,"user":{"login":"ann","type":"User","site_admin":false},"state":"open"},{"number":2,"user":{"login":"bob","type":"User","site_admin":false},"state":"open"},{"number":3,"user":{"login":"cy","type":"Bot","site_admin":false},"state":"open"}]}',
        2,
        '{"total_count":3,"items":{"columns":["number",{"user":{"columns":["login","type"],"constants":{"site_admin":false}}}],"rows":[[1,["ann","User"]],[2,["bob","User"]],[3,["cy","Bot"]]],"constants":{"state":"open"}}}',
    ),
    (
        '[{"number":1,"user":{"login":"ann","type":"User"},"state":"open"},{"number":2,"user":null,"state":"open"},{"number":3,"user":{"login":"cy","type":"User","email":null},"state":"closed"}]',
        2,
        '{"columns":["number",{"user":{"columns":["login"],"constants":{"type":"User"}}},"state"],"rows":[[1,["ann"],"open"],[2,null,"open"],[3,["cy"],"closed"]],"constants":{}}',
    ),
    (
        '[{"id":1,"labels":[{"name":"bug","color":"d73a4a","default":true},{"name":"ui","color":"a2eeef","default":false}]},{"id":2,"labels":[]},{"id":3,"labels":[{"name":"bug","color":"d73a4a","default":true},{"name":"docs","color":"0075ca","default":false}]}]',
        2,
        '{"columns":["id",{"labels":[{"columns":["name","color","default"],"constants":{}}]}],"rows":[[1,[["bug","d73a4a",true],["ui","a2eeef",false]]],[2,[]],[3,[["bug","d73a4a",true],["docs","0075ca",false]]]],"constants":{}}',
    ),
    ('[{"a":1},{"a":2}]', 2, '[{"a":1},{"a":2}]'),
    # Tables: one byte shorter wins, a tie keeps the array.
    (
        '[{"id":1,"type":"Organization-Accounts"},{"id":2,"type":"Organization-Accounts"}]',
        2,
        '{"columns":["id"],"rows":[[1],[2]],"constants":{"type":"Organization-Accounts"}}',
    ),
    (
        '[{"id":1,"type":"Organization-Account"},{"id":2,"type":"Organization-Account"}]',
        2,
        '[{"id":1,"type":"Organization-Account"},{"id":2,"type":"Organization-Account"}]',
    ),
    # First-seen columns, absent cells, a null-only column dropped, an array cell kept.
    (
        '{"data":[{"b":1,"n":null,"kind":"charge-object"},{"a":[1,2],"b":2,"kind":"charge-object"},{"a":"x","kind":"charge-object","n":null}]}',
        2,
        '{"data":{"columns":["b","a"],"rows":[[1,null],[2,[1,2]],[null,"x"]],"constants":{"kind":"charge-object"}}}',
    ),
    # Each element of an array on its own.
    (
        "[" + rows('"id":1', '"id":2') + ',[{"id":3},{"id":4}]]',
        2,
        '[{"columns":["id"],"rows":[[1],[2]],' + SITE_CONSTANTS + ',[{"id":3},{"id":4}]]',
    ),
    # Keyed tables; a member that is not an object (null here) keeps the object.
    (
        VERSIONS,
        2,
        VERSIONS_TABLE,
    ),
    (
        '{"1.0":{"size":1,"license":"MIT"},"1.1":{"size":2,"license":"MIT"}}',
        2,
        '{"1.0":{"size":1,"license":"MIT"},"1.1":{"size":2,"license":"MIT"}}',
    ),
    (
        '{"1.0":{' + LICENSE + '},"1.1":{' + LICENSE + '},"1.2":null}',
        0,
        '{"1.0":{' + LICENSE + '},"1.1":{' + LICENSE + '},"1.2":null}',
    ),
    # min_rows: an array needs max(min_rows, 1) elements, a keyed table max(min_rows, 2) members.
    *[
        (
            '[{"type":"User","id":1},{"type":"User","id":2},{"type":"User","id":3}]',
            min_rows,
            '{"columns":["id"],"rows":[[1],[2],[3]],"constants":{"type":"User"}}',
        )
        for min_rows in (0, 1, 3)
    ],
    (
        '[{"type":"User","id":1},{"type":"User","id":2},{"type":"User","id":3}]',
        4,
        '[{"type":"User","id":1},{"type":"User","id":2},{"type":"User","id":3}]',
    ),
    (
        VERSIONS,
        0,
        VERSIONS_TABLE,
    ),
    (
        VERSIONS,
        3,
        VERSIONS,
    ),
    ("[]", 0, "[]"),
    ("[{}]", 0, "[{}]"),
    ("{}", 0, "{}"),
    # Groups: a tie keeps the plain column, one byte shorter wins.
    (
        rows('"id":1,"user":{"login":"ann","type":"Organization"}',
             '"id":2,"user":{"login":"bob","type":"Organization"}'),
        2,
        '{"columns":["id","user"],"rows":[[1,{"login":"ann","type":"Organization"}],'
        '[2,{"login":"bob","type":"Organization"}]],' + SITE_CONSTANTS,
    ),
    (
        rows('"id":1,"user":{"login":"ann","type":"Mannequin-Bot"}',
             '"id":2,"user":{"login":"bob","type":"Mannequin-Bot"}'),
        2,
        '{"columns":["id",{"user":{"columns":["login"],"constants":{"type":"Mannequin-Bot"}}}],'
        '"rows":[[1,["ann"]],[2,["bob"]]],' + SITE_CONSTANTS,
    ),
    # A group inside a group; an empty object and an absent one.
    (
        rows('"id":1,"owner":{"org":{"name":"acme","plan":"enterprise-plus"},"role":"admin-user"}',
             '"id":2,"owner":{"org":{"name":"zeta","plan":"enterprise-plus"},"role":"admin-user"}',
             '"id":3,"owner":{"org":{"name":"beta","plan":"enterprise-plus"},"role":"member"}',
             '"id":4,"owner":{}',
             '"id":5'),
        2,
        '{"columns":["id",{"owner":{"columns":[{"org":{"columns":["name"],"constants":{"plan":"enterprise-plus"}}},"role"],"constants":{}}}],'
        '"rows":[[1,[["acme"],"admin-user"]],[2,[["zeta"],"admin-user"]],[3,[["beta"],"member"]],[4,[null,null]],[5,null]],'
        + SITE_CONSTANTS,
    ),
    # A cell that is not an object keeps the column plain.
    (
        rows('"id":1,"user":{"login":"ann","type":"Mannequin-Bot"}', '"id":2,"user":"ghost"'),
        2,
        '{"columns":["id","user"],"rows":[[1,{"login":"ann","type":"Mannequin-Bot"}],[2,"ghost"]],'
        + SITE_CONSTANTS,
    ),
    # List groups: a tie keeps the plain column, one byte shorter wins.
    (
        rows('"id":1,"tags":[{"k":"app.kubernetes.io/env","v":"prod"}]',
             '"id":2,"tags":[{"k":"app.kubernetes.io/env","v":"test"}]'),
        2,
        '{"columns":["id","tags"],"rows":[[1,[{"k":"app.kubernetes.io/env","v":"prod"}]],'
        '[2,[{"k":"app.kubernetes.io/env","v":"test"}]]],' + SITE_CONSTANTS,
    ),
    (
        rows('"id":1,"tags":[{"k":"app.kubernetes.io/name","v":"prod"}]',
             '"id":2,"tags":[{"k":"app.kubernetes.io/name","v":"test"}]'),
        2,
        '{"columns":["id",{"tags":[{"columns":["v"],"constants":{"k":"app.kubernetes.io/name"}}]}],'
        '"rows":[[1,[["prod"]]],[2,[["test"]]]],' + SITE_CONSTANTS,
    ),
    # A null list and an absent one; a member absent from some elements.
    (
        rows('"id":1,"ports":[{"port":80,"protocol":"TCP"},{"port":443,"protocol":"TCP"}]',
             '"id":2,"ports":null',
             '"id":3',
             '"id":4,"ports":[{"port":8080,"protocol":"TCP","name":"http-alt"}]'),
        2,
        '{"columns":["id",{"ports":[{"columns":["port","name"],"constants":{"protocol":"TCP"}}]}],'
        '"rows":[[1,[[80,null],[443,null]]],[2,null],[3,null],[4,[[8080,"http-alt"]]]],'
        + SITE_CONSTANTS,
    ),
    # A group inside a list group, a list group inside a group.
    (
        rows('"n":1,"c":[{"image":"nginx","res":{"cpu":"100m","memory":"128Mi"}},{"image":"envoy","res":{"cpu":"250m","memory":"128Mi"}}]',
             '"n":2,"c":[{"image":"redis","res":{"cpu":"500m","memory":"128Mi"}}]'),
        2,
        '{"columns":["n",{"c":[{"columns":["image",{"res":{"columns":["cpu"],"constants":{"memory":"128Mi"}}}],"constants":{}}]}],'
        '"rows":[[1,[["nginx",["100m"]],["envoy",["250m"]]]],[2,[["redis",["500m"]]]]],'
        + SITE_CONSTANTS,
    ),
    (
        rows('"id":1,"plan":{"containers":[{"name":"web","pull":"IfNotPresent"},{"name":"log","pull":"IfNotPresent"}]}',
             '"id":2,"plan":{"containers":[{"name":"api","pull":"IfNotPresent"}]}'),
        2,
        '{"columns":["id",{"plan":{"columns":[{"containers":[{"columns":["name"],"constants":{"pull":"IfNotPresent"}}]}],"constants":{}}}],'
        '"rows":[[1,[[["web"],["log"]]]],[2,[[["api"]]]]],' + SITE_CONSTANTS,
    ),
    # An element that is not an object keeps the column plain.
    (
        rows('"id":1,"tags":[{"k":"app.kubernetes.io/name","v":"prod"}]',
             '"id":2,"tags":[{"k":"app.kubernetes.io/name","v":"test"},"x"]'),
        2,
        '{"columns":["id","tags"],"rows":[[1,[{"k":"app.kubernetes.io/name","v":"prod"}]],'
        '[2,[{"k":"app.kubernetes.io/name","v":"test"},"x"]]],' + SITE_CONSTANTS,
    ),
    # Constants: top-level numbers match by exact value and keep the first row's spelling;
    # distinct integers, nested number forms and booleans do not match.
    (
        rows('"v":1,"k":"alpha"', '"v":1.0,"k":"beta"', '"v":1e0,"k":"gamma"'),
        2,
        '{"columns":["k"],"rows":[["alpha"],["beta"],["gamma"]],"constants":{"v":1,"site":"https://github.example.com/acme"}}',
    ),
    (
        rows('"v":0,"k":"alpha"', '"v":-0,"k":"beta"'),
        2,
        '{"columns":["k"],"rows":[["alpha"],["beta"]],"constants":{"v":0,"site":"https://github.example.com/acme"}}',
    ),
    (
        rows('"id":9007199254740993', '"id":9007199254740992'),
        2,
        '{"columns":["id"],"rows":[[9007199254740993],[9007199254740992]],' + SITE_CONSTANTS,
    ),
    (
        rows('"id":18446744073709551615', '"id":18446744073709551616'),
        2,
        '{"columns":["id"],"rows":[[18446744073709551615],[1.8446744073709552e+19]],'
        + SITE_CONSTANTS,
    ),
    (
        rows('"v":[1]', '"v":[1.0]'),
        2,
        '{"columns":["v"],"rows":[[[1]],[[1.0]]],' + SITE_CONSTANTS,
    ),
    # Nested 0.0 and -0.0 are equal floats, in compact text too.
    (
        rows('"v":[0.0],"o":{"z":-0.0},"k":"x"', '"v":[-0.0],"o":{"z":0.0},"k":"y"'),
        2,
        '{"columns":["k"],"rows":[["x"],["y"]],"constants":{"v":[0.0],"o":{"z":-0.0},"site":"https://github.example.com/acme"}}',
    ),
    (
        rows('"b":true', '"b":1'),
        2,
        '{"columns":["b"],"rows":[[true],[1]],' + SITE_CONSTANTS,
    ),
    (
        rows('"o":{"p":1,"q":[2]},"k":"x"', '"o":{"q":[2],"p":1},"k":"y"'),
        2,
        '{"columns":["k"],"rows":[["x"],["y"]],"constants":{"o":{"p":1,"q":[2]},"site":"https://github.example.com/acme"}}',
    ),
    # A table inside a cell, a table and a keyed table inside constants.
    (
        rows('"id":1,"items":[{"name":"first-item","kind":"a-long-constant"},{"name":"second-item","kind":"a-long-constant"},{"name":"third-item","kind":"a-long-constant"}]',
             '"id":2,"items":"none"'),
        2,
        '{"columns":["id","items"],"rows":[[1,{"columns":["name"],"rows":[["first-item"],["second-item"],["third-item"]],"constants":{"kind":"a-long-constant"}}],'
        '[2,"none"]],' + SITE_CONSTANTS,
    ),
    (
        rows('"id":1,"k":[{"t":"Organization-Member","n":1},{"t":"Organization-Member","n":2},{"t":"Organization-Member","n":3}]',
             '"id":2,"k":[{"t":"Organization-Member","n":1},{"t":"Organization-Member","n":2},{"t":"Organization-Member","n":3}]'),
        2,
        '{"columns":["id"],"rows":[[1],[2]],"constants":{"k":{"columns":["n"],"rows":[[1],[2],[3]],"constants":{"t":"Organization-Member"}},"site":"https://github.example.com/acme"}}',
    ),
    (
        rows('"id":1,"v":' + VERSIONS, '"id":2,"v":' + VERSIONS),
        2,
        '{"columns":["id"],"rows":[[1],[2]],"constants":{"v":' + VERSIONS_TABLE + ","
        '"site":"https://github.example.com/acme"}}',
    ),
    # Everything else is only written compact, in the writer's spelling.
    ("1", 2, "1"),
    ("-0", 2, "-0.0"),
    ("1E2", 2, "100.0"),
    ("1e16", 2, "1e+16"),
    ("0.00001", 2, "0.00001"),
    ("12345678901234567890123", 2, "1.2345678901234568e+22"),
    ('"caf\\u00e9 \\ud83d\\ude00 \\/ \\u0001"', 2, '"café 😀 / \\u0001"'),
    ("null", 2, "null"),
    ("true", 2, "true"),
    (" [ ] ", 2, "[]"),
    ('[1,"x",{"a":[1,{"b":null}]},[[]]]', 2, '[1,"x",{"a":[1,{"b":null}]},[[]]]'),
    ('{"a":1,"b":2,"a":3}', 2, '{"a":3,"b":2}'),
    (
        '{"columns":["a"],"rows":[[1],[2]],"constants":{}}',
        2,
        '{"columns":["a"],"rows":[[1],[2]],"constants":{}}',
    ),
]
# fmt: on


@pytest.mark.parametrize("payload, min_rows, output", EXAMPLES)
def test_examples(payload, min_rows, output):
    assert model.columnarize_document(payload.encode(), min_rows) == output.encode()
    assert columnarize_document(payload.encode(), min_rows) == output.encode()


READER_ERRORS = [
    (b"", "EOF while parsing a value at line 1 column 0"),
    (b'[{"a":[1,2', "EOF while parsing a list at line 1 column 10"),
    (b"[] x", "trailing characters at line 1 column 4"),
]


@pytest.mark.parametrize("function", [columnarize_document, decolumnarize])
@pytest.mark.parametrize("payload, reader_error", READER_ERRORS)
def test_reader_errors(function, payload, reader_error):
    with pytest.raises(RuntimeError) as raised:
        function(payload)
    assert str(raised.value) == "invalid JSON: " + reader_error


BROKEN_TABLES = [
    '{"columns":["a"],"rows":[[1,2]],"constants":{}}',
    '{"columns":["a",1],"rows":[[1,2]],"constants":{}}',
    '{"columns":[{"g":{"columns":["x"]}}],"rows":[[[1]]],"constants":{}}',
    '{"columns":[{"g":{"columns":["x"],"constants":{}}}],"rows":[[[1,2]]],"constants":{}}',
    '{"keys":["x"],"columns":["a"],"rows":[[1],[2]],"constants":{}}',
    '{"items":[{"columns":[],"rows":[[],[1]],"constants":{}}]}',
]


@pytest.mark.parametrize("payload", BROKEN_TABLES)
def test_broken_tables_are_refused(payload):
    with pytest.raises(ValueError):
        model.decolumnarize(payload.encode())
    with pytest.raises(RuntimeError):
        decolumnarize(payload.encode())


# Generated documents: envelopes around rows, keyed records, nested objects and lists of
# objects, with the values that tell implementations apart (64-bit edges, floats, escapes).
NAMES = st.sampled_from(
    ["id", "name", "type", "user", "created_at", "html_url", "", "é", 'say "hi"', "ключ"]
)
# Neither names nor keys spell "columns" or "constants", so no generated object is table-shaped.
KEYS = st.text(max_size=4)
TEXT = st.text(st.characters(exclude_categories=["Cs"]), max_size=6)
EDGES = [0, -0.0, 1, 1.0, 2**53, 2**53 + 1, 2**63, 2**64 - 1, 2**64, -(2**63), 1e16, 1.5e-7]
SCALARS = (
    st.none()
    | st.booleans()
    | st.integers(-(2**70), 2**70)
    | st.floats(allow_nan=False, allow_infinity=False)
    | st.sampled_from([*EDGES, "User", "open"])
    | TEXT
)


def objects(children):
    return st.dictionaries(NAMES, children, max_size=3)


@st.composite
def records(draw, children):
    """Rows that share their member names, as a tool's rows do: each member is a constant, a
    scalar, an object or a list of objects, drawn from a few so that values repeat, and is null
    or absent in some rows."""
    members = {}
    for name in draw(st.lists(NAMES, max_size=4, unique=True)):
        kind = draw(st.sampled_from(["constant", "scalar", "object", "list"]))
        if kind == "constant":
            members[name] = st.just(draw(children))
        elif kind == "scalar":
            members[name] = st.sampled_from(draw(st.lists(SCALARS, min_size=1, max_size=4)))
        else:
            few = st.sampled_from(draw(st.lists(objects(children), min_size=1, max_size=3)))
            members[name] = few if kind == "object" else st.lists(few, max_size=3)
    rows = []
    for _ in range(draw(st.integers(0, 6))):
        row = {}
        for name, values in members.items():
            presence = draw(st.integers(0, 5))  # 0: absent, 1: null, else a value
            if presence:
                row[name] = draw(values) if presence > 1 else None
        rows.append(row)
    return rows


def keyed(children):
    return records(children).flatmap(
        lambda rows: st.lists(KEYS, min_size=len(rows), max_size=len(rows), unique=True).map(
            lambda keys: dict(zip(keys, rows, strict=True))
        )
    )


VALUES = st.recursive(
    SCALARS,
    lambda children: (
        records(children) | keyed(children) | objects(children) | st.lists(children, max_size=3)
    ),
    max_leaves=12,
)
ENVELOPES = st.fixed_dictionaries(
    {"total_count": st.integers(0, 10**6), "items": records(VALUES), "next": st.none() | TEXT}
)
DOCUMENTS = ENVELOPES | records(VALUES) | keyed(VALUES) | VALUES
MIN_ROWS = st.sampled_from([0, 1, 2, 3, 20])


# Documents are large draws: on a busy machine their generation alone may pass the health check's
# time limit, which says nothing of the code under test.
@settings(max_examples=300, suppress_health_check=[HealthCheck.too_slow])
@given(document=DOCUMENTS, min_rows=MIN_ROWS, ascii_only=st.booleans())
def test_generated_documents_give_the_models_bytes(document, min_rows, ascii_only):
    payload = json.dumps(document, ensure_ascii=ascii_only).encode()
    assert columnarize_document(payload, min_rows) == model.columnarize_document(payload, min_rows)


def equivalent(restored, original) -> bool:
    """Equality of values as read, null members counting as absent, members in any order and
    numbers compared by value."""
    if model.is_number(restored) and model.is_number(original):
        return restored == original
    if type(restored) is not type(original):
        return False
    if type(original) is list:
        return len(restored) == len(original) and all(map(equivalent, restored, original))
    if type(original) is dict:
        restored = {name: value for name, value in restored.items() if value is not None}
        original = {name: value for name, value in original.items() if value is not None}
        return restored.keys() == original.keys() and all(
            equivalent(restored[name], original[name]) for name in original
        )
    return restored == original


def assert_round_trip(payload: bytes, min_rows: int = 2) -> None:
    restored = decolumnarize(columnarize_document(payload, min_rows))
    assert equivalent(model.read(restored), model.read(payload))


@settings(suppress_health_check=[HealthCheck.too_slow])
@given(document=DOCUMENTS, min_rows=MIN_ROWS)
def test_generated_documents_round_trip(document, min_rows):
    assert_round_trip(json.dumps(document).encode(), min_rows)


@settings(suppress_health_check=[HealthCheck.too_slow])
@given(document=DOCUMENTS, min_rows=MIN_ROWS)
def test_spaced_tables_come_back_as_compact_ones(document, min_rows):
    """Compact text is turned back in one pass, spaced text by two walks: the same bytes."""
    columnar = columnarize_document(json.dumps(document).encode(), min_rows)
    spaced = json.dumps(json.loads(columnar), indent=1).encode()
    assert decolumnarize(spaced) == decolumnarize(columnar)


def tool_outputs() -> list:
    """The generated tool outputs of tests/data/documents, then each real payload to be wrapped
    in an envelope, as (path, wrapped) parameters."""
    documents = sorted((REPO / "tests" / "data" / "documents").glob("*.json"))
    if not documents:
        pytest.fail("no documents (*.json) in tests/data/documents: run tools/make_documents.py")
    payloads = sorted(find_data_dir().glob("*.json"))
    return [pytest.param(path, False, id=path.stem) for path in documents] + [
        pytest.param(path, True, id=f"{path.stem} wrapped") for path in payloads
    ]


@functools.cache
def read_output(path: Path, wrapped: bool) -> bytes:
    payload = path.read_bytes()
    if not wrapped:
        return payload
    count = len(json.loads(payload))
    return b'{"total_count":%d,"items":%s,"next":null}' % (count, payload)


@functools.cache
def model_output(path: Path, wrapped: bool) -> bytes:
    return model.columnarize_document(read_output(path, wrapped))


def assert_same_bytes(actual: bytes, expected: bytes) -> None:
    """Equal bytes, else a failure showing where they part, not a diff of megabytes."""
    if actual != expected:
        pairs = zip(actual, expected, strict=False)
        at = next((i for i, (a, b) in enumerate(pairs) if a != b), min(len(actual), len(expected)))
        start = max(at - 60, 0)
        pytest.fail(
            f"bytes differ from offset {at} (lengths {len(actual)}, {len(expected)}):\n"
            f"{actual[start : at + 60]!r}\n{expected[start : at + 60]!r}"
        )


@pytest.mark.parametrize("path, wrapped", tool_outputs())
def test_tool_outputs_give_the_models_bytes(path, wrapped):
    assert_same_bytes(columnarize_document(read_output(path, wrapped)), model_output(path, wrapped))


@pytest.mark.parametrize("path, wrapped", tool_outputs())
def test_tool_outputs_round_trip(path, wrapped):
    assert_round_trip(read_output(path, wrapped))


@pytest.mark.parametrize("path, wrapped", tool_outputs())
def test_decolumnarize_restores_the_models_output_as_the_model_does(path, wrapped):
    columnar = model_output(path, wrapped)
    assert_same_bytes(decolumnarize(columnar), model.decolumnarize(columnar))
