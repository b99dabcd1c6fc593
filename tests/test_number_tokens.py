"""Number tokens read sixteen or eight digits at a time: runs of every length around
the eight- and sixteen-byte steps, tokens that end the text (fewer than sixteen
bytes left), and the bytes that stop a run.  Values must equal Python's correctly
rounded float() in every build, and the messages must not change.
"""

import struct

import pytest

import quorvel


def bits(value):
    return struct.pack("<d", value)


def point_ordinates(text):
    wkb = quorvel.wkt_to_wkb(text)
    return struct.unpack("<2d", wkb[5:])


def wkt_message(text):
    with pytest.raises(ValueError) as info:
        quorvel.wkt_to_wkb(text)
    return info.value.args[0]


DIGITS = "98765432109876543210987654321"

# Integer and fraction runs of 0 to 20 digits: below, at and across the eight-byte
# steps, with and without a sign and an exponent.
RUNS = [
    sign + DIGITS[:i] + ("." + DIGITS[3 : 3 + f] if f is not None else "") + exp
    for sign in ("", "-", "+")
    for i in (0, 1, 7, 8, 9, 16, 17, 20)
    for f in (None, 0, 1, 7, 8, 9, 15, 16, 17)
    for exp in ("", "e-7", "E+3")
    if i + (f or 0) > 0
]


@pytest.mark.parametrize("token", RUNS)
def test_digit_runs_around_eight_byte_steps_round_correctly(token):
    expected = bits(float(token))
    # Inside the text, followed by a space, and as the last ordinate before ')'.
    x, y = point_ordinates("POINT(%s %s)" % (token, token))
    assert bits(x) == expected
    assert bits(y) == expected


# Tokens around the sixteen- and thirty-two-byte steps of the reader (15 or 16 bytes
# with a sign, point and digits, 19 digits in 31 bytes, more), inside the text and
# within the last sixteen bytes of it.
VECTOR_RUNS = [
    sign + DIGITS[:i] + "." + DIGITS[2 : 2 + f]
    for sign in ("", "-")
    for i, f in ((1, 13), (1, 14), (1, 15), (3, 11), (3, 12), (3, 13), (14, 0), (15, 0),
                 (1, 17), (0, 18), (4, 15), (0, 24), (1, 29), (1, 30), (2, 30))
]


@pytest.mark.parametrize("token", VECTOR_RUNS)
@pytest.mark.parametrize("after", [",1 2)", ")", ", 2 3, 4 5, 6 7, 8 9)"])
def test_tokens_around_sixteen_byte_steps_round_correctly(token, after):
    wkb = quorvel.wkt_to_wkb("LINESTRING(1 %s%s" % (token, after))
    assert struct.unpack("<d", wkb[9 + 8 : 9 + 16]) == (float(token),)


# Tokens of 16 to 19 digits, 17 to 21 bytes, with the point after each digit: the
# digits past the first sixteen bytes come from the bytes that end the token.
LONG_FRACTIONS = [
    sign + DIGITS[1 : 1 + i] + "." + DIGITS[1 + i : 1 + n]
    for sign in ("", "-")
    for n in (16, 17, 18, 19)
    for i in range(1, n)
]


@pytest.mark.parametrize("token", LONG_FRACTIONS)
def test_long_fraction_with_the_point_anywhere_rounds_correctly(token):
    wkb = quorvel.wkt_to_wkb("LINESTRING(1 %s, 2 3)" % token)
    assert struct.unpack("<d", wkb[9 + 8 : 9 + 16]) == (float(token),)


@pytest.mark.parametrize("length", range(1, 20))
def test_token_that_ends_the_text_is_read_in_full(length):
    # Without the closing parenthesis the last token ends the text.
    token = DIGITS[:length]
    assert wkt_message("POINT(1 " + token) == (
        "invalid WKT: expected ')' at position %d, got None" % (8 + length)
    )
    assert point_ordinates("POINT(1 " + token + ")")[1] == float(token)


# Bytes just outside the digit range, and non-ASCII ones, stop a run; those that
# continue a number make it malformed.
STOPPERS = ["/", ":", " ", ")", ",", "\t", "\u00e9", "\u3000", "\x00"]


@pytest.mark.parametrize("stopper", STOPPERS)
@pytest.mark.parametrize("length", [3, 8, 11])
def test_byte_after_the_digits_ends_the_token(stopper, length):
    token = "1." + DIGITS[:length]
    text = "POINT(" + token + stopper + "2)"
    got = wkt_message(text) if stopper not in (" ", "\t", "\u3000") else None
    if got is None:
        assert point_ordinates(text)[0] == float(token)
    else:
        # The token is read; the parser then stops at the byte that follows it.
        assert "position %d" % (6 + len(token)) in got


@pytest.mark.parametrize("tail", ["e", "E", "+", "-", ".", "1e", "e+"])
def test_number_byte_after_the_token_makes_it_malformed(tail):
    token = DIGITS[:10] + "." + DIGITS[:9] + ".5" + tail
    expected = "invalid WKT: invalid number %s at position 6" % token
    assert wkt_message("POINT(%s 0)" % token) == expected
