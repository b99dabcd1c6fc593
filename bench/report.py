"""Turns the measurements into the report: targets with PASS/FAIL, ratios, absolute
times (the best round of each case), and the plot of ns per coordinate against
geometry size."""

from __future__ import annotations

import re
from pathlib import Path
from typing import Any

KIND_INDEX = {"lonlat": 0, "random": 1, "one_two": 2, "unit": 3, "mixed": 4}
ARROW = {"wkb_to_wkt": "WKB->WKT", "wkt_to_wkb": "WKT->WKB", "hex_to_wkt": "hex->WKT",
         "wkt_to_hex": "WKT->hex"}
# The kinds of the LineString, number and polygon rows, in the order of the targets.
LINE_KINDS = ("random", "unit", "lonlat", "mixed")
POLYGON_KINDS = ("random", "unit", "lonlat")
PEERS = {"geoarrow": "geoarrow-c", "shapely": "shapely"}
# Polygon targets: direction -> minimum speed-up over each peer.
POLYGON_TARGETS = {"wkb_to_wkt": {"geoarrow": 2, "shapely": 4.5},
                   "wkt_to_wkb": {"geoarrow": 2, "shapely": 15}}
# The C++ number rows: benchmark -> what it measures.
# The large LineString of the number rows, whose doubles are new to a branch predictor.
BIG_LINE = 100_000
# Number reading per token against fast_float on the same text: kind -> limit
# (lon/lat tokens; full-precision tokens of 16 and 17 digits, in [0, 1) 15 to 17).
READER_TARGETS = {"lonlat": 0.6, "random": 0.8, "unit": 0.8}
# The C++ number readers over the same text: benchmark -> what it is.
READER_BENCHES = {"read_number": "ours", "read_number_words": "ours, words (no SSE2)",
                  "from_chars": "std::from_chars", "fast_float": "fast_float"}
NUMBER_BENCHES = {"seventeen_digits": "ours: digits", "shortest_decimal": "ours: digits, no zeros",
                  "dragonbox_to_decimal": "Dragonbox to_decimal",
                  "dragonbox_to_decimal_zeros": "Dragonbox to_decimal, zeros kept",
                  "dragonbox_to_chars": "Dragonbox to_chars", "std_to_chars": "std::to_chars",
                  "ordinate_text_sse2": "ours: text, SSE2",
                  "ordinate_text_portable": "ours: text, portable",
                  "format_ordinate": "format_ordinate", "ewkb_to_ewkt": "ewkb_to_ewkt"}
# WKB -> WKT in C++ per ordinate against Dragonbox's to_chars alone, on the large
# LineString: the limit by kind of coordinates.
TEXT_LIMITS = {"random": 0.7, "unit": 0.7, "mixed": 0.7, "lonlat": 0.5}


def fmt_ns(ns: float | None) -> str:
    if ns is None:
        return "-"
    if ns < 10_000:
        return f"{ns:.0f} ns" if ns >= 100 else f"{ns:.1f} ns"
    if ns < 10_000_000:
        return f"{ns / 1e3:.1f} us"
    return f"{ns / 1e6:.1f} ms"


def fmt_ratio(r: float | None) -> str:
    return "-" if r is None else (f"{r:.2f}x" if r < 10 else f"{r:.1f}x")


def table(title: str, headers: list[str], rows: list[list[str]], left: int = 1) -> str:
    """A plain-text table; the first `left` columns are text, the others figures."""
    widths = [max(len(str(x)) for x in col) for col in zip(headers, *rows)]

    def line(cells: list[str]) -> str:
        out = [f"{c:<{w}}" if i < left else f"{c:>{w}}"
               for i, (c, w) in enumerate(zip(cells, widths))]
        return "  ".join(out).rstrip()

    out = [title, line(headers), line(["-" * w for w in widths])]
    out += [line([str(c) for c in row]) for row in rows]
    return "\n".join(out)


