# The native peer: bench/native/simdjson_roundtrip.cpp built into bench/out, and driven as a
# helper process that times its own parse + minify runs (see the protocol in that file).
import subprocess
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
OUT_DIR = BENCH_DIR / "out"
NATIVE_SOURCE = BENCH_DIR / "native" / "simdjson_roundtrip.cpp"
NATIVE_BINARY = OUT_DIR / "simdjson_roundtrip"


def build_native() -> str | None:
    """Builds the simdjson program into bench/out if it is stale; returns why not, on failure."""
    if NATIVE_BINARY.exists() and NATIVE_BINARY.stat().st_mtime >= NATIVE_SOURCE.stat().st_mtime:
        return None
    OUT_DIR.mkdir(parents=True, exist_ok=True)
    command = ["g++", "-std=c++20", "-O2", "-Wall", "-Wextra", "-Wshadow", "-Werror"]
    command += ["-o", str(NATIVE_BINARY), str(NATIVE_SOURCE), "-lsimdjson"]
    try:
        built = subprocess.run(command, check=False, capture_output=True, text=True)
    except OSError as error:
        return f"g++ did not start ({error})"
    if built.returncode != 0:
        return "building it failed (is libsimdjson-dev installed?):\n" + built.stderr[-2000:]
    return None


class NativeRoundtrip:
    """The simdjson program as a helper process that times each parse + minify itself."""

    def __init__(self):
        self.process = subprocess.Popen(
            [str(NATIVE_BINARY)], stdin=subprocess.PIPE, stdout=subprocess.PIPE
        )
        ready = self._reply()
        self.implementation = ready.split()[1]

    def _reply(self) -> str:
        line = self.process.stdout.readline().decode().strip()
        if not line:
            raise RuntimeError("the native program ended")
        if line.startswith("error "):
            raise RuntimeError(line[len("error ") :])
        return line

    def _ask(self, command: bytes) -> str:
        self.process.stdin.write(command)
        self.process.stdin.flush()
        return self._reply()

    def load(self, payload: bytes) -> None:
        self._ask(b"load %d\n" % len(payload) + payload)

    def time_runs(self, runs: int = 1) -> tuple[int, int]:
        """Nanoseconds per parse + minify over `runs` in a row, and of the parse alone."""
        total, parse, _written = self._ask(b"time %d\n" % runs).split()
        return int(total), int(parse)

    def time_threads(self, threads: int) -> int:
        return int(self._ask(b"threads %d\n" % threads))

    def close(self) -> None:
        self.process.stdin.close()
        self.process.wait()


def measure_memory(payload: bytes, timeout: float) -> subprocess.CompletedProcess:
    """One parse + minify in a fresh native process: stdout is "PEAK KEPT" in bytes."""
    return subprocess.run(
        [str(NATIVE_BINARY), "--memory"],
        check=False,
        input=payload,
        capture_output=True,
        timeout=timeout,
    )
