#!/usr/bin/env python3
"""quorvel benchmark suite: quorvel against shapely 2 and geoarrow-c, and against its
own floor.

    python bench/run.py            # full run, about 3 minutes
    python bench/run.py --quick    # the same table from fewer, shorter runs (< 30 s)

Prints the table (targets, then ratios, then absolute times) and writes
bench/results/results.json and bench/results/ns_per_coordinate.png.  See
bench/README.md for what each row means.
"""

from __future__ import annotations

import argparse
import datetime
import importlib.metadata
import json
import os
import platform
import shutil
import sys
import time
from dataclasses import asdict, dataclass, field
from pathlib import Path
from typing import Any

BENCH_DIR = Path(__file__).resolve().parent
REPO_DIR = BENCH_DIR.parent
sys.path.insert(0, str(BENCH_DIR))

import data  # noqa: E402
import floor_runner  # noqa: E402
import harness  # noqa: E402
import report  # noqa: E402


@dataclass
class Config:
    min_repeat_s: float
    repeats: int
    heavy_repeats: int  # for the polygon batch, whose single run takes up to seconds
    polygons: int
    sweep: list[int]
    floor_repetitions: int
    floor_min_time_s: float


FULL = Config(0.03, 7, 7, 5_000, [1, 10, 100, 1_000, 10_000, 100_000], 10, 0.05)
QUICK = Config(0.005, 3, 2, 1_000, [1, 10, 100, 1_000, 10_000], 3, 0.01)

POLYGON_VERTICES = 100
LINE_VERTICES = 1_000
HEADER_VERTICES = 65_536  # 1 MiB of ordinates, 9 more bytes of header
SRID = 4326
DIRECTIONS = ("wkb_to_wkt", "wkt_to_wkb", "hex_to_wkt", "wkt_to_hex")
SWEEP_DIRECTIONS = ("wkb_to_wkt", "wkt_to_wkb")


@dataclass
class InputSet:
    shape: str  # "point", "linestring" or "polygons"
    kind: str  # a kind of data.KINDS or, for points, "one_two" (POINT (1 2))
    vertices: int  # per geometry
    count: int  # geometries per timed iteration: 1, or the batch size
    wkb: Any  # bytes, or a list of bytes for the batch
    wkt: Any
    hex: Any
    # The batch as the vectorized libraries take it, made before timing: numpy
    # object arrays for shapely ("np_wkb", ...), Arrow arrays for geoarrow-c
    # ("arrow_wkb", "arrow_wkt").
    columns: dict[str, Any] = field(default_factory=dict)

    @property
    def label(self) -> str:
        if self.shape == "polygons":
            return f"{self.count:,} polygons x {self.vertices} vertices, {self.kind}"
        if self.shape == "point":
            return f"point, {self.kind}"
        return f"LineString {self.vertices:,} vertices, {self.kind}"


@dataclass
class Case:
    group: str  # "matrix", "sweep", "per_call", "header"
    impl: str  # "quorvel", "shapely", "geoarrow" or "python"
    name: str
    shape: str = ""
    kind: str = ""
    direction: str = ""
    vertices: int = 0
    count: int = 1
    timing: dict[str, Any] = field(default_factory=dict)

    @property
    def ns(self) -> float:
        return float(self.timing["best_ns"])

    @property
    def ns_per_call(self) -> float:
        return self.ns / self.count

    @property
    def ns_per_coordinate(self) -> float:
        return self.ns / (self.count * max(self.vertices, 1))


def arrow_arrays(wkbs: list[bytes], wkts: list[str]) -> dict[str, Any]:
    """The batch as geoarrow WKB and WKT extension arrays (empty without geoarrow)."""
    try:
        import geoarrow.pyarrow as ga
        import pyarrow as pa
    except ImportError:
        return {}
    return {"arrow_wkb": ga.wkb().wrap_array(pa.array(wkbs, pa.binary())),
            "arrow_wkt": ga.wkt().wrap_array(pa.array(wkts, pa.utf8()))}


