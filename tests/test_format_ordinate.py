"""Ordinate text: shortest round-trip digits, always positional, never an exponent."""

import re
import struct
import sys
from decimal import Decimal

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvel
from wkb_helpers import linestring, point

PLAIN_NUMBER = re.compile(r"-?(0|[1-9][0-9]*)(\.[0-9]*[1-9])?")


def fmt(v):
    """The text of v as the X of a point whose Y is 1."""
    text = quorvel.wkb_to_wkt(point((v, 1.0)))
    assert text.startswith("POINT (") and text.endswith(" 1)"), text
    return text[len("POINT (") : -len(" 1)")]


EXAMPLES = [
    (1.0, "1"),
    (-2.0, "-2"),
    (100.0, "100"),
    (1.0e8, "100000000"),
    (0.1, "0.1"),
    (0.1 + 0.2, "0.30000000000000004"),
    (1 / 3, "0.3333333333333333"),
    (-122.4194, "-122.4194"),
    (-0.0, "0"),
    (0.0, "0"),
    (999999999999999.0, "999999999999999"),
    (-999999999999999.0, "-999999999999999"),
    (999999999999999.5, "999999999999999.5"),
    (1.0e15, "1000000000000000"),
    (4503599627370495.5, "4503599627370495.5"),
    (1125899906842624.25, "1125899906842624.2"),  # a tie: to even
    (2.0**53, "9007199254740992"),
    (2.0**63, "9223372036854776000"),
    (-(2.0**64), "-18446744073709552000"),
    (1.0e21, "1000000000000000000000"),
    (1.0e23, "1" + "0" * 23),
    (1.5e-7, "0.00000015"),
    (1.0e-7, "0.0000001"),
    (-1.0e-5, "-0.00001"),
    (0.5, "0.5"),
    (123.456e-20, "0.00000000000000000123456"),
    (5.0e-324, "0." + "0" * 323 + "5"),
    (-5.0e-324, "-0." + "0" * 323 + "5"),
    (sys.float_info.min, "0." + "0" * 307 + "22250738585072014"),
    (sys.float_info.max, "17976931348623157" + "0" * 292),
    (-sys.float_info.max, "-17976931348623157" + "0" * 292),
    (float("nan"), "NaN"),
    (-float("nan"), "NaN"),
    (float("inf"), "inf"),
    (float("-inf"), "-inf"),
]


@pytest.mark.parametrize("value, text", EXAMPLES, ids=[t[:24] for _, t in EXAMPLES])
def test_example_table(value, text):
    assert fmt(value) == text


def check_shortest_positional(x, text):
    if x != x:
        assert text == "NaN"
    elif x in (float("inf"), float("-inf")):
        assert text == ("inf" if x > 0 else "-inf")
    else:
        assert PLAIN_NUMBER.fullmatch(text), text  # no exponent, "-0", ".0" or trailing zero
        assert Decimal(text) == Decimal(repr(x))  # the same shortest digits
        assert float(text) == x


def from_bits(n):
    return struct.unpack("<d", struct.pack("<Q", n))[0]


ANY_BITS = st.integers(min_value=0, max_value=2**64 - 1).map(from_bits)
# Subnormals, powers of two, the extremes and their neighbours.
EDGY = st.floats(allow_nan=True, allow_infinity=True)


@settings(max_examples=300, deadline=None)
@given(st.lists(st.one_of(ANY_BITS, EDGY), min_size=1, max_size=32))
def test_any_double_is_shortest_positional(values):
    text = quorvel.wkb_to_wkt(linestring([(v, 0.0) for v in values]))
    body = text[len("LINESTRING (") : -1]
    for x, position in zip(values, body.split(", "), strict=True):
        x_text, y_text = position.split(" ")
        assert y_text == "0"
        check_shortest_positional(x, x_text)


@settings(max_examples=100, deadline=None)
@given(st.integers(min_value=-(10**15) + 1, max_value=10**15 - 1))
def test_integral_values_below_1e15_print_as_integers(n):
    assert fmt(float(n)) == str(n)


# Values that take each layout of the writer and each way to the digits: the point after
# 1 to 17 digits and after "0." with 0 to 16 zeros (17 significant digits, and few),
# 15 and 16 leading digits (9.x and 1.x times a power of ten in one binade), and the
# exact computation: ties to even (c / 4 for odd c near 2^52), powers of two, the
# smallest normal and subnormals.
LAYOUT_VALUES = [
    *(m * 10.0**e for e in range(-17, 18) for m in (1.2345678901234567, 9.876543210987654, 1.5)),
    *((2**52 + c) / 4 for c in (1, 3, 5, 7)),
    *(2.0**e for e in (-1074, -1022, -60, -1, 53, 60, 1023)),
    *(n * 2.0**-1074 for n in (3, 12345, 2**51 + 1)),
]


@pytest.mark.parametrize("x", LAYOUT_VALUES, ids=repr)
def test_every_layout_and_digit_path(x):
    check_shortest_positional(x, fmt(x))
    check_shortest_positional(-x, fmt(-x))
