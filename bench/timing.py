# How the benchmark times a call on one thread: samples of many calls in a row, the pipelines
# taking turns in a rotating order, and the wall and CPU time of every sample kept for the report.
import gc
import itertools
import math
import time

import columnar_reference

# Wall and CPU nanoseconds of every single-thread sample: where other work takes the cores, the
# wall time grows past the CPU time, and the report says by how much.
sample_clock = {"wall": 0, "cpu": 0}


def timed_calls(function, payload: bytes, calls: int) -> float:
    """Nanoseconds per call over `calls` calls in a row, garbage of earlier samples collected."""
    gc.collect()
    start, cpu_start = time.perf_counter_ns(), time.thread_time_ns()
    for _ in itertools.repeat(None, calls):
        function(payload)
    wall = time.perf_counter_ns() - start
    sample_clock["wall"] += wall
    sample_clock["cpu"] += time.thread_time_ns() - cpu_start
    return wall / calls


def calls_per_sample(one_call_ns: float, sample_ns: int) -> int:
    """So many calls that a sample lasts about sample_ns: one for large payloads, many for small
    ones, whose single call is too short for the clock and the collector's pause around it."""
    return max(1, math.ceil(sample_ns / max(one_call_ns, 1)))


def rotations(names: list, rounds: int):
    """The names once per round, the order rotated each round, so that no pipeline always runs
    right after the same one."""
    for run in range(rounds):
        shift = run % len(names) if names else 0
        yield names[shift:] + names[:shift]


def orjson_roundtrip(payload: bytes) -> bytes:
    return columnar_reference.orjson.dumps(columnar_reference.orjson.loads(payload))