def make_input(shape: str, kind: str, count: int, vertices: int, quorvel: Any) -> InputSet:
    if shape == "polygons":
        import numpy as np

        rings = data.polygon_rings(kind, count, vertices)
        wkbs = [data.polygon_wkb(r) for r in rings]
        wkts = [quorvel.wkb_to_wkt(w) for w in wkbs]
        hexes = [w.hex().upper() for w in wkbs]
        columns = {f"np_{name}": np.array(values, dtype=object)
                   for name, values in (("wkb", wkbs), ("wkt", wkts), ("hex", hexes))}
        return InputSet(shape, kind, vertices, count, wkbs, wkts, hexes,
                        columns | arrow_arrays(wkbs, wkts))
    if kind == "one_two":
        wkb = data.point_wkb(1.0, 2.0)
    else:
        coords = data.coordinates(kind, vertices)
        wkb = data.point_wkb(*coords[0]) if shape == "point" else data.linestring_wkb(coords)
    return InputSet(shape, kind, vertices, 1, wkb, quorvel.wkb_to_wkt(wkb), wkb.hex().upper())


def quorvel_statement(func: Any, x: Any, batch: bool) -> tuple[str, dict]:
    """func over x, or over each geometry of the batch x, one call per geometry."""
    if batch:
        return "for x in xs:\n    f(x)", {"f": func, "xs": x}
    return "f(x)", {"f": func, "x": x}


def statements(direction: str, quorvel: Any, shapely: Any, inputs: InputSet,
               geoarrow: Any = None) -> dict[str, tuple[str, dict]]:
    """impl -> (statement, names) converting the input in one direction.

    quorvel converts one geometry per call, the batch in a Python loop; shapely and
    geoarrow-c convert the batch in one vectorized call, on arrays made beforehand."""
    text_out = "w(r(x), rounding_precision=-1, trim=True)"
    table = {
        "wkb_to_wkt": ("wkb", quorvel.wkb_to_wkt, text_out, shapely.from_wkb, shapely.to_wkt),
        "wkt_to_wkb": ("wkt", quorvel.wkt_to_wkb, "w(r(x))", shapely.from_wkt, shapely.to_wkb),
        "hex_to_wkt": ("hex", quorvel.hex_wkb_to_wkt, text_out, shapely.from_wkb, shapely.to_wkt),
        "wkt_to_hex": ("wkt", quorvel.wkt_to_hex_wkb, "w(r(x), hex=True)", shapely.from_wkt,
                       shapely.to_wkb),
    }
    attr, qf, sstmt, reader, writer = table[direction]
    batch = inputs.shape == "polygons"
    x = getattr(inputs, attr)
    out = {"quorvel": quorvel_statement(qf, x, batch),
           "shapely": (sstmt, {"r": reader, "w": writer,
                               "x": inputs.columns[f"np_{attr}"] if batch else x})}
    geoarrow_call = {"wkb_to_wkt": ("as_wkt", "arrow_wkb"), "wkt_to_wkb": ("as_wkb", "arrow_wkt")}
    if batch and geoarrow is not None and direction in geoarrow_call:
        func, column = geoarrow_call[direction]
        out["geoarrow"] = ("f(x)", {"f": getattr(geoarrow, func), "x": inputs.columns[column]})
    return out


def check_agreement(inputs: InputSet, quorvel: Any, shapely: Any, geoarrow: Any = None,
                    limit: int = 1000) -> dict[str, Any]:
    """Compares the libraries' outputs on the same input (the first `limit`
    geometries of a batch): equal text, text that reads back to exactly the input's
    coordinates, and equal WKB that is the input's; geoarrow-c on the batches."""
    wkbs = inputs.wkb if isinstance(inputs.wkb, list) else [inputs.wkb]
    wkts = inputs.wkt if isinstance(inputs.wkt, list) else [inputs.wkt]
    n = min(len(wkbs), limit)
    counts = dict.fromkeys(("same_text", "quorvel_text_exact", "shapely_text_exact",
                            "same_wkb"), 0)
    with_geoarrow = geoarrow is not None and "arrow_wkb" in inputs.columns
    if with_geoarrow:
        ga_texts = geoarrow.as_wkt(inputs.columns["arrow_wkb"][:n]).storage.to_pylist()
        ga_wkbs = geoarrow.as_wkb(inputs.columns["arrow_wkt"][:n]).storage.to_pylist()
        counts |= dict.fromkeys(("geoarrow_same_text", "geoarrow_text_exact",
                                 "geoarrow_same_wkb"), 0)
    coords = shapely.get_coordinates
    for i, (wkb, wkt) in enumerate(zip(wkbs[:n], wkts[:n])):
        expected = coords(shapely.from_wkb(wkb))
        ours = quorvel.wkb_to_wkt(wkb)
        theirs = shapely.to_wkt(shapely.from_wkb(wkb), rounding_precision=-1, trim=True)
        counts["same_text"] += ours == theirs
        counts["quorvel_text_exact"] += bool((coords(shapely.from_wkt(ours)) == expected).all())
        counts["shapely_text_exact"] += bool((coords(shapely.from_wkt(theirs)) == expected).all())
        counts["same_wkb"] += quorvel.wkt_to_wkb(wkt) == shapely.to_wkb(shapely.from_wkt(wkt)) == wkb
        if with_geoarrow:
            text = ga_texts[i]
            counts["geoarrow_same_text"] += ours == text
            counts["geoarrow_text_exact"] += bool((coords(shapely.from_wkt(text)) == expected).all())
            counts["geoarrow_same_wkb"] += ga_wkbs[i] == wkb
    return {"geometries": n, **counts}


