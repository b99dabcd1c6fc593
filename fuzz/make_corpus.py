#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets to fuzz/corpus/<target>/.

Geometries are generated (deterministically) as small trees and rendered both as
WKT and as WKB, so that every target starts from inputs that reach deep into its
code: every kind, every dimension, both byte orders, SRIDs, ISO codes, empty
members, nesting, and a few broken inputs next to the valid ones.  Only the
standard library is used.  Running it again rewrites the same files.
"""

from __future__ import annotations

import math
import random
import shutil
import struct
import sys
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
CORPUS = HERE / "corpus"

POINT, LINESTRING, POLYGON, MULTIPOINT, MULTILINESTRING, MULTIPOLYGON, COLLECTION = range(1, 8)
KEYWORDS = {
    POINT: "POINT",
    LINESTRING: "LINESTRING",
    POLYGON: "POLYGON",
    MULTIPOINT: "MULTIPOINT",
    MULTILINESTRING: "MULTILINESTRING",
    MULTIPOLYGON: "MULTIPOLYGON",
    COLLECTION: "GEOMETRYCOLLECTION",
}
MEMBER_KIND = {MULTIPOINT: POINT, MULTILINESTRING: LINESTRING, MULTIPOLYGON: POLYGON}
DIMS = ("", "Z", "M", "ZM")  # XY, XYZ, XYM, XYZM
ORDINATES = {"": 2, "Z": 3, "M": 3, "ZM": 4}
Z_FLAG, M_FLAG, SRID_FLAG = 0x80000000, 0x40000000, 0x20000000


@dataclass
class Geometry:
    kind: int
    dim: str
    # Point: one position or None (empty); LineString: positions; Polygon: rings;
    # Multi kinds and collections: members.  An empty list is the empty geometry.
    body: object = None
    members: list["Geometry"] = field(default_factory=list)


def number(rng: random.Random) -> float:
    choice = rng.random()
    if choice < 0.4:
        return float(rng.randint(-180, 180))
    if choice < 0.7:
        return round(rng.uniform(-1000, 1000), rng.randint(1, 6))
    if choice < 0.8:
        return rng.choice([0.1, 1e-7, 123456789.125, -0.0, 5e-324, 1.7976931348623157e308, 1e21])
    return rng.uniform(-1e6, 1e6)


def position(rng: random.Random, dim: str) -> list[float]:
    return [number(rng) for _ in range(ORDINATES[dim])]


def generate(rng: random.Random, kind: int, dim: str, depth: int = 0) -> Geometry:
    empty = rng.random() < 0.12
    if kind == POINT:
        return Geometry(kind, dim, None if empty else position(rng, dim))
    if kind == LINESTRING:
        return Geometry(kind, dim, [] if empty else [position(rng, dim) for _ in range(rng.randint(1, 4))])
    if kind == POLYGON:
        rings = [] if empty else [
            [position(rng, dim) for _ in range(rng.randint(1, 5))] for _ in range(rng.randint(1, 3))
        ]
        return Geometry(kind, dim, rings)
    if kind in MEMBER_KIND:
        count = 0 if empty else rng.randint(1, 3)
        return Geometry(kind, dim, None, [generate(rng, MEMBER_KIND[kind], dim, depth) for _ in range(count)])
    count = 0 if empty or depth >= 3 else rng.randint(1, 3)
    members = []
    for _ in range(count):
        # An XY collection may hold members of any dimension; a tagged one only its own.
        member_dim = rng.choice(DIMS) if dim == "" else dim
        members.append(generate(rng, rng.randint(1, 7), member_dim, depth + 1))
    return Geometry(kind, dim, None, members)


# --- WKT ---

def fmt(v: float) -> str:
    if v == int(v) and abs(v) < 1e15:
        return str(int(v))
    return repr(v)


def wkt_position(p: list[float]) -> str:
    return " ".join(fmt(v) for v in p)


def wkt_body(g: Geometry, bare_members: bool = False) -> str:
    if g.kind == POINT:
        return "EMPTY" if g.body is None else f"({wkt_position(g.body)})"
    if g.kind == LINESTRING:
        return "EMPTY" if not g.body else "(" + ", ".join(wkt_position(p) for p in g.body) + ")"
    if g.kind == POLYGON:
        if not g.body:
            return "EMPTY"
        return "(" + ", ".join("(" + ", ".join(wkt_position(p) for p in ring) + ")" for ring in g.body) + ")"
    if not g.members:
        return "EMPTY"
    if g.kind == MULTIPOINT and bare_members:
        return "(" + ", ".join("EMPTY" if m.body is None else wkt_position(m.body) for m in g.members) + ")"
    if g.kind in MEMBER_KIND:
        return "(" + ", ".join(wkt_body(m) for m in g.members) + ")"
    return "(" + ", ".join(wkt(m) for m in g.members) + ")"


def wkt(g: Geometry, bare_members: bool = False) -> str:
    tag = f" {g.dim}" if g.dim else ""
    return f"{KEYWORDS[g.kind]}{tag} {wkt_body(g, bare_members)}"


# --- WKB ---

def wkb(g: Geometry, little: bool = True, srid: int | None = None, iso: bool = False,
        member_srid: int | None = None, flip_members: bool = False) -> bytes:
    o = "<" if little else ">"
    code = g.kind
    if iso:
        code += {"": 0, "Z": 1000, "M": 2000, "ZM": 3000}[g.dim]
    else:
        code |= {"": 0, "Z": Z_FLAG, "M": M_FLAG, "ZM": Z_FLAG | M_FLAG}[g.dim]
    if srid is not None:
        code |= SRID_FLAG
    out = bytearray([1 if little else 0])
    out += struct.pack(o + "I", code)
    if srid is not None:
        out += struct.pack(o + "i", srid)
    n = ORDINATES[g.dim]

    def positions(ps: list[list[float]]) -> bytes:
        return b"".join(struct.pack(o + "d" * n, *p) for p in ps)

    if g.kind == POINT:
        out += positions([g.body if g.body is not None else [math.nan] * n])
    elif g.kind == LINESTRING:
        out += struct.pack(o + "I", len(g.body)) + positions(g.body)
    elif g.kind == POLYGON:
        out += struct.pack(o + "I", len(g.body))
        for ring in g.body:
            out += struct.pack(o + "I", len(ring)) + positions(ring)
    else:
        out += struct.pack(o + "I", len(g.members))
        for m in g.members:
            child_little = (not little) if flip_members else little
            out += wkb(m, child_little, member_srid, iso, member_srid, flip_members)
    return bytes(out)


# --- the corpus ---

def nested_collection(levels: int) -> str:
    return "GEOMETRYCOLLECTION (" * levels + "POINT EMPTY" + ")" * levels


def nested_collection_wkb(levels: int) -> bytes:
    out = b""
    for _ in range(levels):
        out += b"\x01" + struct.pack("<II", COLLECTION, 1)
    return out + b"\x01" + struct.pack("<I", POINT) + struct.pack("<dd", math.nan, math.nan)


def geometries(rng: random.Random) -> list[Geometry]:
    out = []
    for kind in range(1, 8):
        for dim in DIMS:
            out.append(generate(rng, kind, dim))
    return out


def wkt_seeds(rng: random.Random, geoms: list[Geometry]) -> list[bytes]:
    texts = []
    for i, g in enumerate(geoms):
        text = wkt(g, bare_members=i % 2 == 0)
        if i % 3 == 0:
            text = f"SRID={rng.choice([4326, 3857, 1, 0, -1, 2147483647])};{text}"
        if i % 4 == 1:
            text = text.lower()
        if i % 5 == 2:
            text = text.replace(" (", "(").replace(", ", ",")
        if i % 7 == 3:
            text = "\t " + text.replace(" ", "\u00a0", 1) + "\n\u3000"
        texts.append(text)
    texts += [
        "POINT(1e3 -2.5E-3)", "POINT(+1 .5)", "POINT(1. -0)", "POINT ZM (1 2 3 4)",
        "MULTIPOINT((1 2), 3 4, EMPTY)", "MULTIPOLYGON(EMPTY)", "GEOMETRYCOLLECTION(POINT Z (1 2 3))",
        "SRID=4326;POINT(1 2)", "srid = 4326 ; point(1 2)", nested_collection(127),
        # Broken ones: each stops at a different check.
        "", "POINT", "POINT(1 2", "POINT(1 2 3)", "POINT(1 2) x", "POINT(1e999 2)",
        "SRID=99999999999;POINT(1 2)", "SRID=;POINT(1 2)", "SRID=4326 POINT(1 2)",
        "GEOMETRYCOLLECTION Z (POINT(1 2))", "GEOMETRYCOLLECTION()", "POLYGON(EMPTY)",
        "LINESTRING()", "MULTIPOINT(POINT(1 2))", "POINT(1 2).", "CIRCLE(1 2)",
        "POINT(\u000b1 2)", "POINT(1\u00e92)", nested_collection(128),
        # Numbers on and near halfway points, at the ends of the range, with long digits.
        "POINT(9007199254740995.0 1e23)", "POINT(2.4703282292062328e-324 1.7976931348623158e308)",
        "POINT(4611686018427388416.000000000000000000001 2.2250738585072011e-308)",
    ]
    return [t.encode("utf-8") for t in texts]


def wkb_seeds(rng: random.Random, geoms: list[Geometry]) -> list[bytes]:
    seeds = []
    for i, g in enumerate(geoms):
        little = i % 3 != 1
        srid = [None, 4326, 0, -1][i % 4]
        iso = i % 5 == 4 and srid is None
        flip = i % 6 == 5
        member_srid = 3857 if i % 7 == 2 else None
        seeds.append(wkb(g, little, srid, iso, member_srid, flip))
    point = Geometry(POINT, "", [1.0, 2.0])
    seeds += [
        wkb(Geometry(POLYGON, "", [[]])),                          # a ring of no points
        wkb(Geometry(POINT, "", [math.nan, 1.0])),                 # a partly NaN point
        wkb(Geometry(POINT, "Z", [math.inf, -math.inf, 0.0])),     # infinite ordinates
        nested_collection_wkb(127),
        nested_collection_wkb(128),                                # one level too deep
        wkb(point)[:-1],                                           # cut short
        wkb(point) + b"\x00",                                      # one byte too many
        b"\x02" + wkb(point)[1:],                                  # bad marker
        b"\x01" + struct.pack("<I", 8) + bytes(16),                # unknown type code
        b"\x01" + struct.pack("<I", 1001 | Z_FLAG) + bytes(24),    # flagged ISO code
        b"\x01" + struct.pack("<I", 1 | 0x10000000 | SRID_FLAG) + struct.pack("<i", 0) + bytes(16),
        b"\x01" + struct.pack("<I", 1 | SRID_FLAG) + b"\xe6\x10",  # SRID cut off
        b"\x01" + struct.pack("<II", LINESTRING, 0xFFFFFFFF),      # huge count, no data
        b"\x01" + struct.pack("<II", MULTIPOINT, 1) + wkb(Geometry(LINESTRING, "", [])),
        b"\x01" + struct.pack("<II", MULTIPOINT, 1) + wkb(Geometry(POINT, "Z", [1.0, 2.0, 3.0])),
        b"\x01" + struct.pack("<II", COLLECTION | Z_FLAG, 1) + wkb(point),
        b"", b"\x01", b"\x00\x00\x00\x00\x01",
    ]
    return seeds


def hex_seeds(rng: random.Random, wkbs: list[bytes]) -> list[bytes]:
    texts = []
    for i, b in enumerate(wkbs[:30]):
        text = b.hex()
        text = text.upper() if i % 3 == 0 else text if i % 3 == 1 else "".join(
            c.upper() if rng.random() < 0.5 else c for c in text)
        texts.append(text)
    texts += ["", "0", "0G", "G0", "0101x0", " 01", "\u00e90", "\u00e901", "0x0101", "aBcD", "0F"]
    return [t.encode("utf-8") for t in texts]


def header_seeds(wkbs: list[bytes]) -> list[bytes]:
    point = struct.pack("<dd", 1.0, 2.0)
    seeds = [b for b in wkbs if len(b) < 400][:30]
    seeds += [
        b"\x01" + struct.pack("<I", 1 | SRID_FLAG) + struct.pack("<i", 4326) + point,
        b"\x00" + struct.pack(">I", 1) + struct.pack(">dd", 1.0, 2.0),
        b"\x01" + struct.pack("<I", 1 | Z_FLAG | M_FLAG) + bytes(32),
        b"\x01" + struct.pack("<I", 1),                                  # header only
        b"\x01" + struct.pack("<I", 1 | SRID_FLAG) + struct.pack("<i", 0) + point,
        b"\x01" + struct.pack("<I", 1 | SRID_FLAG) + b"\xff\xff\xff\xff" + point,
        b"\x01" + struct.pack("<I", 99 | SRID_FLAG) + struct.pack("<i", 7),
        b"\x01" + struct.pack("<I", 1001) + struct.pack("<ddd", 1, 2, 3),
        b"\x01" + struct.pack("<I", 1 | 0x10000000) + point,
        b"\x01" + struct.pack("<I", 1 | 0x10000000 | SRID_FLAG) + struct.pack("<i", 0) + point,
        b"\x01" + struct.pack("<I", 4) + b"\x00\x00\x00\x00" + b"\x00",
        b"\x01" + struct.pack("<I", 1 | SRID_FLAG) + b"\x01\x02",
        b"\x01" + struct.pack("<I", 2 | SRID_FLAG) + struct.pack("<iI", 4326, 1) + point + b"\x00",
        # A header that takes the round trip, on a point the WKT grammar cannot carry.
        b"\x01" + struct.pack("<II", MULTIPOINT | M_FLAG, 1) + b"\x01"
        + struct.pack("<I", POINT | M_FLAG) + struct.pack("<ddd", math.nan, math.nan, 0.5),
        b"\x00\x01", b"",
    ]
    return seeds


def write(target: str, seeds: list[bytes]) -> None:
    directory = CORPUS / target
    if directory.exists():
        shutil.rmtree(directory)
    directory.mkdir(parents=True)
    seen = set()
    index = 0
    for seed in seeds:
        if seed in seen:
            continue
        seen.add(seed)
        (directory / f"seed-{index:03d}").write_bytes(seed)
        index += 1
    print(f"{target}: {index} files")


def main() -> int:
    rng = random.Random(20240607)
    geoms = geometries(rng)
    wkbs = wkb_seeds(rng, geoms)
    write("fuzz_wkt_to_wkb", wkt_seeds(rng, geoms))
    write("fuzz_wkb_to_wkt", wkbs)
    write("fuzz_hex", hex_seeds(rng, wkbs))
    headers = header_seeds(wkbs)
    write("fuzz_header_rewrite", headers)
    write("fuzz_header_srid", headers)
    return 0


if __name__ == "__main__":
    sys.exit(main())
