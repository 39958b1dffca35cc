# Free threading: the module keeps the GIL disabled where the interpreter has none, and threads
# calling every function at once (with forks meanwhile) get single-threaded results, no warning.
import json
import os
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest
import stress_calls
import tarvik_codec

# Every warning is an error, but the one Python gives for forking a process that has threads.
NO_WARNINGS = ["-W", "error", "-W", "ignore:This process:DeprecationWarning"]
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


def run_python(*args: str, data_dir: Path) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, *NO_WARNINGS, *args],
        capture_output=True,
        text=True,
        check=False,
        env={**os.environ, "TARVIK_DATA_DIR": str(data_dir)},
        timeout=600,
    )


def test_every_function_has_argument_sets():
    assert set(tarvik_codec.__all__) <= stress_calls.CALLS.keys(), "add them to CALLS"


@pytest.mark.forks_during_calls
def test_threads_and_forks_get_single_threaded_results(data_dir):
    finished = run_python(stress_calls.__file__, data_dir=data_dir)
    assert (finished.returncode, finished.stderr) == (0, ""), finished.stdout + finished.stderr
    report = json.loads(finished.stdout)
    assert report["calls"] > 0 and report["mismatches"] == 0
    assert report["children"] and set(report["children"]) == {0}
    assert report["gil_enabled"] == (not FREE_THREADED)


@pytest.mark.skipif(not FREE_THREADED, reason="the interpreter has a GIL")
def test_importing_the_module_leaves_the_gil_disabled(data_dir):
    finished = run_python(
        "-c", "import sys, tarvik_codec; print(sys._is_gil_enabled())", data_dir=data_dir
    )
    assert (finished.returncode, finished.stdout, finished.stderr) == (0, "False\n", "")
