#!/usr/bin/env python3
"""Generate tests/data/conformance.tsv from the installed module (x86-64).

Usage (from the repository root, in the environment that `make install` made):

    .venv/bin/python tools/gen_conformance.py

Every input below goes through the module functions of its kind, and the table keeps
each call with its exact result or error text (format: tests/conformance_table.py).
The suite checks the module against the table (tests/test_conformance.py), and
verify/conformance.cpp checks the core against it natively and on the emulated
machines (`make test-cross`).  Regenerate only when a behaviour changes on purpose,
and read the diff: every changed line is a changed result.
"""

from __future__ import annotations

import math
import pathlib
import random
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))

import conformance_table as table  # noqa: E402
from wkb_helpers import (  # noqa: E402
    BE,
    GEOMETRYCOLLECTION,
    LE,
    LINESTRING,
    MULTIPOINT,
    NAN,
    ORDINATES,
    SRID_FLAG,
    empty_point,
    geometrycollection,
    header,
    linestring,
    multilinestring,
    multipoint,
    multipolygon,
    point,
    polygon,
    raw_header,
    u32,
)

DIMS = ("XY", "XYZ", "XYM", "XYZM")
SRIDS = (4326, 1, 0, -1, 2147483647, -2147483648)

# The calls of every WKB input: bytes, its hex text (lower case for big-endian
# input, so both cases are read) and each header function.
WKB_CALLS = (
    ("wkb_to_wkt", {}, "bytes"),
    ("wkb_to_wkt", {"srid": False}, "bytes"),
    ("wkb_to_wkt_split_srid", {}, "bytes"),
    ("hex_wkb_to_wkt", {"srid": -1}, "hex"),
    ("to_wkt", {"srid": 4326}, "hex"),
    ("to_hex_wkb", {"srid": False}, "bytes"),
    ("to_wkb_no_srid_header", {}, "bytes"),
    ("to_ewkb_header", {"srid": 3857}, "bytes"),
    ("to_ewkb_header", {"srid": 2147483647}, "hex"),
    ("wkb_header_srid", {}, "bytes"),
    ("wkb_header_srid", {"include_unknown": True}, "hex"),
)

# Fewer calls where the input varies one thing many times: the text of numbers, the
# header's fields, the nesting, every truncation.
WKB_TEXT = (("wkb_to_wkt", {}, "bytes"), ("hex_wkb_to_wkt", {"srid": 3857}, "hex"))
WKB_BRIEF = WKB_TEXT + (
    ("to_ewkb_header", {"srid": 3857}, "bytes"),
    ("wkb_header_srid", {"include_unknown": True}, "bytes"),
)

# The calls of every WKT input.
WKT_CALLS = (
    ("wkt_to_wkb", {}),
    ("wkt_to_wkb", {"srid": False}),
    ("wkt_to_hex_wkb", {}),
    ("wkt_to_hex_wkb", {"srid": False}),
    ("wkt_to_wkb_split_srid", {}),
    ("to_wkt", {"normalize_wkt": True}),
    ("to_wkt", {"srid": 3857}),
    ("to_hex_wkb", {"srid": 4326}),
)
WKT_BRIEF = (("wkt_to_wkb", {}), ("wkt_to_hex_wkb", {}), ("to_wkt", {"normalize_wkt": True}))


def hex_text(wkb, order=LE):
    text = wkb.hex()
    return text if order == BE else text.upper()


def values(dim, start=1.0):
    return tuple(start + i for i in range(ORDINATES[dim]))


# --- WKB inputs ---


