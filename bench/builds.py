#!/usr/bin/env python3
"""The module built several ways, timed side by side on the same rows.

    python bench/builds.py            # builds what is missing, then times (a few minutes)
    python bench/builds.py --quick    # fewer, shorter rounds

Builds the extension module with each compiler and option set of BUILDS into a
directory of its own under build/builds/, loads every build into this one process
(each under the name quorvel, from its own file) and checks that they all write the
same output.  Then times WKB->WKT and WKT->WKB on the polygon batch and on
1,000-vertex LineStrings, every kind of data: each build in processes of its own,
the builds taking turns, the rows of one process round-robin; a row's figure is its
best over the processes.  One process per build, not every build in one: on this
module the same build, loaded twice into one process, timed up to 12 % apart on a
row, and the same binary can run a row half again as slow in one process as in the
next (the host's speed, which changes every few seconds, sometimes for one processor
only), which is more than the spread the target allows.  Prints ns per coordinate
with the ratio to the fastest build of each row, the targets with PASS/FAIL, and writes
bench/results/builds.json with every process's figures.  A build that fails to
compile is reported with its log and left out.
"""

from __future__ import annotations

import argparse
import importlib
import json
import os
import re
import shutil
import subprocess
import sys
from dataclasses import dataclass, field
from pathlib import Path
from types import ModuleType
from typing import Any

BENCH_DIR = Path(__file__).resolve().parent
REPO_DIR = BENCH_DIR.parent
sys.path.insert(0, str(BENCH_DIR))

import data  # noqa: E402
import harness  # noqa: E402
import report  # noqa: E402
import run  # noqa: E402

DIRECTIONS = ("wkb_to_wkt", "wkt_to_wkb")
# Target: every build within this factor of the fastest on each row, both directions.
# (The module reads numbers with its own reader in every build, with or without
# fast_float installed, so g++ is one build.)
SPREAD = 1.1


@dataclass
class Build:
    name: str  # directory under build/builds/
    label: str
    env: dict[str, str] = field(default_factory=dict)
    compiler: str = "g++"
    module: ModuleType | None = None
    path: Path | None = None  # the built extension
    note: str = ""  # why it is missing


BUILDS = [
    Build("gcc", "g++"),
    Build("clang-libcxx", "clang-14 + libc++",
          {"CXX": "clang++-14", "CXXFLAGS": "-stdlib=libc++", "LDFLAGS": "-stdlib=libc++"},
          "clang++-14"),
]


def tool(name: str) -> str | None:
    """The environment's tool (cmake, ninja) first, then PATH."""
    local = Path(sys.executable).with_name(name)
    return str(local) if local.exists() else shutil.which(name)


def first_error(log: Path) -> str:
    """The first compiler or CMake error message of the log."""
    for line in log.read_text(errors="replace").splitlines():
        if re.search(r"(^|\s)(fatal )?error:|^CMake Error", line):
            return line.strip()[:300]
    return "(no error message in the log)"


def build(b: Build, root: Path, results_dir: Path) -> Path | None:
    """Configures and builds the module; the path of the built extension, or None
    with b.note saying why."""
    cmake = tool("cmake")
    if cmake is None:
        b.note = "cmake not found"
        return None
    if shutil.which(b.compiler) is None:
        b.note = f"{b.compiler} not found (Debian: see BUILDS_PACKAGES in the Makefile)"
        return None
    build_dir = root / b.name
    configure = [cmake, "-S", str(REPO_DIR), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
                 "-DQUORVEL_WERROR=ON", f"-DPython_EXECUTABLE={sys.executable}"]
    ninja = tool("ninja")
    if ninja and not (build_dir / "CMakeCache.txt").exists():
        configure += ["-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}"]
    log = results_dir / f"builds-{b.name}.log"
    env = {**os.environ, **b.env}
    with log.open("w") as out:
        for step in (configure, [cmake, "--build", str(build_dir), "-j2", "--target", "quorvel"]):
            out.write(f"$ {' '.join(step)}\n")
            out.flush()
            if subprocess.run(step, stdout=out, stderr=subprocess.STDOUT, env=env).returncode:
                b.note = f"build failed: {first_error(log)} (log: {log})"
                return None
    found = sorted(build_dir.glob("quorvel*.so")) + sorted(build_dir.glob("quorvel*.pyd"))
    if not found:
        b.note = f"no module in {build_dir}"
        return None
    return found[0]


def load(path: Path) -> ModuleType:
    """The extension at path, imported as quorvel from its directory; sys.modules
    and sys.path are left as they were."""
    saved = sys.modules.pop("quorvel", None)
    sys.path.insert(0, str(path.parent))
    try:
        importlib.invalidate_caches()
        module = importlib.import_module("quorvel")
        assert Path(module.__file__ or "") == path, module.__file__
        return module
    finally:
        sys.path.remove(str(path.parent))
        sys.modules.pop("quorvel", None)
        if saved is not None:
            sys.modules["quorvel"] = saved


