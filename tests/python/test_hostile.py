# Hostile use from Python: every reader error, and successful calls, repeated 10^5 times without
# growth in resident memory or in the arguments' reference counts; eight threads hammering shared
# and private payloads; daemon threads still inside long calls when the interpreter shuts down.
import contextlib
import resource
import sys
import threading
import time
from pathlib import Path

import pytest
from conftest import run_python, scaled_payload, settle
from tarvik_codec import columnarize

# Under ASan the allocator keeps freed memory in quarantine, so resident memory grows by design;
# leak detection covers native leaks there, and fewer calls suffice for the reference counts.
SANITIZED = "libasan" in Path("/proc/self/maps").read_text()
CALLS = 10_000 if SANITIZED else 100_000
# Resident-memory growth allowed over the measured calls: a leak of even 24 bytes per call
# exceeds it.
GROWTH_LIMIT = 2 * 1024 * 1024

# One payload per error kind of the reader, and the transform's one error.
ERROR_CASES = {
    "eof-list": (b"[1", "EOF while parsing a list at line 1 column 2"),
    "eof-object": (b'[{"a":1', "EOF while parsing an object at line 1 column 7"),
    "eof-string": (b'["ab', "EOF while parsing a string at line 1 column 4"),
    "eof-value": (b"", "EOF while parsing a value at line 1 column 0"),
    "expected-colon": (b'[{"a" 1}]', "expected `:` at line 1 column 7"),
    "expected-list-comma": (b"[1 2]", "expected `,` or `]` at line 1 column 4"),
    "expected-object-comma": (b'[{"a":1 "b":2}]', "expected `,` or `}` at line 1 column 9"),
    "expected-ident": (b"[tru]", "expected ident at line 1 column 5"),
    "expected-value": (b"[x]", "expected value at line 1 column 2"),
    "invalid-escape": (b'["\\x"]', "invalid escape at line 1 column 4"),
    "invalid-number": (b"[01]", "invalid number at line 1 column 3"),
    "number-out-of-range": (b"[1e400]", "number out of range at line 1 column 6"),
    "invalid-code-point": (b'["\xff"]', "invalid unicode code point at line 1 column 4"),
    "control-character": (
        b'["a\nb"]',
        "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0",
    ),
    "key-not-string": (b"[{1:2}]", "key must be a string at line 1 column 3"),
    "lone-surrogate": (b'["\\udc00"]', "lone leading surrogate in hex escape at line 1 column 8"),
    "trailing-comma": (b"[1,]", "trailing comma at line 1 column 4"),
    "trailing-characters": (b"[] x", "trailing characters at line 1 column 4"),
    "end-of-hex-escape": (b'["\\ud800"]', "unexpected end of hex escape at line 1 column 9"),
    "recursion-limit": (b"[" * 200, "recursion limit exceeded at line 1 column 128"),
    "invalid-type-map": (b'{"a":1}', "invalid type: map, expected a sequence at line 1 column 0"),
    "invalid-type-string": (
        b'"ab"',
        'invalid type: string "ab", expected a sequence at line 1 column 4',
    ),
}
READER_PREFIX = "invalid row-oriented JSON: "


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize()


def assert_steady(call, *arguments):
    """Runs `call` CALLS times and checks that neither resident memory nor the reference count
    of any argument grew."""
    for _ in range(1000):  # first-use objects, caches and allocator pools settle here
        call()
    settle()
    counts = [sys.getrefcount(argument) for argument in arguments]
    before = resident_bytes()
    for done in range(CALLS):
        call()
        if done % 1000 == 999:
            time.sleep(0)  # a quiescent state now and then, as settle() explains
    settle()
    growth = resident_bytes() - before
    assert [sys.getrefcount(argument) for argument in arguments] == counts
    if not SANITIZED:
        assert growth < GROWTH_LIMIT, f"resident memory grew by {growth} bytes"


@pytest.mark.parametrize("payload, message", ERROR_CASES.values(), ids=ERROR_CASES.keys())
def test_reader_errors_repeat_without_growth(payload, message):
    # A bytes object of its own, so that its reference count is the test's alone.
    payload = bytes(bytearray(payload))
    with pytest.raises(RuntimeError) as raised:
        columnarize(payload)
    assert str(raised.value) == READER_PREFIX + message

    def call():
        with contextlib.suppress(RuntimeError):
            columnarize(payload)

    assert_steady(call, payload)


def test_non_object_rows_repeat_without_growth():
    payload = b'[{"a":1},{"b":[1,{"c":"x"}]},[2,{"d":null}]]'
    with pytest.raises(RuntimeError, match=r"^expected a JSON object row, got: \[2,"):
        columnarize(payload)

    def call():
        with contextlib.suppress(RuntimeError):
            columnarize(payload)

    assert_steady(call, payload)