class Index:
    def __init__(self, cases: list[Any], floor: dict[str, Any]) -> None:
        self.by_key = {}
        self.by_name = {}
        for c in cases:
            if c.group in ("matrix", "sweep"):
                self.by_key[(c.impl, c.shape, c.kind, c.direction, c.vertices)] = c
            self.by_name[(c.impl, c.name)] = c
        self.floor = floor

    def case(self, impl: str, shape: str, kind: str, direction: str, vertices: int) -> Any:
        if shape == "linestring" and vertices == 1:
            shape = "point"
        return self.by_key.get((impl, shape, kind, direction, vertices))

    def per_ordinate(self, impl: str, kind: str, direction: str, vertices: int) -> float | None:
        c = self.case(impl, "linestring", kind, direction, vertices)
        return None if c is None else c.ns_per_coordinate / 2

    def floor_ns(self, bench: str, kind: str, vertices: int, per_ordinate: bool = True) -> float | None:
        r = self.floor.get(f"BM_{bench}/{KIND_INDEX[kind]}/{vertices}")
        if r is None:
            return None
        return r.ns / r.ordinates if per_ordinate else r.ns


def ratio(a: float | None, b: float | None) -> float | None:
    return None if a is None or b is None or b == 0 else a / b


def analyse(cases: list[Any], floor: dict[str, Any], sweep: list[int],
            line_vertices: int, polygon_vertices: int) -> dict[str, Any]:
    ix = Index(cases, floor)
    targets: list[dict[str, Any]] = []

    def target(name: str, case: str, measured: float | None, op: str, limit: float) -> None:
        passed = None if measured is None else (measured <= limit if op == "<=" else measured >= limit)
        targets.append({"target": name, "case": case, "measured": measured, "op": op,
                        "limit": limit, "passed": passed})

    line = f"LineString {line_vertices:,}"
    # Digits alone, and the whole conversion in C++ against Dragonbox's text alone,
    # per ordinate, on the 200,000 doubles of the large LineString, new to a branch
    # predictor as the values of real data are (the 2,000 of the small one, which come
    # round again and again, are in the ratios).
    big = f"LineString {BIG_LINE:,}"
    ours = ix.floor_ns("seventeen_digits", "random", BIG_LINE)
    dragonbox = ix.floor_ns("dragonbox_to_decimal", "random", BIG_LINE)
    target("digit generation <= 0.5x Dragonbox to_decimal", f"seventeen_digits, {big}, random",
           ratio(ours, dragonbox), "<=", 0.5)
    for kind in LINE_KINDS:
        core = ix.floor_ns("ewkb_to_ewkt", kind, BIG_LINE)
        text = ix.floor_ns("dragonbox_to_chars", kind, BIG_LINE)
        limit = TEXT_LIMITS[kind]
        target(f"C++ WKB->WKT <= {limit:g}x Dragonbox to_chars per ordinate",
               f"ewkb_to_ewkt, {big}, {kind}", ratio(core, text), "<=", limit)
    # Number reading per token, ours and fast_float's over the same text.
    for vertices in (line_vertices, BIG_LINE):
        for kind, limit in READER_TARGETS.items():
            target(f"number reading <= {limit:g}x fast_float per token",
                   f"read_number, LineString {vertices:,}, {kind}",
                   ratio(ix.floor_ns("read_number", kind, vertices),
                         ix.floor_ns("fast_float", kind, vertices)), "<=", limit)
    # From Python, polygons per coordinate: speed-up over the vectorized peers.
    for direction, limits in POLYGON_TARGETS.items():
        for peer, limit in limits.items():
            for kind in POLYGON_KINDS:
                q = ix.case("quorvel", "polygons", kind, direction, polygon_vertices)
                p = ix.case(peer, "polygons", kind, direction, polygon_vertices)
                target(f"{ARROW[direction]} polygons >= {limit:g}x {PEERS[peer]}",
                       f"{polygon_vertices} vertices, {kind}", ratio(p and p.ns, q and q.ns),
                       ">=", limit)
    hex_case = ix.by_name.get(("python", "bytes.hex() of a 21-byte point WKB"))
    for kind in ("lonlat", "one_two"):
        q = ix.case("quorvel", "point", kind, "wkb_to_wkt", 1)
        target("point WKB->WKT within 2x of bytes.hex() (21 bytes)", kind,
               ratio(q and q.ns, hex_case and hex_case.ns), "<=", 2)
    name = "WKT->WKB <= 1.5x bare read_number per ordinate"
    for kind in LINE_KINDS:
        bare = ix.floor_ns("read_number", kind, line_vertices)
        module = ix.per_ordinate("quorvel", kind, "wkt_to_wkb", line_vertices)
        target(name, f"module, {line}, {kind}", ratio(module, bare), "<=", 1.5)
        core = ix.floor_ns("write_ewkb", kind, line_vertices)
        target(name, f"C++ write_ewkb, {line}, {kind}", ratio(core, bare), "<=", 1.5)
    copy = ix.by_name.get(("python", "copy 1 MB: bytes(bytearray)"))
    header = [c for c in cases if c.group == "header" and c.impl == "quorvel"]
    for c in header:
        target("SRID header rewrite of 1 MB <= 2x a 1 MB copy", c.name,
               ratio(c.ns, copy and copy.ns), "<=", 2)

    # Ratios.
    ratios: dict[str, list[dict[str, Any]]] = {
        "speedup_vs_shapely": [], "polygons": [], "numbers": [], "readers": [],
        "sweep_speedup": [],
        "floor": [], "per_call": [], "header": []}
    seen = []
    for c in cases:
        if c.group == "matrix" and c.impl == "quorvel":
            s = ix.case("shapely", c.shape, c.kind, c.direction, c.vertices)
            label = c.name.rsplit(":", 1)[0]
            if label not in seen:
                seen.append(label)
            ratios["speedup_vs_shapely"].append({"input": label, "direction": c.direction,
                                                 "speedup": ratio(s and s.ns, c.ns)})
    for kind in POLYGON_KINDS:
        for direction in POLYGON_TARGETS:
            q = ix.case("quorvel", "polygons", kind, direction, polygon_vertices)
            if q is None:
                continue
            row = {"kind": kind, "direction": direction, "quorvel_ns": q.ns_per_coordinate}
            for peer in PEERS:
                p = ix.case(peer, "polygons", kind, direction, polygon_vertices)
                row[f"{peer}_ns"] = p and p.ns_per_coordinate
                row[f"vs_{peer}"] = ratio(p and p.ns, q.ns)
            ratios["polygons"].append(row)
    for vertices in (line_vertices, BIG_LINE):
        for kind in LINE_KINDS:
            row = {"kind": kind, "vertices": vertices,
                   **{f"{b}_ns": ix.floor_ns(b, kind, vertices) for b in NUMBER_BENCHES}}
            if all(v is None for k, v in row.items() if k.endswith("_ns")):
                continue
            row["ours_vs_to_decimal"] = ratio(row["seventeen_digits_ns"],
                                              row["dragonbox_to_decimal_ns"])
            row["ours_vs_to_decimal_zeros"] = ratio(row["seventeen_digits_ns"],
                                                    row["dragonbox_to_decimal_zeros_ns"])
            row["ewkb_vs_to_chars"] = ratio(row["ewkb_to_ewkt_ns"],
                                            row["dragonbox_to_chars_ns"])
            ratios["numbers"].append(row)
    for vertices in (line_vertices, BIG_LINE):
        for kind in LINE_KINDS:
            row = {"kind": kind, "vertices": vertices,
                   **{f"{b}_ns": ix.floor_ns(b, kind, vertices) for b in READER_BENCHES}}
            if row["read_number_ns"] is None:
                continue
            row["ours_vs_fast_float"] = ratio(row["read_number_ns"], row["fast_float_ns"])
            row["words_vs_fast_float"] = ratio(row["read_number_words_ns"], row["fast_float_ns"])
            ratios["readers"].append(row)
    for size in sweep:
        for kind in ("lonlat", "random"):
            row: dict[str, Any] = {"vertices": size, "kind": kind}
            for direction in ("wkb_to_wkt", "wkt_to_wkb"):
                q = ix.case("quorvel", "linestring", kind, direction, size)
                s = ix.case("shapely", "linestring", kind, direction, size)
                row[direction] = ratio(s and s.ns, q and q.ns)
            ratios["sweep_speedup"].append(row)
    for level in ("module", "C++ core"):
        for kind in LINE_KINDS:
            for size in (line_vertices, 100_000):
                fmt = ix.floor_ns("format_ordinate", kind, size)
                rn = ix.floor_ns("read_number", kind, size)
                fc = ix.floor_ns("from_chars", kind, size)
                if level == "module":
                    to_wkt = ix.per_ordinate("quorvel", kind, "wkb_to_wkt", size)
                    to_wkb = ix.per_ordinate("quorvel", kind, "wkt_to_wkb", size)
                    to_hex = ix.per_ordinate("quorvel", kind, "wkt_to_hex", size)
                else:
                    to_wkt = ix.floor_ns("ewkb_to_ewkt", kind, size)
                    to_wkb = ix.floor_ns("write_ewkb", kind, size)
                    to_hex = ix.floor_ns("write_ewkb_hex", kind, size)
                if to_wkt is None and to_wkb is None:
                    continue
                ratios["floor"].append({
                    "level": level, "kind": kind, "vertices": size,
                    "wkb_to_wkt_ns": to_wkt, "format_ordinate_ns": fmt,
                    "wkt_to_wkb_ns": to_wkb, "read_number_ns": rn, "from_chars_ns": fc,
                    "wkt_to_hex_ns": to_hex,
                    "wkb_to_wkt_vs_format": ratio(to_wkt, fmt),
                    "wkt_to_wkb_vs_read_number": ratio(to_wkb, rn),
                    "wkt_to_wkb_vs_from_chars": ratio(to_wkb, fc),
                    "wkt_to_hex_vs_read_number": ratio(to_hex, rn),
                })
    for direction, core_bench in (("wkb_to_wkt", "ewkb_to_ewkt"), ("wkt_to_wkb", "write_ewkb")):
        for kind in ("lonlat", "random", "one_two"):
            q = ix.case("quorvel", "point", kind, direction, 1)
            core = ix.floor_ns(core_bench, kind, 1, per_ordinate=False)
            ratios["per_call"].append({
                "direction": direction, "kind": kind, "module_ns": q and q.ns, "core_ns": core,
                "hex_ns": hex_case and hex_case.ns,
                "module_minus_core_ns": None if q is None or core is None else q.ns - core,
                "vs_hex": ratio(q and q.ns, hex_case and hex_case.ns)})
    for c in cases:
        if c.group == "header" and c.impl != "python":
            ratios["header"].append({"case": c.name, "ns": c.ns,
                                     "vs_copy": ratio(c.ns, copy and copy.ns)})
    return {"targets": targets, "ratios": ratios, "inputs": seen}


