#!/usr/bin/env python3
"""Whole tables through quorvel: one process, a process pool of 2, Dask with 2 workers.

    python bench/scale.py              # 1,000,000 points and 100,000 polygons, 3 rounds
    python bench/scale.py --quick      # a tenth of the rows, 1 round, fewer chunk sizes
    python bench/scale.py --max-load 0.5 --wait 900   # start each round on a quiet machine

Both tables are converted WKB -> WKT and WKT -> WKB, row by row, in wall-clock time:

- one process: a list comprehension (the baseline of every speed-up), pandas
  `Series.map`, list comprehensions over the Series and over its `tolist()`, and the
  Dask partition function below over the whole Series;
- `ProcessPoolExecutor(2)` and `multiprocessing.Pool(2)`, both spawn, started and
  warmed before timing, `map(f, rows, chunksize=c)` for several c; beside each the
  CPU time of this process during the map ("busy here");
- Dask on a `distributed.LocalCluster` of 2 worker processes with one thread each,
  for several rows per partition, in three phases: the table split by `from_pandas`
  and sent to the workers ("in"), `map_partitions` of a list comprehension on the
  workers ("work"), and the result gathered into one Series here ("out").

Pickling is timed apart in each round: this process pickles every task (the function
and a tuple of rows) and unpickles every result ("here"); the workers do the reverse
between them ("in workers").  The cost of a task is the time difference between the
smallest and the largest chunk size divided by the difference in tasks.  Every
figure is the median of the rounds, with the smallest and largest beside it.  Writes
bench/results/scale.json.
"""

from __future__ import annotations

import argparse
import datetime
import json
import multiprocessing
import os
import pickle
import platform
import resource
import signal
import statistics
import sys
import time
import warnings
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

import numpy as np

import quorvel

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))
import data  # noqa: E402

WORKERS = 2
POOLS = ("ProcessPoolExecutor", "Pool")
DIRECTIONS = {"wkb_to_wkt": ("wkb", quorvel.wkb_to_wkt), "wkt_to_wkb": ("wkt", quorvel.wkt_to_wkb)}
FULL = {
    "rows": {"points": 1_000_000, "polygons": 100_000},
    "pool_chunks": {"points": [100, 1_000, 10_000, 100_000], "polygons": [10, 100, 1_000, 10_000]},
    "dask_partition_rows": {"points": [10_000, 100_000, 500_000],
                            "polygons": [1_000, 10_000, 50_000]},
    "rounds": 3,
}
QUICK = {
    "rows": {"points": 100_000, "polygons": 10_000},
    "pool_chunks": {"points": [100, 10_000], "polygons": [10, 1_000]},
    "dask_partition_rows": {"points": [10_000, 50_000], "polygons": [1_000, 5_000]},
    "rounds": 1,
}
POLYGON_VERTICES = 100


def point_rows(n: int) -> list[bytes]:
    """n WKB points with lon/lat of 6 decimals, made in one numpy buffer."""
    rng = np.random.default_rng(data.SEED & 0xFFFF_FFFF)
    rows = np.empty(n, dtype=[("order", "u1"), ("type", "<u4"), ("x", "<f8"), ("y", "<f8")])
    rows["order"], rows["type"] = 1, 1
    rows["x"] = np.round(rng.uniform(-180.0, 180.0, n), 6)
    rows["y"] = np.round(rng.uniform(-90.0, 90.0, n), 6)
    buf, size = rows.tobytes(), rows.dtype.itemsize
    return [buf[i:i + size] for i in range(0, len(buf), size)]


def tables(rows: dict[str, int]) -> dict[str, dict[str, list]]:
    points = point_rows(rows["points"])
    polygons = [data.polygon_wkb(r)
                for r in data.polygon_rings("lonlat", rows["polygons"], POLYGON_VERTICES)]
    return {name: {"wkb": wkb, "wkt": [quorvel.wkb_to_wkt(b) for b in wkb]}
            for name, wkb in (("points", points), ("polygons", polygons))}


def clock(fn):
    start = time.perf_counter()
    out = fn()
    return time.perf_counter() - start, out