def run_python(cfg: Config, settings: harness.Settings, quorvel: Any, shapely: Any,
               geoarrow: Any, log: Any) -> tuple[list[Case], dict[str, Any]]:
    cases: list[Case] = []
    benches: list[harness.Bench] = []
    agreement: dict[str, Any] = {}

    def timed(case: Case, stmt: str, env: dict[str, Any], repeats: int | None = None) -> None:
        cases.append(case)
        benches.append(harness.Bench(stmt, env, settings, repeats))

    t0 = time.perf_counter()
    log("preparing inputs")
    # The conversion matrix: every shape and kind, four directions, every library.
    sets = [make_input("point", k, 1, 1, quorvel) for k in ("lonlat", "random", "one_two")]
    sets += [make_input("linestring", k, 1, LINE_VERTICES, quorvel) for k in data.KINDS]
    sets += [make_input("polygons", k, cfg.polygons, POLYGON_VERTICES, quorvel)
             for k in data.POLYGON_KINDS]
    for s in sets:
        agreement[s.label] = check_agreement(s, quorvel, shapely, geoarrow)
        for direction in DIRECTIONS:
            for impl, (stmt, names) in statements(direction, quorvel, shapely, s,
                                                  geoarrow).items():
                case = Case("matrix", impl, f"{s.label}: {direction}", s.shape, s.kind,
                            direction, s.vertices, s.count)
                timed(case, stmt, names, cfg.heavy_repeats if s.shape == "polygons" else None)
    # What geoarrow-c's figures leave out: the Arrow arrays made from the lists.
    if geoarrow is not None:
        import pyarrow as pa

        batch = sets[-1]
        for name, attr, ext, storage in (("WKB", "wkb", geoarrow.wkb(), pa.binary()),
                                         ("WKT", "wkt", geoarrow.wkt(), pa.utf8())):
            timed(Case("per_call", "geoarrow",
                       f"Arrow {name} array of {batch.count:,} polygons from the list"),
                  "w(a(x, t))", {"w": ext.wrap_array, "a": pa.array, "t": storage,
                                 "x": getattr(batch, attr)}, cfg.heavy_repeats)

    # Size sweep for the plot; size 1 is the point and 1,000 the LineString above.
    for kind in data.SWEEP_KINDS:
        for size in cfg.sweep:
            if size in (1, LINE_VERTICES):
                continue
            s = make_input("linestring", kind, 1, size, quorvel)
            for direction in SWEEP_DIRECTIONS:
                for impl, (stmt, names) in statements(direction, quorvel, shapely, s).items():
                    case = Case("sweep", impl, f"{s.label}: {direction}", s.shape, kind,
                                direction, size)
                    timed(case, stmt, names)

    # Per-call floor: bytes.hex() of the same 21 bytes, and the bare loop.
    point = make_input("point", "lonlat", 1, 1, quorvel)
    timed(Case("per_call", "python", "loop overhead (empty statement)"), "pass", {})
    timed(Case("per_call", "python", "bytes.hex() of a 21-byte point WKB"), "x.hex()",
          {"x": point.wkb})

    # SRID set/strip on 1 MB: the header path against a copy and against shapely.
    coords = data.coordinates("lonlat", HEADER_VERTICES)
    wkb = data.linestring_wkb(coords)
    ewkb = quorvel.to_ewkb_header(wkb, SRID)
    header_check = {
        "bytes": len(wkb),
        "set_matches_shapely": ewkb
        == shapely.to_wkb(shapely.set_srid(shapely.from_wkb(wkb), SRID), include_srid=True),
        "strip_restores_input": quorvel.to_wkb_no_srid_header(ewkb) == wkb,
    }
    agreement["header rewrite"] = header_check
    h: dict[str, Any] = {"group": "header", "vertices": HEADER_VERTICES}
    timed(Case(impl="python", name="copy 1 MB: bytes(bytearray)", **h), "c(x)",
          {"c": bytes, "x": bytearray(wkb)})
    timed(Case(impl="quorvel", name="set SRID: to_ewkb_header(wkb, 4326)", direction="set", **h),
          "f(x, 4326)", {"f": quorvel.to_ewkb_header, "x": wkb})
    timed(Case(impl="quorvel", name="strip SRID: to_wkb_no_srid_header(ewkb)", direction="strip",
               **h), "f(x)", {"f": quorvel.to_wkb_no_srid_header, "x": ewkb})
    timed(Case(impl="shapely", name="set SRID: from_wkb + set_srid + to_wkb(include_srid=True)",
               direction="set", **h),
          "w(s(r(x), 4326), include_srid=True)",
          {"r": shapely.from_wkb, "s": shapely.set_srid, "w": shapely.to_wkb, "x": wkb})
    timed(Case(impl="shapely", name="strip SRID: from_wkb + to_wkb(include_srid=False)",
               direction="strip", **h),
          "w(r(x), include_srid=False)", {"r": shapely.from_wkb, "w": shapely.to_wkb, "x": ewkb})

    log(f"  inputs ready in {time.perf_counter() - t0:.1f} s")

    # Every case in one round-robin, so that quorvel and shapely (and the baselines)
    # see the same load on a shared machine.
    t0 = time.perf_counter()
    log(f"timing {len(benches)} cases, {cfg.repeats} rounds after calibration")
    harness.measure_interleaved(benches)
    log(f"  timed in {time.perf_counter() - t0:.1f} s")
    for case, bench in zip(cases, benches):
        case.timing = bench.timing.as_dict()
        log(f"    {case.impl:8} {case.name:64} {report.fmt_ns(case.ns):>10}")
    return cases, agreement