def render(analysis: dict[str, Any], cases: list[Any], floor: dict[str, Any],
           agreement: dict[str, Any]) -> str:
    ix = Index(cases, floor)
    parts = []
    rows = []
    for t in analysis["targets"]:
        verdict = "n/a" if t["passed"] is None else ("PASS" if t["passed"] else "FAIL")
        rows.append([t["target"], t["case"], fmt_ratio(t["measured"]),
                     f"{t['op']} {t['limit']:g}x", verdict])
    parts.append(table("TARGETS", ["target", "case", "measured", "limit", "result"], rows, 2))

    r = analysis["ratios"]
    by_input: dict[str, dict[str, float | None]] = {}
    for row in r["speedup_vs_shapely"]:
        by_input.setdefault(row["input"], {})[row["direction"]] = row["speedup"]
    directions = list(ARROW)
    rows = [[label, *(fmt_ratio(v.get(d)) for d in directions)] for label, v in by_input.items()]
    parts.append(table("RATIOS: quorvel speed-up over shapely, per call (shapely time / quorvel time)",
                       ["input", *(ARROW[d] for d in directions)], rows))
    rows = [[row["kind"], ARROW[row["direction"]], f"{row['quorvel_ns']:.1f}",
             *(x for peer in PEERS for x in (fmt_num(row[f"{peer}_ns"]),
                                              fmt_ratio(row[f"vs_{peer}"])))]
            for row in r["polygons"]]
    parts.append(table("RATIOS: polygons of 100 vertices, ns per coordinate (quorvel one call per "
                       "geometry; geoarrow-c and shapely vectorized)",
                       ["coordinates", "direction", "quorvel", "geoarrow-c", "speed-up",
                        "shapely", "speed-up"], rows, 2))
    rows = [[f"{row['vertices']:,}", row["kind"],
             *(fmt_num(row[f"{b}_ns"]) for b in NUMBER_BENCHES),
             fmt_ratio(row["ours_vs_to_decimal"]), fmt_ratio(row["ours_vs_to_decimal_zeros"]),
             fmt_ratio(row["ewkb_vs_to_chars"])]
            for row in r["numbers"]]
    if rows:
        parts.append(table("RATIOS: number text in C++, ns per double (the ordinates of a "
                           "LineString: 1,000 vertices come round again and again, 100,000 "
                           "are new to a branch predictor)",
                           ["vertices", "coordinates", *NUMBER_BENCHES.values(),
                            "digits/to_decimal", "digits/to_decimal zeros kept",
                            "ewkb_to_ewkt/to_chars"], rows, 2))
    rows = [[f"{row['vertices']:,}", row["kind"],
             *(fmt_num(row[f"{b}_ns"]) for b in READER_BENCHES),
             fmt_ratio(row["ours_vs_fast_float"]), fmt_ratio(row["words_vs_fast_float"])]
            for row in r["readers"]]
    if rows:
        parts.append(table("RATIOS: number reading in C++, ns per token (the ordinates of a "
                           "LineString as text, space-separated)",
                           ["vertices", "coordinates", *READER_BENCHES.values(),
                            "ours/fast_float", "words/fast_float"], rows, 2))
    rows = [[f"{row['vertices']:,}", row["kind"], fmt_ratio(row["wkb_to_wkt"]),
             fmt_ratio(row["wkt_to_wkb"])] for row in r["sweep_speedup"]]
    parts.append(table("RATIOS: speed-up over shapely by LineString size (1 = a point)",
                       ["vertices", "coordinates", "WKB->WKT", "WKT->WKB"], rows, 2))
    rows = [[row["level"], row["kind"], f"{row['vertices']:,}",
             fmt_ratio(row["wkb_to_wkt_vs_format"]), fmt_ratio(row["wkt_to_wkb_vs_read_number"]),
             fmt_ratio(row["wkt_to_wkb_vs_from_chars"]), fmt_ratio(row["wkt_to_hex_vs_read_number"])]
            for row in r["floor"]]
    parts.append(table("RATIOS: against the floor, ns per ordinate (conversion / bare loop)",
                       ["level", "coordinates", "vertices", "WKB->WKT/format", "WKT->WKB/read_number",
                        "WKT->WKB/from_chars", "WKT->hex/read_number"], rows, 2))
    rows = [[ARROW[row["direction"]], row["kind"], fmt_ns(row["module_ns"]), fmt_ns(row["core_ns"]),
             fmt_ns(row["module_minus_core_ns"]), fmt_ns(row["hex_ns"]), fmt_ratio(row["vs_hex"])]
            for row in r["per_call"]]
    parts.append(table("RATIOS: a point per call against bytes.hex() of the same 21 bytes",
                       ["direction", "point", "module", "C++ core", "module - core", "bytes.hex()",
                        "module/hex"], rows, 2))
    rows = [[row["case"], fmt_ns(row["ns"]), fmt_ratio(row["vs_copy"])] for row in r["header"]]
    parts.append(table("RATIOS: SRID on a 1 MB WKB against copying 1 MB",
                       ["case", "per call", "/ copy"], rows))

    # Absolute times, the best round of each case.
    rows = []
    by_name = {(c.impl, c.name): c for c in cases}
    for label in analysis["inputs"]:
        for d in directions:
            row = [label, ARROW[d]]
            for impl in ("quorvel", "shapely", "geoarrow"):
                c = by_name.get((impl, f"{label}: {d}"))
                row += [fmt_ns(c and c.ns_per_call), fmt_num(c and c.ns_per_coordinate)]
            rows.append(row)
    parts.append(table("TIMES: conversions (ns/coord = per vertex; per call = per geometry)",
                       ["input", "direction", "quorvel/call", "ns/coord", "shapely/call",
                        "ns/coord", "geoarrow-c/call", "ns/coord"], rows, 2))
    rows = []
    sizes = sorted({c.vertices for c in cases if c.group == "sweep"} | {1, 1000})
    for size in sizes:
        for kind in ("lonlat", "random"):
            row = [f"{size:,}", kind]
            for d in ("wkb_to_wkt", "wkt_to_wkb"):
                for impl in ("quorvel", "shapely"):
                    c = ix.case(impl, "linestring", kind, d, size)
                    row.append("-" if c is None else f"{c.ns_per_coordinate:.1f}")
            rows.append(row)
    parts.append(table("TIMES: ns per coordinate by LineString size (1 = a point)",
                       ["vertices", "coordinates", "WKB->WKT quorvel", "shapely",
                        "WKT->WKB quorvel", "shapely"], rows, 2))
    if floor:
        rows = [[name, fmt_ns(res.ns), f"{res.ns / res.ordinates:.1f}"]
                for name, res in sorted(floor.items(), key=lambda kv: floor_order(kv[0]))]
        parts.append(table("TIMES: C++ floor benchmark (arguments: coordinates 0 lonlat, "
                           "1 random, 2 POINT (1 2), 3 unit, 4 mixed; vertices)",
                           ["benchmark", "per iteration", "ns/ordinate"], rows))
    rows = [[c.impl, c.name, fmt_ns(c.ns)] for c in cases if c.group in ("per_call", "header")]
    parts.append(table("TIMES: per call", ["impl", "case", "best"], rows, 2))

    rows = []
    for label, a in agreement.items():
        rows.append([label, ", ".join(f"{k}={v}" for k, v in a.items())])
    parts.append(table("CHECK: outputs of the libraries on the same inputs (exact = the text "
                       "reads back to the input's doubles; same_wkb = quorvel's and shapely's "
                       "WKB of the WKT are the input's)", ["input", "result"], rows, 2))
    return "\n\n".join(parts)


