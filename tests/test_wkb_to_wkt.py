"""WKB/EWKB bytes to WKT text: layout reading, canonical text and every reader failure."""

import struct

import pytest

import quorvel
from wkb_helpers import (
    BE,
    GEOMETRYCOLLECTION,
    LE,
    LINESTRING,
    M_FLAG,
    MULTIPOINT,
    NAN,
    ORDINATES,
    POINT,
    POLYGON,
    SRID_FLAG,
    Z_FLAG,
    empty_point,
    f64s,
    geometrycollection,
    header,
    linestring,
    multilinestring,
    multipoint,
    multipolygon,
    point,
    polygon,
    raw_header,
    u32,
)

TAGS = {"XY": "", "XYZ": " Z", "XYM": " M", "XYZM": " ZM"}


def cases(table):
    return [pytest.param(*row[1:], id=row[0]) for row in table]


def convert_error(wkb):
    with pytest.raises(ValueError) as info:
        quorvel.wkb_to_wkt(wkb)
    return str(info.value)


def _kinds(dim, order, iso):
    n = ORDINATES[dim]
    a, b, c = (1, 2, 3, 4)[:n], (5, 6, 7, 8)[:n], (9, 10, 11, 12)[:n]
    ta, tb, tc = (" ".join(str(v) for v in p) for p in (a, b, c))
    t, kw = TAGS[dim], dict(dim=dim, order=order, iso=iso)
    return [
        ("Point", point(a, **kw), f"POINT{t} ({ta})"),
        ("LineString", linestring([a, b], **kw), f"LINESTRING{t} ({ta}, {tb})"),
        ("Polygon", polygon([[a, b, c, a], [b, c]], **kw),
         f"POLYGON{t} (({ta}, {tb}, {tc}, {ta}), ({tb}, {tc}))"),
        ("MultiPoint", multipoint([point(a, **kw), point(b, **kw)], **kw),
         f"MULTIPOINT{t} (({ta}), ({tb}))"),
        ("MultiLineString", multilinestring([linestring([a, b], **kw), linestring([c], **kw)], **kw),
         f"MULTILINESTRING{t} (({ta}, {tb}), ({tc}))"),
        ("MultiPolygon", multipolygon([polygon([[a, b, c, a]], **kw), polygon([[b, c]], **kw)], **kw),
         f"MULTIPOLYGON{t} ((({ta}, {tb}, {tc}, {ta})), (({tb}, {tc})))"),
        ("GeometryCollection", geometrycollection([point(a, **kw), linestring([a], **kw)], **kw),
         f"GEOMETRYCOLLECTION{t} (POINT{t} ({ta}), LINESTRING{t} ({ta}))"),
    ]


@pytest.mark.parametrize("wkb, text", [
    pytest.param(wkb, text, id=f"{kind}-{dim}-{'LE' if order == LE else 'BE'}-{style}")
    for dim in TAGS
    for order in (LE, BE)
    for style, iso in (("ewkb", False), ("iso", True))
    for kind, wkb, text in _kinds(dim, order, iso)
])
def test_every_kind_dimension_byte_order_and_code_style(wkb, text):
    assert quorvel.wkb_to_wkt(wkb) == text


RING = [(0, 0), (1, 0), (1, 1), (0, 0)]
NEG_NAN = struct.unpack("<d", bytes.fromhex("010000000000F8FF"))[0]  # sign bit and a payload
INF = float("inf")
HEX = bytes.fromhex

