# Threads and the interpreter lock: other threads run during a transform, calls from many
# threads agree, and a call still in flight when the interpreter shuts down parks its thread.
import sys
import threading
from concurrent.futures import ThreadPoolExecutor

from conftest import run_python, scaled_payload
from tarvik_codec import columnarize


def test_other_threads_run_while_a_transform_runs(data_dir):
    payload = scaled_payload(data_dir / "canada.json", 20_000_000)
    call_finished = [False]
    seen_by_other = []
    gate = threading.Lock()
    gate.acquire()

    def other():
        gate.acquire()
        seen_by_other.append(call_finished[0])

    previous = sys.getswitchinterval()
    # No forced switches: the other thread can only run when the caller gives up the lock.
    sys.setswitchinterval(1000)
    try:
        thread = threading.Thread(target=other)
        thread.start()
        gate.release()
        columnarize(payload)
        call_finished[0] = True
        thread.join()
    finally:
        sys.setswitchinterval(previous)
    assert seen_by_other == [False]


def test_calls_from_many_threads_agree(data_dir):
    payloads = [path.read_bytes() for path in sorted(data_dir.glob("*.json"))]
    expected = [columnarize(payload) for payload in payloads]
    with ThreadPoolExecutor(max_workers=6) as pool:
        results = list(pool.map(columnarize, payloads * 4))
    assert results == expected * 4


def test_a_call_in_flight_at_shutdown_parks_its_thread(data_dir):
    # The worker calls in a loop, so it is almost surely inside a transform when the main thread
    # ends. An object torn down late in finalization waits (without the lock) until the worker,
    # refused the lock back, sits parked in pause(): x86-64 system call 34.
    script = f"""
        import os, sys, threading, time
        import tarvik_codec

        payload = open({str(data_dir / "canada.json")!r}, "rb").read()
        worker_ids = []
        started = threading.Event()

        def work():
            worker_ids.append(threading.get_native_id())
            started.set()
            while True:
                tarvik_codec.columnarize(payload)

        class AwaitParkedWorker:
            # Module dictionaries are being emptied by now: everything used is bound here.
            def __del__(
                self, worker_ids=worker_ids, sleep=time.sleep, open=os.open, read=os.read,
                close=os.close, write=os.write, O_RDONLY=os.O_RDONLY,
            ):
                path = f"/proc/self/task/{{worker_ids[0]}}/syscall"
                for _ in range(12000):
                    descriptor = open(path, O_RDONLY)
                    state = read(descriptor, 64).split()[0]
                    close(descriptor)
                    if state == b"34":
                        write(1, b"worker parked\\n")
                        return
                    sleep(0.005)
                write(1, b"worker not parked\\n")

        sys.keeper = AwaitParkedWorker()
        threading.Thread(target=work, daemon=True).start()
        started.wait()
    """
    finished = run_python(script)
    assert finished.returncode == 0, finished.stderr
    assert finished.stdout == "worker parked\n"
