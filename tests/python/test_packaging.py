# The installed package as a user meets it: the type stub as mypy sees it, and the command-line
# tool's output, statistics, exit statuses and messages.
import json
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

CLI = shutil.which("tarvik-columnarize", path=str(Path(sys.executable).parent))


def test_mypy_sees_the_stub(tmp_path):
    pytest.importorskip("mypy")
    (tmp_path / "uses_codec.py").write_text(
        "from tarvik_codec import columnarize\n"
        "reveal_type(columnarize)\n"
        "good: bytes = columnarize(b'[]', min_rows=5)\n"
        "bad = columnarize('[]')\n"
    )
    checked = subprocess.run(
        [sys.executable, "-m", "mypy", "--no-incremental", "uses_codec.py"],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        check=False,
    )
    report = checked.stdout
    assert 'Revealed type is "def (payload: bytes, min_rows: typing.SupportsIndex =) -> bytes"' in (
        report
    )
    assert (
        'uses_codec.py:4: error: Argument 1 to "columnarize" has incompatible type "str"' in report
    )
    assert "Found 1 error" in report


def run_cli(*args: str, stdin: bytes = b"") -> subprocess.CompletedProcess:
    assert CLI is not None, "the tarvik-columnarize script is not installed"
    return subprocess.run([CLI, *args], input=stdin, capture_output=True, check=False)


ROWS = b'[{"id":1,"kind":"a","x":null},{"id":2,"kind":"a"},{"id":3,"kind":"a"}]'
COLUMNS = b'{"columns":["id"],"rows":[[1],[2],[3]],"constants":{"kind":"a"}}'


def test_cli_reads_standard_input():
    for args in ((), ("-",)):
        finished = run_cli(*args, stdin=ROWS)
        assert (finished.returncode, finished.stdout, finished.stderr) == (0, COLUMNS, b"")


def test_cli_reads_a_file_and_prints_stats(tmp_path):
    source = tmp_path / "rows.json"
    source.write_bytes(ROWS)
    finished = run_cli("--stats", str(source))
    assert finished.returncode == 0
    assert finished.stdout == COLUMNS
    stats = finished.stderr.decode().splitlines()
    saved = len(ROWS) - len(COLUMNS)
    assert stats == [
        "rows:         3",
        "columns:      1",
        "constants:    1",
        f"input bytes:  {len(ROWS)}",
        f"output bytes: {len(COLUMNS)}",
        f"saved:        {saved} bytes ({saved / len(ROWS):.1%})",
    ]


def test_cli_on_a_real_payload(data_dir):
    source = data_dir / "apache_builds.json"
    finished = run_cli(str(source))
    assert finished.returncode == 0
    document = json.loads(finished.stdout)
    assert len(document["rows"]) == len(json.loads(source.read_bytes()))


@pytest.mark.parametrize(
    "args, stdin, status, message",
    [
        ((), b"[1]", 1, "tarvik-columnarize: expected a JSON object row, got: 1\n"),
        (
            (),
            b"",
            1,
            (
                "tarvik-columnarize: invalid row-oriented JSON: "
                "EOF while parsing a value at line 1 column 0\n"
            ),
        ),
        (
            ("/nonexistent/rows.json",),
            b"",
            2,
            "tarvik-columnarize: cannot read /nonexistent/rows.json: No such file or directory\n",
        ),
        (("/",), b"", 2, "tarvik-columnarize: cannot read /: Is a directory\n"),
    ],
)
def test_cli_failures(args, stdin, status, message):
    finished = run_cli(*args, stdin=stdin)
    assert finished.returncode == status
    assert finished.stdout == b""
    assert finished.stderr.decode() == message


def test_cli_bad_arguments_get_usage_not_a_traceback():
    finished = run_cli("--no-such-option")
    assert finished.returncode == 2
    assert finished.stderr.startswith(b"usage: tarvik-columnarize")
    assert b"Traceback" not in finished.stderr


def test_cli_survives_a_closed_pipe(data_dir):
    reader_gone = subprocess.Popen(["true"], stdin=subprocess.PIPE)
    reader_gone.wait()
    finished = subprocess.run(
        [CLI, str(data_dir / "twitter.json")],
        stdout=reader_gone.stdin,
        stderr=subprocess.PIPE,
        check=False,
    )
    reader_gone.stdin.close()
    assert finished.returncode == 0
    assert finished.stderr == b""