def run_floor(cfg: Config, args: argparse.Namespace, results_dir: Path,
              log: Any) -> tuple[dict[str, floor_runner.FloorResult], dict[str, str]]:
    if args.no_floor:
        return {}, {}
    build_dir = Path(args.floor_build_dir).resolve()
    log(f"C++ floor benchmark (building in {build_dir}):")
    t0 = time.perf_counter()
    binary = floor_runner.build(build_dir, results_dir / "floor-build.log")
    if binary is None:
        return {}, {}
    log(f"  built in {time.perf_counter() - t0:.1f} s")
    t0 = time.perf_counter()
    results, context = floor_runner.run(binary, results_dir / "floor.json",
                                        cfg.floor_repetitions, cfg.floor_min_time_s, args.clock)
    log(f"  {len(results)} benchmarks in {time.perf_counter() - t0:.1f} s")
    for kind in data.KINDS:
        expected = str(data.checksum(data.coordinates(kind, 1000)))
        if context.get(f"checksum_{kind}") != expected:
            log(f"WARNING: floor.cpp's {kind} coordinates differ from bench/data.py's")
    return results, context


def package_version(name: str) -> str | None:
    try:
        return importlib.metadata.version(name)
    except importlib.metadata.PackageNotFoundError:
        return None


def warn_if_stale(module: Any, log: Any) -> None:
    """Warns when the imported module is older than the sources next to this file:
    a benchmark of an old build says nothing about the current code."""
    path = Path(getattr(module, "__file__", "") or "")
    sources = list((REPO_DIR / "src").rglob("*.[ch]pp"))
    if not path.is_file() or not sources:
        return
    newest = max(sources, key=lambda p: p.stat().st_mtime)
    if newest.stat().st_mtime > path.stat().st_mtime:
        log(f"WARNING: {path} is older than {newest.relative_to(REPO_DIR)}: "
            "rebuild the module to measure the current code")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer, shorter runs (< 30 s)")
    parser.add_argument("--clock", choices=("cpu", "wall"), default="cpu",
                        help="thread CPU time (default; robust on a shared machine) or wall time")
    parser.add_argument("--results-dir", default=str(BENCH_DIR / "results"))
    parser.add_argument("--floor-build-dir", default=str(REPO_DIR / "build" / "bench"),
                        help="CMake build directory of bench/floor.cpp")
    parser.add_argument("--no-floor", action="store_true", help="skip the C++ floor benchmark")
    parser.add_argument("--no-plot", action="store_true", help="skip the PNG")
    parser.add_argument("--check", action="store_true",
                        help="exit with status 1 when a target fails")
    parser.add_argument("--verbose", "-v", action="store_true", help="print every case as it runs")
    parser.add_argument("--docs", action=argparse.BooleanOptionalAction, default=None,
                        help="write the figures of the README and docs/performance.md and the plot"
                        " into them (default: on a full run, not with --quick)")
    args = parser.parse_args(argv)

    try:
        import quorvel
        import shapely
    except ImportError as e:
        print(f"cannot import {e.name}: install the module and the bench extra first "
              "(make bench, or pip install '.[bench]')", file=sys.stderr)
        return 2
    try:
        import geoarrow.pyarrow as geoarrow
    except ImportError:
        geoarrow = None
        print("geoarrow-pyarrow is not installed: no geoarrow-c rows "
              "(pip install '.[bench]')", file=sys.stderr)

    cfg = QUICK if args.quick else FULL
    settings = harness.Settings(cfg.min_repeat_s, cfg.repeats, args.clock)
    results_dir = Path(args.results_dir)
    results_dir.mkdir(parents=True, exist_ok=True)
    started = time.perf_counter()

    def log(line: str) -> None:
        if args.verbose or not line.startswith("    "):
            print(line, flush=True)

    warn_if_stale(quorvel, log)

    floor, floor_context = run_floor(cfg, args, results_dir, log)
    cases, agreement = run_python(cfg, settings, quorvel, shapely, geoarrow, log)
    analysis = report.analyse(cases, floor, cfg.sweep, LINE_VERTICES, POLYGON_VERTICES)
    print()
    print(report.render(analysis, cases, floor, agreement))

    meta = {
        "date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
        "mode": "quick" if args.quick else "full",
        "clock": args.clock,
        "config": asdict(cfg),
        "seed": data.SEED,
        "python": sys.version.split()[0],
        "platform": platform.platform(),
        "processor": platform.processor() or platform.machine(),
        "cpus": os.cpu_count(),
        "load_average": os.getloadavg(),
        "quorvel": getattr(quorvel, "__file__", ""),
        "shapely": shapely.__version__,
        "geos": shapely.geos_version_string,
        "geoarrow_c": package_version("geoarrow-c"),
        "pyarrow": package_version("pyarrow"),
        "floor_context": floor_context,
        "seconds": round(time.perf_counter() - started, 1),
    }
    out = {
        "meta": meta,
        "targets": analysis["targets"],
        "ratios": analysis["ratios"],
        "cases": [asdict(c) | {"ns_per_call": c.ns_per_call,
                               "ns_per_coordinate": c.ns_per_coordinate} for c in cases],
        "floor": {k: asdict(v) | {"ns_per_ordinate": v.ns / v.ordinates}
                  for k, v in floor.items()},
        "agreement": agreement,
    }
    json_path = results_dir / "results.json"
    json_path.write_text(json.dumps(out, indent=2) + "\n")
    print(f"\nwrote {json_path}")
    png = None if args.no_plot else report.plot(cases, floor, results_dir / "ns_per_coordinate.png")
    if png:
        print(f"wrote {png}")
    if args.docs if args.docs is not None else not args.quick:
        import figures

        for place, text in report.docs_figures(analysis, agreement, meta, cfg.polygons,
                                               cfg.heavy_repeats).items():
            figures.write("bench/run.py", place, text)
        if png:
            shutil.copyfile(png, REPO_DIR / "docs" / png.name)
        print("wrote the figures of README.md and docs/performance.md")
    print(f"total {meta['seconds']} s, load average at the end {meta['load_average'][0]:.2f}")
    failed = [t for t in analysis["targets"] if t["passed"] is False]
    held = sum(t["passed"] is True for t in analysis["targets"])
    print(f"targets: {held} of {len(analysis['targets'])} hold, {len(failed)} fail")
    return 1 if args.check and failed else 0


if __name__ == "__main__":
    sys.exit(main())
