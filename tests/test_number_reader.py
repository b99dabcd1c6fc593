"""Number text read as the nearest double, ties to even, in whatever build is under
test: the known hard cases and texts on and around the points halfway between two
doubles, against Python's correctly rounded float().
"""

import math
import struct
from decimal import Decimal, localcontext

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvel


def bits(value):
    return struct.pack("<d", value)


def read(token, after=""):
    """The first ordinate of POINT(token 0) followed by `after`, or None when the number
    is refused."""
    try:
        return struct.unpack("<d", quorvel.wkt_to_wkb("POINT(%s 0)%s" % (token, after))[5:13])[0]
    except ValueError:
        return None


def halfway(low):
    """The exact decimal text of the point halfway between low and the next double."""
    with localcontext() as ctx:
        ctx.prec = 2000
        return format(Decimal(low) + Decimal(math.ulp(low)) / 2, "f")


MAX_HALF = halfway(1.7976931348623157e308)  # where rounding starts to overflow
HARD = [
    "2.2250738585072011e-308", "2.2250738585072012e-308", "2.2250738585072013e-308",
    "1e23", "8.98846567431158e307", "7.2057594037927933e16",
    # Ties of 19 and 20 digits, and the same tie broken by a 20th and a 40th digit.
    "4611686018427388416", "18446744073709553664", "4611686018427388416.1",
    "4611686018427388415.999999999999999999999",
    # A tie behind a decimal point and a tie written with a negative exponent.
    "9007199254740993.0", "90071992547409930e-1", "9007199254740993.000000000000000000001",
    # A tie whose zeros run on past the 800 digits compared exactly (and not in whole
    # words of eight): still a tie.
    "9007199254740993." + "0" * 801,
    # Around the smallest subnormal and the underflow to zero.
    "4.9406564584124654e-324", "2.4703282292062327e-324", "2.4703282292062328e-324",
    "7.4109846876186982e-324", "-2.4703282292062327e-324", "4.94065645841246544e-324",
    # Around the largest double and the overflow boundary.
    "1.7976931348623157e308", "1.7976931348623158e308", "1.7976931348623159e308",
    MAX_HALF, MAX_HALF + "0" * 40 + "1", str(int(MAX_HALF) - 1) + ".9999999999999999999",
    # Many zeros after the point, and exponents that cancel them.
    "0." + "0" * 300 + "1", "0." + "0" * 330 + "1", "-0." + "0" * 400 + "1",
    "1" + "0" * 400 + "e-400", "1" + "0" * 400 + "e-724", "0." + "0" * 999 + "1e1000",
    "1e-400", "-1e-400", "10000000000000000000000e-400", "0.0000000000000000000001e330",
]


@pytest.mark.parametrize("token", HARD)
def test_hard_case_reads_as_float_does(token):
    expected = float(token)
    got = read(token)
    if math.isinf(expected):
        assert got is None
    else:
        assert bits(got) == bits(expected)


# Tokens of 16 to 20 bytes with 32 bytes of text from their start, which the reader
# settles with one product rounded by the processor: ties of 19 digits, which the
# product, just below them, leaves to the exact path (2^49 + 1/16 rounds down to even,
# 2^49 + 3/16 up), their neighbours, a negative token and a negative zero.
LONG_FRACTIONS = ["562949953421312.0625", "562949953421312.1875", "562949953421312.1874",
                  "562949953421312.1876", "-0.12345678901234567", "-0.0000000000000000"]


@pytest.mark.parametrize("token", LONG_FRACTIONS)
def test_long_fraction_reads_as_float_does(token):
    assert bits(read(token, after=" " * 32)) == bits(float(token))


finite = st.floats(allow_nan=False, allow_infinity=False, min_value=0.0,
                   max_value=1.7976931348623155e308)


def perturbed_halfway(low, cut, tail):
    """The halfway point above low: as it is, cut to `cut` significant digits, or with
    `tail` appended (digits far behind the tie)."""
    text = halfway(low)
    if cut is not None:
        significant = 0
        for i, c in enumerate(text):
            significant += c.isdigit() and (significant > 0 or c != "0")
            if significant == cut:
                text = text[: i + 1]
                break
    if "." not in text:
        text += "."
    return text + tail


@settings(max_examples=300, deadline=None)
@given(finite, st.sampled_from([None, 17, 19, 20, 25, 40]),
       st.sampled_from(["", "1", "0" * 30 + "1", "9" * 25, "0" * 900 + "1"]),
       st.sampled_from(["", "-"]))
def test_text_near_a_halfway_point_reads_as_float_does(low, cut, tail, sign):
    token = sign + perturbed_halfway(low, cut, tail)
    assert bits(read(token)) == bits(float(token))


@settings(max_examples=200, deadline=None)
@given(finite, st.text("0123456789", min_size=1, max_size=30))
def test_repr_with_extra_digits_reads_as_float_does(x, extra):
    token = repr(x)
    mantissa, e, exponent = token.partition("e")
    token = mantissa + ("" if "." in mantissa else ".") + extra + e + exponent
    assert bits(read(token)) == bits(float(token))
