# Many threads calling every function of tarvik_codec on shared payloads while the main thread
# forks children that call them too; every result must equal a single-threaded run's.
"""Run by test_free_threading.py, and on its own under ThreadSanitizer (scripts/check-toolchains):

    python stress_calls.py [THREADS ROUNDS FORKS]

Prints one line of JSON (calls made, mismatches, children's exit codes, whether the GIL is
enabled) and exits 1 when any result differs from the single-threaded one."""

import json
import os
import random
import sys
import threading
import time
from pathlib import Path

import tarvik_codec

DATA_DIR = Path(
    os.environ.get("TARVIK_DATA_DIR") or Path(__file__).resolve().parents[1] / "data" / "rows"
)
SMALL = b'[{"id":1,"region":"eu","note":null},{"id":2,"region":"eu"}]'
# Over 2 KB, so the calls release the interpreter lock and really overlap.
TWITTER = (DATA_DIR / "twitter.json").read_bytes()
CANADA = (DATA_DIR / "canada.json").read_bytes()
APACHE = (DATA_DIR / "apache_builds.json").read_bytes()
DOCUMENTS = Path(__file__).resolve().parents[1] / "data" / "documents"
KUBECTL = (DOCUMENTS / "kubectl_get_pods.json").read_bytes()
ISSUES = (DOCUMENTS / "github_search_issues.json").read_bytes()

# Every function of the module with the argument sets its calls take: (positional, keyword).
# A name in tarvik_codec.__all__ without an entry fails test_free_threading.
CALLS = {
    "columnarize": [
        ((SMALL,), {}),
        ((TWITTER,), {"min_rows": 0}),
        ((CANADA, 2**64 - 1), {}),
        ((APACHE,), {}),
        ((b"[1",), {}),
        ((b'[{"a":1},[1,2]]',), {}),
        (("[]",), {}),
        ((SMALL, -1), {}),
    ],
    "columnarize_document": [
        ((KUBECTL,), {}),
        ((ISSUES, 0), {}),
        ((TWITTER,), {"min_rows": 5}),
        ((b'{"a":[1',), {}),
        ((SMALL, -1), {}),
    ],
    "decolumnarize": [
        ((tarvik_codec.columnarize(TWITTER),), {}),
        ((tarvik_codec.columnarize_document(KUBECTL),), {}),
        ((b'{"columns":["a"],"rows":[[1,2]],"constants":{}}',), {}),
        ((b"[1",), {}),
        ((bytearray(b"[]"),), {}),
    ],
}


def outcome(name: str, args: tuple, kwargs: dict):
    """What a call gives: its result, or its exception's type, text and notes."""
    try:
        return getattr(tarvik_codec, name)(*args, **kwargs)
    except Exception as error:  # noqa: BLE001 - the failure is the outcome compared
        return (type(error).__name__, str(error), getattr(error, "__notes__", None))


def every_call() -> list[tuple[str, tuple, dict]]:
    return [(name, *call) for name in tarvik_codec.__all__ for call in CALLS[name]]


def call_rounds(calls, expected, rounds: int, seed: int, start, mismatches) -> None:
    order = list(range(len(calls)))
    shuffle = random.Random(seed).shuffle
    start.wait()
    for _ in range(rounds):
        shuffle(order)
        for index in order:
            if outcome(*calls[index]) != expected[index]:
                mismatches.append(calls[index][0])


def fork_and_check(calls, expected) -> int:
    """A child that makes every call once; its exit code, or -1 when it hung for a minute."""
    pid = os.fork()
    if pid == 0:
        same = all(outcome(*call) == want for call, want in zip(calls, expected, strict=True))
        os._exit(0 if same else 1)
    deadline = time.monotonic() + 60
    while (done := os.waitpid(pid, os.WNOHANG))[0] == 0 and time.monotonic() < deadline:
        time.sleep(0.002)
    if done[0] == 0:
        os.kill(pid, 9)
        os.waitpid(pid, 0)
        return -1
    return os.waitstatus_to_exitcode(done[1])


def main(threads: int = 8, rounds: int = 20, forks: int = 10) -> int:
    calls = every_call()
    expected = [outcome(*call) for call in calls]
    mismatches: list[str] = []
    start = threading.Barrier(threads + 1)
    workers = [
        threading.Thread(
            target=call_rounds, args=(calls, expected, rounds, seed, start, mismatches)
        )
        for seed in range(threads)
    ]
    for worker in workers:
        worker.start()
    start.wait()
    children = [fork_and_check(calls, expected) for _ in range(forks)]
    for worker in workers:
        worker.join()
    gil = getattr(sys, "_is_gil_enabled", lambda: True)()
    report = {
        "calls": threads * rounds * len(calls),
        "mismatches": len(mismatches),
        "children": children,
        "gil_enabled": gil,
    }
    print(json.dumps(report))
    return 0 if not mismatches and not any(children) else 1


if __name__ == "__main__":
    sys.exit(main(*map(int, sys.argv[1:])))