class Rows(bytes):
    """A bytes subclass: accepted as payload, with a reference count of its own."""


SUCCESS_CASES = {
    "empty": b"[]",
    "small": b'[{"a":1,"b":"x","c":null},{"a":1.0,"b":"\\u00e9"}]',
    "nested": b'[{"o":{"p":[1,2,{"q":-0}]},"s":"' + b"t" * 300 + b'"},{"o":null}]',
    "wide": b"[{" + b",".join(b'"k%d":%d' % (i, i) for i in range(200)) + b"},{}]",
}


@pytest.mark.parametrize("payload", SUCCESS_CASES.values(), ids=SUCCESS_CASES.keys())
def test_successful_calls_repeat_without_growth(payload):
    payload = Rows(payload)
    min_rows = 10**6 + 1  # not a cached small integer: its count is the test's alone
    expected = columnarize(payload, min_rows)

    def call():
        assert columnarize(payload, min_rows) == expected

    assert_steady(call, payload, min_rows)


class Index:
    """Converts to `value` through __index__, or raises a new `value` when it is an exception
    type (a new one each time: a raised instance keeps its traceback and notes)."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, type):
            raise self.value("no index")
        return self.value


ARGUMENT_CASES = {
    "payload-bytearray": (bytearray(b"[]"), 20),
    "payload-str": ("[]", 20),
    "payload-none": (None, 20),
    "min-rows-negative": (b"[]", -(10**6)),
    "min-rows-too-large": (b"[]", 2**64),
    "min-rows-float": (b"[]", 3.5),
    "min-rows-index-raises": (b"[]", Index(ValueError)),
    "min-rows-index": (b"[]", Index(7)),
}


@pytest.mark.parametrize("payload, min_rows", ARGUMENT_CASES.values(), ids=ARGUMENT_CASES.keys())
def test_argument_errors_repeat_without_growth(payload, min_rows):
    # A type-mismatch error holds a reference to the object it names until it is raised.
    def call():
        with contextlib.suppress(TypeError, OverflowError, ValueError):
            columnarize(payload, min_rows=min_rows)

    assert_steady(call, payload, min_rows)


def test_eight_threads_get_the_single_threaded_bytes(data_dir):
    shared = [path.read_bytes() for path in sorted(data_dir.glob("*.json"))]
    shared += [payload for payload, _ in ERROR_CASES.values()]
    shared += [b'[{"a":1},2]', b"[" + b'{"a":[' * 64 + b"]}" * 64 + b"]"]

    def outcome(payload):
        try:
            return columnarize(payload)
        except RuntimeError as error:
            return str(error)

    expected = [outcome(payload) for payload in shared]
    rounds = 2 if SANITIZED else 6
    mismatches = []
    calls = []
    start = threading.Barrier(8)

    def work(thread_number):
        # Private copies: distinct buffers are read as well as the shared ones.
        own = [bytes(bytearray(payload)) for payload in shared]
        start.wait()
        for round_number in range(rounds):
            payloads = shared if round_number % 2 == 0 else own
            for offset in range(len(shared)):
                i = (offset + thread_number * 3) % len(shared)
                if outcome(payloads[i]) != expected[i]:
                    mismatches.append((thread_number, i))
                calls.append(i)

    threads = [threading.Thread(target=work, args=(n,)) for n in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(calls) == 8 * rounds * len(shared)
    assert mismatches == []


@pytest.mark.parametrize(
    "ending, status",
    [
        pytest.param("", 0, id="end-of-script"),
        pytest.param("sys.exit(3)", 3, id="sys-exit"),
    ],
)
def test_daemon_threads_inside_long_calls_at_shutdown(data_dir, tmp_path, ending, status):
    # Four daemon threads loop over long calls, one of them on a payload that fails only at its
    # last byte; the main thread ends while they are inside the transform.
    large = tmp_path / "large.json"
    large.write_bytes(scaled_payload(data_dir / "citm_catalog.json", 40_000_000))
    script = f"""
        import sys, threading
        import tarvik_codec

        payload = open({str(large)!r}, "rb").read()
        broken = payload + b" x"
        inside = threading.Barrier(5)

        def work(data):
            inside.wait()
            while True:
                try:
                    tarvik_codec.columnarize(data)
                except RuntimeError:
                    pass

        for data in (payload, payload, bytes(bytearray(payload)), broken):
            threading.Thread(target=work, args=(data,), daemon=True).start()
        inside.wait()
        print("main thread ends", flush=True)
        {ending}
    """
    finished = run_python(script)
    assert finished.returncode == status, finished.stderr
    assert finished.stdout == "main thread ends\n"
    assert finished.stderr == ""
