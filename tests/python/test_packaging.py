# The installed package as a user meets it: the type stub as mypy sees it. The command-line
# tool has test_cli.py.
import re
import subprocess
import sys

import pytest

# mypy judges the stub itself; only where it reports errors, and their codes, are compared, as
# its messages change between versions.
USES_CODEC = """\
from typing import Callable, SupportsIndex, assert_type
from tarvik_codec import columnarize

signature: Callable[[bytes, SupportsIndex], bytes] = columnarize
assert_type(columnarize(payload=b"[]", min_rows=5), bytes)
columnarize("[]")
"""


def test_mypy_sees_the_stub(tmp_path):
    pytest.importorskip("mypy")
    (tmp_path / "uses_codec.py").write_text(USES_CODEC)
    checked = subprocess.run(
        [sys.executable, "-m", "mypy", "--no-incremental", "--show-error-codes", "uses_codec.py"],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        check=False,
    )
    errors = re.findall(
        r"^uses_codec\.py:(\d+): error: .*\[([a-z-]+)\]$", checked.stdout, re.MULTILINE
    )
    assert errors == [("6", "arg-type")], checked.stdout
