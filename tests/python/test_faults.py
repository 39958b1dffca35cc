# Faults that must not break the caller: an internal fault of the transform becomes RuntimeError,
# exhausted memory becomes MemoryError, and the process goes on working after either.
import os
import subprocess
import textwrap
from pathlib import Path

import pytest
from conftest import run_python, scaled_payload

FAILING_GETRANDOM = """
#define _GNU_SOURCE
#include <errno.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

/* Stands in for the C library's getrandom: the random source is out of order for every thread
   but the main one. */
ssize_t getrandom(void* buffer, size_t length, unsigned int flags) {
  if (gettid() == getpid()) return syscall(SYS_getrandom, buffer, length, flags);
  errno = EIO;
  return -1;
}
"""


@pytest.fixture(scope="module")
def failing_getrandom(tmp_path_factory):
    directory = tmp_path_factory.mktemp("shim")
    source = directory / "failing_getrandom.c"
    source.write_text(FAILING_GETRANDOM)
    library = directory / "failing_getrandom.so"
    subprocess.run(["cc", "-shared", "-fPIC", "-o", library, source], check=True)
    return library


@pytest.mark.preload
def test_an_internal_fault_becomes_runtime_error(failing_getrandom):
    # A new thread seeds its member hash when it first indexes the members of a large object:
    # with getrandom failing there, the core throws from inside the transform. The main thread's
    # calls still work.
    script = """
        import threading
        import tarvik_codec

        outcomes = []
        row = "{" + ",".join(f'"k{i}":{i}' for i in range(100)) + "}"
        payload = f"[{row},{row}]".encode()

        def call():
            for attempt in range(2):
                try:
                    tarvik_codec.columnarize(payload)
                except Exception as error:
                    outcomes.append(error)

        thread = threading.Thread(target=call)
        thread.start()
        thread.join()
        for error in outcomes:
            print(type(error).__name__, error, sep=": ")
        print("after:", tarvik_codec.columnarize(b"[]").decode())
    """
    # A fixed hash seed keeps the interpreter itself from asking for random bytes.
    finished = run_python(script, env={"LD_PRELOAD": str(failing_getrandom), "PYTHONHASHSEED": "0"})
    assert finished.returncode == 0, finished.stderr
    lines = finished.stdout.splitlines()
    assert len(lines) == 3
    for line in lines[:2]:
        assert line.startswith("RuntimeError: internal panic during columnarization: ")
        assert len(line) > len("RuntimeError: internal panic during columnarization: ")
    assert lines[2] == 'after: {"columns":[],"rows":[],"constants":{}}'
    assert "internal fault" in finished.stderr


@pytest.mark.memory_limit
@pytest.mark.parametrize(
    "headroom",
    [
        pytest.param(0.5, id="reading-fails"),
        # The rows read fit; they and the output (0.87 of the payload) do not.
        pytest.param(0.9, id="transform-fails"),
    ],
)
def test_exhausted_memory_is_memory_error(data_dir, headroom, tmp_path):
    payload_file = tmp_path / "large.json"
    payload_file.write_bytes(scaled_payload(data_dir / "twitter.json", 64_000_000))
    script = f"""
        import resource
        import tarvik_codec

        payload = open({str(payload_file)!r}, "rb").read()
        page = resource.getpagesize()
        with open("/proc/self/statm") as statm:
            in_use = int(statm.read().split()[0]) * page
        limit = in_use + int(len(payload) * {headroom})
        _, hard = resource.getrlimit(resource.RLIMIT_AS)
        resource.setrlimit(resource.RLIMIT_AS, (limit, hard))
        for attempt in range(3):
            try:
                tarvik_codec.columnarize(payload)
            except MemoryError as error:
                print("MemoryError", repr(str(error)))
        print("small:", tarvik_codec.columnarize(b'[{{"a":1}}]').decode())
        resource.setrlimit(resource.RLIMIT_AS, (hard, hard))
        print("large:", len(tarvik_codec.columnarize(payload)) > 0)
    """
    finished = run_python(script)
    assert finished.returncode == 0, finished.stderr
    assert finished.stdout.splitlines() == [
        "MemoryError ''",
        "MemoryError ''",
        "MemoryError ''",
        'small: {"columns":["a"],"rows":[[1]],"constants":{}}',
        "large: True",
    ]


CGROUP_V1_MEMORY = Path("/sys/fs/cgroup/memory")

# How the process's memory is limited: its address space (RLIMIT_AS), or the memory cgroup that
# the child moves itself into before the call.
LIMITS = {
    "address space": """
        _, hard = resource.getrlimit(resource.RLIMIT_AS)
        resource.setrlimit(resource.RLIMIT_AS, (address_space() + (1 << 30), hard))
    """,
    "memory cgroup": """
        with open(CGROUP + "/cgroup.procs", "w") as procs:
            procs.write(str(os.getpid()))
    """,
}


@pytest.fixture
def memory_cgroup():
    """A memory cgroup (v1) limited to 512 MB, or a skip where none can be made."""
    if not os.access(CGROUP_V1_MEMORY, os.W_OK):
        pytest.skip("no writable cgroup v1 memory controller (needs root)")
    group = CGROUP_V1_MEMORY / f"tarvik-test-{os.getpid()}"
    group.mkdir()
    try:
        (group / "memory.limit_in_bytes").write_text(str(512 << 20))
        yield group
    finally:
        group.rmdir()


@pytest.mark.memory_limit
@pytest.mark.parametrize("limit", LIMITS)
def test_an_output_that_cannot_fit_is_memory_error_before_it_is_built(limit, request):
    # Rows with one distinct member each: a 400 KB payload whose output (3.1 GB, a cell for
    # every row and column) is larger than the memory left to the process.
    cgroup = request.getfixturevalue("memory_cgroup") if limit == "memory cgroup" else ""
    script = f"""
        import os
        import resource
        import tarvik_codec
        CGROUP = {str(cgroup)!r}

        def one_member_each(rows):
            return ("[" + ",".join('{{"k%d":%d}}' % (i, i) for i in range(rows)) + "]").encode()

        def address_space():
            with open("/proc/self/statm") as statm:
                return int(statm.read().split()[0]) * resource.getpagesize()

        payload = one_member_each(25_000)
        print(len(payload) // 1000, "KB")
{textwrap.indent(textwrap.dedent(LIMITS[limit]), " " * 8)}
        before = address_space()
        try:
            tarvik_codec.columnarize(payload)
        except MemoryError:
            print("MemoryError")
        # Nothing of the failed call stays mapped, and a 45 MB output still fits.
        print("left mapped:", address_space() - before < (32 << 20))
        print("smaller:", len(tarvik_codec.columnarize(one_member_each(3_000))))
    """
    finished = run_python(script)
    assert finished.returncode == 0, finished.stderr
    assert finished.stdout.splitlines() == [
        "402 KB",
        "MemoryError",
        "left mapped: True",
        "smaller: 45027817",
    ]


def test_codec_errors_leave_standard_error_alone():
    # Only internal faults are reported on standard error; an ordinary codec error is just raised.
    script = """
        import tarvik_codec
        try:
            tarvik_codec.columnarize(b"[1]")
        except RuntimeError as error:
            print(error)
    """
    finished = run_python(script)
    assert finished.returncode == 0
    assert finished.stdout == "expected a JSON object row, got: 1\n"
    assert finished.stderr == ""
