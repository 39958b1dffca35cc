# Forking while other threads are inside calls: the child's own calls must never find the
# process-wide state (the kept blocks) locked by a thread that does not exist in it.
import pytest
from conftest import run_python, scaled_payload

FORKS = 300


@pytest.mark.forks_during_calls
def test_children_forked_during_calls_make_their_own_calls(data_dir, tmp_path):
    payload_file = tmp_path / "large.json"
    payload_file.write_bytes(scaled_payload(data_dir / "twitter.json", 6_000_000))
    script = f"""
        import os, sys, threading, time, warnings
        import tarvik_codec

        warnings.simplefilter("ignore", DeprecationWarning)  # forking a threaded process
        payload = open({str(payload_file)!r}, "rb").read()
        expected = tarvik_codec.columnarize(payload)
        stop = threading.Event()

        def call_until_stopped():
            while not stop.is_set():
                tarvik_codec.columnarize(payload)

        threads = [threading.Thread(target=call_until_stopped) for _ in range(3)]
        for thread in threads:
            thread.start()
        outcomes = {{}}
        for _ in range({FORKS}):
            pid = os.fork()
            if pid == 0:
                os._exit(0 if tarvik_codec.columnarize(payload) == expected else 1)
            # The hang guard: a child still running after a minute is killed and counted.
            deadline = time.monotonic() + 60
            while (done := os.waitpid(pid, os.WNOHANG))[0] == 0 and time.monotonic() < deadline:
                time.sleep(0.002)
            if done[0] == 0:
                os.kill(pid, 9)
                os.waitpid(pid, 0)
                outcome = "hung"
            else:
                outcome = os.waitstatus_to_exitcode(done[1])
            outcomes[outcome] = outcomes.get(outcome, 0) + 1
        stop.set()
        for thread in threads:
            thread.join()
        print(outcomes)
    """
    finished = run_python(script, timeout=1800)
    assert finished.returncode == 0, finished.stderr
    assert finished.stdout.strip() == str({0: FORKS})
