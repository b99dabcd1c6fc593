"""Benchmark inputs: deterministic coordinates and the geometries built from them.

Coordinates come from SplitMix64 with a fixed seed, so that bench/floor.cpp, which
implements the same generator, works on exactly the same doubles.  Four kinds:

- ``lonlat``: real-looking longitudes/latitudes rounded to 6 or 7 decimals;
- ``random``: full-precision uniform doubles in the same ranges (17 significant
  digits in most cases);
- ``unit``: full-precision uniform doubles in [0, 1);
- ``mixed``: numbers whose shortest text has 1 to 17 significant digits, each count
  equally often, with the leading digit at 10^-1 to 10^2 (0.1 to 999.9...), either
  sign: see mixed_ordinate().

The polygon batch is made with numpy from the same seed; it is used from Python only
(numpy is imported only there, so that bench/profile.py starts quickly).
"""

from __future__ import annotations

import math
import struct
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    import numpy as np

SEED = 0x5EED_C0DE_2024
MASK64 = (1 << 64) - 1
KINDS = ("lonlat", "random", "unit", "mixed")
POLYGON_KINDS = ("lonlat", "random", "unit")
SWEEP_KINDS = ("lonlat", "random")
# Seed offsets per kind: the kinds are independent streams.
KIND_SEED = {"lonlat": SEED, "random": SEED ^ 0xA5A5_A5A5_A5A5_A5A5,
             "unit": SEED ^ 0x5A5A_5A5A_5A5A_5A5A, "mixed": SEED ^ 0x3C3C_3C3C_3C3C_3C3C}
MAX_DIGITS = 17


class SplitMix64:
    def __init__(self, seed: int) -> None:
        self.state = seed & MASK64

    def next(self) -> int:
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK64
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
        return z ^ (z >> 31)

    def uniform(self) -> float:
        """A double in [0, 1) with 53 random bits."""
        return (self.next() >> 11) * (1.0 / 9007199254740992.0)


def significant_digits(v: float) -> int:
    """How many significant digits the shortest round-trip text of v has."""
    mantissa = repr(abs(v)).split("e")[0].replace(".", "")
    return len(mantissa.strip("0"))


def mixed_ordinate(rng: SplitMix64) -> float:
    """A number whose shortest text has n significant digits, n drawn from 1..17:
    the double nearest m x 10^(e - n + 1) for an n-digit m that does not end in 0
    and e in -1..2, drawn again (same n) until its shortest text has n digits
    (above 15 digits the nearest double may have a shorter one)."""
    n = 1 + rng.next() % MAX_DIGITS
    low = 10 ** (n - 1)
    while True:
        m = low + rng.next() % (9 * low)
        if m % 10 == 0:
            m += 1
        e = rng.next() % 4 - 1
        sign = "-" if rng.next() & 1 else ""
        v = float(f"{sign}{m}e{e - n + 1}")
        if significant_digits(v) == n:
            return v


def coordinates(kind: str, n: int) -> list[tuple[float, float]]:
    """The first n vertices of the kind's stream (the same sequence as floor.cpp)."""
    rng = SplitMix64(KIND_SEED[kind])
    out = []
    for _ in range(n):
        if kind == "unit":
            out.append((rng.uniform(), rng.uniform()))
            continue
        if kind == "mixed":
            out.append((mixed_ordinate(rng), mixed_ordinate(rng)))
            continue
        lon = -180.0 + 360.0 * rng.uniform()
        lat = -90.0 + 180.0 * rng.uniform()
        if kind == "lonlat":
            scale = 1e6 if rng.next() & 1 == 0 else 1e7
            lon = math.floor(lon * scale + 0.5) / scale
            lat = math.floor(lat * scale + 0.5) / scale
        out.append((lon, lat))
    return out


def checksum(coords: list[tuple[float, float]]) -> int:
    """Sum of the ordinates' bit patterns modulo 2^64, as floor.cpp computes it."""
    total = 0
    for x, y in coords:
        total += struct.unpack("<Q", struct.pack("<d", x))[0]
        total += struct.unpack("<Q", struct.pack("<d", y))[0]
    return total & MASK64


def point_wkb(x: float, y: float) -> bytes:
    return struct.pack("<BIdd", 1, 1, x, y)


def linestring_wkb(coords: list[tuple[float, float]]) -> bytes:
    flat = [v for xy in coords for v in xy]
    return struct.pack(f"<BII{len(flat)}d", 1, 2, len(coords), *flat)


def polygon_rings(kind: str, count: int, vertices: int) -> list[np.ndarray]:
    """count star-shaped (hence valid) single-ring polygons of `vertices` positions,
    the last equal to the first, scattered over the globe with radii up to ~0.05°
    (over the unit square for the kind "unit")."""
    import numpy as np

    rng = np.random.default_rng(KIND_SEED[kind] & 0xFFFF_FFFF)
    rings = []
    n = vertices - 1
    unit = kind == "unit"
    for _ in range(count):
        cx = rng.uniform(0.05, 0.95) if unit else rng.uniform(-179.0, 179.0)
        cy = rng.uniform(0.05, 0.95) if unit else rng.uniform(-85.0, 85.0)
        angles = np.sort(rng.uniform(0.0, 2.0 * math.pi, n))
        radii = rng.uniform(0.002, 0.05, n)
        ring = np.empty((vertices, 2))
        ring[:n, 0] = cx + radii * np.cos(angles)
        ring[:n, 1] = cy + radii * np.sin(angles)
        if kind == "lonlat":
            decimals = 6 if rng.integers(2) == 0 else 7
            ring[:n] = np.round(ring[:n], decimals)
        ring[n] = ring[0]
        rings.append(ring)
    return rings


def polygon_wkb(ring: np.ndarray) -> bytes:
    return struct.pack("<BIII", 1, 3, 1, len(ring)) + ring.astype("<f8", order="C").tobytes()