def wkb_shapes(dim, order, srid):
    """One geometry of every kind, with members and empties, in one dimension."""
    n = ORDINATES[dim]
    pt = values(dim)
    line = [values(dim, 1.5), values(dim, -2.25), values(dim, 1e-3)]
    ring = [values(dim, 0.0), values(dim, 1.0), values(dim, 2.0), values(dim, 0.0)]
    member_order = BE if order == LE else LE  # members in the other byte order
    kw = {"order": order, "srid": srid}
    yield "Point", point(pt, dim, **kw)
    yield "empty Point", empty_point(dim, **kw)
    yield "Point with one NaN", point((NAN,) + pt[1:], dim, **kw)
    yield "LineString", linestring(line, dim, **kw)
    yield "empty LineString", linestring([], dim, **kw)
    yield "Polygon with an empty ring", polygon([ring, [], line[:1]], dim, **kw)
    yield "empty Polygon", polygon([], dim, **kw)
    yield "MultiPoint", multipoint(
        [
            point(pt, dim, order),
            empty_point(dim, member_order, srid=7),
            point(pt[::-1], dim, member_order),
        ],
        dim,
        **kw,
    )
    yield "MultiLineString", multilinestring(
        [linestring(line, dim, member_order), linestring([], dim, order)], dim, **kw
    )
    yield "MultiPolygon", multipolygon(
        [polygon([ring], dim, member_order), polygon([], dim, order)], dim, **kw
    )
    yield "empty MultiPolygon", multipolygon([], dim, **kw)
    members = [
        point(pt, dim, member_order, srid=99),
        linestring(line, dim, order),
        geometrycollection([], dim),
    ]
    yield "GeometryCollection", geometrycollection(members, dim, **kw)
    yield "empty GeometryCollection", geometrycollection([], dim, **kw)
    if n == 2:
        yield "XY GeometryCollection of every dimension", geometrycollection(
            [point(values(d), d, member_order) for d in DIMS], dim, **kw
        )


def nested(depth, order, innermost=None):
    """depth GeometryCollections one in the other; the innermost holds innermost."""
    inner = geometrycollection([innermost] if innermost else [], order=order)
    for _ in range(depth - 1):
        inner = geometrycollection([inner], order=order)
    return inner


# Doubles whose text exercises every branch of the shortest-digit writer.
NUMBERS = [
    0.0,
    -0.0,
    1.0,
    -1.5,
    0.1,
    0.2,
    0.3,
    1 / 3,
    2 / 3,
    1e-7,
    1.5e-5,
    123456789.125,
    9007199254740992.0,
    9007199254740994.0,
    1e15,
    1e16,
    1e17,
    1e21,
    1e22,
    1e23,
    12345678901234567890.0,
    0.30000000000000004,
    5e-324,
    2.2250738585072014e-308,
    2.225073858507201e-308,
    1.7976931348623157e308,
    4.35e-10,
    100.0,
    1e-300,
    -123.456,
    98765.4321,
    3.141592653589793,
    2.718281828459045,
    6.02214076e23,
    1.602176634e-19,
    299792458.0,
    0.5,
    0.25,
    0.125,
    1024.0,
    4294967296.0,
    18446744073709551616.0,
    math.inf,
    -math.inf,
    NAN,
]


def random_doubles(count, seed):
    rng = random.Random(seed)
    out = []
    while len(out) < count:
        (v,) = struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))
        if math.isfinite(v):
            out.append(v)
    return out


def type_word_inputs(order):
    """Stray and unknown flag bits, ISO codes beside flags, unsupported codes."""
    for word in (
        0x00010001,
        0x10000001,
        SRID_FLAG | 1001,
        0x80000000 | 1001,
        0x40000000 | 2001,
        0,
        8,
        99,
        1000,
        1008,
        3000,
        0xFFFF,
        0xFFFFFFFF,
        SRID_FLAG | 99,
    ):
        srid_field = struct.pack(order + "i", 5) if word & SRID_FLAG else b""
        for n in (2, 3):
            ordinates = struct.pack(order + "3d", 1.0, 2.0, 3.0)[: 8 * n]
            yield f"type word {word:#x}, {n} ordinates", raw_header(
                word, order
            ) + srid_field + ordinates


def member_inputs(order):
    """Member checks, counts past the data, trailing bytes."""
    yield "MultiPoint with an XYZ member", multipoint(
        [point((1.0, 2.0, 3.0), "XYZ", order)], order=order
    )
    yield "XYZ GeometryCollection with an XY member", geometrycollection(
        [point((1.0, 2.0), order=order)], "XYZ", order
    )
    yield "MultiPolygon with a LineString member", multipolygon(
        [linestring([], order=order)], order=order
    )
    yield "MultiPolygon with a type 9 member", multipolygon([raw_header(9, order)], order=order)
    yield "XYM MultiPoint with an XYZ member", multipoint(
        [point((1.0, 2.0, 3.0), "XYZ", order)], "XYM", order
    )
    yield "LineString claiming 2^32 - 1 points", header(LINESTRING, order=order) + u32(
        0xFFFFFFFF, order
    ) + bytes(20)
    yield "MultiPoint claiming 2^32 - 1 members", header(MULTIPOINT, order=order) + u32(
        0xFFFFFFFF, order
    )
    yield "trailing byte", point((1.0, 2.0), order=order) + b"\x00"
    yield "9 trailing bytes", point((1.0, 2.0), order=order, srid=4326) + bytes(9)


