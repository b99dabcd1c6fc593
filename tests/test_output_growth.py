"""Outputs that start in the call's inline buffer (256 bytes) and move to the heap,
at every size around that boundary, in both directions: the bytes written before
the move must survive it, and outputs that outgrow the reservation made from the
input length must come out whole.
"""

import struct

import pytest

import quorvel
from wkb_helpers import linestring, point

INLINE = 256


def line_text(positions):
    return "LINESTRING (" + ", ".join("%s %s" % p for p in positions) + ")"


def line_wkb(count):
    return struct.pack("<BII", 1, 2, count) + struct.pack("<d", 1.5) * (2 * count)


# "1.5 1.5" is 7 characters, ", " joins them: the text of n positions is 14 + 9n - 2
# characters, so 25 to 30 positions cross 256 (and 3 × input length stays above it).
@pytest.mark.parametrize("count", range(24, 32))
def test_wkt_text_across_the_inline_size(count):
    wkb = line_wkb(count)
    text = line_text([("1.5", "1.5")] * count)
    assert quorvel.wkb_to_wkt(wkb) == text
    assert quorvel.wkb_to_wkt(wkb, srid=4326) == "SRID=4326;" + text
    assert quorvel.hex_wkb_to_wkt(wkb.hex()) == text


# A 21-byte point reserves 63 characters, within the inline buffer; these texts
# grow past the reservation and past the inline buffer in the middle of a position.
OVERFLOWING_POINTS = [
    ((5e-324, 1.0), "0." + "0" * 323 + "5 1"),
    ((1.0, -1.7976931348623157e308), "1 -17976931348623157" + "0" * 292),
    ((1e-100, 1e100), "0." + "0" * 99 + "1 1" + "0" * 100),
    ((123.456, 1e-240), "123.456 0." + "0" * 239 + "1"),
]


@pytest.mark.parametrize("xy, expected", OVERFLOWING_POINTS)
def test_point_text_that_outgrows_the_inline_buffer(xy, expected):
    assert quorvel.wkb_to_wkt(point(xy)) == "POINT (" + expected + ")"
    assert quorvel.wkb_to_wkt_split_srid(point(xy)) == ("POINT (" + expected + ")", None)


def test_line_of_long_ordinates_outgrows_its_reservation():
    # 37 bytes of WKB a position reserve 48 characters; each position writes 330.
    positions = [(5e-324, 1.0)] * 40
    text = "LINESTRING (" + ", ".join(["0." + "0" * 323 + "5 1"] * 40) + ")"
    assert quorvel.wkb_to_wkt(linestring(positions)) == text


# "0 0" is 3 characters and 16 bytes of EWKB (32 hex digits): the binary and the hex
# output cross 256 bytes at different counts, and outgrow the reservation made from
# the text length.
@pytest.mark.parametrize("count", list(range(12, 20)) + [100, 1000])
def test_ewkb_across_the_inline_size(count):
    text = "LINESTRING(" + ",".join(["0 0"] * count) + ")"
    expected = struct.pack("<BII", 1, 2, count) + b"\x00" * (16 * count)
    assert quorvel.wkt_to_wkb(text) == expected
    assert quorvel.wkt_to_hex_wkb(text) == expected.hex().upper()
    assert quorvel.wkt_to_wkb_split_srid("SRID=3857;" + text) == (expected, 3857)
    assert quorvel.to_wkt(text, normalize_wkt=True) == line_text([("0", "0")] * count)