CONVERSIONS = [
    # the worked conversions
    ("hex_point", HEX("0101000000000000000000F03F0000000000000040"), "POINT (1 2)"),
    ("hex_srid_point", HEX("0101000020E6100000000000000000F03F0000000000000040"),
     "SRID=4326;POINT (1 2)"),
    ("hex_iso_be_point_z", HEX("00000003E93FF000000000000040000000000000004008000000000000"),
     "POINT Z (1 2 3)"),
    ("hex_nan_point", HEX("0101000000000000000000F87F000000000000F87F"), "POINT EMPTY"),
    ("hex_empty_linestring", HEX("010200000000000000"), "LINESTRING EMPTY"),
    ("multipoint_with_empty_member", multipoint([point((1, 2)), empty_point()]),
     "MULTIPOINT ((1 2), EMPTY)"),
    ("collection_of_point_and_empty_line", geometrycollection([point((1, 2)), linestring([])]),
     "GEOMETRYCOLLECTION (POINT (1 2), LINESTRING EMPTY)"),
    ("xy_collection_holding_xyz_point", geometrycollection([point((1, 2, 3))]),
     "GEOMETRYCOLLECTION (POINT Z (1 2 3))"),
    ("polygon_ring_of_zero_points", polygon([[]]), "POLYGON (())"),
    ("multipolygon_empty_member_then_ring", multipolygon([polygon([]), polygon([RING])]),
     "MULTIPOLYGON (EMPTY, ((0 0, 1 0, 1 1, 0 0)))"),
    ("xym_linestring", linestring([(1, 2, 3), (4, 5, 6)], "XYM"), "LINESTRING M (1 2 3, 4 5 6)"),
    ("xyzm_linestring", linestring([(1, 2, 3, 7), (4, 5, 6, 8)], "XYZM"),
     "LINESTRING ZM (1 2 3 7, 4 5 6 8)"),
    ("nested_empty_collection", geometrycollection([geometrycollection([])]),
     "GEOMETRYCOLLECTION (GEOMETRYCOLLECTION EMPTY)"),
    # empties and NaN
    ("point_negative_payload_nan", point((NEG_NAN, NEG_NAN)), "POINT EMPTY"),
    ("point_z_all_nan", empty_point("XYZ"), "POINT Z EMPTY"),
    ("point_zm_all_nan", empty_point("XYZM"), "POINT ZM EMPTY"),
    ("point_one_nan", point((NAN, 1)), "POINT (NaN 1)"),
    ("point_z_nan_nan_5", point((NAN, NAN, 5)), "POINT Z (NaN NaN 5)"),
    ("empty_polygon", polygon([]), "POLYGON EMPTY"),
    ("empty_multis", geometrycollection([multipoint([]), multilinestring([]), multipolygon([])]),
     "GEOMETRYCOLLECTION (MULTIPOINT EMPTY, MULTILINESTRING EMPTY, MULTIPOLYGON EMPTY)"),
    ("empty_multipolygon_m", multipolygon([], "XYM"), "MULTIPOLYGON M EMPTY"),
    ("empty_collection", geometrycollection([]), "GEOMETRYCOLLECTION EMPTY"),
    ("multipoint_z_empty_member", multipoint([empty_point("XYZ")], "XYZ"), "MULTIPOINT Z (EMPTY)"),
    ("multipoint_member_partly_nan", multipoint([point((NAN, 2))]), "MULTIPOINT ((NaN 2))"),
    ("multilinestring_empty_member", multilinestring([linestring([]), linestring([(1, 2)])]),
     "MULTILINESTRING (EMPTY, (1 2))"),
    ("multipolygon_member_with_empty_ring", multipolygon([polygon([[], RING])]),
     "MULTIPOLYGON (((), (0 0, 1 0, 1 1, 0 0)))"),
    ("line_and_ring_of_one_or_two_points_unchecked",
     geometrycollection([linestring([(1, 2)]), polygon([[(1, 2), (3, 4)]])]),
     "GEOMETRYCOLLECTION (LINESTRING (1 2), POLYGON ((1 2, 3 4)))"),
    ("negative_zero_and_infinities", linestring([(-0.0, INF), (-INF, 0.0)]),
     "LINESTRING (0 inf, -inf 0)"),
    # byte order switching between parent and member
    ("be_multipoint_le_members", multipoint([point((1, 2), order=LE)] * 2, order=BE),
     "MULTIPOINT ((1 2), (1 2))"),
    ("le_multipoint_be_member", multipoint([point((1, 2), order=BE), point((3, 4))]),
     "MULTIPOINT ((1 2), (3 4))"),
    ("be_multipolygon_le_member", multipolygon([polygon([RING])], order=BE),
     "MULTIPOLYGON (((0 0, 1 0, 1 1, 0 0)))"),
    ("collection_alternating_orders",
     geometrycollection([linestring([(1, 2), (3, 4)], order=BE),
                         geometrycollection([point((5, 6))], order=BE),
                         multilinestring([linestring([(7, 8)], order=BE)])]),
     "GEOMETRYCOLLECTION (LINESTRING (1 2, 3 4), GEOMETRYCOLLECTION (POINT (5 6)), "
     "MULTILINESTRING ((7 8)))"),
    # type words beyond the plain EWKB and ISO codes
    ("stray_bit_in_ignored_range", raw_header(0x00010001) + f64s((1, 2)), "POINT (1 2)"),
    ("all_ignored_bits", raw_header(0x1FFF0001) + f64s((1, 2)), "POINT (1 2)"),
    ("srid_flag_with_iso_code", raw_header(SRID_FLAG | 1001, srid=4326) + f64s((1, 2, 3)),
     "SRID=4326;POINT Z (1 2 3)"),
]


