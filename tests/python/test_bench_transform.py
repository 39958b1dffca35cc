# Checks the benchmark's pure-Python transform against the codec's edge cases, so that the peer
# pipelines it races do the same work, and the documents it grows. Independent of tarvik_codec.
import importlib.util
import json
from pathlib import Path

import pytest
from conftest import find_data_dir

BENCH_DIR = Path(__file__).resolve().parents[2] / "bench"


def load_bench_module(name: str):
    found = importlib.util.spec_from_file_location(name, BENCH_DIR / f"{name}.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


reference = load_bench_module("columnar_reference")

TRANSFORM_CASES = [
    ("[]", '{"columns":[],"rows":[],"constants":{}}'),
    ("[{}]", '{"columns":[],"rows":[[]],"constants":{}}'),
    ("[{},{}]", '{"columns":[],"rows":[[],[]],"constants":{}}'),
    ('[{"a":1}]', '{"columns":["a"],"rows":[[1]],"constants":{}}'),
    ('[{"a":1},{"a":1}]', '{"columns":[],"rows":[[],[]],"constants":{"a":1}}'),
    ('[{"a":null,"b":2}]', '{"columns":["b"],"rows":[[2]],"constants":{}}'),
    ('[{"a":null},{"b":null},{}]', '{"columns":[],"rows":[[],[],[]],"constants":{}}'),
    (
        '[{"a":1,"b":2},{"b":3,"c":4}]',
        '{"columns":["a","b","c"],"rows":[[1,2,null],[null,3,4]],"constants":{}}',
    ),
    (
        '[{"b":2,"a":1},{"a":3,"b":4}]',
        '{"columns":["b","a"],"rows":[[2,1],[4,3]],"constants":{}}',
    ),
    (
        '[{"z":1,"y":1,"x":0},{"y":1,"z":1,"x":5}]',
        '{"columns":["x"],"rows":[[0],[5]],"constants":{"z":1,"y":1}}',
    ),
    ('[{"a":null},{"a":1}]', '{"columns":["a"],"rows":[[null],[1]],"constants":{}}'),
    ('[{"a":1},{}]', '{"columns":["a"],"rows":[[1],[null]],"constants":{}}'),
    (
        '[{"a":false},{"a":false}]',
        '{"columns":[],"rows":[[],[]],"constants":{"a":false}}',
    ),
    (
        '[{"o":{"p":1,"q":2}},{"o":{"q":2,"p":1}}]',
        '{"columns":[],"rows":[[],[]],"constants":{"o":{"p":1,"q":2}}}',
    ),
    (
        '[{"A":1},{"a":2}]',
        '{"columns":["A","a"],"rows":[[1,null],[null,2]],"constants":{}}',
    ),
    ('[{"":1},{"":2}]', '{"columns":[""],"rows":[[1],[2]],"constants":{}}'),
    (
        '[{"o":{"k":[1,2]}},{"o":null}]',
        '{"columns":["o"],"rows":[[{"k":[1,2]}],[null]],"constants":{}}',
    ),
    # A repeated name keeps the last value at the first position.
    (
        '[{"a":1,"b":0,"a":2},{"b":1,"a":2}]',
        '{"columns":["b"],"rows":[[0],[1]],"constants":{"a":2}}',
    ),
    # Top-level numbers match by exact value; the constant keeps the first row's form.
    ('[{"a":1},{"a":1.0}]', '{"columns":[],"rows":[[],[]],"constants":{"a":1}}'),
    ('[{"a":1.0},{"a":1}]', '{"columns":[],"rows":[[],[]],"constants":{"a":1.0}}'),
    ('[{"a":0},{"a":-0.0}]', '{"columns":[],"rows":[[],[]],"constants":{"a":0}}'),
    (
        '[{"a":9007199254740993},{"a":9007199254740992}]',
        '{"columns":["a"],"rows":[[9007199254740993],[9007199254740992]],"constants":{}}',
    ),
    (
        '[{"id":1234567890123456789},{"id":1234567890123456790}]',
        '{"columns":["id"],"rows":[[1234567890123456789],[1234567890123456790]],"constants":{}}',
    ),
    ('[{"a":4},{"a":4e0},{"a":40e-1}]', '{"columns":[],"rows":[[],[],[]],"constants":{"a":4}}'),
    # Inside containers the number forms differ: no constant.
    (
        '[{"a":[1]},{"a":[1.0]}]',
        '{"columns":["a"],"rows":[[[1]],[[1.0]]],"constants":{}}',
    ),
    (
        '[{"a":{"k":1}},{"a":{"k":1.0}}]',
        '{"columns":["a"],"rows":[[{"k":1}],[{"k":1.0}]],"constants":{}}',
    ),
    (
        '[{"a":[0.0]},{"a":[-0.0]}]',
        '{"columns":[],"rows":[[],[]],"constants":{"a":[0.0]}}',
    ),
    # Numbers never match other kinds, even where Python's == says they do.
    ('[{"a":1},{"a":"1"}]', '{"columns":["a"],"rows":[[1],["1"]],"constants":{}}'),
    ('[{"a":0},{"a":false}]', '{"columns":["a"],"rows":[[0],[false]],"constants":{}}'),
    ('[{"a":true},{"a":1}]', '{"columns":["a"],"rows":[[true],[1]],"constants":{}}'),
    (
        '[{"a":[true]},{"a":[1]}]',
        '{"columns":["a"],"rows":[[[true]],[[1]]],"constants":{}}',
    ),
    (
        '[{"a":[1,2]},{"a":[2,1]}]',
        '{"columns":["a"],"rows":[[[1,2]],[[2,1]]],"constants":{}}',
    ),
    ('[{"a":{}},{"a":[]}]', '{"columns":["a"],"rows":[[{}],[[]]],"constants":{}}'),
    # Absent in one row is null there, so not constant.
    (
        '[{"a":"x"},{"a":"x"},{}]',
        '{"columns":["a"],"rows":[["x"],["x"],[null]],"constants":{}}',
    ),
    ('[{"a":"é"},{"a":"é"}]', '{"columns":[],"rows":[[],[]],"constants":{"a":"é"}}'),
]


@pytest.mark.parametrize(("payload", "expected"), TRANSFORM_CASES)
def test_stdlib_pipeline_output(payload, expected):
    assert reference.columnarize_stdlib(payload.encode()) == expected.encode()


@pytest.mark.parametrize(("payload", "expected"), TRANSFORM_CASES)
def test_orjson_pipeline_output(payload, expected):
    if reference.orjson is None:
        pytest.skip("orjson is not installed")
    # orjson writes the same compact JSON as the stdlib pipeline for every case in the table.
    assert reference.columnarize_orjson(payload.encode()) == expected.encode()


@pytest.mark.parametrize(
    ("payload", "message"),
    [
        ('[{"a":1},2]', "expected a JSON object row, got: 2"),
        ('[{"a":1},"x",[1]]', 'expected a JSON object row, got: "x"'),
        ("[null]", "expected a JSON object row, got: null"),
        ('[{"a":1},[{"b":"é"}]]', 'expected a JSON object row, got: [{"b":"é"}]'),
    ],
)
def test_non_object_row_names_the_first_offender(payload, message):
    with pytest.raises(reference.RowError) as raised:
        reference.columnarize_stdlib(payload.encode())
    assert str(raised.value) == message


def test_rows_are_not_modified():
    rows = [{"a": 1, "b": None}, {"a": 1, "b": 2}]
    reference.columnarize_rows(rows)
    assert rows == [{"a": 1, "b": None}, {"a": 1, "b": 2}]


run = load_bench_module("run")


@pytest.mark.parametrize(
    ("left", "right", "count", "first"),
    [
        ({"rows": [[1, "x"]]}, {"rows": [[1, "x"]]}, 0, None),
        ({"a": 1}, {"a": 1.0}, 1, ".a"),
        ({"a": [True]}, {"a": [1]}, 1, ".a[0]"),
        ({"a": 1, "b": 2}, {"b": 2, "a": 1}, 1, ""),
        ([[1], [2]], [[1], [2, 3]], 1, "[1]"),
        ({"a": "x", "b": [0.5, 2.5]}, {"a": "y", "b": [0.5, 2.25]}, 2, ".a"),
    ],
)
def test_output_check_counts_differences(left, right, count, first):
    found, where = run.count_differences(left, right)
    assert found == count
    assert (where and where.split(":")[0]) == first


def test_scaled_payload_keeps_the_rows_bytes():
    payload = b' [{"a":"\\u00e9"},{"b":1.50}]\n'
    scaled = run.scale_payload(payload, 3)
    assert (
        scaled
        == b'[{"a":"\\u00e9"},{"b":1.50},{"a":"\\u00e9"},{"b":1.50},{"a":"\\u00e9"},{"b":1.50}]'
    )
    assert run.scale_payload(b"[]", 5) == b"[]"


# Loaded after run, which puts bench/ on the path that its modules import each other from.
documents = load_bench_module("documents")
DOCUMENTS_DIR = Path(__file__).resolve().parents[1] / "data" / "documents"


@pytest.mark.parametrize(
    ("document", "scaled"),
    [
        # Strings holding brackets, commas and quotes are not structure.
        (
            b'{"n":2,"items":[{"a":"],{"},{"a":"\\",["}]}',
            b'{"n":2,"items":[{"a":"],{"},{"a":"\\",["},{"a":"],{"},{"a":"\\",["}]}',
        ),
        (b"[[1],[2]]", b"[[1],[2],[1],[2]]"),
        # A keyed collection's names are marked in the later copies, escapes kept.
        (
            b'{"versions":{"1.0":{"v":1},"2.\\u0030":{"v":2}}}',
            b'{"versions":{"1.0":{"v":1},"2.\\u0030":{"v":2},"1.0~2":{"v":1},"2.\\u0030~2":{"v":2}}}',
        ),
        # The innermost collection holding half the document, not the object of two around it.
        (
            b'{"v":{"r":{"res":[{"id":"aaaa"},{"id":"bbbb"}]},"o":{}}}',
            b'{"v":{"r":{"res":[{"id":"aaaa"},{"id":"bbbb"},{"id":"aaaa"},{"id":"bbbb"}]},"o":{}}}',
        ),
        (
            b'{"data": [\n  {"a": 1},\n  {"a": 2}\n]}',
            b'{"data": [\n  {"a": 1},\n  {"a": 2}\n,\n  {"a": 1},\n  {"a": 2}\n]}',
        ),
    ],
)
def test_scaled_document_repeats_its_main_collection(document, scaled):
    assert documents.scale_document(document, 2) == scaled


def count_objects(value) -> int:
    if type(value) is dict:
        return 1 + sum(map(count_objects, value.values()))
    if type(value) is list:
        return sum(map(count_objects, value))
    return 0


@pytest.mark.parametrize("path", sorted(DOCUMENTS_DIR.glob("*.json")), ids=lambda path: path.stem)
def test_scaled_tool_output_is_json_of_the_intended_size(path):
    document = path.read_bytes()
    bulk = documents.main_collection(document)
    target = 20 * len(document)
    copies = documents.document_copies(document, target)
    scaled = documents.scale_document(document, copies)
    members = json.loads(document[bulk.start : bulk.end])
    members = members.values() if type(members) is dict else members
    # Every copy's objects are there: none dropped as a repeated member name.
    added = sum(map(count_objects, members)) * (copies - 1)
    assert count_objects(json.loads(scaled)) == count_objects(json.loads(document)) + added
    assert abs(len(scaled) - target) < bulk.end - bulk.start


@pytest.mark.parametrize("path", sorted(find_data_dir().glob("*.json")), ids=lambda path: path.stem)
def test_wrapped_payload_holds_the_rows_and_their_count(path):
    rows = json.loads(path.read_bytes())
    wrapped = json.loads(documents.document_payload("wrapped", str(path), 2))
    assert wrapped == {"total_count": 2 * len(rows), "items": rows * 2, "next": None}
