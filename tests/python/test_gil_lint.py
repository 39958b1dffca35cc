# Lint of the module's C++ sources: nothing that touches a Python object may run while the
# interpreter lock is released, that is between PyEval_SaveThread and PyEval_RestoreThread, in
# Py_BEGIN_ALLOW_THREADS blocks, or in the scope of a guard object that releases the lock.
import re
from pathlib import Path

SOURCES = Path(__file__).resolve().parents[2] / "src" / "binding"

# A call of the C API: Py..., _Py... or a Py_ macro with arguments.
API_CALL = re.compile(r"\b_?Py[A-Za-z_]\w*\s*\(")
CALL = re.compile(r"\b([A-Za-z_]\w*)\s*\(")
DEFINITION = re.compile(r"\b([A-Za-z_]\w*)\s*\([^;{}()]*(?:\([^;{}()]*\)[^;{}()]*)*\)[^;{}()]*\{")
CLASS = re.compile(r"\b(?:class|struct)\s+(\w+)[^;{]*\{")
NOT_FUNCTIONS = {"if", "for", "while", "switch", "catch", "return", "sizeof", "decltype"}
RELEASE = "PyEval_SaveThread"
RESTORE = "PyEval_RestoreThread"


def strip_comments_and_literals(text: str) -> str:
    """The source with comments removed and string and character literals emptied."""
    pattern = re.compile(
        r'//[^\n]*|/\*.*?\*/|R"(\w*)\((?:.|\n)*?\)\1"|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'',
        re.DOTALL,
    )

    def blank(match: re.Match) -> str:
        # Line feeds stay, so that line numbers still hold.
        kept = "\n" * match.group(0).count("\n")
        return kept + ('""' if match.group(0)[0] in "R\"'" else " ")

    return pattern.sub(blank, text)


def block_end(text: str, open_brace: int) -> int:
    """Index just past the brace that closes the one at `open_brace`."""
    depth = 0
    for index in range(open_brace, len(text)):
        if text[index] == "{":
            depth += 1
        elif text[index] == "}":
            depth -= 1
            if depth == 0:
                return index + 1
    raise ValueError("unbalanced braces")


def parenthesis_end(text: str, open_parenthesis: int) -> int:
    """Index just past the parenthesis that closes the one at `open_parenthesis`."""
    depth = 0
    for index in range(open_parenthesis, len(text)):
        if text[index] == "(":
            depth += 1
        elif text[index] == ")":
            depth -= 1
            if depth == 0:
                return index + 1
    raise ValueError("unbalanced parentheses")


def enclosing_block_end(text: str, position: int) -> int:
    """Index of the brace that closes the block in which `position` stands."""
    depth = 0
    for index in range(position, len(text)):
        if text[index] == "{":
            depth += 1
        elif text[index] == "}":
            if depth == 0:
                return index
            depth -= 1
    return len(text)


def python_functions(text: str) -> set[str]:
    """Names of the functions defined in `text` that call the C API, directly or through other
    functions defined there."""
    bodies = {}
    for match in DEFINITION.finditer(text):
        name = match.group(1)
        if name not in NOT_FUNCTIONS:
            body = text[match.end() - 1 : block_end(text, match.end() - 1)]
            bodies[name] = bodies.get(name, "") + body
    touching = {name for name, body in bodies.items() if API_CALL.search(body)}
    while True:
        more = {
            name
            for name, body in bodies.items()
            if name not in touching and any(m.group(1) in touching for m in CALL.finditer(body))
        }
        if not more:
            return touching
        touching |= more


