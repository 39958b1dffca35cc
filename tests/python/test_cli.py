# The command-line tool tarvik-columnarize as a user meets it: its output against the module's,
# its --stats counts, exit statuses and messages, closed streams and pipes, -o, and signals.
import importlib.metadata
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pytest
import tarvik_codec
from conftest import find_data_dir

# TARVIK_CLI picks another build of the tool (the sanitized one); by default, the installed one.
CLI = os.environ.get("TARVIK_CLI") or shutil.which(
    "tarvik-columnarize", path=str(Path(sys.executable).parent)
)

ROWS = b'[{"id":1,"kind":"a","x":null},{"id":2,"kind":"a"},{"id":3,"kind":"a"}]'
COLUMNS = b'{"columns":["id"],"rows":[[1],[2],[3]],"constants":{"kind":"a"}}'


def run(*args, stdin=b"", cwd=None) -> subprocess.CompletedProcess:
    assert CLI is not None, "tarvik-columnarize is not installed"
    return subprocess.run(
        [CLI, *map(str, args)], input=stdin, capture_output=True, check=False, cwd=cwd
    )


def run_shell(script: str, *args, cwd=None) -> subprocess.CompletedProcess:
    """Runs `script` in bash with the tool as $0 and `args` as $1...: for closed descriptors."""
    return subprocess.run(
        ["bash", "-c", script, CLI, *map(str, args)], capture_output=True, check=False, cwd=cwd
    )


def stats_lines(payload: bytes, output: bytes, written: int) -> list[str]:
    """The --stats report, counted from the module's output, for `written` bytes written."""
    document = json.loads(output)
    saved = len(payload) - written
    share = saved / len(payload) if payload else 0.0
    counts = (
        [
            f"rows:         {len(document['rows'])}",
            f"columns:      {len(document['columns'])}",
            f"constants:    {len(document['constants'])}",
        ]
        if "rows" in document
        else []
    )
    return [
        *counts,
        f"input bytes:  {len(payload)}",
        f"output bytes: {written}",
        f"saved:        {saved} bytes ({share:.1%})",
    ]


def real_payloads() -> list[Path]:
    return sorted(find_data_dir().glob("*.json"))


@pytest.mark.parametrize("source", real_payloads(), ids=lambda path: path.stem)
def test_output_and_stats_match_the_module(source):
    payload = source.read_bytes()
    expected = tarvik_codec.columnarize(payload)
    # A file is mapped; standard input from a pipe is read.
    mapped = run("--stats", source)
    assert (mapped.returncode, mapped.stdout) == (0, expected + b"\n")
    assert mapped.stderr.decode().splitlines() == stats_lines(payload, expected, len(expected) + 1)
    piped = run("--no-newline", stdin=payload)
    assert (piped.returncode, piped.stdout, piped.stderr) == (0, expected, b"")


def documents() -> list[Path]:
    return sorted((Path(__file__).resolve().parents[1] / "data" / "documents").glob("*.json"))


@pytest.mark.parametrize("source", documents()[:4], ids=lambda path: path.stem)
@pytest.mark.parametrize("min_rows", [None, 3])
def test_document_mode_and_the_way_back_match_the_module(source, min_rows):
    payload = source.read_bytes()
    args = ("--document",) if min_rows is None else ("--document", "--min-rows", min_rows)
    expected = tarvik_codec.columnarize_document(payload, 2 if min_rows is None else min_rows)
    shrunk = run(*args, "--stats", source)
    assert (shrunk.returncode, shrunk.stdout) == (0, expected + b"\n")
    # No rows, columns or constants: a document has many tables, or none.
    assert shrunk.stderr.decode().splitlines() == stats_lines(payload, b"{}", len(expected) + 1)
    back = run("-d", "--no-newline", stdin=expected)
    assert (back.returncode, back.stdout) == (0, tarvik_codec.decolumnarize(expected))


