#!/usr/bin/env python3
"""Instruction counts under callgrind: where the work goes, independent of load.

    python bench/profile.py                # about a minute; needs valgrind
    python bench/profile.py --own-reader   # the C++ loops over a core with our own
                                           # number reader although fast_float is there

Counts the instructions of the C++ loops of the floor benchmark (bench/profile.cpp)
and of module calls from Python, each as the difference between a run with N
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

KINDS = {"lonlat": 0, "random": 1, "one_two": 2}
LINE = 1000

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


def instructions(cmd: list[str], env: dict[str, str] | None = None) -> int:
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp) / "callgrind.out"
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", *cmd],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        for line in out.read_text().splitlines():
            if line.startswith(("totals:", "summary:")):
                return int(line.split()[1])
    raise RuntimeError(f"no totals in the callgrind output of {cmd}")


def reader_of(build_dir: Path) -> str:
    """Which number reader the core in build_dir uses, from its CMake cache."""
    cache = (build_dir / "CMakeCache.txt").read_text()
    if "QUORVEL_USE_FAST_FLOAT:BOOL=ON" in cache and "QUORVEL_FAST_FLOAT_FOUND:INTERNAL=1" in cache:
        return "fast_float"
    return "our own"


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=None,
                        help="default build/bench, build/bench-own-reader with --own-reader")
    parser.add_argument("--own-reader", action="store_true",
                        help="build the core with our own number reader even where fast_float "
                             "is installed (QUORVEL_USE_FAST_FLOAT=OFF)")
    parser.add_argument("--results-dir", default=str(BENCH_DIR / "results"))
    args = parser.parse_args(argv)
    if shutil.which("valgrind") is None:
        print("valgrind is not installed (Debian: valgrind)", file=sys.stderr)
        return 2
    results_dir = Path(args.results_dir)
    results_dir.mkdir(parents=True, exist_ok=True)
    build_dir = Path(args.build_dir or REPO_DIR / "build" /
                     ("bench-own-reader" if args.own_reader else "bench")).resolve()
    defines = ("QUORVEL_USE_FAST_FLOAT=OFF",) if args.own_reader else ()
    binary = floor_runner.build(build_dir, results_dir / "profile-build.log", "profile", defines)
    if binary is None:
        return 2

    out: dict[str, dict[str, float]] = {"cpp_per_ordinate": {}, "cpp_point_per_call": {},
                                        "python_per_call": {}}
    print("C++ loops, LineString 1,000 vertices", flush=True)
    for kind in ("lonlat", "random"):
        base = instructions([str(binary), "format_ordinate", str(KINDS[kind]), str(LINE), "0"])
        for mode in ("format_ordinate", "ewkb_to_ewkt", "read_number", "write_ewkb",
                     "write_ewkb_hex"):
            n = 20
            total = instructions([str(binary), mode, str(KINDS[kind]), str(LINE), str(n)])
            out["cpp_per_ordinate"][f"{mode}/{kind}"] = (total - base) / (n * 2 * LINE)
    print("C++ number readers", flush=True)
    out["cpp_number_readers"] = {}
    for kind in ("lonlat", "random"):
        base = instructions([str(binary), "format_ordinate", str(KINDS[kind]), str(LINE), "0"])
        for mode in ("from_chars", "fast_float"):
            n = 20
            try:
                total = instructions([str(binary), mode, str(KINDS[kind]), str(LINE), str(n)])
            except subprocess.CalledProcessError:  # no fast_float header
                continue
            out["cpp_number_readers"][f"{mode}/{kind}"] = (total - base) / (n * 2 * LINE)
    print("C++ points", flush=True)
    for kind in ("lonlat", "one_two"):
        base = instructions([str(binary), "ewkb_to_ewkt", str(KINDS[kind]), "1", "0"])
        for mode in ("ewkb_to_ewkt", "write_ewkb"):
            n = 2000
            total = instructions([str(binary), mode, str(KINDS[kind]), "1", str(n)])
            out["cpp_point_per_call"][f"{mode}/{kind}"] = (total - base) / n

    print("Python calls", flush=True)
    script = PY_SCRIPT.format(bench=str(BENCH_DIR), line=LINE)
    env = dict(os.environ)
    base = instructions([sys.executable, "-c", script, "pass", "0"], env)
    for case, n in (("pass", 20000), ("hex", 20000), ("wkb_to_wkt:point", 20000),
                    ("wkt_to_wkb:point", 20000), ("wkb_to_wkt:line", 20),
                    ("wkt_to_wkb:line", 20)):
        total = instructions([sys.executable, "-c", script, case, str(n)], env)
        out["python_per_call"][case] = (total - base) / n

    cpp, pt, py = out["cpp_per_ordinate"], out["cpp_point_per_call"], out["python_per_call"]
    rows = []
    for kind in ("lonlat", "random"):
        g = {m: cpp[f"{m}/{kind}"] for m in ("format_ordinate", "ewkb_to_ewkt", "read_number",
                                              "write_ewkb", "write_ewkb_hex")}
        rows.append([kind, f"{g['format_ordinate']:.0f}", f"{g['ewkb_to_ewkt']:.0f}",
                     report.fmt_ratio(g["ewkb_to_ewkt"] / g["format_ordinate"]),
                     f"{g['read_number']:.0f}", f"{g['write_ewkb']:.0f}",
                     report.fmt_ratio(g["write_ewkb"] / g["read_number"]),
                     f"{g['write_ewkb_hex']:.0f}",
                     report.fmt_ratio(g["write_ewkb_hex"] / g["read_number"])])
    print()
    print(report.table(
        "C++: instructions per ordinate, LineString 1,000 vertices (targets: <= 1.3x, <= 1.5x)",
        ["coordinates", "format_ordinate", "ewkb_to_ewkt", "ratio", "read_number", "write_ewkb",
         "ratio", "write_ewkb_hex", "ratio"], rows))
    readers = out["cpp_number_readers"]
    rows = []
    for kind in ("lonlat", "random"):
        own = cpp[f"read_number/{kind}"]
        row = [kind, f"{own:.0f}"]
        for mode in ("from_chars", "fast_float"):
            other = readers.get(f"{mode}/{kind}")
            row += ["-", "-"] if other is None else [f"{other:.0f}", report.fmt_ratio(own / other)]
        rows.append(row)
    print()
    print(report.table(
        f"C++: number readers, instructions per ordinate (read_number: {reader_of(build_dir)})",
        ["coordinates", "read_number", "from_chars", "read_number/from_chars", "fast_float",
         "read_number/fast_float"], rows))
    hex_ir = py["hex"]
    rows = [["loop overhead", f"{py['pass']:.0f}", "-", "-"],
            ["bytes.hex(), 21 bytes", f"{hex_ir:.0f}", "-", "1.00x"]]
    for func, core in (("wkb_to_wkt", "ewkb_to_ewkt"), ("wkt_to_wkb", "write_ewkb")):
        ir = py[f"{func}:point"]
        rows.append([f"{func}, point lonlat", f"{ir:.0f}", f"{pt[f'{core}/lonlat']:.0f}",
                     report.fmt_ratio(ir / hex_ir)])
    for func, core in (("wkb_to_wkt", "ewkb_to_ewkt"), ("wkt_to_wkb", "write_ewkb")):
        ir = py[f"{func}:line"]
        core_ir = cpp[f"{core}/lonlat"] * 2 * LINE
        rows.append([f"{func}, LineString 1,000 lonlat", f"{ir:.0f}", f"{core_ir:.0f}",
                     f"module/core {ir / core_ir:.3f}"])
    print()
    print(report.table("Python: instructions per call, loop included (target: point <= 3x hex)",
                       ["call", "module", "C++ core", "/ bytes.hex()"], rows))
    path = results_dir / ("profile-own-reader.json" if args.own_reader else "profile.json")
    path.write_text(json.dumps(out, indent=2) + "\n")
    print(f"\nwrote {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
