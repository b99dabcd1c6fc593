"""SRID rewriting and reading on the top-level EWKB header.

Simple headers (Point, LineString, Polygon with known flags) are patched in place
and keep their byte order and body bytes; every other header goes through a full
WKB -> WKT -> WKB round trip, which comes back little-endian with flag bits.
"""

import array
import struct

import pytest

import quorvel
from wkb_helpers import (
    BE,
    LE,
    LINESTRING,
    M_FLAG,
    POINT,
    POLYGON,
    SRID_FLAG,
    Z_FLAG,
    geometrycollection,
    linestring,
    multipoint,
    point,
    raw_header,
)

# Body bytes that are not a valid geometry body: the fast paths never look at them.
JUNK = b"\xde\xad\xbe\xef\x00"


def body(order, *values):
    return struct.pack(order + "%dd" % len(values), *values)


def raises_value_error(message, fn, *args, **kwargs):
    with pytest.raises(ValueError) as info:
        fn(*args, **kwargs)
    assert info.value.args == (message,)


# --- fast paths: insert, replace, strip ------------------------------------

FAST_CASES = [
    # (input, srid for to_ewkb_header or False for to_wkb_no_srid_header, expected)
    pytest.param(raw_header(POINT, LE) + body(LE, 1, 2), 4326,
                 raw_header(POINT | SRID_FLAG, LE, 4326) + body(LE, 1, 2), id="insert-le"),
    pytest.param(raw_header(POINT, BE) + body(BE, 1, 2), 4326,
                 bytes.fromhex("00200000 01000010E6") + body(BE, 1, 2), id="insert-be"),
    pytest.param(raw_header(LINESTRING | SRID_FLAG, LE, 3857) + JUNK, 4326,
                 raw_header(LINESTRING | SRID_FLAG, LE, 4326) + JUNK, id="replace-le"),
    pytest.param(raw_header(POLYGON | SRID_FLAG, BE, 3857) + JUNK, 4326,
                 raw_header(POLYGON | SRID_FLAG, BE, 4326) + JUNK, id="replace-be"),
    pytest.param(bytes.fromhex("0101000020E6100000") + body(LE, 1, 2), False,
                 bytes.fromhex("0101000000") + body(LE, 1, 2), id="strip-le"),
    pytest.param(raw_header(POINT | SRID_FLAG, BE, 4326) + body(BE, 1, 2), False,
                 raw_header(POINT, BE) + body(BE, 1, 2), id="strip-be"),
    pytest.param(raw_header(POINT | Z_FLAG | M_FLAG, LE) + JUNK, 4326,
                 raw_header(0xE0000001, LE, 4326) + JUNK, id="insert-keeps-z-and-m"),
    pytest.param(raw_header(0xE0000002, BE, 9) + JUNK, False,
                 raw_header(0xC0000002, BE) + JUNK, id="strip-keeps-z-and-m"),
    pytest.param(raw_header(M_FLAG | POLYGON | SRID_FLAG, LE, 1) + JUNK, 2,
                 raw_header(M_FLAG | POLYGON | SRID_FLAG, LE, 2) + JUNK, id="replace-keeps-m"),
    # an SRID whose bytes, read in the other order, are the SRID asked for
    pytest.param(bytes.fromhex("0101000020000010E6") + JUNK, 4326,
                 bytes.fromhex("0101000020E6100000") + JUNK, id="replace-reversed-srid"),
    pytest.param(raw_header(POINT | SRID_FLAG, LE, 5), 6,
                 raw_header(POINT | SRID_FLAG, LE, 6), id="replace-without-body"),
    pytest.param(raw_header(POINT, LE), False, raw_header(POINT, LE), id="bare-point-header-strip"),
    pytest.param(raw_header(POINT, LE), 7, raw_header(POINT | SRID_FLAG, LE, 7),
                 id="bare-point-header-set-gives-9-bytes"),
    pytest.param(raw_header(POINT, BE), 7, raw_header(POINT | SRID_FLAG, BE, 7),
                 id="bare-point-header-set-be"),
]


def rewrite(source, srid):
    if srid is False:
        return quorvel.to_wkb_no_srid_header(source)
    return quorvel.to_ewkb_header(source, srid)


@pytest.mark.parametrize("source, srid, expected", FAST_CASES)
def test_fast_path_patches_only_the_header(source, srid, expected):
    assert rewrite(source, srid) == expected
    assert quorvel.to_ewkb_header(source, srid) == expected