def inputs(polygons: int, module: ModuleType) -> list[run.InputSet]:
    sets = [run.make_input("polygons", k, polygons, run.POLYGON_VERTICES, module)
            for k in data.POLYGON_KINDS]
    sets += [run.make_input("linestring", k, 1, run.LINE_VERTICES, module) for k in data.KINDS]
    return sets


def same_output(builds: list[Build], sets: list[run.InputSet]) -> list[str]:
    """The builds whose output differs from the first build's on any input."""
    reference, *others = builds
    differ = []
    for b in others:
        for s in sets:
            wkbs = s.wkb if isinstance(s.wkb, list) else [s.wkb]
            wkts = s.wkt if isinstance(s.wkt, list) else [s.wkt]
            if any(b.module.wkb_to_wkt(w) != reference.module.wkb_to_wkt(w) for w in wkbs) or any(
                    b.module.wkt_to_wkb(t) != reference.module.wkt_to_wkb(t) for t in wkts):
                differ.append(b.label)
                break
    return differ


def time_rows(module: ModuleType, polygons: int,
              settings: harness.Settings) -> list[tuple[str, str, float]]:
    """(input, direction, ns per coordinate) of every row, timed round-robin."""
    sets = inputs(polygons, module)
    benches = []
    for s in sets:
        for direction in DIRECTIONS:
            x = s.wkb if direction == "wkb_to_wkt" else s.wkt
            stmt, names = run.quorvel_statement(getattr(module, direction), x,
                                                s.shape == "polygons")
            benches.append((s, direction, harness.Bench(stmt, names, settings)))
    harness.measure_interleaved([b for _, _, b in benches])
    return [(s.label, direction, b.timing.per_iteration_ns / (s.count * s.vertices))
            for s, direction, b in benches]