def tasks(n: int, size: int) -> int:
    return -(-n // size)


def chunks(rows: list, size: int) -> list:
    return [rows[i:i + size] for i in range(0, len(rows), size)]


def pickling(func, rows: list, results: list, size: int) -> dict[str, float]:
    """Seconds to pickle and unpickle the tasks (the function and a tuple of rows, as
    the pool sends them) and the result lists, for chunks of `size` rows."""
    out: dict[str, float] = {}
    for name, items in (("in", [(func, tuple(c)) for c in chunks(rows, size)]),
                        ("out", chunks(results, size))):
        dump_s, blobs = clock(lambda: [pickle.dumps(i, pickle.DEFAULT_PROTOCOL) for i in items])
        load_s, _ = clock(lambda: [pickle.loads(b) for b in blobs])
        out[f"{name}_dump"], out[f"{name}_load"] = dump_s, load_s
    return out


def convert_partition(series, func):
    """func over a partition, as an object Series (Series.map would infer the type).
    tolist() first: iterating an Arrow-backed str Series costs more than converting."""
    import pandas as pd

    return pd.Series([func(v) for v in series.tolist()], index=series.index, dtype=object)


def busy() -> float:
    """CPU seconds of this process so far, all its threads."""
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


class Round:
    """One measurement of every case; the caller runs several and takes the medians."""

    def __init__(self, cfg: dict, data_: dict, pools: dict, client, log) -> None:
        self.cfg, self.data, self.pools, self.client, self.log = cfg, data_, pools, client, log

    def run(self) -> dict[str, float]:
        import pandas as pd

        got: dict[str, float] = {}
        for table, columns in self.data.items():
            for direction, (column, func) in DIRECTIONS.items():
                key = f"{table}/{direction}"
                rows = columns[column]
                got[f"{key}/one"], expected = clock(lambda: [func(r) for r in rows])
                series = pd.Series(rows)
                got[f"{key}/map"], _ = clock(lambda: series.map(func))
                got[f"{key}/iterate"], _ = clock(lambda: [func(r) for r in series])
                got[f"{key}/tolist"], _ = clock(lambda: [func(r) for r in series.tolist()])
                got[f"{key}/partition"], _ = clock(lambda: convert_partition(series, func))
                for size in self.cfg["pool_chunks"][table]:
                    for name, pool in self.pools.items():
                        cpu = busy()
                        seconds, out = clock(lambda: list(pool.map(func, rows, chunksize=size)))
                        assert out == expected, key
                        got[f"{key}/{name}/{size}"] = seconds
                        got[f"{key}/{name}/{size}/busy"] = busy() - cpu
                    for part, seconds in pickling(func, rows, expected, size).items():
                        got[f"{key}/pickle/{size}/{part}"] = seconds
                for size in self.cfg["dask_partition_rows"][table]:
                    for phase, seconds in self.dask(series, func, size, expected).items():
                        got[f"{key}/dask/{size}/{phase}"] = seconds
                self.log(f"  {key} done")
        return got

    def dask(self, series, func, size: int, expected: list) -> dict[str, float]:
        import dask.dataframe as dd
        from distributed import wait

        start = time.perf_counter()
        table = dd.from_pandas(series, chunksize=size).persist()
        wait(table)
        sent = time.perf_counter()
        result = table.map_partitions(convert_partition, func, meta=(None, object)).persist()
        wait(result)
        done = time.perf_counter()
        out = result.compute()
        back = time.perf_counter()
        assert out.tolist() == expected
        del table, result
        return {"in": sent - start, "work": done - sent, "out": back - done}


def summary(samples: list[dict[str, float]]) -> dict[str, dict[str, float]]:
    return {k: {"median": statistics.median(s[k] for s in samples),
                "min": min(s[k] for s in samples), "max": max(s[k] for s in samples)}
            for k in samples[0]}


def wait_until_quiet(max_load: float | None, wait_s: float, log) -> float:
    load = os.getloadavg()[0]
    deadline = time.monotonic() + wait_s
    while max_load is not None and load > max_load and time.monotonic() < deadline:
        log(f"  1-minute load {load:.2f} > {max_load}, waiting")
        time.sleep(15)
        load = os.getloadavg()[0]
    return load


def report(cfg: dict, rows: dict[str, int], stats: dict) -> list[str]:
    """Rows per second with the spread, speed-ups over the list comprehension in one
    process, and what the pools' parent process spends per row."""
    def med(key: str) -> float:
        return stats[key]["median"]

    def rate(key: str, n: int) -> str:
        s = stats[key]
        return f"{n / s['median'] / 1e6:5.2f} M/s ({n / s['max'] / 1e6:.2f}-{n / s['min'] / 1e6:.2f})"

    lines = []
    for table, n in rows.items():
        for direction in DIRECTIONS:
            key = f"{table}/{direction}"
            one = med(f"{key}/one")
            lines += [f"{table} ({n:,} rows), {direction}",
                      f"  one process: list {rate(f'{key}/one', n)}, {one * 1e9 / n:.0f} ns/row;"
                      f"  Series.map {rate(f'{key}/map', n)};"
                      f"  over the Series {rate(f'{key}/iterate', n)};"
                      f"  over its tolist() {rate(f'{key}/tolist', n)};"
                      f"  partition function {rate(f'{key}/partition', n)}",
                      "  chunksize   tasks  " + "".join(
                          f"{name + ' rate':>25} speed-up busy-here" for name in POOLS)
                      + "  pickling ns/row: here, in workers"]
            for size in cfg["pool_chunks"][table]:
                line = f"  {size:>9,} {tasks(n, size):>7,}  "
                for name in POOLS:
                    k = f"{key}/{name}/{size}"
                    line += (f"{rate(k, n):>25} {one / med(k):7.2f}x"
                             f" {med(k + '/busy') * 1e9 / n:6.0f} ns")
                pk = f"{key}/pickle/{size}"
                line += (f"  {(med(pk + '/in_dump') + med(pk + '/out_load')) * 1e9 / n:6.0f},"
                         f" {(med(pk + '/in_load') + med(pk + '/out_dump')) * 1e9 / n:6.0f}")
                lines.append(line)
            small, large = cfg["pool_chunks"][table][0], cfg["pool_chunks"][table][-1]
            lines.append("  per task, from chunksize {:,} against {:,}: ".format(small, large)
                         + ", ".join(f"{name} {(med(f'{key}/{name}/{small}') - med(f'{key}/{name}/{large}')) / (tasks(n, small) - tasks(n, large)) * 1e6:.0f} us"
                                     for name in POOLS))
            for size in cfg["dask_partition_rows"][table]:
                k = f"{key}/dask/{size}"
                phases = {p: med(f"{k}/{p}") for p in ("in", "work", "out")}
                total = sum(phases.values())
                lines.append(f"  dask {size:>7,} rows/partition: work {rate(f'{k}/work', n)}"
                             f" {one / phases['work']:.2f}x;  in+work+out {n / total / 1e6:5.2f} M/s"
                             f" {one / total:.2f}x  (in {phases['in']:.2f} s, work "
                             f"{phases['work']:.2f} s, out {phases['out']:.2f} s)")
    return lines


def docs_figures(cfg: dict, rows: dict[str, int], stats: dict, versions: dict, loads: list,
                 rounds: int, quick: bool) -> dict[str, str]:
    """Each place of docs/performance.md and docs/at-scale.md that this script writes: its text."""
    import figures

    def med(key: str) -> float:
        return stats[key]["median"]

    def spread(key: str, n: int, scale: float = 1e6) -> str:
        s = stats[key]
        return f"{n / s['median'] / scale:.2f} ({n / s['max'] / scale:.2f}-{n / s['min'] / scale:.2f})"

    def span(values: list[float], digits: int = 1) -> str:
        lo, hi = min(values), max(values)
        return f"{lo:,.{digits}f}" if round(lo, digits) == round(hi, digits) else f"{lo:,.{digits}f} to {hi:,.{digits}f}"

    main_rows, overhead_rows = [], []
    one, dask_work, task_us, busy, pickled, by_map = {}, [], [], {}, {}, []
    for table, n in rows.items():
        for direction in DIRECTIONS:
            key = f"{table}/{direction}"
            one[key] = med(f"{key}/one")
            name = f"{table}, {direction.replace('_to_', ' → ').upper()}"
            cells = [name, spread(f"{key}/one", n)]
            for pool in POOLS:
                size = min(cfg["pool_chunks"][table], key=lambda c: med(f"{key}/{pool}/{c}"))
                cells.append(f"{n / med(f'{key}/{pool}/{size}') / 1e6:.2f}, {one[key] / med(f'{key}/{pool}/{size}'):.2f}×,"
                             f" {size:,}")
            phases = {c: {p: med(f"{key}/dask/{c}/{p}") for p in ("in", "work", "out")}
                      for c in cfg["dask_partition_rows"][table]}
            size = min(phases, key=lambda c: phases[c]["work"])
            dask_work.append(one[key] / phases[size]["work"])
            cells.append(f"{n / phases[size]['work'] / 1e6:.2f}, {dask_work[-1]:.2f}×, {size:,}")
            total = min(phases, key=lambda c: sum(phases[c].values()))
            cells.append(f"{n / sum(phases[total].values()) / 1e6:.2f}, {one[key] / sum(phases[total].values()):.2f}×")
            main_rows.append(cells)
            small, large = cfg["pool_chunks"][table][0], cfg["pool_chunks"][table][-1]
            costs = [(med(f"{key}/{pool}/{small}") - med(f"{key}/{pool}/{large}"))
                     / (tasks(n, small) - tasks(n, large)) * 1e6 for pool in POOLS]
            task_us += costs
            large_chunks = [c for c in cfg["pool_chunks"][table] if c >= 1_000] or cfg["pool_chunks"][table]
            here = [(med(f"{key}/pickle/{c}/in_dump") + med(f"{key}/pickle/{c}/out_load")) * 1e9 / n
                    for c in large_chunks]
            parent = [med(f"{key}/{pool}/{c}/busy") * 1e9 / n for pool in POOLS for c in large_chunks]
            pickled.setdefault(table, []).extend(h / (one[key] * 1e9 / n) for h in here)
            busy.setdefault(table, []).extend(b / (one[key] * 1e9 / n) for b in parent)
            by_map.append(med(f"{key}/map") / med(f"{key}/tolist"))
            overhead_rows.append([
                name, f"{one[key] * 1e9 / n:,.0f}", f"{span(here, 0)}", f"{span(parent, 0)}",
                ", ".join(f"{c:.0f}" for c in costs),
                ", ".join(f"{phases[size][p]:.2f}" for p in ("in", "work", "out")),
                f"{med(f'{key}/map') / med(f'{key}/one'):.2f}×, {med(f'{key}/iterate') / med(f'{key}/one'):.2f}×,"
                f" {med(f'{key}/tolist') / med(f'{key}/one'):.2f}×"])
    how = ("one round of a short run (--quick): provisional" if quick
           else f"the median of {rounds} rounds with the slowest and fastest in brackets")
    measured = (f"Measured on {datetime.date.today().isoformat()}, {how}; {figures.machine()}, CPython"
                f" {platform.python_version()}, pandas {versions['pandas']}, Dask {versions['dask']}, distributed"
                f" {versions['distributed']}; 1-minute load average at the start and end of each round "
                + ", ".join(f"{x:.2f}" for x in loads) + ".")
    return {
        "measured": f"{measured} {rows['points']:,} points and {rows['polygons']:,} polygons.",
        "scale": figures.markdown_table(
            ["rows, direction", "one process, M rows/s", "`ProcessPoolExecutor(2)`: M rows/s, speed-up, chunksize",
             "`Pool(2)`: the same", "Dask, partitions on the workers: M rows/s, speed-up, rows a partition",
             "Dask, from the client and back: M rows/s, speed-up"], main_rows),
        "overheads": figures.markdown_table(
            ["rows, direction", "one process, ns a row", "pickling in the parent, ns a row",
             "the parent busy during the map, ns a row", "a task, µs (executor, `Pool`)",
             "Dask: send, work, gather, s", "`Series.map`, over the Series, over `tolist()`: time / one process"],
            overhead_rows),
        "one-process": (f"{span([rows['points'] / one[k] / 1e6 for k in one if k.startswith('points')], 0)} million"
                        f" points or {span([rows['polygons'] / one[k] / 1e3 for k in one if k.startswith('polygons')], 0)}"
                        " thousand polygons of 100 vertices"),
        "pickling": (f"{span(pickled['points'])} times as long as converting them for points and"
                     f" {span(pickled['polygons'])} times for polygons"),
        "dask-speedup": f"{span(dask_work)} times",
        "task-cost": f"{span(task_us, 0)} µs",
        "busy": (f"{span(busy['points'])} times as long as the conversion of points takes and"
                 f" {span(busy['polygons'])} times as long for polygons"),
        "map": f"{span(by_map)} times",
    }


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true", help="a tenth of the rows, one round")
    ap.add_argument("--rounds", type=int, help="rounds (default 3, 1 with --quick)")
    ap.add_argument("--max-load", type=float, help="wait before each round until the "
                    "1-minute load average is at most this")
    ap.add_argument("--wait", type=float, default=600, help="seconds to wait for that, at most")
    ap.add_argument("--json", type=Path, default=BENCH_DIR / "results" / "scale.json")
    ap.add_argument("--docs", action=argparse.BooleanOptionalAction, default=None,
                    help="write the figures into docs/ (default: on a full run, not with --quick)")
    args = ap.parse_args()
    # Stop cleanly, closing the pool and the cluster, also when started in the background
    # (where SIGINT comes in ignored) and on SIGTERM.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    cfg = dict(QUICK if args.quick else FULL)
    rounds = args.rounds or cfg["rounds"]

    def log(msg: str) -> None:
        print(msg, file=sys.stderr, flush=True)

    import dask
    import pandas as pd
    from distributed import Client, LocalCluster

    dask.config.set({"dataframe.convert-string": False})  # keep WKB bytes as bytes
    warnings.filterwarnings("ignore", message=".*large graph", category=UserWarning)

    log(f"load before start: {os.getloadavg()}")
    log("making the tables")
    made = tables(cfg["rows"])
    rows = {name: len(t["wkb"]) for name, t in made.items()}

    log("starting the pool and the cluster")
    started: dict[str, float] = {}
    start = time.perf_counter()
    spawn = multiprocessing.get_context("spawn")
    pools = {"ProcessPoolExecutor": ProcessPoolExecutor(WORKERS, mp_context=spawn),
             "Pool": spawn.Pool(WORKERS)}
    for pool in pools.values():  # both workers up, with quorvel imported
        list(pool.map(time.sleep, [0.5] * WORKERS))
        list(pool.map(quorvel.wkb_to_wkt, made["points"]["wkb"][:WORKERS]))
    started["pools_s"] = time.perf_counter() - start
    start = time.perf_counter()
    cluster = LocalCluster(n_workers=WORKERS, threads_per_worker=1, processes=True,
                           host="127.0.0.1", dashboard_address=None)
    client = Client(cluster)
    client.run(lambda: __import__("quorvel"))
    started["cluster_s"] = time.perf_counter() - start
    # Warm-up: the first task of each kind imports pandas and dask in the workers.
    warm = Round(cfg, made, pools, client, log)
    for table, columns in made.items():
        for column, func in DIRECTIONS.values():
            few = columns[column][:2_000]
            for pool in pools.values():
                list(pool.map(func, few, chunksize=500))
            warm.dask(pd.Series(few), func, 500, [func(r) for r in few])

    samples, loads = [], []
    try:
        for i in range(rounds):
            loads.append(wait_until_quiet(args.max_load, args.wait, log))
            log(f"round {i + 1}/{rounds}, 1-minute load {loads[-1]:.2f}")
            samples.append(Round(cfg, made, pools, client, log).run())
            loads.append(os.getloadavg()[0])
            log(f"  1-minute load at the end of the round {loads[-1]:.2f}")
            client.run(lambda: __import__("gc").collect())
    finally:
        client.close()
        cluster.close()
        pools["ProcessPoolExecutor"].shutdown()
        pools["Pool"].terminate()

    stats = summary(samples)
    lines = report(cfg, rows, stats)
    lines.append(f"pools start {started['pools_s']:.2f} s, cluster start {started['cluster_s']:.2f} s;"
                 f" 1-minute load at the start and end of each round: "
                 + ", ".join(f"{x:.2f}" for x in loads))
    print("\n".join(lines))
    import distributed

    args.json.parent.mkdir(parents=True, exist_ok=True)
    args.json.write_text(json.dumps({
        "date": datetime.datetime.now().isoformat(timespec="seconds"),
        "machine": {"cpus": os.cpu_count(), "platform": platform.platform(),
                    "processor": platform.processor(), "python": platform.python_version()},
        "versions": {"pandas": pd.__version__, "dask": dask.__version__,
                     "distributed": distributed.__version__},
        "config": {**cfg, "rounds": rounds}, "rows": rows, "loads": loads, "started": started,
        "stats": stats, "samples": samples,
    }, indent=1))
    log(f"wrote {args.json}")
    if args.docs if args.docs is not None else not args.quick:
        import figures

        for place, text in docs_figures(cfg, rows, stats, {"pandas": pd.__version__, "dask": dask.__version__,
                                                           "distributed": distributed.__version__},
                                        loads, rounds, args.quick).items():
            figures.write("bench/scale.py", place, text)
        log("wrote the figures of docs/performance.md and docs/at-scale.md")


if __name__ == "__main__":
    main()
