"""Timing: a statement run in a compiled loop, calibrated, warmed up, repeated; the
best (shortest) of the repeats is the figure.

The best round, not the median: on a shared machine another process or the host only
ever adds time to a round, so the shortest rounds are those least disturbed, and the
ratio of two cases' best rounds moves least from run to run (the advice of the timeit
documentation; J. Chen and J. Revels, "Robust benchmarking in noisy environments",
HPEC 2016, argue for the minimum under such noise).  The median and the samples are
kept beside it.

The loop is compiled the way timeit compiles it, with every name the statement uses
passed in as a local variable, so the harness adds only the cost of one iteration of
a `for` loop (the "loop overhead" row of the report shows how much that is).

The clock is the thread's CPU time by default: the machines this runs on are shared,
and CPU time leaves out the time the process waits while another one runs.  Pass
clock="wall" to measure elapsed time instead.
"""

from __future__ import annotations

import gc
import itertools
import statistics
import time
from dataclasses import dataclass, field
from typing import Any, Callable

CLOCKS: dict[str, Callable[[], int]] = {
    "cpu": time.thread_time_ns,
    "wall": time.perf_counter_ns,
}


@dataclass
class Settings:
    min_repeat_s: float  # each repeat runs at least this long
    repeats: int  # measured repeats after warm-up
    clock: str = "cpu"


@dataclass
class Timing:
    per_iteration_ns: float  # the best of the repeats
    samples_ns: list[float] = field(default_factory=list)
    iterations: int = 0  # loop iterations per repeat

    def as_dict(self) -> dict[str, Any]:
        return {
            "best_ns": self.per_iteration_ns,
            "median_ns": statistics.median(self.samples_ns),
            "max_ns": max(self.samples_ns),
            "samples_ns": self.samples_ns,
            "iterations_per_repeat": self.iterations,
        }


def compile_loop(stmt: str, names: list[str], clock: Callable[[], int]) -> Callable[..., int]:
    """A function (n, *values) that runs stmt n times and returns the elapsed ns."""
    params = "".join(f", {name}" for name in names)
    body = "\n".join("        " + line for line in stmt.splitlines())
    source = (
        f"def _loop(_n, _clock, _repeat{params}):\n"
        f"    _t0 = _clock()\n"
        f"    for _ in _repeat(None, _n):\n"
        f"{body}\n"
        f"    return _clock() - _t0\n"
    )
    namespace: dict[str, Any] = {}
    exec(compile(source, "<bench loop>", "exec"), namespace)  # noqa: S102
    loop = namespace["_loop"]

    def run(n: int, *values: Any) -> int:
        return loop(n, clock, itertools.repeat, *values)

    return run


class Bench:
    """One statement to time: calibrated once, then sampled repeatedly."""

    def __init__(self, stmt: str, env: dict[str, Any], settings: Settings,
                 repeats: int | None = None) -> None:
        self.settings = settings
        self.repeats = settings.repeats if repeats is None else repeats
        self.values = list(env.values())
        self.run = compile_loop(stmt, list(env), CLOCKS[settings.clock])
        self.n = 0
        self.samples: list[float] = []

    def calibrate(self) -> None:
        """Grows n until one repeat is long enough.  This is the warm-up: at least
        one full run precedes the measured ones."""
        target_ns = self.settings.min_repeat_s * 1e9
        n = 1
        while True:
            elapsed = self.run(n, *self.values)
            if elapsed >= target_ns:
                break
            if elapsed <= 0:
                n *= 10
            else:
                n = max(n * 2, int(n * target_ns * 1.2 / elapsed))
        self.n = n

    def sample(self) -> None:
        self.samples.append(self.run(self.n, *self.values) / self.n)

    @property
    def timing(self) -> Timing:
        return Timing(min(self.samples), self.samples, self.n)


def measure_interleaved(benches: list[Bench]) -> None:
    """Calibrates every bench, then samples them round-robin, so that a change in
    the machine's load during the run affects all of them alike."""
    gc_was_enabled = gc.isenabled()
    gc.collect()
    gc.disable()
    try:
        for b in benches:
            b.calibrate()
        for round_ in range(max((b.repeats for b in benches), default=0)):
            for b in benches:
                if round_ < b.repeats:
                    b.sample()
    finally:
        if gc_was_enabled:
            gc.enable()

