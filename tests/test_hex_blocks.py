"""Hex text decoded sixteen digits at a time: every byte value in both cases, and a
bad byte at every position of a long text, next to the digit and letter ranges."""

import struct

import pytest

import quorvel

# A LineString of 6 positions: 105 bytes, 210 digits, several sixteen-digit blocks
# and a tail.
WKB = struct.pack("<BII", 1, 2, 6) + bytes(range(256))[:96]
TEXT = WKB.hex()


def decoded(text):
    """The bytes that to_wkb decodes from hex text (no WKB check on that path)."""
    return quorvel.to_wkb(text)


@pytest.mark.parametrize("case", [str.lower, str.upper])
def test_every_byte_value_decodes(case):
    data = bytes(range(256)) * 2
    assert decoded(case(data.hex())) == data


@pytest.mark.parametrize("bad", ["/", ":", "@", "G", "`", "g", " ", "\x00", "\x7f"])
def test_bad_byte_is_found_at_every_position(bad):
    for position in range(0, 48):
        text = TEXT[:position] + bad + TEXT[position + 1 :]
        with pytest.raises(ValueError) as info:
            quorvel.hex_wkb_to_wkt(text)
        assert info.value.args[0] == f"invalid WKB: invalid hex digit at position {position}"


@pytest.mark.parametrize("position", [0, 7, 8, 15, 16, 31, 200])
def test_non_ascii_character_reports_its_first_byte(position):
    text = TEXT[:position] + "\u00e9" + TEXT[position + 2 :]  # two bytes for two digits
    with pytest.raises(ValueError) as info:
        quorvel.hex_wkb_to_wkt(text)
    assert info.value.args[0] == f"invalid WKB: invalid hex digit at position {position}"


def test_mixed_case_text_reads_as_wkb():
    mixed = "".join(c.upper() if i % 3 else c for i, c in enumerate(TEXT))
    assert quorvel.hex_wkb_to_wkt(mixed) == quorvel.wkb_to_wkt(WKB)