def released_regions(text: str) -> list[tuple[int, int]]:
    """Spans of `text` during which the lock is released."""
    regions = []
    for match in re.finditer(rf"\b{RELEASE}\s*\(", text):
        restore = text.find(RESTORE, match.end())
        end = enclosing_block_end(text, match.end())
        regions.append((match.end(), restore if 0 <= restore < end else end))
    # The work handed to run_codec runs with the lock released: its arguments are checked so.
    for match in re.finditer(r"\brun_codec\s*(?:<[^;()]*>)?\s*\(", text):
        regions.append((match.end(), parenthesis_end(text, match.end() - 1)))
    for match in re.finditer(r"\bPy_BEGIN_ALLOW_THREADS\b", text):
        regions.append((match.end(), text.find("Py_END_ALLOW_THREADS", match.end())))
    # A guard type releases the lock in its constructor: its objects' scopes are released too.
    guards = [
        m.group(1)
        for m in CLASS.finditer(text)
        if RELEASE in text[m.end() - 1 : block_end(text, m.end() - 1)]
    ]
    for guard in guards:
        for match in re.finditer(rf"\b{guard}\s+\w+\s*[;({{]", text):
            regions.append((match.end(), enclosing_block_end(text, match.end())))
    return [(start, end) for start, end in regions if not _inside_guard(text, start, guards)]


def _inside_guard(text: str, position: int, guards: list[str]) -> bool:
    """Whether `position` lies in the definition of a guard type (its own constructor)."""
    for guard in guards:
        for match in re.finditer(rf"\b(?:class|struct)\s+{guard}\b[^;{{]*\{{", text):
            if match.end() - 1 <= position < block_end(text, match.end() - 1):
                return True
    return False


def violations(source: str) -> list[str]:
    """The calls that touch Python inside released regions, as 'name at line N'."""
    text = strip_comments_and_literals(source)
    touching = python_functions(text)
    found = []
    for start, end in released_regions(text):
        for match in CALL.finditer(text, start, end):
            name = match.group(1)
            if (API_CALL.match(match.group(0)) and name != RESTORE) or name in touching:
                found.append(f"{name} at line {text.count(chr(10), 0, match.start()) + 1}")
    return found


def module_source() -> str:
    return "\n".join(path.read_text() for path in sorted(SOURCES.glob("*.[ch]pp")))


def test_no_python_call_while_the_lock_is_released():
    text = strip_comments_and_literals(module_source())
    regions = released_regions(text)
    # The lint must see the release around each codec call, or it checks nothing.
    for work in ("columnarize_json", "columnarize_document", "decolumnarize"):
        assert any(work in text[start:end] for start, end in regions), (work, regions)
    assert violations(module_source()) == []


GUARD = """
class Release {
 public:
  Release() : state_(PyEval_SaveThread()) {}
  ~Release() { PyEval_RestoreThread(state_); }
 private:
  PyThreadState* state_;
};
size_t size_of(PyObject* o) { return PyBytes_Size(o); }
size_t twice(PyObject* o) { return 2 * size_of(o); }
int pure(int x) { return x + 1; }
"""

LINT_CASES = {
    "api call in guard scope": (
        GUARD + "void f(PyObject* o) { const Release r; PyBytes_AsString(o); }",
        ["PyBytes_AsString"],
    ),
    "helper that calls the api": (
        GUARD + "void f(PyObject* o) { const Release r; twice(o); }",
        ["twice"],
    ),
    "after the guard's scope": (
        GUARD + "void f(PyObject* o) { { const Release r; pure(1); } PyBytes_Size(o); }",
        [],
    ),
    "between save and restore": (
        (
            "void f(PyObject* o) { auto s = PyEval_SaveThread(); Py_INCREF(o); "
            "PyEval_RestoreThread(s); Py_DECREF(o); }"
        ),
        ["Py_INCREF"],
    ),
    "allow-threads block": (
        "void f(PyObject* o) { Py_BEGIN_ALLOW_THREADS pure(PyList_Size(o)); Py_END_ALLOW_THREADS }",
        ["PyList_Size"],
    ),
    "work handed to run_codec": (
        "void f(PyObject* o) { run_codec(p, [o](auto t) { return PyBytes_Size(o); }); }",
        ["PyBytes_Size"],
    ),
    "names in comments and strings": (
        GUARD
        + 'void f() { const Release r; /* PyErr_Print() */ pure(sizeof("PyErr_Occurred()")); }',
        [],
    ),
}


def test_the_lint_finds_what_it_should():
    for name, (source, expected) in LINT_CASES.items():
        found = [entry.split(" at line ")[0] for entry in violations(source)]
        assert found == expected, name