def time_in_process(b: Build, polygons: int,
                    settings: harness.Settings) -> dict[tuple[str, str], float]:
    """time_rows of one build, in a new process that loads only that build."""
    command = [sys.executable, str(Path(__file__).resolve()), "--child", str(b.path),
               "--polygons", str(polygons), "--min-repeat", str(settings.min_repeat_s),
               "--repeats", str(settings.repeats), "--clock", settings.clock]
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode:
        raise RuntimeError(f"timing {b.label} failed (exit {done.returncode}):\n{done.stderr}")
    return {(label, direction): v for label, direction, v in json.loads(done.stdout)}


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer, shorter rounds")
    parser.add_argument("--clock", choices=("cpu", "wall"), default="cpu")
    parser.add_argument("--build-root", default=str(REPO_DIR / "build" / "builds"))
    parser.add_argument("--results-dir", default=str(BENCH_DIR / "results"))
    parser.add_argument("--only", action="append", metavar="NAME",
                        help="build and time only these builds (repeatable): "
                        + ", ".join(b.name for b in BUILDS))
    parser.add_argument("--check", action="store_true", help="exit 1 when a target fails")
    parser.add_argument("--docs", action=argparse.BooleanOptionalAction, default=None,
                        help="write the table into docs/performance.md (default: on a full run)")
    parser.add_argument("--processes", type=int, default=5,
                        help="processes per build (2 with --quick); a row's figure is "
                        "its best over them")
    # One timing process: time_in_process starts this script with these.
    parser.add_argument("--child", metavar="MODULE", help=argparse.SUPPRESS)
    parser.add_argument("--polygons", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--min-repeat", type=float, help=argparse.SUPPRESS)
    parser.add_argument("--repeats", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        settings = harness.Settings(args.min_repeat, args.repeats, args.clock)
        print(json.dumps(time_rows(load(Path(args.child)), args.polygons, settings)))
        return 0

    results_dir = Path(args.results_dir)
    results_dir.mkdir(parents=True, exist_ok=True)
    builds = [b for b in BUILDS if not args.only or b.name in args.only]
    for b in builds:
        print(f"building {b.label} in {Path(args.build_root) / b.name}", flush=True)
        path = build(b, Path(args.build_root).resolve(), results_dir)
        if path is not None:
            b.module = load(path)
            b.path = path
        if b.note:
            print(f"  {b.label}: {b.note}", flush=True)
    ready = [b for b in builds if b.module is not None]
    if not ready:
        print("no build to time", file=sys.stderr)
        return 2

    polygons = 500 if args.quick else 2_000
    sets = inputs(polygons, ready[0].module)
    differ = same_output(ready, sets)
    print("every build writes the same text and bytes" if not differ
          else f"OUTPUT DIFFERS from {ready[0].label}'s: {', '.join(differ)}")

    settings = harness.Settings(0.005 if args.quick else 0.03, 5 if args.quick else 15, args.clock)
    processes = 2 if args.quick else max(1, args.processes)
    print(f"timing {len(sets) * len(DIRECTIONS)} rows of each build, {settings.repeats} rounds "
          f"after calibration, in {processes} processes per build", flush=True)
    by_process: dict[str, list[dict[tuple[str, str], float]]] = {b.name: [] for b in ready}
    for p in range(processes):
        for b in ready if p % 2 == 0 else ready[::-1]:
            by_process[b.name].append(time_in_process(b, polygons, settings))

    def ns(s: run.InputSet, direction: str, b: Build) -> float | None:
        figures = [f[(s.label, direction)] for f in by_process.get(b.name, [])]
        return min(figures) if figures else None

    table_rows, targets, out_rows = [], [], []
    for s, direction in ((s, d) for s in sets for d in DIRECTIONS):
        figures = {b.name: ns(s, direction, b) for b in builds}
        fastest = min(v for v in figures.values() if v is not None)
        cells = [s.label, report.ARROW[direction]]
        for b in builds:
            v = figures[b.name]
            cells.append("-" if v is None else f"{v:.1f} ({v / fastest:.2f}x)")
        table_rows.append(cells)
        out_rows.append({"input": s.label, "direction": direction, "ns_per_coordinate": figures,
                         "by_process": {name: [f[(s.label, direction)] for f in runs]
                                        for name, runs in by_process.items()}})
        for b in builds:
            v = figures[b.name]
            targets.append((f"{report.ARROW[direction]} within {SPREAD:g}x of the fastest build",
                            b, s.label, None if v is None else v / fastest, SPREAD))
    print()
    print(report.table("ns per coordinate (ratio to the fastest build of the row)",
                       ["input", "direction", *(b.label for b in builds)], table_rows, 2))

    # One line per target and build: the worst row.
    summary = []
    for name in dict.fromkeys(t[0] for t in targets):
        for b in builds:
            mine = [t for t in targets if t[0] == name and t[1] is b]
            if not mine:
                continue
            measured = [t[3] for t in mine]
            worst = None if None in measured else max(measured)
            worst_row = None if worst is None else mine[measured.index(worst)][2]
            passed = None if worst is None else worst <= mine[0][4]
            summary.append({"target": name, "build": b.label, "worst_row": worst_row,
                            "measured": worst, "limit": mine[0][4], "passed": passed})
    print()
    print(report.table("TARGETS (the worst row of each build)",
                       ["target", "build", "worst row", "measured", "limit", "result"],
                       [[t["target"], t["build"], t["worst_row"] or "-",
                         report.fmt_ratio(t["measured"]), f"<= {t['limit']:g}x",
                         "n/a" if t["passed"] is None else ("PASS" if t["passed"] else "FAIL")]
                        for t in summary], 3))
    for b in builds:
        if b.note:
            print(f"note: {b.label}: {b.note}")

    result: dict[str, Any] = {
        "builds": [{"name": b.name, "label": b.label, "env": b.env,
                    "built": b.module is not None, "note": b.note} for b in builds],
        "polygons": polygons, "processes": processes, "clock": args.clock,
        "load_average": os.getloadavg(),
        "same_output": not differ, "rows": out_rows, "targets": summary,
    }
    path = results_dir / "builds.json"
    path.write_text(json.dumps(result, indent=2) + "\n")
    if args.docs if args.docs is not None else not args.quick:
        import datetime

        import figures as pages

        held = [f"{t['target'].split(' within')[0].replace('->', ' → ')}, {t['build']}:"
                f" {report.fmt_ratio(t['measured']).replace('x', '×')} ({t['worst_row']})" for t in summary]
        pages.write("bench/builds.py", "builds", "\n\n".join([
            f"Measured on {datetime.date.today().isoformat()}"
            + (" (a short run, --quick: provisional)" if args.quick else "")
            + f", {pages.machine()}: ns per coordinate from Python, the best of {processes} processes per"
            f" build and of {settings.repeats} rounds in each, with the ratio to the fastest build of the row;"
            f" {polygons:,} polygons and LineStrings of 1,000 vertices.",
            pages.markdown_table(["input", "direction", *(b.label for b in builds)],
                                 [[row[0], row[1].replace("->", " → "), *(c.replace("x)", "×)") for c in row[2:])]
                                  for row in table_rows]),
            f"Every build within {SPREAD:g}× of the fastest on every row, each direction: "
            + ("yes" if all(t["passed"] for t in summary) else "no") + "; the worst row of each: "
            + "; ".join(held) + "."]))
    print(f"\nwrote {path}; load average at the end {os.getloadavg()[0]:.2f}")
    failed = differ or any(t["passed"] is False for t in summary)
    return 1 if args.check and failed else 0


if __name__ == "__main__":
    sys.exit(main())