def fmt_num(x: float | None) -> str:
    return "-" if x is None else f"{x:.1f}"


def floor_order(name: str) -> tuple:
    bench, kind, vertices = name.split("/")
    order = [f"BM_{b}" for b in NUMBER_BENCHES]
    order += [f"BM_{b}" for b in READER_BENCHES]
    order += ["BM_write_ewkb", "BM_write_ewkb_hex"]
    return (int(vertices) == 1, order.index(bench) if bench in order else 99, int(kind),
            int(vertices))


def plot(cases: list[Any], floor: dict[str, Any], path: Path) -> Path | None:
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot (pip install '.[bench]')")
        return None
    ix = Index(cases, floor)
    sizes = sorted({c.vertices for c in cases if c.group == "sweep"} | {1, 1000})
    fig, axes = plt.subplots(1, 2, figsize=(11, 4.5), sharey=True)
    colours = {"quorvel": "tab:blue", "shapely": "tab:orange"}
    styles = {"lonlat": "-", "random": "--"}
    for ax, direction in zip(axes, ("wkb_to_wkt", "wkt_to_wkb")):
        for impl in ("quorvel", "shapely"):
            for kind in ("lonlat", "random"):
                xs, ys = [], []
                for size in sizes:
                    c = ix.case(impl, "linestring", kind, direction, size)
                    if c is not None:
                        xs.append(size)
                        ys.append(c.ns_per_coordinate)
                ax.plot(xs, ys, styles[kind], color=colours[impl], marker="o", markersize=3,
                        label=f"{impl}, {kind}")
        bare = "format_ordinate" if direction == "wkb_to_wkt" else "read_number"
        level = ix.floor_ns(bare, "random", 1000)
        if level is not None:
            ax.axhline(2 * level, color="grey", linestyle=":",
                       label=f"C++ bare {bare}, 2 ordinates (random)")
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_title(ARROW[direction].replace("->", " -> "))
        ax.set_xlabel("vertices per geometry (1 = a point, otherwise a LineString)")
        ax.grid(True, which="both", alpha=0.3)
    axes[0].set_ylabel("ns per coordinate (best round, one call)")
    axes[0].legend(fontsize="small")
    axes[1].legend(fontsize="small")
    fig.suptitle("quorvel and shapely 2: cost per coordinate against geometry size")
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return path


