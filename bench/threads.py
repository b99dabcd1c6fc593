#!/usr/bin/env python3
"""Threads of one process converting a table, on a free-threaded CPython, against a
process pool of as many workers and against the same threads on a CPython with the GIL.

    python bench/threads.py                     # 100,000 mixed geometries, 7 rounds
    python bench/threads.py --quick             # 20,000 rows, 3 rounds
    python bench/threads.py --against PYTHON    # the threads on PYTHON too, and the comparison

The table holds 100,000 geometries of lon/lat coordinates with 6 or 7 decimals: 40 %
points, 30 % linestrings of 2 to 20 positions, 20 % polygons of 4 to 40 positions,
and 10 % multipolygons of two such polygons or collections of a point and a
linestring of two, 1,042,794 coordinates in all.  It is converted WKB -> WKT and WKT -> WKB
by 1, 2 and, where the machine has more cores, as many threads as it has, each a
ThreadPoolExecutor given the table in chunks of 1,000 rows that a list comprehension
converts; and by a ProcessPoolExecutor (spawn) of as many workers, the chunks and
their results pickled on the way, as a user's would be.  Each figure is the
wall-clock time of the whole table, the best of the rounds, as rows per second; the
executors are started and warmed before the rounds, and take turns within each.  As a
reference, threads also call `bytes.hex()` on the WKB rows: CPython's own function of
bytes to a new str, whose scaling is the interpreter's.
Writes bench/results/threads.json and, run on a free-threaded CPython, its figures
into the README and docs/at-scale.md (bench/figures.py).
"""

from __future__ import annotations

import argparse
import datetime
import json
import multiprocessing
import os
import platform
import subprocess
import sys
import sysconfig
import time
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor
from pathlib import Path

import quorvel

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))
import data  # noqa: E402
import figures  # noqa: E402

CHUNK = 1_000
DIRECTIONS = ("wkb_to_wkt", "wkt_to_wkb")


def table(rows: int) -> tuple[list[bytes], list[str], int]:
    """The WKB and the WKT of the mixed table, and its number of coordinates."""
    rng = data.SplitMix64(data.SEED)
    stream = iter(data.coordinates("lonlat", rows * 12))

    def positions(n: int) -> str:
        return ", ".join("%r %r" % next(stream) for _ in range(n))

    def ring() -> str:
        inner = positions(3 + rng.next() % 37)
        return f"({inner}, {inner.split(', ')[0]})"

    wkt = []
    for _ in range(rows):
        pick = rng.next() % 10
        if pick < 4:
            wkt.append(f"POINT ({positions(1)})")
        elif pick < 7:
            wkt.append(f"LINESTRING ({positions(2 + rng.next() % 19)})")
        elif pick < 9:
            wkt.append(f"POLYGON ({ring()})")
        elif rng.next() & 1:
            wkt.append(f"MULTIPOLYGON (({ring()}), ({ring()}))")
        else:
            wkt.append(f"GEOMETRYCOLLECTION (POINT ({positions(1)}), "
                       f"LINESTRING ({positions(2)}))")
    wkb = [quorvel.wkt_to_wkb(text) for text in wkt]
    canonical = [quorvel.wkb_to_wkt(b) for b in wkb]
    coordinates = sum(text.count(",") + 1 for text in canonical)
    return wkb, canonical, coordinates


def convert_chunk(name: str, rows: list) -> list:
    if name == "bytes.hex":  # the reference: CPython's own function of bytes to str
        return [row.hex() for row in rows]
    convert = getattr(quorvel, name)
    return [convert(row) for row in rows]


def one_round(pool, name: str, chunks: list[list]) -> float:
    start = time.perf_counter()
    list(pool.map(convert_chunk, [name] * len(chunks), chunks))
    return time.perf_counter() - start


def measure(rows: int, rounds: int, processes: bool) -> dict:
    wkb, wkt, coordinates = table(rows)
    inputs = {"wkb_to_wkt": wkb, "wkt_to_wkb": wkt}
    cores = os.cpu_count() or 1
    counts = sorted({1, 2, cores})
    spawn = multiprocessing.get_context("spawn")
    pools = {("threads", n): ThreadPoolExecutor(n) for n in counts}
    if processes:
        pools |= {("processes", n): ProcessPoolExecutor(n, mp_context=spawn) for n in counts[1:]}
    results = []
    try:
        inputs["bytes.hex"] = wkb
        for name in (*DIRECTIONS, "bytes.hex"):
            chunks = [inputs[name][i:i + CHUNK] for i in range(0, rows, CHUNK)]
            for pool in pools.values():  # warmed: workers started, the module imported
                list(pool.map(convert_chunk, [name] * 2, chunks[:2]))
            # The pools take turns within each round, so that a slow spell of the
            # machine falls on all of them rather than on one; the best round counts.
            best = dict.fromkeys(pools, float("inf"))
            for _ in range(rounds):
                for key, pool in pools.items():
                    best[key] = min(best[key], one_round(pool, name, chunks))
            results += [{"direction": name, "how": how, "workers": n, "rows_per_s": rows / best[how, n]}
                        for how, n in pools if how == "threads" or name in DIRECTIONS]
    finally:
        for pool in pools.values():
            pool.shutdown()
    gil = getattr(sys, "_is_gil_enabled", lambda: True)()
    return {
        "python": platform.python_version(),
        "free_threaded": bool(sysconfig.get_config_var("Py_GIL_DISABLED")),
        "gil_enabled": gil,
        "cores": cores,
        "rows": rows,
        "coordinates": coordinates,
        "rounds": rounds,
        "results": results,
    }