def wkb_inputs():
    """(comment, bytes, byte order, calls) of every WKB input."""
    for order in (LE, BE):
        name = "little-endian" if order == LE else "big-endian"
        for dim in DIMS:
            for srid in (None, 4326) if dim in ("XY", "XYZM") else (None,):
                for what, wkb in wkb_shapes(dim, order, srid):
                    yield f"{name} {dim} {what}, SRID {srid}", wkb, order, WKB_CALLS
        for dim in ("XYZ", "XYM", "XYZM"):
            yield f"{name} ISO {dim} Point", point(
                values(dim), dim, order, iso=True
            ), order, WKB_CALLS
            yield f"{name} ISO {dim} LineString", linestring(
                [values(dim)] * 2, dim, order, iso=True
            ), order, WKB_CALLS
        for srid in SRIDS:
            yield f"{name} Point with SRID {srid}", point(
                (1.0, 2.0), order=order, srid=srid
            ), order, WKB_CALLS
        for what, wkb in (*type_word_inputs(order), *member_inputs(order)):
            yield f"{name} {what}", wkb, order, WKB_BRIEF
        yield f"{name} numbers", linestring(
            [(v, -v) for v in NUMBERS], order=order
        ), order, WKB_TEXT
        pairs = list(zip(*[iter(random_doubles(60, 16 + len(order)))] * 2))
        yield f"{name} random doubles", linestring(pairs, order=order), order, WKB_TEXT
        deepest = nested(128, order)
        yield f"{name} 128 nested collections", deepest, order, WKB_BRIEF
        with_srid = header(GEOMETRYCOLLECTION, order=order, srid=3) + deepest[5:]
        yield f"{name} 128 nested collections, SRID", with_srid, order, WKB_BRIEF
        yield f"{name} 129 nested collections", nested(129, order), order, WKB_BRIEF
        around = nested(128, order, point((1.0, 2.0), order=order))
        yield f"{name} 128 nested collections around a Point", around, order, WKB_BRIEF
        # Every truncation of one geometry that holds every field kind.
        whole = polygon([[(1.0, 2.0, 3.0)]], "XYZ", order, srid=4326)
        gc = geometrycollection([whole, point((4.0, 5.0), order=LE)], order=order, srid=31)
        for length in range(len(gc)):
            yield f"{name} {length} of {len(gc)} bytes", gc[:length], order, WKB_BRIEF
    for marker in (2, 0x80, 0xFF):
        yield f"marker {marker}", bytes([marker]) + point((1.0, 2.0))[1:], LE, WKB_BRIEF


# --- WKT inputs ---

KEYWORDS = (
    "POINT",
    "LINESTRING",
    "POLYGON",
    "MULTIPOINT",
    "MULTILINESTRING",
    "MULTIPOLYGON",
    "GEOMETRYCOLLECTION",
)
TAGS = {"XY": "", "XYZ": " Z", "XYM": " M", "XYZM": " ZM"}


def position_text(dim, start=1):
    return " ".join(str(start + i) for i in range(ORDINATES[dim]))


def wkt_shapes(dim):
    tag = TAGS[dim]
    p = position_text(dim)
    q = position_text(dim, 10)
    line = f"({p}, {q}, {p})"
    yield f"POINT{tag} ({p})"
    yield f"LINESTRING{tag} {line}"
    yield f"POLYGON{tag} ({line}, {line})"
    yield f"MULTIPOINT{tag} (({p}), EMPTY, ({q}))"
    yield f"MULTIPOINT{tag} ({p}, {q})"
    yield f"MULTILINESTRING{tag} ({line}, EMPTY)"
    yield f"MULTIPOLYGON{tag} (({line}), EMPTY, (({q}, {p})))"
    yield f"GEOMETRYCOLLECTION{tag} (POINT{tag} ({p}), LINESTRING{tag} EMPTY, GEOMETRYCOLLECTION{tag} EMPTY)"
    for keyword in KEYWORDS:
        yield f"{keyword}{tag} EMPTY"


