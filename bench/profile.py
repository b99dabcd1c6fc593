#!/usr/bin/env python3
"""Instruction counts under callgrind: where the work goes, independent of load.

    python bench/profile.py                # about a minute; needs valgrind

Counts the instructions of the C++ loops of the floor benchmark (bench/profile.cpp):
the shortest-digit generators and number writers (ours, Dragonbox's when the build
has it, the standard library's) and the conversions, for every kind of data; and of
module calls from Python, each as the difference between a run with N
iterations and one with none, so set-up and start-up cancel out.  Prints
instructions per ordinate (C++) and per call (Python), with the ratios that the
targets of bench/run.py state in time, and writes bench/results/profile.json.
Instructions are not time (cache misses, branch mispredictions and the machine's
width are not in them), but on a shared machine they are the stable figure.

For a per-function breakdown, run one case under callgrind yourself, e.g.

    valgrind --tool=callgrind build/bench/profile ewkb_to_ewkt 1 1000 50
    callgrind_annotate --inclusive=yes callgrind.out.<pid>
"""

from __future__ import annotations

import argparse
import functools
import json
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
REPO_DIR = BENCH_DIR.parent
sys.path.insert(0, str(BENCH_DIR))

import floor_runner  # noqa: E402
import report  # noqa: E402

KINDS = report.KIND_INDEX
LINE = 1000
NUMBER_MODES = tuple(report.NUMBER_BENCHES)
CONVERSION_MODES = ("read_number", "write_ewkb", "write_ewkb_hex")
# Number readers over the same text: ours, ours without SSE2, the others.
READER_MODES = ("read_number", "read_number_words", "from_chars", "fast_float")

# The Python side: one script, the case and the count on the command line.
PY_SCRIPT = r"""
import struct, sys
sys.path.insert(0, {bench!r})
import data, quorvel
case, n = sys.argv[1], int(sys.argv[2])
point = data.point_wkb(*data.coordinates("lonlat", 1)[0])
line = data.linestring_wkb(data.coordinates("lonlat", {line}))
inputs = {{"point": (point, quorvel.wkb_to_wkt(point)), "line": (line, quorvel.wkb_to_wkt(line))}}
def loop_pass(n):
    for _ in range(n): pass
def loop_hex(x, n):
    for _ in range(n): x.hex()
def loop_call(f, x, n):
    for _ in range(n): f(x)
if case == "pass":
    loop_pass(n)
elif case == "hex":
    loop_hex(point, n)
else:
    func, shape = case.split(":")
    wkb, wkt = inputs[shape]
    loop_call(getattr(quorvel, func), wkb if func == "wkb_to_wkt" else wkt, n)
"""


def instructions(cmd: list[str], env: dict[str, str] | None = None) -> int | None:
    """The program's instruction count, or None when it fails (a Dragonbox mode in a
    build without Dragonbox)."""
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp) / "callgrind.out"
        done = subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                               *cmd], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        if done.returncode != 0:
            return None
        for line in out.read_text().splitlines():
            if line.startswith(("totals:", "summary:")):
                return int(line.split()[1])
    raise RuntimeError(f"no totals in the callgrind output of {cmd}")


