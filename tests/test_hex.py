"""Hex text of WKB: strict decoding, format detection, normalisation and encoding."""

import string
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvel

EWKB_4326 = struct.pack("<BIidd", 1, 0x20000001, 4326, 1.0, 2.0)
HEX = EWKB_4326.hex().upper()
MIRRORED = "SRID=4326;POINT (1 2)"

ODD = "invalid WKB: hex string has odd length"


def at(position):
    return f"invalid WKB: invalid hex digit at position {position}"


# --- strict decoding (hex_wkb_to_wkt) ------------------------------------------

STRICT_ERRORS = [
    pytest.param("", "invalid WKB: empty hex string", id="empty"),
    pytest.param("0", ODD, id="one-digit"),
    pytest.param("0G", at(1), id="second-of-pair"),
    pytest.param("G0", at(0), id="first-of-pair"),
    pytest.param("0101x0", at(4), id="x-in-third-pair"),
    pytest.param("0G0G", at(1), id="first-bad-byte-reported"),
    pytest.param("000z", at(3), id="last-byte"),
    pytest.param("0101x", ODD, id="odd-length-reported-before-bad-digit"),
    pytest.param("G", ODD, id="single-non-digit"),
    pytest.param("0x0101", at(1), id="0x-prefix"),
    pytest.param("+101", at(0), id="sign"),
    pytest.param(" " + HEX, ODD, id="one-leading-space"),
    pytest.param("  " + HEX, at(0), id="two-leading-spaces-not-trimmed"),
    pytest.param(HEX + "\n", ODD, id="trailing-newline-not-trimmed"),
    pytest.param(HEX + "\r\n", at(len(HEX)), id="trailing-crlf"),
    pytest.param(HEX[:6] + "  " + HEX[6:], at(6), id="inner-spaces"),
    pytest.param("\u00e90", ODD, id="e-acute-then-one-digit-is-three-bytes"),
    pytest.param("\u00e900", at(0), id="e-acute-then-two-digits"),
    pytest.param("00\u00e9", at(2), id="e-acute-after-a-pair"),
    pytest.param("0\u00e90", at(1), id="e-acute-splitting-a-pair"),
    pytest.param("\uff10\uff11", at(0), id="fullwidth-digits"),
    pytest.param("\U0001f600", at(0), id="four-byte-character"),
    pytest.param("0\x00", at(1), id="nul-byte"),
]


@pytest.mark.parametrize("text, message", STRICT_ERRORS)
def test_strict_decode_errors(text, message):
    with pytest.raises(ValueError) as info:
        quorvel.hex_wkb_to_wkt(text)
    assert info.type is ValueError
    assert info.value.args == (message,)


@pytest.mark.parametrize(
    "text",
    [HEX, HEX.lower(), "".join(c.lower() if i % 3 else c for i, c in enumerate(HEX))],
    ids=["upper", "lower", "mixed"],
)
def test_strict_decode_accepts_either_case(text):
    assert quorvel.hex_wkb_to_wkt(text) == MIRRORED


def test_strict_decode_then_reads_the_bytes_as_wkb():
    # valid hex, too short for a type word: the failure is the reader's, not the codec's
    with pytest.raises(ValueError) as info:
        quorvel.hex_wkb_to_wkt("0101")
    assert info.value.args[0].startswith("invalid WKB: unexpected end of data")


@settings(max_examples=200, deadline=None)
@given(st.text(alphabet=string.hexdigits + "xg -\u00e9", min_size=1, max_size=40))
def test_strict_decode_reports_first_non_digit_byte(text):
    data = text.encode()
    try:
        quorvel.hex_wkb_to_wkt(text)
    except ValueError as e:
        message = e.args[0]
    else:
        message = None
    bad = [i for i, b in enumerate(data) if chr(b) not in string.hexdigits]
    if len(data) % 2:
        assert message == ODD
    elif bad:
        assert message == at(bad[0])
    else:
        assert message is None or not message.startswith(("invalid WKB: hex", "invalid WKB: empty"))


# --- format detection (to_wkb, to_wkt) ---------------------------------------

def test_even_length_hex_in_any_case_is_decoded_by_to_wkb():
    for text in (HEX, HEX.lower(), HEX[:10].lower() + HEX[10:]):
        assert quorvel.to_wkb(text) == EWKB_4326