@pytest.mark.parametrize("wkb, text", cases(CONVERSIONS))
def test_conversions(wkb, text):
    assert quorvel.wkb_to_wkt(wkb) == text


@pytest.mark.parametrize("word, code", cases([
    ("zero", 0, 0),
    ("eight", 8, 8),
    ("plain_1000", 1000, 1000),
    ("iso_2000_is_xyz_1000", 2000, 1000),
    ("iso_3000_is_xym_1000", 3000, 1000),
    ("iso_1008", 1008, 8),
    ("z_flag_with_iso_code", Z_FLAG | 1001, 1001),
    ("m_flag_with_iso_code", M_FLAG | 2001, 2001),
    ("largest_low_half", 0xFFFF, 0xFFFF - 3000),
    ("srid_flag_without_srid_bytes", SRID_FLAG | 10, 10),
]))
def test_unsupported_type_codes(word, code):
    # No body at all: the code is refused before anything after the type word is read.
    assert convert_error(raw_header(word)) == f"unsupported geometry type code: {code}"


@pytest.mark.parametrize("wkb, text, srid", cases([
    ("srid_4326", point((1, 2), srid=4326), "SRID=4326;POINT (1 2)", 4326),
    ("srid_4326_big_endian", point((1, 2), order=BE, srid=4326), "SRID=4326;POINT (1 2)", 4326),
    ("srid_largest", point((1, 2), srid=2**31 - 1), "SRID=2147483647;POINT (1 2)", 2**31 - 1),
    ("srid_0_is_unknown", point((1, 2), srid=0), "POINT (1 2)", None),
    ("srid_minus_1_is_unknown", point((1, 2), srid=-1), "POINT (1 2)", None),
    ("no_srid_flag", point((1, 2)), "POINT (1 2)", None),
    ("multipoint_member_srid_dropped", multipoint([point((1, 2), srid=3857)]),
     "MULTIPOINT ((1 2))", None),
    ("collection_member_srids_dropped",
     geometrycollection([point((1, 2), srid=3857), multipoint([point((3, 4), srid=3)], srid=3)],
                        srid=4326),
     "SRID=4326;GEOMETRYCOLLECTION (POINT (1 2), MULTIPOINT ((3 4)))", 4326),
]))
def test_srid_mirrored_and_split(wkb, text, srid):
    assert quorvel.wkb_to_wkt(wkb) == text
    assert quorvel.wkb_to_wkt_split_srid(wkb) == (text.split(";", 1)[-1], srid)


@pytest.mark.parametrize("srid, text", [
    (None, "SRID=3857;POINT (1 2)"),
    (False, "POINT (1 2)"),
    (4326, "SRID=4326;POINT (1 2)"),
    (0, "POINT (1 2)"),
    (-1, "POINT (1 2)"),
])
def test_srid_policy_on_input_carrying_3857(srid, text):
    assert quorvel.wkb_to_wkt(point((1, 2), srid=3857), srid=srid) == text


XY = f64s((1, 2))
HUGE = 0xFFFFFFFF
END = "invalid WKB: unexpected end of data"

