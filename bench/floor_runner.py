"""Builds and runs the C++ floor benchmark (bench/floor.cpp) and reads the best
repetition of each benchmark (as bench/harness.py takes the best round)."""

from __future__ import annotations

import json
import os
import shutil
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent


@dataclass
class FloorResult:
    name: str  # e.g. "BM_format_ordinate/0/1000"
    ns: float  # per iteration, the best repetition
    ordinates: int


def _cmake() -> str | None:
    # The venv's cmake first (the one the module build uses), then PATH.
    local = Path(sys.executable).with_name("cmake")
    if local.exists():
        return str(local)
    return shutil.which("cmake")


def build(build_dir: Path, log: Path, target: str = "floor",
          defines: tuple[str, ...] = ()) -> Path | None:
    """Configures and builds a target of bench/ into build_dir, with extra CMake
    definitions ("NAME=VALUE"); the binary, or None with a note."""
    cmake = _cmake()
    if cmake is None:
        print(f"{target}: cmake not found; skipped", file=sys.stderr)
        return None
    configure = [cmake, "-S", str(BENCH_DIR), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
                 *(f"-D{d}" for d in defines)]
    ninja = Path(sys.executable).with_name("ninja")
    if not (build_dir / "CMakeCache.txt").exists() and (ninja.exists() or shutil.which("ninja")):
        configure += ["-G", "Ninja"]
        if ninja.exists():
            configure.append(f"-DCMAKE_MAKE_PROGRAM={ninja}")
    steps = [configure, [cmake, "--build", str(build_dir), "-j2", "--target", target]]
    log.parent.mkdir(parents=True, exist_ok=True)
    with log.open("w") as out:
        for step in steps:
            if subprocess.run(step, stdout=out, stderr=subprocess.STDOUT).returncode != 0:
                print(
                    f"{target}: build failed (see {log}); is Google Benchmark installed "
                    "(Debian: libbenchmark-dev)?  Skipped",
                    file=sys.stderr,
                )
                return None
    return build_dir / target


def run(
    binary: Path, out_json: Path, repetitions: int, min_time_s: float, clock: str
) -> tuple[dict[str, FloorResult], dict[str, str]]:
    """Runs every benchmark; returns the best repetitions by name and the run's
    context."""
    cmd = [
        str(binary),
        f"--benchmark_repetitions={repetitions}",
        "--benchmark_display_aggregates_only=true",
        # Repetitions of different benchmarks in random order: a change of load on
        # a shared machine spreads over all of them instead of hitting a few.
        "--benchmark_enable_random_interleaving=true",
        f"--benchmark_min_time={min_time_s}",
        f"--benchmark_min_warmup_time={min_time_s / 2}",
        f"--benchmark_out={out_json}",
        "--benchmark_out_format=json",
        "--benchmark_format=json",
    ]
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, env=dict(os.environ))
    report = json.loads(out_json.read_text())
    key = "cpu_time" if clock == "cpu" else "real_time"
    results: dict[str, FloorResult] = {}
    for entry in report["benchmarks"]:
        if entry.get("run_type") != "iteration":
            continue
        scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[entry.get("time_unit", "ns")]
        name = entry["run_name"]
        ns = entry[key] * scale
        if name not in results or ns < results[name].ns:
            results[name] = FloorResult(name, ns, int(entry["ordinates"]))
    return results, {k: str(v) for k, v in report.get("context", {}).items()}