def test_decoded_hex_is_returned_without_wkb_check():
    assert quorvel.to_wkb("0001") == b"\x00\x01"
    assert quorvel.to_wkb("ff") == b"\xff"


@pytest.mark.parametrize(
    "text",
    [
        pytest.param("0x" + HEX, id="0x-prefix"),
        pytest.param(HEX[:-1], id="odd-length"),
        pytest.param(HEX[:8] + " " + HEX[8:], id="inner-space"),
        pytest.param("G" + HEX[1:], id="first-byte-not-digit"),
        pytest.param("0G" + HEX[2:], id="second-byte-not-digit"),
        pytest.param(HEX[:-1] + "G", id="last-byte-not-digit"),
    ],
)
def test_not_hex_is_wkt(text):
    # to_wkt's fast path returns WKT text unchanged; to_wkb parses it and fails
    assert quorvel.to_wkt(text) == text
    with pytest.raises(ValueError) as info:
        quorvel.to_wkb(text)
    assert info.value.args[0].startswith("invalid WKT: ")


@pytest.mark.parametrize("pad", [" ", "\t", "\n", "\u00a0", "\u3000", " \r\n\u2028"])
def test_hex_is_detected_after_trimming(pad):
    text = pad + HEX.lower() + pad
    assert quorvel.to_wkb(text) == EWKB_4326
    assert quorvel.to_wkt(text) == MIRRORED
    assert quorvel.to_hex_wkb(text) == HEX


def test_even_length_hex_that_is_not_wkb_fails_in_the_reader():
    with pytest.raises(ValueError) as info:
        quorvel.to_wkt("ABCD")
    assert info.value.args == ("invalid WKB: invalid byte order marker: 171",)
    assert quorvel.to_wkt("ABC") == "ABC"


@pytest.mark.parametrize(
    "srid, expected", [(False, "POINT (1 2)"), (3857, "SRID=3857;POINT (1 2)")]
)
def test_detected_hex_goes_through_the_srid_policy(srid, expected):
    assert quorvel.to_wkt(HEX.lower(), srid=srid) == expected
    assert quorvel.wkb_to_wkt(quorvel.to_wkb(HEX.lower(), srid=srid)) == expected


# --- normalisation (to_hex_wkb with srid None) --------------------------------

@pytest.mark.parametrize(
    "text, expected",
    [
        ("abcdef01", "ABCDEF01"),
        ("aBcD", "ABCD"),
        ("00", "00"),
        (" abcd\n", "ABCD"),
        (HEX.lower(), HEX),
    ],
)
def test_normalisation_uppercases_without_wkb_check(text, expected):
    assert quorvel.to_hex_wkb(text) == expected


def test_normalised_result_is_a_new_object():
    text = "".join(["AB", "CD"])
    result = quorvel.to_hex_wkb(text)
    assert result == text
    assert result is not text


@pytest.mark.parametrize("text", ["abc", "0xabcd", "ab cd", "abcg", "", "   "])
def test_normalisation_refuses_and_text_is_parsed_as_wkt(text):
    with pytest.raises(ValueError) as info:
        quorvel.to_hex_wkb(text)
    assert info.value.args[0].startswith("invalid WKT: ")


# --- encoding -----------------------------------------------------------------

@pytest.mark.parametrize(
    "data, expected",
    [
        (b"", ""),
        (b"\x0f", "0F"),
        (b"\x01\x02", "0102"),
        (bytes(range(256)), bytes(range(256)).hex().upper()),
    ],
)
def test_bytes_encoded_as_uppercase_hex(data, expected):
    assert quorvel.to_hex_wkb(data) == expected
    assert quorvel.to_hex_wkb(bytearray(data)) == expected


@settings(max_examples=300, deadline=None)
@given(st.binary(max_size=64))
def test_round_trip_through_the_module(data):
    upper = data.hex().upper()
    assert quorvel.to_hex_wkb(data) == upper
    assert quorvel.to_hex_wkb(memoryview(data)) == upper
    if data:
        assert quorvel.to_wkb(data.hex()) == data
        assert quorvel.to_wkb(upper) == data
        assert quorvel.to_hex_wkb(data.hex()) == upper