def wkt_inputs():
    for dim in DIMS:
        yield from wkt_shapes(dim)
    yield "GEOMETRYCOLLECTION (POINT Z (1 2 3), POINT M (1 2 3), POINT ZM (1 2 3 4), POINT (1 2))"
    # Case, spacing and whitespace of every kind.
    yield "point z (1 2 3)"
    yield "GeometryCollection(Point(1 2),LineString(1 2,3 4))"
    yield "MultiPolygon(((0 0,1 0,1 1,0 0)),((5 5,6 5,5 5)))"
    yield "point zm(1 2 3 4)"
    yield "POINT Z(1 2 3)"
    yield "\t\n\f\rPOINT\t(\n1\r2\f)\t\n"
    yield "\u00a0\u3000POINT\u2028(1\u20002)\u205f\u0085"
    yield "POINT\u00a0Z(1 2 3)"
    yield "POINT(1 2)\u000b"
    yield "POINT(1 2\u000b)"
    yield "POINT(\u000b1 2)"
    yield "\u00a0\u000bPOINT(1 2)"
    yield "  POINT (1 2)  "
    # SRID prefixes.
    for prefix in (
        "SRID=4326;",
        "srid=4326; ",
        "SRID=4326 ;",
        "SRID=0;",
        "SRID=-1;",
        "SRID=2147483647;",
        "SRID=-2147483648;",
        "SRID=0004326;",
        "SRID=2147483648;",
        "SRID=-2147483649;",
        "SRID=;",
        "SRID=+5;",
        "SRID=-;",
        "SRID=4326 ",
        "SRID = 4326;",
        "SRID=abc;",
        "sRiD=7;",
    ):
        yield prefix + "POINT(1 2)"
    # Texts that end inside the prefix.
    yield from ("SRID=", "SRID=-", "SRID=12")
    # Texts that end where a token is wanted.
    yield from ("POINT", "POINT Z", "POINT(", "POINT(1", "POINT(1 ", "POINT(1 2",
                "LINESTRING(1 2", "LINESTRING(1 2,", "MULTIPOINT((1 2)", "GEOMETRYCOLLECTION(")
    # A control character that is '=' with the lower-case bit set.
    yield "SRID\x1d5;POINT(1 2)"
    yield "SRID=3857;GEOMETRYCOLLECTION(POINT(1 2))"
    yield "GEOMETRYCOLLECTION(SRID=4326;POINT(1 2))"
    # Grammar errors, with excerpts and character displays of every kind.
    yield from (
        "POINTZ(1 2 3)",
        "POINT MZ (1 2 3)",
        "POINT ZMX (1 2)",
        "MULTIPOINTM EMPTY",
        "POINT EMPTYX",
        "POINT EMPTY)",
        "POINT(1 2",
        "POINT(1 2,3)",
        "POINT(1 2 3)",
        "LINESTRING(1 2 3, 4 5 6)",
        "POINT(nan 1)",
        "POINT(inf 1)",
        "POLYGON(EMPTY)",
        "MULTIPOLYGON(EMPTY)",
        "MULTIPOINT(EMPTY)",
        "MULTIPOINT(POINT(1 2))",
        "GEOMETRYCOLLECTION()",
        "GEOMETRYCOLLECTION Z (POINT(1 2))",
        "",
        "   ",
        "\u3000",
        "POINT(1 2) x",
        "POINT(1 2) \u00e9t\u00e9",
        "POINT(1 2)\u2603\u2603",
        "POINT(1 2 \u00e9)",
        "POINT(1 2 \u0301)",
        "POINT(1 2 \u200b)",
        "POINT(1 2 \u0000)",
        "POINT(1 2\t\u007f)",
        "POINT(1 2 ')",
        "POINT(1 2 \\)",
        'POINT(1 2 ")',
        "POINT(1 2 \U0001f600)",
        "POINT(1 2 \ud7ff)",
        "POINT(\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9)",
        "\u00c9POINT(1 2)",
        "P\u00d6INT(1 2)",
        "POINT\u00e9(1 2)",
        "POINT(1\u00a02)",
        "POINTS(1 2)",
        "LINESTRING(1 2)",
        "LINESTRING(1 2,)",
        "POLYGON((1 2, 3 4)",
        "POLYGON((1 2),(3 4)) (",
        "MULTIPOLYGON(((1 2)),((3 4))",
        "GEOMETRYCOLLECTION(POINT(1 2) POINT(3 4))",
        "POINT((1 2))",
        "X" * 30,
        "\u00e9" * 30,
        "POINT(" + "9" * 30 + "x)",
    )