def python_instructions(script: str, case: str, n: int, env: dict[str, str]) -> int:
    count = instructions([sys.executable, "-c", script, case, str(n)], env)
    if count is None:
        raise RuntimeError(f"the Python case {case} failed; is the module installed?")
    return count


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=str(REPO_DIR / "build" / "bench"))
    parser.add_argument("--results-dir", default=str(BENCH_DIR / "results"))
    args = parser.parse_args(argv)
    if shutil.which("valgrind") is None:
        print("valgrind is not installed (Debian: valgrind)", file=sys.stderr)
        return 2
    results_dir = Path(args.results_dir)
    results_dir.mkdir(parents=True, exist_ok=True)
    build_dir = Path(args.build_dir).resolve()
    binary = floor_runner.build(build_dir, results_dir / "profile-build.log", "profile")
    if binary is None:
        return 2

    out: dict[str, dict[str, float | None]] = {"cpp_per_ordinate": {},
                                               "cpp_point_per_call": {}, "python_per_call": {}}

    @functools.cache
    def set_up(kind: str, vertices: int) -> int | None:
        return instructions([str(binary), "format_ordinate", str(KINDS[kind]), str(vertices), "0"])

    def per_unit(mode: str, kind: str, vertices: int, n: int, units: int) -> float | None:
        base = set_up(kind, vertices)
        total = instructions([str(binary), mode, str(KINDS[kind]), str(vertices), str(n)])
        return None if base is None or total is None else (total - base) / units

    print("C++ loops, LineString 1,000 vertices", flush=True)
    cpp = out["cpp_per_ordinate"]
    for kind in report.LINE_KINDS:
        for mode in NUMBER_MODES + CONVERSION_MODES:
            cpp[f"{mode}/{kind}"] = per_unit(mode, kind, LINE, 20, 20 * 2 * LINE)
    print("C++ number readers", flush=True)
    out["cpp_number_readers"] = {}
    for kind in report.LINE_KINDS:
        for mode in READER_MODES[1:]:  # fast_float: None without its header
            out["cpp_number_readers"][f"{mode}/{kind}"] = per_unit(mode, kind, LINE, 20,
                                                                  20 * 2 * LINE)
    print("C++ points", flush=True)
    for kind in ("lonlat", "one_two"):
        for mode in ("ewkb_to_ewkt", "write_ewkb"):
            out["cpp_point_per_call"][f"{mode}/{kind}"] = per_unit(mode, kind, 1, 2000, 2000)

    print("Python calls", flush=True)
    script = PY_SCRIPT.format(bench=str(BENCH_DIR), line=LINE)
    env = dict(os.environ)
    base = python_instructions(script, "pass", 0, env)
    for case, n in (("pass", 20000), ("hex", 20000), ("wkb_to_wkt:point", 20000),
                    ("wkt_to_wkb:point", 20000), ("wkb_to_wkt:line", 20),
                    ("wkt_to_wkb:line", 20)):
        total = python_instructions(script, case, n, env)
        out["python_per_call"][case] = (total - base) / n

    pt, py = out["cpp_point_per_call"], out["python_per_call"]

    def count(x: float | None) -> str:
        return "-" if x is None else f"{x:.0f}"

    rows = []
    for kind in report.LINE_KINDS:
        g = {m: cpp[f"{m}/{kind}"] for m in NUMBER_MODES}
        rows.append([kind, *(count(g[m]) for m in NUMBER_MODES),
                     report.fmt_ratio(report.ratio(g["seventeen_digits"],
                                                   g["dragonbox_to_decimal"])),
                     report.fmt_ratio(report.ratio(g["ewkb_to_ewkt"], g["dragonbox_to_chars"]))])
    print()
    print(report.table(
        "C++: instructions per double, the 2,000 ordinates of a 1,000-vertex LineString "
        "(targets, in time on 200,000 doubles: digits <= 0.5x to_decimal on random, "
        "ewkb_to_ewkt <= 0.7x to_chars, lonlat 0.5x)",
        ["coordinates", *report.NUMBER_BENCHES.values(), "digits/to_decimal",
         "ewkb_to_ewkt/to_chars"], rows))
    rows = []
    for kind in report.LINE_KINDS:
        g = {m: cpp[f"{m}/{kind}"] for m in CONVERSION_MODES}
        rows.append([kind, count(g["read_number"]), count(g["write_ewkb"]),
                     report.fmt_ratio(report.ratio(g["write_ewkb"], g["read_number"])),
                     count(g["write_ewkb_hex"]),
                     report.fmt_ratio(report.ratio(g["write_ewkb_hex"], g["read_number"]))])
    print()
    print(report.table(
        "C++: instructions per ordinate, WKT -> WKB, LineString 1,000 vertices (target: <= 1.5x)",
        ["coordinates", "read_number", "write_ewkb", "ratio", "write_ewkb_hex", "ratio"], rows))
    readers = out["cpp_number_readers"]
    rows = []
    for kind in report.LINE_KINDS:
        own = cpp[f"read_number/{kind}"]
        fast_float = readers.get(f"fast_float/{kind}")
        figures = [own, *(readers.get(f"{mode}/{kind}") for mode in READER_MODES[1:])]
        rows.append([kind, *(count(x) for x in figures),
                     *(report.fmt_ratio(report.ratio(x, fast_float)) for x in figures[:2])])
    print()
    print(report.table(
        "C++: number readers, instructions per ordinate (read_number_words: the path without "
        "SSE2, forced)",
        ["coordinates", *READER_MODES, "read_number/fast_float", "read_number_words/fast_float"],
        rows))
    hex_ir = py["hex"]
    rows = [["loop overhead", f"{py['pass']:.0f}", "-", "-"],
            ["bytes.hex(), 21 bytes", f"{hex_ir:.0f}", "-", "1.00x"]]
    for func, core in (("wkb_to_wkt", "ewkb_to_ewkt"), ("wkt_to_wkb", "write_ewkb")):
        ir = py[f"{func}:point"]
        rows.append([f"{func}, point lonlat", f"{ir:.0f}", count(pt[f"{core}/lonlat"]),
                     report.fmt_ratio(ir / hex_ir)])
    for func, core in (("wkb_to_wkt", "ewkb_to_ewkt"), ("wkt_to_wkb", "write_ewkb")):
        ir = py[f"{func}:line"]
        core_ir = cpp[f"{core}/lonlat"] * 2 * LINE
        rows.append([f"{func}, LineString 1,000 lonlat", f"{ir:.0f}", f"{core_ir:.0f}",
                     f"module/core {ir / core_ir:.3f}"])
    print()
    print(report.table("Python: instructions per call, loop included (target: point WKB->WKT "
                       "<= 2x hex)",
                       ["call", "module", "C++ core", "/ bytes.hex()"], rows))
    path = results_dir / "profile.json"
    path.write_text(json.dumps(out, indent=2) + "\n")
    print(f"\nwrote {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