# --- the figures of the README and docs/performance.md -----------------------------

DOC_KINDS = {"lonlat": "longitude/latitude with 6 or 7 decimals", "random": "full-precision doubles"}


def doc_ratio(r: float) -> str:
    return fmt_ratio(r).replace("x", "×")


def docs_figures(analysis: dict[str, Any], agreement: dict[str, Any], meta: dict[str, Any],
                 polygons: int, rounds: int) -> dict[str, str]:
    """Each place of the README and docs/performance.md that make bench writes: its text."""
    import figures

    r = analysis["ratios"]
    run = (f"the best of {rounds} rounds of one `make bench` run on {meta['date'][:10]}"
           f" ({figures.machine()}, CPython {meta['python']}, shapely {meta['shapely']} with GEOS"
           f" {meta['geos']}, geoarrow-c {meta['geoarrow_c']} with pyarrow {meta['pyarrow']}"
           + ("; a short run, --quick: provisional)" if meta["mode"] == "quick" else ")"))
    polygon_rows = {(row["kind"], row["direction"]): row for row in r["polygons"]}
    readme = figures.markdown_table(
        ["coordinates, direction", "quorvel", "geoarrow-c", "shapely"],
        [[f"{DOC_KINDS[kind]}, {ARROW[d].replace('->', ' → ')}", f"{row['quorvel_ns']:.1f}",
          fmt_num(row["geoarrow_ns"]), fmt_num(row["shapely_ns"])]
         for d in POLYGON_TARGETS for kind in DOC_KINDS if (row := polygon_rows.get((kind, d)))])
    table_polygons = figures.markdown_table(
        ["coordinates", "direction", "quorvel", "geoarrow-c", "speed-up", "shapely", "speed-up"],
        [[row["kind"], ARROW[row["direction"]].replace("->", " → "), f"{row['quorvel_ns']:.1f}",
          fmt_num(row["geoarrow_ns"]), "-" if row["vs_geoarrow"] is None else doc_ratio(row["vs_geoarrow"]),
          fmt_num(row["shapely_ns"]), "-" if row["vs_shapely"] is None else doc_ratio(row["vs_shapely"])]
         for d in POLYGON_TARGETS for row in r["polygons"] if row["direction"] == d])
    exact = {kind: agreement.get(f"{polygons:,} polygons x 100 vertices, {kind}", {}) for kind in POLYGON_KINDS}
    unit = exact["unit"]
    point = [row["speedup"] for row in r["speedup_vs_shapely"] if row["input"] == "point, lonlat"]
    groups: dict[str, list[dict[str, Any]]] = {}
    for t in analysis["targets"]:
        groups.setdefault(t["target"], []).append(t)
    targets = figures.markdown_table(
        ["target", "measured", "holds"],
        [[re.sub(r"(\d)x\b", "\\1×", name.replace("->", " → ").replace("<=", "≤").replace(">=", "≥")),
          ", ".join(f"{t['case']}: {'-' if t['measured'] is None else doc_ratio(t['measured'])}" for t in ts),
          "n/a" if any(t["passed"] is None for t in ts) else
          ("yes" if all(t["passed"] for t in ts) else
           "no: " + ", ".join(t["case"] for t in ts if not t["passed"]))]
         for name, ts in groups.items()])
    held = sum(t["passed"] is True for t in analysis["targets"])
    per_call: dict[str, dict[str, float | None]] = {}
    for row in r["speedup_vs_shapely"]:
        if row["input"] in ("point, lonlat", "LineString 1,000 vertices, lonlat",
                            "LineString 1,000 vertices, random"):
            per_call.setdefault(row["input"], {})[row["direction"]] = row["speedup"]
    return {
        "readme-polygons": f"Nanoseconds per coordinate on {polygons:,} polygons of 100 vertices, {run}; quorvel"
                           " one call per polygon, the others one vectorized call over the batch:\n\n" + readme,
        "readme-exact": (f"Of {unit.get('geometries', 0):,} polygons of full-precision doubles in [0, 1), the text of"
                         f" quorvel read back as the same doubles for {unit.get('quorvel_text_exact', 0):,}, that of"
                         f" geoarrow-c for {unit.get('geoarrow_text_exact', 0):,} and that of shapely for"
                         f" {unit.get('shapely_text_exact', 0):,}."),
        "point-speedup": f"{min(point):.0f} to {max(point):.0f} times" if point else "-",
        "measured": f"Measured with {run}.",
        "polygons": table_polygons,
        "exact": "Of the first polygons of each batch, how many read back to the same doubles from each"
                 " library's text:\n\n" + figures.markdown_table(
                     ["coordinates", "polygons", "quorvel", "geoarrow-c", "shapely"],
                     [[kind, f"{a.get('geometries', 0):,}", f"{a.get('quorvel_text_exact', 0):,}",
                       f"{a.get('geoarrow_text_exact', 0):,}", f"{a.get('shapely_text_exact', 0):,}"]
                      for kind, a in exact.items()]),
        "targets": f"{held} of {len(analysis['targets'])} measurements meet their target.\n\n" + targets,
        "per-call": figures.markdown_table(
            ["input", *(ARROW[d].replace("->", " → ") for d in ARROW)],
            [[label, *("-" if v.get(d) is None else doc_ratio(v[d]) for d in ARROW)]
             for label, v in per_call.items()]),
    }