ERRORS = [
    ("empty_input", b"", END),
    ("lone_marker", b"\x01", END + " reading u32"),
    ("marker_2", b"\x02" + XY, "invalid WKB: invalid byte order marker: 2"),
    ("marker_255", b"\xff", "invalid WKB: invalid byte order marker: 255"),
    # a whole point otherwise: the top-level point's shortcut refuses it too
    ("marker_255_on_point", b"\xff" + point((1, 2), order=BE)[1:],
     "invalid WKB: invalid byte order marker: 255"),
    # a type word that reads 1 the other way round: the point's shortcut and the walk
    # read it in the marker's order alone
    ("le_point_whose_word_reads_1_big_endian", b"\x01" + HEX("00000001") + XY,
     "unsupported geometry type code: 0"),
    ("be_point_whose_word_reads_1_little_endian", b"\x00" + HEX("01000000") + f64s((1, 2), BE),
     "unsupported geometry type code: 0"),
    ("le_member_whose_word_reads_1_big_endian", multipoint([b"\x01" + HEX("00000001") + XY]),
     "unsupported geometry type code: 0"),
    ("be_member_whose_word_reads_1_little_endian",
     geometrycollection([b"\x00" + HEX("01000000") + f64s((1, 2), BE)], order=BE),
     "unsupported geometry type code: 0"),
    ("point_header_without_coordinates", header(POINT), END + " reading f64"),
    ("point_missing_last_ordinate", header(POINT, "XYZ") + XY + bytes(7), END + " reading f64"),
    # sizes that a point's shortcut would take for whole with the other header length
    ("srid_point_four_bytes_short", point((1, 2), srid=4326)[:-4], END + " reading f64"),
    ("point_with_four_bytes_after", point((1, 2)) + bytes(4),
     "invalid WKB: unexpected trailing data: 4 bytes remaining"),
    ("xyz_point_with_eight_bytes_after", point((1, 2, 3)) + bytes(8),
     "invalid WKB: unexpected trailing data: 8 bytes remaining"),
    ("srid_flag_without_srid", raw_header(SRID_FLAG | 1) + b"\xe6\x10", END + " reading i32"),
    ("linestring_without_count", header(LINESTRING) + b"\x02\0", END + " reading u32"),
    ("linestring_short_of_points", header(LINESTRING) + u32(2) + XY, END + " reading f64"),
    ("polygon_second_ring_without_count", header(POLYGON) + u32(2) + u32(1) + XY,
     END + " reading u32"),
    ("multipoint_without_member", header(MULTIPOINT) + u32(1), END),
    ("member_with_bad_marker", header(MULTIPOINT) + u32(1) + b"\x07",
     "invalid WKB: invalid byte order marker: 7"),
    ("member_srid_missing", header(MULTIPOINT) + u32(1) + raw_header(SRID_FLAG | 1),
     END + " reading i32"),
    ("collection_member_truncated", geometrycollection([point((1, 2))])[:-1], END + " reading f64"),
    # a count of 4,294,967,295 runs until the first field past the end
    ("huge_linestring_count", header(LINESTRING) + u32(HUGE) + f64s((1, 2, 3)),
     END + " reading f64"),
    ("huge_ring_count", header(POLYGON, order=BE) + u32(HUGE, BE) + u32(0, BE) * 3,
     END + " reading u32"),
    ("huge_ring_point_count", header(POLYGON) + u32(1) + u32(HUGE) + XY, END + " reading f64"),
    ("huge_member_count", header(MULTIPOINT) + u32(HUGE) + point((1, 2)), END),
    ("huge_collection_count", header(GEOMETRYCOLLECTION) + u32(HUGE) + linestring([]), END),
    # member checks
    ("multipoint_with_linestring", multipoint([linestring([(1, 2)])]),
     "invalid WKB: expected Point sub-geometry in MultiPoint, got type code LineString"),
    ("multilinestring_with_point", multilinestring([point((1, 2))]),
     "invalid WKB: expected LineString sub-geometry in MultiLineString, got type code Point"),
    ("multipolygon_with_collection", multipolygon([geometrycollection([])]),
     "invalid WKB: expected Polygon sub-geometry in MultiPolygon, got type code "
     "GeometryCollection"),
    ("multipolygon_with_code_9", multipolygon([raw_header(9)]), "unsupported geometry type code: 9"),
    ("kind_checked_before_dimension", multipoint([linestring([], "XYZ")]),
     "invalid WKB: expected Point sub-geometry in MultiPoint, got type code LineString"),
    ("xy_multipoint_xyz_member", multipoint([point((1, 2, 3))]),
     "invalid WKB: MultiPoint child has incompatible dimension XYZ; expected XY"),
    ("xyz_multilinestring_xy_member", multilinestring([linestring([(1, 2)])], "XYZ"),
     "invalid WKB: MultiLineString child has incompatible dimension XY; expected XYZ"),
    ("xyz_multipolygon_xym_member", multipolygon([polygon([], "XYM")], "XYZ"),
     "invalid WKB: MultiPolygon child has incompatible dimension XYM; expected XYZ"),
    ("xyz_collection_xy_member", geometrycollection([point((1, 2))], "XYZ"),
     "invalid WKB: GeometryCollection XYZ member has incompatible dimension XY"),
    ("xyzm_collection_xym_member", geometrycollection([linestring([], "XYM")], "XYZM"),
     "invalid WKB: GeometryCollection XYZM member has incompatible dimension XYM"),
    ("member_error_before_collection_dimension", geometrycollection([point((1, 2))], "XYZ")[:-1],
     END + " reading f64"),
    # trailing data
    ("one_trailing_byte", point((1, 2)) + b"\0",
     "invalid WKB: unexpected trailing data: 1 bytes remaining"),
    ("trailing_second_geometry", point((1, 2)) + point((3, 4)),
     "invalid WKB: unexpected trailing data: 21 bytes remaining"),
]