@pytest.mark.parametrize("source, srid, expected", FAST_CASES)
def test_fast_path_of_to_wkb_and_to_hex_wkb_matches(source, srid, expected):
    assert quorvel.to_wkb(source, srid=srid) == expected
    assert quorvel.to_hex_wkb(source, srid=srid) == expected.hex().upper()
    # str input that decodes as hex takes the same header rewrite.
    assert quorvel.to_wkb(source.hex(), srid=srid) == expected
    assert quorvel.to_hex_wkb(source.hex(), srid=srid) == expected.hex().upper()


@pytest.mark.parametrize("source, srid, expected", FAST_CASES)
def test_hex_str_source_gives_uppercase_hex_str(source, srid, expected):
    result = rewrite(source.hex(), srid)
    assert type(result) is str
    assert result == expected.hex().upper()


@pytest.mark.parametrize("source, srid, expected", FAST_CASES)
@pytest.mark.parametrize("kind", [bytearray, memoryview, lambda b: array.array("B", b)],
                         ids=["bytearray", "memoryview", "array-B"])
def test_buffer_source_gives_bytes(kind, source, srid, expected):
    result = rewrite(kind(source), srid)
    assert type(result) is bytes
    assert result == expected


@pytest.mark.parametrize("source", [
    pytest.param(raw_header(POINT | SRID_FLAG, LE, 4326) + JUNK, id="le"),
    pytest.param(raw_header(POINT | SRID_FLAG, BE, 4326) + JUNK, id="be"),
])
def test_equal_srid_gives_equal_new_object(source):
    result = quorvel.to_ewkb_header(source, 4326)
    assert result == source and result is not source
    text = source.hex().upper()
    result = quorvel.to_ewkb_header(text, 4326)
    assert result == text and result is not text


@pytest.mark.parametrize("source", [
    pytest.param(raw_header(POINT, LE) + JUNK, id="no-srid"),
    pytest.param(raw_header(POINT, BE) + JUNK, id="no-srid-be"),
    pytest.param(raw_header(POINT, LE), id="bare-header"),
])
def test_unchanged_strip_is_a_new_object(source):
    result = quorvel.to_wkb_no_srid_header(source)
    assert result == source and result is not source
    assert quorvel.to_wkb(source, srid=False) is not source


@pytest.mark.parametrize("text, srid, expected", [
    pytest.param("0101000000", False, "0101000000", id="strip-unchanged"),
    pytest.param("0101000020e6100000", 4326, "0101000020E6100000", id="set-equal"),
    pytest.param("0101000020E6100000", 4326, "0101000020E6100000", id="upper-already"),
    pytest.param("0101000020e6100000", False, "0101000000", id="strip"),
    pytest.param("0101000000abcdef", 1, "0101000020" "01000000" "ABCDEF", id="set-keeps-body"),
])
def test_hex_source_comes_back_uppercase_even_when_unchanged(text, srid, expected):
    result = rewrite(text, srid)
    assert result == expected and result is not text


@pytest.mark.parametrize("srid", [0, -1, -2147483648, False])
@pytest.mark.parametrize("source", [
    pytest.param(point((1, 2), srid=4326), id="ewkb"),
    pytest.param(point((1, 2)), id="wkb"),
    pytest.param(point((1, 2), order=BE, srid=4326), id="ewkb-be"),
    pytest.param(multipoint([point((1, 2))], srid=4326), id="collection"),
])
def test_srid_zero_or_below_strips(source, srid):
    expected = quorvel.to_wkb_no_srid_header(source)
    assert quorvel.to_ewkb_header(source, srid) == expected
    assert quorvel.to_ewkb_header(source.hex(), srid) == expected.hex().upper()
    assert quorvel.to_wkb(source, srid=srid) == expected
    assert quorvel.to_hex_wkb(source, srid=srid) == expected.hex().upper()


# --- full round trip for headers that are not simple -----------------------

