"""WKT tokens: whitespace, keywords and tags, the SRID prefix, EMPTY, punctuation,
numbers and the end of input, with every message they fail with.

Positions in messages are byte offsets; excerpts count characters.
"""

import math
import struct
from decimal import Decimal, getcontext

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvel

NBSP = "\u00a0"  # two bytes in UTF-8
IDEO = "\u3000"  # ideographic space, three bytes
VT = "\x0b"


def message(text):
    with pytest.raises(ValueError) as info:
        quorvel.wkt_to_wkb(text)
    assert len(info.value.args) == 1
    full = info.value.args[0]
    assert full.startswith("invalid WKT: ")
    return full[len("invalid WKT: ") :]


def ordinates(text):
    """The ordinates of a WKT point as written by the converter."""
    wkb = quorvel.wkt_to_wkb(text)
    return struct.unpack("<%dd" % ((len(wkb) - 5) // 8), wkb[5:])


def bits(value):
    return struct.pack("<d", value)


# --- every tokenizer message, at the start, in the middle and at the end ---

MESSAGES = [
    # SRID prefix
    ("SRID=;POINT(1 2)", "expected integer at position 5"),
    ("SRID=-;POINT(1 2)", "expected integer at position 6"),
    ("SRID=", "expected integer at position 5"),
    (IDEO + NBSP + "srid=x;POINT(1 2)", "expected integer at position 10"),
    ("SRID=2147483648;POINT(1 2)", "integer out of i32 range: 2147483648"),
    ("SRID=-2147483649;POINT(1 2)", "integer out of i32 range: -2147483649"),
    ("SRID=0002147483648;POINT(1 2)", "integer out of i32 range: 0002147483648"),
    ("SRID=4326 POINT(1 2)", "expected ';' after SRID value"),
    ("SRID=4326", "expected ';' after SRID value"),
    ("SRID=12x;POINT(1 2)", "expected ';' after SRID value"),
    # geometry keyword
    ("POINTZ(1 2 3)", "unknown geometry type at position 0: POINTZ(1 2 3)"),
    ("SRID = 4326;POINT(1 2)", "unknown geometry type at position 0: SRID = 4326;POINT(1 "),
    ("", "unknown geometry type at position 0: "),
    (" \t\n" + IDEO, "unknown geometry type at position 6: "),
    ("SRID=4326;", "unknown geometry type at position 10: "),
    ("SRID=1;SRID=1;POINT(1 2)", "unknown geometry type at position 7: SRID=1;POINT(1 2)"),
    ("GEOMETRYCOLLECTION(POINT(1 2), CIRCLE)", "unknown geometry type at position 31: CIRCLE)"),
    ("GEOMETRYCOLLECTION(", "unknown geometry type at position 19: "),
    (NBSP + "Äöß" * 7, "unknown geometry type at position 2: " + ("Äöß" * 7)[:20]),
    ("POINTé(1 2)", "unknown geometry type at position 0: POINTé(1 2)"),
    ("POINT中(1 2)", "unknown geometry type at position 0: POINT中(1 2)"),
    # EMPTY and its delimiter
    ("POINT EMPTYX", "expected delimiter after EMPTY at position 11"),
    ("POINT emptyé", "expected delimiter after EMPTY at position 11"),
    ("MULTIPOINT(1 2, EMPTYa)", "expected delimiter after EMPTY at position 21"),
    (IDEO + "MULTILINESTRING(EMPTYZ)", "expected delimiter after EMPTY at position 24"),
    ("POINT 1 2", "expected 'EMPTY' or '(' at position 6, got 1 2"),
    ("POINT" + NBSP + "Z(1 2 3)", "expected 'EMPTY' or '(' at position 7, got Z(1 2 3)"),
    ("POINT ZMX (1 2)", "expected 'EMPTY' or '(' at position 6, got ZMX (1 2)"),
    ("POINT XMPTY", "expected 'EMPTY' or '(' at position 6, got XMPTY"),
    ("MULTILINESTRING((1 2), 3 4)", "expected 'EMPTY' or '(' at position 23, got 3 4)"),
    ("LINESTRING Z", "expected 'EMPTY' or '(' at position 12, got "),
    ("POINT" + IDEO + "é" * 13, "expected 'EMPTY' or '(' at position 8, got " + "é" * 10),
    # punctuation
    ("POLYGON(EMPTY)", "expected '(' at position 8, got Some('E')"),
    ("POLYGON((1 2), 3 4)", "expected '(' at position 15, got Some('3')"),
    ("POLYGON(", "expected '(' at position 8, got None"),
    ("POINT(1 2", "expected ')' at position 9, got None"),
    ("POINT(1 2,3)", "expected ')' at position 9, got Some(',')"),
    ("POINT(1 2 3)", "expected ')' at position 10, got Some('3')"),
    (IDEO + "POINT(1" + NBSP + "2;", "expected ')' at position 13, got Some(';')"),
    ("LINESTRING(1 2 3, 4 5 6)", "expected ',' or ')' at position 15, got Some('3')"),
    ("LINESTRING(1 2", "expected ',' or ')' at position 14, got None"),
    ("MULTIPOINT((1 2) (3 4))", "expected ',' or ')' at position 17, got Some('(')"),
    # numbers
    ("POINT(nan 1)", "expected number at position 6, got nan 1)"),
    ("POINT(", "expected number at position 6, got "),
    ("LINESTRING()", "expected number at position 11, got )"),
    ("MULTIPOINT(POINT(1 2))", "expected number at position 11, got POINT(1 2)"),
    ("POINT(1a 2)", "expected number at position 7, got a 2)"),
    ("POINT(1 " + IDEO + "ÿ" * 11, "expected number at position 11, got " + "ÿ" * 10),
    ("POINT(1 2" + IDEO + ",", "expected ')' at position 12, got Some(',')"),
    # end of input
    ("POINT(1 2) x", "unexpected trailing content at position 11: x"),
    ("POINT(1 2)" + NBSP + "é" * 21, "unexpected trailing content at position 12: " + "é" * 20),
    ("POINT(1 2)POINT(3 4)", "unexpected trailing content at position 10: POINT(3 4)"),
]


# --- the character display of the punctuation messages ---

CHARACTER_DISPLAY = [
    ("", "None"),
    ("'", "Some('\\'')"),
    ('"', "Some('\"')"),
    ("\\", "Some('\\\\')"),
    ("\x00", "Some('\\0')"),
    ("\x01", "Some('\\u{1}')"),
    (VT, "Some('\\u{b}')"),
    ("\u0301", "Some('\\u{301}')"),  # combining acute accent: extends a grapheme
    ("\u200b", "Some('\\u{200b}')"),  # zero width space: format character
    ("\u2060", "Some('\\u{2060}')"),  # word joiner: format character
    ("\ue000", "Some('\\u{e000}')"),  # private use
    ("\u0378", "Some('\\u{378}')"),  # unassigned
    ("\U000e0100", "Some('\\u{e0100}')"),  # variation selector: grapheme extend
    ("é", "Some('é')"),
    ("\U0001f600", "Some('\U0001f600')"),
]


@pytest.mark.parametrize("char, display", CHARACTER_DISPLAY)
def test_character_display(char, display):
    assert message("POINT(1 2" + char) == "expected ')' at position 9, got " + display


# --- whitespace, keywords and tags ---

MESSAGES += [
    (VT + "POINT(1 2)", "unknown geometry type at position 0: " + VT + "POINT(1 2)"),
    ("POINT(" + VT + "1 2)", "expected number at position 6, got " + VT + "1 2)"),
    ("POINT(1 2)" + VT, "unexpected trailing content at position 10: " + VT),
    ("POINT Zé (1 2 3)", "expected 'EMPTY' or '(' at position 6, got Zé (1 2 3)"),
    ("POINT\u0301(1 2)", "expected 'EMPTY' or '(' at position 5, got \u0301(1 2)"),
    ("POINT EMPTY\u0301", "unexpected trailing content at position 11: \u0301"),
]

Z, M = 0x80000000, 0x40000000


@pytest.mark.parametrize(
    "text, type_word",
    [
        (" \t\r\n\fPOINT\n(\r1\t2\f)" + IDEO + "\n" + NBSP, 1),
        # a vertical tab is whitespace only inside a run that a Unicode space starts
        ("POINT(" + NBSP + VT + "1\u2028" + VT + "2\u0085)" + IDEO + VT, 1),
        ("point z (1 2 3)", 1 | Z),
        ("POINT Z(1 2 3)", 1 | Z),
        ("point zm (1 2 3 4)", 1 | Z | M),
        ("Point\tM\n(1 2 3)", 1 | M),
        ("POINT " + NBSP + "Z (1 2 3)", 1 | Z),  # ASCII space first, then any whitespace
        ("GeometryCollection m EMPTY", 7 | M),
        ("LineString EMPTY", 2),
        ("POLYGON ZM EMPTY", 3 | Z | M),
        ("MultiPoint EMPTY", 4),
        ("MultiLineString z EMPTY", 5 | Z),
        ("MULTIPOLYGON M EMPTY", 6 | M),
    ],
)
def test_accepted_keyword_tag_and_whitespace(text, type_word):
    assert struct.unpack_from("<I", quorvel.wkt_to_wkb(text), 1)[0] == type_word


# --- the SRID prefix ---


@pytest.mark.parametrize(
    "text, srid",
    [
        ("SRID=4326;POINT(1 2)", 4326),
        ("srid=4326; POINT(1 2)", 4326),
        ("SrId=4326 ;POINT(1 2)", 4326),
        ("  SRID=4326" + IDEO + ";POINT(1 2)", 4326),
        ("SRID=0004326;POINT(1 2)", 4326),
        ("SRID=2147483647;POINT(1 2)", 2147483647),
        ("SRID=0;POINT(1 2)", None),
        ("SRID=-1;POINT(1 2)", None),
        ("SRID=-2147483648;POINT(1 2)", None),
        ("POINT(1 2)", None),
    ],
)
def test_srid_prefix(text, srid):
    wkb, got = quorvel.wkt_to_wkb_split_srid(text)
    assert got == srid
    assert wkb == quorvel.wkt_to_wkb("POINT(1 2)")


# --- numbers ---


NUMBERS = [".5", "+1.", "-.5e1", "1E+3", "1e-3", "00012", "-0", "-0.0e5", "+0", "0.1"]
NUMBERS += ["9007199254740993", "9007199254740992e-22", "123456789012345678901234567890"]
NUMBERS += ["1.7976931348623158e308", "2.2250738585072011e-308", "4.9406564584124654e-324"]
NUMBERS += ["2.4703282292062328e-324", "2.4703282292062327e-324", "1e-400", "-1e-400"]
NUMBERS += ["1e-99999999999999999999999", "0e999999999999999", "0." + "0" * 500 + "1e500"]


@pytest.mark.parametrize("token", NUMBERS)
def test_number_is_correctly_rounded(token):
    assert bits(ordinates("POINT(%s 0)" % token)[0]) == bits(float(token))


INVALID = ["1-2", "1e", ".", "+", "-", "1.2.3", "--1", "1e+", "e5", ".e5", "1..2", "..2", "+-1",
           "1e5.5"]
NON_FINITE = ["1e999", "-1e999", "1.7976931348623159e308", "1" + "0" * 309, "1e99999999999"]
MESSAGES += [("POINT(%s 0)" % t, "invalid number %s at position 6" % t) for t in INVALID]
# The same tokens with sixteen bytes and more of text after them, as inside a list.
MESSAGES += [
    ("LINESTRING(%s 0, 1 2, 3 4, 5 6)" % t, "invalid number %s at position 11" % t) for t in INVALID
]
MESSAGES += [("POINT(0 %s)" % t, "non-finite coordinate %s at position 8" % t) for t in NON_FINITE]


@pytest.mark.parametrize("text, expected", MESSAGES)
def test_tokenizer_message(text, expected):
    assert message(text) == expected


def long_midpoint(low, nudge):
    """The exact midpoint between low and the next double, written with 800 significant
    digits and moved by nudge units in the last of them."""
    getcontext().prec = 2000
    high = math.nextafter(low, math.inf)
    mid = (Decimal(low) + Decimal(high)) / 2
    unit = Decimal(1).scaleb(mid.adjusted() - 799)
    return format(mid.quantize(unit) + nudge * unit, "f"), low, high


LOWS = [1.0, 1.0000000000000002, 0.1, 1e300, 5e-324, 2.2250738585072014e-308]


@pytest.mark.parametrize("low", LOWS)
@pytest.mark.parametrize("nudge", [-1, 0, 1])
def test_800_digit_mantissa_rounds_correctly(low, nudge):
    token, low, high = long_midpoint(low, nudge)
    even = low if struct.unpack("<q", bits(low))[0] % 2 == 0 else high
    expected = {-1: low, 0: even, 1: high}[nudge]
    assert float(token) == expected
    assert bits(ordinates("POINT(%s 0)" % token)[0]) == bits(expected)


number_tokens = st.builds(
    lambda sign, mantissa, point, exp: sign
    + (mantissa[:point] + "." + mantissa[point:] if point is not None else mantissa)
    + exp,
    st.sampled_from(["", "+", "-"]),
    st.text("0123456789", min_size=1, max_size=40)
    | st.text("0123456789", min_size=700, max_size=800),
    st.none() | st.integers(0, 40),
    st.just("")
    | st.integers(-400, 400).map("e{}".format)
    | st.integers(-30, 30).map("E{:+}".format),
)


@settings(max_examples=300, deadline=None)
@given(number_tokens)
def test_number_matches_correctly_rounded_float(token):
    expected = float(token)
    if math.isinf(expected):
        assert message("POINT(%s 0)" % token) == "non-finite coordinate %s at position 6" % token
    else:
        assert bits(ordinates("POINT(%s 0)" % token)[0]) == bits(expected)


@settings(max_examples=200, deadline=None)
@given(st.floats(allow_nan=False, allow_infinity=False))
def test_repr_survives_bit_for_bit(x):
    assert [bits(v) for v in ordinates("POINT(%r %r)" % (x, -x))] == [bits(x), bits(-x)]
