# Shared fixtures of the module's tests: the real payloads, the PanicException type and a runner
# for scripts that need a process of their own.
import gc
import os
import subprocess
import sys
import textwrap
import time
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]

# What some tests do that a sanitized build cannot go through (scripts/check-hardening leaves them
# out by these marks).
MARKS = {
    "memory_limit": "exhausts memory under an address-space limit, where ASan's allocator aborts",
    "preload": "replaces LD_PRELOAD, which must name the ASan runtime first",
    "forks_during_calls": "forks while threads call; GCC 12's ASan allocator hangs across fork",
    "worker_interpreters": "starts worker interpreters that end with CPython's objects allocated",
}


def pytest_configure(config):
    for name, meaning in MARKS.items():
        config.addinivalue_line("markers", f"{name}: {meaning}")


def find_data_dir() -> Path:
    """The real payloads: $TARVIK_DATA_DIR when set, else the checkout's tests/data/rows (a source
    distribution leaves the payloads out, so tests run from one need TARVIK_DATA_DIR)."""
    configured = os.environ.get("TARVIK_DATA_DIR")
    candidate = Path(configured) if configured else REPO / "tests" / "data" / "rows"
    if candidate.is_dir() and any(candidate.glob("*.json")):
        return candidate
    pytest.fail(
        f"no payloads (*.json) in {candidate}: run the tests from a checkout, which has them in "
        "tests/data/rows, or set TARVIK_DATA_DIR to a folder of row-oriented JSON payloads"
    )


@pytest.fixture(scope="session")
def data_dir() -> Path:
    return find_data_dir()


@pytest.fixture(scope="session")
def panic_exception() -> type[BaseException]:
    # The type is made on the first import and is not a module attribute. Other native modules
    # may bring a PanicException of their own: ours lives under the binding's runtime name.
    found = [
        cls
        for cls in BaseException.__subclasses__()
        if cls.__qualname__ == "PanicException" and cls.__module__ == "tarvik_runtime"
    ]
    assert len(found) == 1, found
    return found[0]


def run_python(script: str, *, env: dict[str, str] | None = None, timeout: float = 300):
    """Runs `script` in a fresh interpreter that imports the installed tarvik_codec."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(script)],
        check=False,
        capture_output=True,
        text=True,
        env={**os.environ, **(env or {})},
        timeout=timeout,
    )


def scaled_payload(rows_file: Path, min_bytes: int) -> bytes:
    """The rows of `rows_file` repeated into one JSON array of at least `min_bytes` bytes."""
    body = rows_file.read_bytes().strip()[1:-1]
    copies = max(1, -(-min_bytes // len(body)))
    return b"[" + b",".join([body] * copies) + b"]"


def settle() -> None:
    """Frees what the interpreter still holds for objects already dead. A free-threaded build
    frees the storage of dicts and lists it replaces (an exception's notes, its attributes) only
    once every thread has passed a quiescent state, as releasing its thread state does: a thread
    that keeps it, as calls on small payloads do, piles that storage up (some 10 bytes a call),
    in pure Python alike. Sleeping releases it, and the collection then frees the backlog."""
    gc.collect()
    time.sleep(0)
    gc.collect()