def label(run: dict) -> str:
    build = "free-threaded, GIL " + ("on" if run["gil_enabled"] else "off") \
        if run["free_threaded"] else "with the GIL"
    return f"CPython {run['python']} ({build})"


def report(runs: list[dict]) -> None:
    first = runs[0]
    print(f"{first['rows']:,} mixed geometries ({first['coordinates']:,} coordinates), "
          f"{first['cores']} cores, best of {first['rounds']} rounds, rows per second")
    one = {}  # (interpreter, direction) -> the one-thread rate
    for run in runs:
        print(f"\n{label(run)}")
        print(f"  {'direction':11} {'how':14} {'rows/s':>11} {'vs 1 thread':>12}")
        for r in run["results"]:
            key = (label(run), r["direction"])
            if r["how"] == "threads" and r["workers"] == 1:
                one[key] = r["rows_per_s"]
            how = f"{r['workers']} {r['how'] if r['workers'] > 1 else r['how'][:-1]}"
            print(f"  {r['direction']:11} {how:14} {r['rows_per_s']:11,.0f} "
                  f"{r['rows_per_s'] / one[key]:11.2f}x")
    print()
    for r in first["results"]:
        if first["free_threaded"] and r["how"] == "threads" and r["workers"] == 2 \
                and r["direction"] in DIRECTIONS:
            speedup = r["rows_per_s"] / one[(label(first), r["direction"])]
            verdict = "met" if speedup >= 1.8 else "MISSED"
            print(f"target, 2 threads >= 1.8x one ({r['direction']}): {speedup:.2f}x, {verdict}")
    for other in runs[1:]:
        for name in DIRECTIONS:
            slower = one[(label(other), name)] / one[(label(first), name)]
            verdict = "met" if slower <= 1.15 else "MISSED"
            print(f"target, one thread within 15 % of {label(other)} ({name}): "
                  f"{slower:.2f}x its time, {verdict}")


def write_figures(runs: list[dict], quick: bool) -> None:
    """The table of docs/at-scale.md and the README's figure: rows a second by workers."""
    first = runs[0]
    rate = {(r["direction"], r["how"], r["workers"]): r["rows_per_s"] for r in first["results"]}
    speedup = [rate[(d, "threads", 2)] / rate[(d, "threads", 1)] for d in (*DIRECTIONS, "bytes.hex")]
    rows = []
    for how, n in sorted({(r["how"], r["workers"]) for r in first["results"]}, reverse=True):
        name = f"{n} {how if n > 1 else how[:-1]}"
        rows.append([name, *(f"{rate[(d, how, n)]:,.0f}" for d in DIRECTIONS)])
    for other in runs[1:]:
        for r in (r for r in other["results"] if r["direction"] == DIRECTIONS[0]):
            again = {x["direction"]: x["rows_per_s"] for x in other["results"]
                     if x["workers"] == r["workers"] and x["how"] == r["how"]}
            name = f"{r['workers']} thread{'s' * (r['workers'] > 1)}, {label(other)}"
            rows.append([name, *(f"{again[d]:,.0f}" for d in DIRECTIONS)])
    how = ("one short run (--quick): provisional" if quick
           else f"the best of {first['rounds']} rounds")
    table = figures.markdown_table(["workers", "WKB → WKT", "WKT → WKB"], rows)
    note = (f"{first['rows']:,} mixed geometries, rows a second, on {label(first)}; in the same"
            f" run, 2 threads calling `bytes.hex()` on the WKB rows went {speedup[2]:.2f}× as fast"
            f" as one. Measured on"
            f" {datetime.date.today().isoformat()}, {how}; {figures.machine()}.")
    figures.write("bench/threads.py", "table", f"{table}\n\n{note}")
    figures.write("bench/threads.py", "speedup",
                  f"{speedup[0]:.2f}× (WKB → WKT) and {speedup[1]:.2f}× (WKT → WKB)"
                  f" (`bytes.hex()`: {speedup[2]:.2f}×)")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="20,000 rows, 3 rounds")
    parser.add_argument("--against", metavar="PYTHON", help="also time the threads on PYTHON")
    parser.add_argument("--json", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--threads-only", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    rows, rounds = (20_000, 3) if args.quick else (100_000, 7)
    load = os.getloadavg()[0]
    if load > 0.5 and not args.json:
        print(f"note: the load average is {load:.1f}; threads need idle cores, so the figures"
              " below are only as good as the machine is quiet", file=sys.stderr)
    run = measure(rows, rounds, processes=not args.threads_only)
    if args.json:
        print(json.dumps(run))
        return
    runs = [run]
    if args.against:
        command = [args.against, __file__, "--json", "--threads-only"] + ["--quick"] * args.quick
        out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
        runs.append(json.loads(out))
    report(runs)
    if run["free_threaded"]:
        write_figures(runs, args.quick)
    results = BENCH_DIR / "results"
    results.mkdir(exist_ok=True)
    (results / "threads.json").write_text(json.dumps(runs, indent=1))


if __name__ == "__main__":
    main()