@pytest.mark.parametrize("wkb, message", cases(ERRORS))
def test_reader_failures(wkb, message):
    assert convert_error(wkb) == message
    with pytest.raises(ValueError) as info:
        quorvel.wkb_to_wkt_split_srid(wkb)
    assert str(info.value) == message


def nested_collections(levels, innermost=None):
    wkb = geometrycollection([] if innermost is None else [innermost])
    for _ in range(levels - 1):
        wkb = geometrycollection([wkb])
    return wkb


def test_128_nested_collections_convert():
    text = quorvel.wkb_to_wkt(nested_collections(128))
    assert text == "GEOMETRYCOLLECTION (" * 127 + "GEOMETRYCOLLECTION EMPTY" + ")" * 127


def test_multi_members_do_not_count_as_a_level():
    text = quorvel.wkb_to_wkt(nested_collections(127, multipoint([point((1, 2))])))
    assert text.endswith("(MULTIPOINT ((1 2))" + ")" * 127)


@pytest.mark.parametrize("wkb", [
    pytest.param(nested_collections(129), id="129_collections"),
    pytest.param(nested_collections(128, point((1, 2))), id="point_at_level_128"),
    pytest.param(nested_collections(128, b"\x09"), id="refused_before_marker_is_read"),
])
def test_nesting_beyond_128_levels_refused(wkb):
    assert convert_error(wkb) == "invalid WKB: geometry nesting exceeds maximum depth of 128"


# A top-level Point that fills its input takes a shorter road than a collection's
# member; both must write the same text, and read the same SRID.
@pytest.mark.parametrize("order", [LE, BE])
@pytest.mark.parametrize("dim", list(ORDINATES))
@pytest.mark.parametrize("srid", [None, 4326, 0, -1])
@pytest.mark.parametrize("values", [(1.5, -2.25, 3.0, 4.0), (NAN, 0.1, NAN, 5e-324),
                                    (NAN, NAN, NAN, NAN), (-0.0, float("inf"), 1e300, -7.0)])
def test_top_level_point_reads_as_a_collection_member(order, dim, srid, values):
    coords = values[: ORDINATES[dim]]
    top = point(coords, dim, order, srid)
    member = quorvel.wkb_to_wkt(geometrycollection([point(coords, dim, order)]))
    assert "GEOMETRYCOLLECTION (" + quorvel.wkb_to_wkt(top, srid=False) + ")" == member
    assert quorvel.wkb_to_wkt_split_srid(top)[1] == (srid if srid and srid > 0 else None)
    # One byte more is the general reader's error, not a point.
    with pytest.raises(ValueError, match="trailing data: 1 bytes"):
        quorvel.wkb_to_wkt(top + b"\0")
