"""Ordinates with at most seven decimals below 10^8 take a shortcut to their
shortest digits; the text must be the same as for any other value: the shortest
round-trip digits (Python's repr), written positionally."""

import random
import struct
from decimal import Decimal

import pytest

import quorvel


def positional(v):
    """Python's shortest round-trip digits of v, without an exponent."""
    if v == 0:
        return "0"
    text = format(Decimal(repr(v)), "f")
    return text.rstrip("0").rstrip(".") if "." in text else text


def texts(values):
    wkb = struct.pack("<BII", 1, 2, len(values))
    wkb += b"".join(struct.pack("<dd", v, 1.0) for v in values)
    body = quorvel.wkb_to_wkt(wkb)[len("LINESTRING (") : -1]
    return [position[: -len(" 1")] for position in body.split(", ")]


EDGES = [
    0.1, 0.3, 0.30000000000000004, 1e-7, 1.5e-7, 5e-8, 4.9999999e-8, 0.9999999, 0.99999995,
    1.9999999, 2.0000001, 9.9999999, 123.4567891, -73.9856123, 12345678.1234567,
    99999999.9999999, 99999999.99999999, 1e8 - 1e-7, 1e8 + 0.5, 1e8 + 0.0000001, 0.0000001 * 3,
]


@pytest.mark.parametrize("value", EDGES + [-v for v in EDGES])
def test_edge_values_have_their_shortest_digits(value):
    assert texts([value]) == [positional(value)]


@pytest.mark.parametrize("decimals", range(0, 10))
def test_rounded_values_have_their_shortest_digits(decimals):
    rng = random.Random(decimals)
    values = [
        round(rng.uniform(-1, 1) * 10 ** rng.randint(-9, 9), decimals) for _ in range(2000)
    ]
    assert texts(values) == [positional(v) for v in values]