def wkt_brief_inputs():
    """Texts of numbers the reader must round exactly, and nesting."""
    for number in (
        "0.1",
        ".5",
        "+1.",
        "-0",
        "1e-320",
        "4.9406564584124654e-324",
        "2.4703282292062327e-324",
        "2.2250738585072011e-308",
        "1.7976931348623157e308",
        "1.7976931348623158e308",
        "9007199254740993",
        "123456789012345678901234567890e-30",
        "1E+21",
        "7.2057594037927933e16",
        "0.000000000000000000000000000001",
        # zero beyond the exact powers: refused before the product path
        "0e100",
        "-0e-100",
        "1" * 40,
        "0." + "3" * 800,
        "1" + "0" * 400 + "e-400",
        "1e999",
        "-1e999",
        "1-2",
        "1e",
        ".",
        "+",
        "1.2.3",
        "--1",
        "1e+",
        "0x10",
    ):
        yield f"POINT({number} 1)"
    # Zero with 18 and 19 fraction digits and 32 bytes of text after it: the long
    # fraction's path, which refuses it before any product.
    yield "LINESTRING(0.000000000000000000 -0.00000000000000000, 1 2, 3 4, 5 6, 7 8)"
    rng = random.Random(16)
    texts = [repr(v) for v in random_doubles(60, 3)] + [
        f"{rng.uniform(-180, 180):.{rng.randint(0, 12)}f}" for _ in range(60)
    ]
    yield "LINESTRING(" + ", ".join(f"{a} {b}" for a, b in zip(texts[::2], texts[1::2])) + ")"
    # Nesting at the limit and past it.
    yield "GEOMETRYCOLLECTION(" * 127 + "GEOMETRYCOLLECTION EMPTY" + ")" * 127
    yield "GEOMETRYCOLLECTION(" * 128 + "GEOMETRYCOLLECTION EMPTY" + ")" * 128
    yield "GEOMETRYCOLLECTION(" * 128 + "POINT(1 2)" + ")" * 128
    yield "GEOMETRYCOLLECTION Z(" * 127 + "POINT Z(1 2 3)" + ")" * 127


# --- hex text ---


def hex_inputs():
    point_hex = point((1.0, 2.0)).hex()
    yield from (
        "",
        "0",
        "0G",
        "G0",
        "0101x0",
        "ABCD",
        "ABC",
        "aBcD",
        "0x" + point_hex,
        " " + point_hex,
        "  " + point_hex,
        point_hex + "\n",
        "\u00e90",
        "\u00e900",
        point_hex.upper(),
        point_hex.lower(),
    )


def hex_sweep_inputs():
    """A bad digit at every position of a long text: the block and the pair decoders."""
    long_hex = linestring([(1.5, 2.5)] * 3).hex().upper()
    for i in range(0, 48):
        for bad in ("g", "\u00e9"):
            yield long_hex[:i] + bad + long_hex[i + 1 :]
    yield long_hex[:-1]


HEX_CALLS = (
    ("hex_wkb_to_wkt", {}),
    ("to_wkt", {}),
    ("to_wkb", {}),
    ("to_hex_wkb", {}),
    ("to_ewkb_header", {"srid": 5}),
    ("wkb_header_srid", {}),
)
HEX_BRIEF = (("hex_wkb_to_wkt", {}), ("to_wkb", {}))


def lines():
    yield "# Generated by tools/gen_conformance.py from the x86-64 module; format: tests/conformance_table.py"
    yield "# function\targuments\tinput\tresult\tsecond"
    for comment, wkb, order, calls in wkb_inputs():
        yield f"# {comment}"
        for function, kwargs, kind in calls:
            source = wkb if kind == "bytes" else hex_text(wkb, order)
            yield call(function, kwargs, source)
    groups = (
        ("WKT text", wkt_inputs, WKT_CALLS),
        ("WKT numbers and nesting", wkt_brief_inputs, WKT_BRIEF),
        ("hex text", hex_inputs, HEX_CALLS),
        ("a bad hex digit at every position", hex_sweep_inputs, HEX_BRIEF),
    )
    for comment, inputs, calls in groups:
        yield f"# {comment}"
        for text in inputs():
            for function, kwargs in calls:
                yield call(function, kwargs, text)


def call(function, kwargs, source):
    result, second = table.run(function, kwargs, source)
    return "\t".join(
        (function, table.encode_arguments(kwargs), table.encode(source), result, second)
    )


def main():
    text = "\n".join(lines()) + "\n"
    table.TABLE.write_text(text, encoding="ascii")
    cases = sum(1 for line in text.splitlines() if not line.startswith("#"))
    print(f"{table.TABLE.relative_to(ROOT)}: {cases} cases, {len(text)} bytes")


if __name__ == "__main__":
    main()
