"""Tiny WKB/EWKB builders for tests, on struct alone.

Every builder returns the bytes of one complete geometry.  ``order`` is "<"
(little-endian, marker 1) or ">" (big-endian, marker 0).  ``dim`` is "XY",
"XYZ", "XYM" or "XYZM"; by default the type word carries EWKB Z/M flags, with
``iso=True`` the ISO offset (1000, 2000, 3000) instead.  ``srid`` adds the SRID
flag and field.
"""

import struct

LE = "<"
BE = ">"

Z_FLAG = 0x80000000
M_FLAG = 0x40000000
SRID_FLAG = 0x20000000

POINT, LINESTRING, POLYGON = 1, 2, 3
MULTIPOINT, MULTILINESTRING, MULTIPOLYGON, GEOMETRYCOLLECTION = 4, 5, 6, 7

ORDINATES = {"XY": 2, "XYZ": 3, "XYM": 3, "XYZM": 4}
FLAGS = {"XY": 0, "XYZ": Z_FLAG, "XYM": M_FLAG, "XYZM": Z_FLAG | M_FLAG}
ISO_OFFSET = {"XY": 0, "XYZ": 1000, "XYM": 2000, "XYZM": 3000}

NAN = float("nan")


def type_word(code, dim="XY", *, iso=False, srid_flag=False):
    word = code + ISO_OFFSET[dim] if iso else code | FLAGS[dim]
    return word | (SRID_FLAG if srid_flag else 0)


def raw_header(word, order=LE, srid=None):
    """Marker and an arbitrary type word; the SRID field when ``srid`` is given."""
    out = struct.pack(order + "BI", 1 if order == LE else 0, word)
    if srid is not None:
        out += struct.pack(order + "i", srid)
    return out


def header(code, dim="XY", order=LE, srid=None, iso=False):
    return raw_header(type_word(code, dim, iso=iso, srid_flag=srid is not None), order, srid)


def u32(n, order=LE):
    return struct.pack(order + "I", n)


def f64s(values, order=LE):
    return struct.pack(order + "%dd" % len(values), *values)


def positions(points, order=LE):
    return u32(len(points), order) + b"".join(f64s(p, order) for p in points)


def point(coords, dim=None, order=LE, srid=None, iso=False):
    dim = dim or ("XY", "XY", "XY", "XYZ", "XYZM")[len(coords)]
    return header(POINT, dim, order, srid, iso) + f64s(coords, order)


def empty_point(dim="XY", order=LE, srid=None, iso=False):
    return point((NAN,) * ORDINATES[dim], dim, order, srid, iso)


def linestring(points, dim="XY", order=LE, srid=None, iso=False):
    return header(LINESTRING, dim, order, srid, iso) + positions(points, order)


def polygon(rings, dim="XY", order=LE, srid=None, iso=False):
    body = u32(len(rings), order) + b"".join(positions(r, order) for r in rings)
    return header(POLYGON, dim, order, srid, iso) + body


def collection(code, members, dim="XY", order=LE, srid=None, iso=False):
    """A Multi kind or a GeometryCollection of already built member bytes."""
    return header(code, dim, order, srid, iso) + u32(len(members), order) + b"".join(members)


def multipoint(members, dim="XY", order=LE, srid=None, iso=False):
    return collection(MULTIPOINT, members, dim, order, srid, iso)


def multilinestring(members, dim="XY", order=LE, srid=None, iso=False):
    return collection(MULTILINESTRING, members, dim, order, srid, iso)


def multipolygon(members, dim="XY", order=LE, srid=None, iso=False):
    return collection(MULTIPOLYGON, members, dim, order, srid, iso)


def geometrycollection(members, dim="XY", order=LE, srid=None, iso=False):
    return collection(GEOMETRYCOLLECTION, members, dim, order, srid, iso)