@pytest.mark.parametrize(
    "args, stdin, status, message",
    [
        (
            ("--document",),
            b'{"a":',
            1,
            (
                "tarvik-columnarize: standard input: invalid JSON: "
                "EOF while parsing a value at line 1 column 5\n"
            ),
        ),
        (
            ("--decode",),
            b'{"columns":["a"],"rows":[[1,2]],"constants":{}}',
            1,
            (
                "tarvik-columnarize: standard input: broken table at $.rows[0]: "
                "a row of 2 cells where the table has 1 column\n"
            ),
        ),
        (
            (),
            b"[1]",
            1,
            "tarvik-columnarize: standard input: row 1: expected a JSON object row, got: 1\n",
        ),
        (
            ("--lines",),
            b'{"a":1}\n\n \r\n{"a":2}\n[3]\n',
            1,
            (
                "tarvik-columnarize: standard input: row 3 (line 5): "
                "expected a JSON object row, got: [3]\n"
            ),
        ),
        # JSON Lines read as one array: a hint to --lines, but not for one object alone.
        (
            (),
            b'{"a":1}\r\n{"a":2}\n',
            1,
            (
                "tarvik-columnarize: standard input: invalid row-oriented JSON: invalid type: map, "
                "expected a sequence at line 1 column 0 (the input looks like JSON Lines: try "
                "--lines)\n"
            ),
        ),
        (
            (),
            b'{"a":1}\n',
            1,
            (
                "tarvik-columnarize: standard input: invalid row-oriented JSON: invalid type: map, "
                "expected a sequence at line 1 column 0\n"
            ),
        ),
        (
            ("-",),
            b"",
            1,
            (
                "tarvik-columnarize: standard input: invalid row-oriented JSON: "
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
        # File names are quoted as a shell would read them back.
        (("",), b"", 2, "tarvik-columnarize: cannot read '': No such file or directory\n"),
        (
            ("it's\n.json",),
            b"",
            2,
            "tarvik-columnarize: cannot read 'it'\\''s'$'\\n''.json': No such file or directory\n",
        ),
        (
            ("-o", "/nonexistent/out.json"),
            ROWS,
            2,
            "tarvik-columnarize: cannot write /nonexistent/out.json: No such file or directory\n",
        ),
        (
            ("-o", "/dev/full"),
            ROWS,
            2,
            "tarvik-columnarize: cannot write /dev/full: No space left on device\n",
        ),
    ],
)
def test_failures(args, stdin, status, message):
    finished = run(*args, stdin=stdin)
    assert (finished.returncode, finished.stdout, finished.stderr.decode()) == (
        status,
        b"",
        message,
    )


@pytest.mark.parametrize(
    "args, message",
    [
        (("--no-such-option",), "unknown option '--no-such-option'"),
        (("-o",), "option '-o' needs a PATH"),
        (("a.json", "b.json"), "several inputs need -o DIR, a directory for their results"),
        (
            ("-o", "/dev/null", "a.json", "b.json"),
            "several inputs need -o DIR, and /dev/null is not a directory",
        ),
        (
            ("-o", "/tmp", "-"),
            "standard input has no name to write it under in /tmp; give -o a file",
        ),
        (("-o", "/tmp", "a/x.json", "b/x.json"), "two inputs would both be written to /tmp/x.json"),
        (
            ("-o", "-", "a.json", "b.json"),
            "several inputs need -o DIR, a directory for their results",
        ),
        (
            ("-o", "/tmp", "a/x y.json", "b/x y.json"),
            "two inputs would both be written to '/tmp/x y.json'",
        ),
        (("--document", "-d"), "--document and --decode do not go together"),
        (("--lines", "-d"), "--lines reads rows; it does not go with --document or --decode"),
        (("--min-rows", "3"), "--min-rows goes with --document"),
        (
            ("--document", "--min-rows=-1"),
            "option '--min-rows' needs a whole number from 0 to 2**64 - 1, not '-1'",
        ),
    ],
)
def test_usage_errors_name_the_fault_and_the_usage(args, message):
    finished = run(*args)
    assert finished.returncode == 2
    lines = finished.stderr.decode().splitlines()
    assert lines[0] == "tarvik-columnarize: " + message
    assert lines[1].startswith("usage: tarvik-columnarize ")


def test_version_and_help():
    version = run("--version")
    assert (version.returncode, version.stdout) == (
        0,
        f"tarvik-columnarize {importlib.metadata.version('tarvik_codec')}\n".encode(),
    )
    shown = run("--help")
    assert shown.returncode == 0
    assert shown.stdout.startswith(b"usage: tarvik-columnarize") and b"examples:" in shown.stdout
    assert max(len(line) for line in shown.stdout.decode().splitlines()) <= 80


@pytest.mark.parametrize(
    "script, status, message",
    [
        ('"$0" "$1" >/dev/full', 2, "cannot write standard output: No space left on device"),
        ('"$0" "$1" >&-', 2, "cannot write standard output: Bad file descriptor"),
        ('"$0" <&-', 2, "cannot read standard input: Bad file descriptor"),
        ('"$0" --version >&-', 2, "cannot write standard output: Bad file descriptor"),
        # With standard error closed the message is lost, but not the status.
        ('"$0" /nonexistent 2>&-', 2, None),
        # Standard input closed does not matter when a file is given.
        ('"$0" "$1" <&- >/dev/null', 0, None),
    ],
)
def test_closed_and_full_standard_streams(script, status, message, tmp_path):
    source = tmp_path / "rows.json"
    source.write_bytes(ROWS)
    finished = run_shell(script, source)
    assert finished.returncode == status
    expected = f"tarvik-columnarize: {message}\n".encode() if message else b""
    assert finished.stderr == expected


def test_a_closed_pipe_ends_quietly_and_stats_say_the_output_was_cut(data_dir):
    source = data_dir / "twitter.json"
    payload = source.read_bytes()
    expected = tarvik_codec.columnarize(payload)
    finished = run_shell('"$0" --stats "$1" | head -c 10; echo "${PIPESTATUS[0]}"', source)
    assert finished.stdout == expected[:10] + b"141\n"  # died of SIGPIPE, as cat does
    stats = finished.stderr.decode().splitlines()
    written = int(stats[4].removeprefix("output bytes: ").split()[0])
    assert written < len(expected)
    # No saving is computed from a cut output.
    assert stats == [
        *stats_lines(payload, expected, written)[:4],
        f"output bytes: {written} written before the output was closed",
        "saved:        unknown: the output was cut short",
    ]


@pytest.mark.parametrize("source", real_payloads(), ids=lambda path: path.stem)
def test_json_lines_give_what_the_array_of_the_lines_gives(source):
    rows = [json.dumps(row, ensure_ascii=False).encode() for row in json.loads(source.read_bytes())]
    finished = run("--lines", "--no-newline", stdin=b"\n".join(rows) + b"\n")
    assert (finished.returncode, finished.stderr) == (0, b"")
    assert finished.stdout == tarvik_codec.columnarize(b"[" + b",".join(rows) + b"]")


@pytest.mark.parametrize(
    "lines, result",
    [
        # Lines of whitespace only, CRLF line ends and whitespace around a value are fine.
        (b'{"a":1,"b":2}\r\n\r\n \t\n\t{"a":1,"b":3} ', b'[{"a":1,"b":2},{"a":1,"b":3}]'),
        (b"", b"[]"),
        (b'{"a":1}\n{"a":2}\n{"a":\n3}\n', "EOF while parsing a value at line 3 column 5"),
        (b'{"a":1}\n{"a":2} {"a":3}\n', "trailing characters at line 2 column 9"),
        (b'{"a":1}\n\n[1\n', "EOF while parsing a list at line 3 column 2"),
    ],
)
def test_json_lines(lines, result):
    finished = run("--lines", stdin=lines)
    if isinstance(result, bytes):
        expected = tarvik_codec.columnarize(result) + b"\n"
        assert (finished.returncode, finished.stdout, finished.stderr) == (0, expected, b"")
    else:
        assert (finished.returncode, finished.stdout) == (1, b"")
        assert finished.stderr.decode() == (
            f"tarvik-columnarize: standard input: invalid row-oriented JSON: {result}\n"
        )


def test_several_files_go_to_a_directory_and_a_failure_spares_the_others(data_dir, tmp_path):
    bad = tmp_path / "bad.json"
    bad.write_bytes(b'[{"a":1},2]')
    out = tmp_path / "out"
    out.mkdir()
    (out / "bad.json").write_bytes(b"earlier result")
    sources = [data_dir / "twitter.json", bad, data_dir / "canada.json"]
    finished = run("-o", out, *sources)
    assert finished.returncode == 1
    assert finished.stderr.decode() == (
        f"tarvik-columnarize: {bad}: row 2: expected a JSON object row, got: 2\n"
    )
    # The failed one leaves the earlier file as it was and no temporary file behind.
    assert sorted(path.name for path in out.iterdir()) == [
        "bad.json",
        "canada.json",
        "twitter.json",
    ]
    assert (out / "bad.json").read_bytes() == b"earlier result"
    for source in (sources[0], sources[2]):
        expected = tarvik_codec.columnarize(source.read_bytes()) + b"\n"
        assert (out / source.name).read_bytes() == expected


def test_one_input_to_a_named_file_replaces_it_whole(tmp_path):
    target = tmp_path / "rows.json"
    target.write_bytes(ROWS)
    target.chmod(0o640)
    # Reading and replacing the same file is safe: the result is renamed over it at the end.
    finished = run(target, "-o", target)
    assert (finished.returncode, finished.stderr) == (0, b"")
    assert target.read_bytes() == COLUMNS + b"\n"
    assert target.stat().st_mode & 0o777 == 0o640
    assert [path.name for path in tmp_path.iterdir()] == ["rows.json"]


def cut(message: str) -> str:
    whole = message.encode()
    kept = 300
    while whole[kept] & 0xC0 == 0x80:
        kept -= 1
    return whole[:kept].decode() + f"\u2026 ({len(whole)} bytes)"


@pytest.mark.parametrize(
    "element",
    [["x"] * 500_000, "\u00e9" * 400],
    ids=["long array", "cut inside a character"],
)
def test_a_long_message_is_cut(element):
    payload = json.dumps([{"a": 1}, element], separators=(",", ":"), ensure_ascii=False).encode()
    with pytest.raises(RuntimeError) as raised:
        tarvik_codec.columnarize(payload)
    finished = run(stdin=payload)
    assert finished.returncode == 1
    assert finished.stderr.decode() == (
        "tarvik-columnarize: standard input: row 2: " + cut(str(raised.value)) + "\n"
    )


def test_an_interrupt_removes_the_temporary_file(tmp_path):
    target = tmp_path / "out.json"
    # A shell's background job, which may be running this, ignores SIGINT, and the tool keeps an
    # ignored signal ignored: the child is started with the default action.
    inherited = signal.getsignal(signal.SIGINT)
    if inherited == signal.SIG_IGN:
        signal.signal(signal.SIGINT, signal.SIG_DFL)
    try:
        tool = subprocess.Popen([CLI, "-o", target], stdin=subprocess.PIPE, stderr=subprocess.PIPE)
    finally:
        signal.signal(signal.SIGINT, inherited)
    try:
        tool.stdin.write(b"[" + b'{"a":1},' * 200_000)
        tool.stdin.flush()
        # The temporary file exists while the input is still coming.
        deadline = time.monotonic() + 60
        while not any(tmp_path.iterdir()) and time.monotonic() < deadline:
            time.sleep(0.01)
        assert next(path.name for path in tmp_path.iterdir()).startswith(".out.json.")
        tool.send_signal(signal.SIGINT)
        assert tool.wait(timeout=60) == -signal.SIGINT  # 130 in a shell
    finally:
        tool.kill()
        tool.stdin.close()
    assert tool.stderr.read() == b""
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize(
    "cut_to",
    [lambda size: 0, lambda size: size - 1 if (size - 1) % 4096 else size - 2],
    ids=["to a page boundary", "into a page"],
)
def test_a_mapped_input_cut_short_is_a_read_error(tmp_path, cut_to):
    source = tmp_path / "rows.json"
    rows = (b'{"a":"value number %d"}' % i for i in range(500_000))
    source.write_bytes(b"[" + b",".join(rows) + b"]")
    tool = subprocess.Popen([CLI, source], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        # Output has begun, and the rest of the input is yet to be read, when the file shrinks.
        ready, _, _ = select.select([tool.stdout], [], [], 60)
        assert ready
        # Cut into a page, the file reads as zero bytes to the page's end instead of SIGBUS.
        os.truncate(source, cut_to(source.stat().st_size))
        _, errors = tool.communicate(timeout=60)
    finally:
        tool.kill()
    assert tool.returncode == 2
    assert (
        errors
        == f"tarvik-columnarize: cannot read {source}: the file was cut short while it was read\n".encode()
    )


def test_a_mapped_standard_input_is_left_at_its_end(tmp_path):
    source = tmp_path / "rows.json"
    source.write_bytes(ROWS + b"\n")
    # As after a filter that reads its input, a command after it reads nothing more.
    finished = run_shell('{ "$0"; echo "after:"; cat; } < "$1"', source)
    assert (finished.returncode, finished.stderr) == (0, b"")
    assert finished.stdout == COLUMNS + b"\nafter:\n"


@pytest.mark.memory_limit
def test_an_input_out_of_memory_is_named_and_the_others_are_tried(tmp_path):
    # Too large to map or read within the limit: a sparse file takes no disk.
    with open(tmp_path / "big.json", "wb") as big:
        big.truncate(1 << 30)
    for name in ("small.json", "small2.json"):
        (tmp_path / name).write_bytes(ROWS)
    (tmp_path / "out").mkdir()
    finished = run_shell(
        'ulimit -v 262144 && "$0" --stats -o out big.json small.json small2.json', cwd=tmp_path
    )
    stats = "\n".join(stats_lines(ROWS, COLUMNS, len(COLUMNS) + 1)) + "\n"
    assert finished.returncode == 3
    assert finished.stderr.decode() == (
        f"tarvik-columnarize: big.json: out of memory\nsmall.json:\n{stats}small2.json:\n{stats}"
    )
    assert sorted(path.name for path in (tmp_path / "out").iterdir()) == [
        "small.json",
        "small2.json",
    ]


@pytest.mark.parametrize(
    "link, target",
    [
        ("link.json", "rows.json"),
        ("dir/link.json", "../rows.json"),
        ("link.json", "absent.json"),
    ],
    ids=["to a file", "relative to its directory", "dangling"],
)
def test_o_writes_through_a_symbolic_link(tmp_path, link, target):
    (tmp_path / "dir").mkdir()
    (tmp_path / "rows.json").write_bytes(b"earlier result")
    (tmp_path / link).symlink_to(target)
    finished = run("-o", link, stdin=ROWS, cwd=tmp_path)
    assert (finished.returncode, finished.stderr) == (0, b"")
    assert os.readlink(tmp_path / link) == target
    assert (tmp_path / link).read_bytes() == COLUMNS + b"\n"
    assert not [path for path in tmp_path.rglob(".*")]  # no temporary file left


def test_o_dash_is_standard_output(tmp_path):
    finished = run("-o", "-", stdin=ROWS, cwd=tmp_path)
    assert (finished.returncode, finished.stdout, finished.stderr) == (0, COLUMNS + b"\n", b"")
    assert list(tmp_path.iterdir()) == []


NOBODY = 65534


@pytest.fixture
def shared_dir():
    """A world-writable directory (not sticky) that any user reaches, as /tmp/X is."""
    directory = Path(tempfile.mkdtemp(prefix="tarvik-cli-"))
    directory.chmod(0o777)
    try:
        yield directory
    finally:
        shutil.rmtree(directory)


def test_o_refuses_a_file_the_caller_may_not_write(shared_dir):
    target = shared_dir / "ro.json"
    target.write_bytes(b"earlier result")
    command = [CLI, "-o", "ro.json"]
    expected_files = ["ro.json"]
    if os.geteuid() == 0:
        # Root may write any file: the tool is run as nobody on a file root keeps to itself,
        # copied where nobody reaches it wherever the checkout lies.
        if shutil.which("setpriv") is None:
            pytest.skip("setpriv (util-linux) is needed to run the tool as another user")
        target.chmod(0o644)
        shutil.copy(CLI, shared_dir / "tool")
        expected_files.append("tool")
        command = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"]
        command += [shared_dir / "tool", "-o", "ro.json"]
    else:
        target.chmod(0o444)
    finished = subprocess.run(command, input=ROWS, capture_output=True, check=False, cwd=shared_dir)
    assert (finished.returncode, finished.stderr) == (
        2,
        b"tarvik-columnarize: cannot write ro.json: Permission denied\n",
    )
    assert target.read_bytes() == b"earlier result"
    assert sorted(path.name for path in shared_dir.iterdir()) == expected_files


@pytest.mark.skipif(os.geteuid() != 0, reason="only root may give a file to another owner")
def test_o_keeps_the_owner_and_group_of_the_file_it_replaces(tmp_path):
    target = tmp_path / "rows.json"
    target.write_bytes(b"earlier result")
    os.chown(target, NOBODY, NOBODY)
    target.chmod(0o640)
    finished = run("-o", target, stdin=ROWS)
    assert (finished.returncode, finished.stderr) == (0, b"")
    status = target.stat()
    assert (status.st_uid, status.st_gid, status.st_mode & 0o7777) == (NOBODY, NOBODY, 0o640)
    assert target.read_bytes() == COLUMNS + b"\n"
