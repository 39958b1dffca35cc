# The installed package as a user meets it: the type stub as mypy sees it. The command-line
# tool has test_cli.py.
import subprocess
import sys

import pytest


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