XYZ_POINT_BE_ISO = point((1, 2, 3), dim="XYZ", order=BE, iso=True)
ROUND_TRIP_CASES = [
    # (input, srid or False, expected little-endian EWKB with flag bits)
    pytest.param(multipoint([point((1, 2), order=BE)], order=BE, srid=5), False,
                 multipoint([point((1, 2))]), id="multipoint-be-strip"),
    # SRID 1, the smallest set, in place of the input's own
    pytest.param(multipoint([point((1, 2), order=BE)], order=BE, srid=5), 1,
                 multipoint([point((1, 2))], srid=1), id="multipoint-be-set-1"),
    pytest.param(multipoint([point((1, 2))]), 4326,
                 multipoint([point((1, 2))], srid=4326), id="multipoint-set"),
    pytest.param(linestring([], order=BE, iso=True, dim="XYM"), 7,
                 linestring([], dim="XYM", srid=7), id="iso-linestring-m-empty-set"),
    pytest.param(XYZ_POINT_BE_ISO, False, point((1, 2, 3), dim="XYZ"), id="iso-point-z-strip"),
    pytest.param(XYZ_POINT_BE_ISO, 9, point((1, 2, 3), dim="XYZ", srid=9), id="iso-point-z-set"),
    pytest.param(raw_header(0x10000000 | SRID_FLAG | POINT, BE, 31) + body(BE, 1, 2), False,
                 point((1, 2)), id="unknown-flag-strip"),
    pytest.param(raw_header(0x10000000 | POINT, LE) + body(LE, 1, 2), 31,
                 point((1, 2), srid=31), id="unknown-flag-set"),
    pytest.param(geometrycollection([point((1, 2), srid=99, order=BE)], srid=4), 8,
                 geometrycollection([point((1, 2))], srid=8), id="collection-member-srid-dropped"),
    pytest.param(raw_header(1001, BE) + body(BE, -0.0, 2, 5), False,
                 point((0.0, 2, 5), dim="XYZ"), id="iso-negative-zero-becomes-zero"),
]


@pytest.mark.parametrize("source, srid, expected", ROUND_TRIP_CASES)
def test_unsimple_header_takes_round_trip(source, srid, expected):
    assert rewrite(source, srid) == expected
    assert rewrite(bytearray(source), srid) == expected
    assert rewrite(source.hex(), srid) == expected.hex().upper()
    assert quorvel.to_wkb(source, srid=srid) == expected
    assert quorvel.to_hex_wkb(source, srid=srid) == expected.hex().upper()
    assert quorvel.to_hex_wkb(source.hex().lower(), srid=srid) == expected.hex().upper()


@pytest.mark.parametrize("source, srid, expected", ROUND_TRIP_CASES)
def test_round_trip_refuses_a_trailing_byte(source, srid, expected):
    message = "invalid WKB: unexpected trailing data: 1 bytes remaining"
    bad = source + b"\x00"
    raises_value_error(message, rewrite, bad, srid)
    raises_value_error(message, rewrite, bad.hex(), srid)
    raises_value_error(message, quorvel.to_wkb, bad, srid=srid)
    raises_value_error(message, quorvel.to_hex_wkb, bad, srid=srid)


@pytest.mark.parametrize("source, srid, message", [
    pytest.param(raw_header(POINT | SRID_FLAG, LE) + b"\x01\x02", False,
                 "invalid WKB: unexpected end of data reading i32",
                 id="srid-flag-without-room-for-srid"),
    pytest.param(b"\x01\x01\x00", 4, "invalid WKB: unexpected end of data reading u32",
                 id="shorter-than-header"),
    pytest.param(b"", 4, "invalid WKB: unexpected end of data", id="empty"),
    pytest.param(b"\x02" + JUNK, False, "invalid WKB: invalid byte order marker: 2",
                 id="bad-marker"),
    pytest.param(raw_header(0, LE), 4, "unsupported geometry type code: 0", id="code-0"),
    pytest.param(raw_header(POINT, LE) + body(LE, 1), 4, None, id="short-body-passes"),
])
def test_round_trip_reader_errors(source, srid, message):
    if message is None:  # a simple header passes without looking at the body
        assert rewrite(source, srid)[9:] == body(LE, 1)
        return
    raises_value_error(message, rewrite, source, srid)
    raises_value_error(message, quorvel.to_wkb, source, srid=srid)


@pytest.mark.parametrize("text, message", [
    pytest.param(" 0101000000", "invalid WKB: hex string has odd length", id="one-space"),
    pytest.param("  0101000000", "invalid WKB: invalid hex digit at position 0",
                 id="surrounding-spaces"),
    pytest.param("0101000000\n", "invalid WKB: hex string has odd length", id="trailing-newline"),
    pytest.param("01010000zz", "invalid WKB: invalid hex digit at position 8", id="bad-digit"),
    pytest.param("", "invalid WKB: empty hex string", id="empty"),
])
def test_hex_str_source_is_decoded_strictly(text, message):
    raises_value_error(message, quorvel.to_wkb_no_srid_header, text)
    raises_value_error(message, quorvel.to_ewkb_header, text, 4326)
    raises_value_error(message, quorvel.wkb_header_srid, text)


# --- wkb_header_srid --------------------------------------------------------

SHORT_SRID = "invalid WKB: EWKB header has SRID flag but is too short to contain the SRID field"


@pytest.mark.parametrize("source, plain, with_unknown", [
    pytest.param(point((1, 2)), None, None, id="no-srid-flag"),
    pytest.param(point((1, 2), srid=4326), 4326, 4326, id="srid-le"),
    pytest.param(point((1, 2), order=BE, srid=4326), 4326, 4326, id="srid-be"),
    pytest.param(point((1, 2), srid=0), None, 0, id="raw-srid-0"),
    pytest.param(raw_header(POINT | SRID_FLAG, BE) + b"\xff\xff\xff\xff", None, -1,
                 id="raw-srid-ffffffff"),
    pytest.param(point((1, 2), srid=-2147483648), None, -2147483648, id="raw-srid-min"),
    pytest.param(raw_header(99 | SRID_FLAG, LE, 31), 31, 31, id="code-99-with-srid-flag"),
    pytest.param(raw_header(0xFFFF | SRID_FLAG, BE, 12), 12, 12, id="code-ffff-with-srid-flag"),
    pytest.param(raw_header(1001, LE) + b"\x00", None, None, id="iso-1001-truncated-body"),
    pytest.param(raw_header(7, LE) + b"\xff", None, None, id="collection-header-only"),
    pytest.param(raw_header(POINT | SRID_FLAG, LE, 5), 5, 5, id="nine-bytes-exactly"),
    pytest.param(raw_header(0x10000000 | SRID_FLAG | POINT, LE, 0) + body(LE, 1, 2), None, None,
                 id="unknown-flag-srid-0-full-read"),
    pytest.param(raw_header(0x10000000 | SRID_FLAG | POINT, BE, -3) + body(BE, 1, 2), None, None,
                 id="unknown-flag-srid-negative-full-read"),
    pytest.param(raw_header(0x00010000 | SRID_FLAG | POINT, LE, 77) + body(LE, 1, 2), 77, 77,
                 id="unknown-flag-positive-srid-full-read"),
])
def test_wkb_header_srid(source, plain, with_unknown):
    assert quorvel.wkb_header_srid(source) == plain
    assert quorvel.wkb_header_srid(source, include_unknown=True) == with_unknown
    assert quorvel.wkb_header_srid(source, include_unknown=False) == plain
    assert quorvel.wkb_header_srid(source.hex()) == plain
    assert quorvel.wkb_header_srid(memoryview(bytearray(source)), include_unknown=True) \
        == with_unknown


@pytest.mark.parametrize("source, message", [
    pytest.param(raw_header(POINT | SRID_FLAG, LE), SHORT_SRID, id="5-bytes-le"),
    pytest.param(raw_header(POINT | SRID_FLAG, BE) + b"\x00\x00\x10", SHORT_SRID, id="8-bytes-be"),
    pytest.param(raw_header(99 | SRID_FLAG, LE) + b"\x00", SHORT_SRID, id="any-code-is-read"),
    pytest.param(b"", "invalid WKB: unexpected end of data", id="empty-full-read"),
    pytest.param(b"\x01\x01\x00\x00", "invalid WKB: unexpected end of data reading u32",
                 id="4-bytes-full-read"),
    pytest.param(b"\x05" + JUNK, "invalid WKB: invalid byte order marker: 5", id="bad-marker"),
    pytest.param(raw_header(0x10000000 | SRID_FLAG | POINT, LE, 4) + body(LE, 1),
                 "invalid WKB: unexpected end of data reading f64",
                 id="unknown-flag-truncated-body"),
    pytest.param(raw_header(0x10000000 | POINT, LE) + body(LE, 1, 2) + b"\x00",
                 "invalid WKB: unexpected trailing data: 1 bytes remaining",
                 id="unknown-flag-trailing-byte"),
])
@pytest.mark.parametrize("include_unknown", [False, True])
def test_wkb_header_srid_errors(source, message, include_unknown):
    raises_value_error(message, quorvel.wkb_header_srid, source, include_unknown=include_unknown)
    if source:
        raises_value_error(message, quorvel.wkb_header_srid, source.hex().upper())
