"""The nine converting functions: input kind x SRID policy, decoding order, the
WKT prefix fast path of to_wkt, and an end-to-end agreement property."""

import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvel
from wkb_helpers import BE, point

WKT = "POINT(1 2)"
EWKT = "SRID=4326;POINT(1 2)"
CANON = "POINT (1 2)"

P = point((1, 2))
P4326 = point((1, 2), srid=4326)
P3857 = point((1, 2), srid=3857)
P4326_BE = point((1, 2), order=BE, srid=4326)


def upper(b):
    return b.hex().upper()


def lower(b):
    return b.hex()


def mixed(b):
    return "".join(c.upper() if i % 2 else c for i, c in enumerate(b.hex()))


def raises(exc, message, fn, *args, **kwargs):
    with pytest.raises(exc) as info:
        fn(*args, **kwargs)
    if message.endswith("..."):
        assert str(info.value).startswith(message[:-3])
    else:
        assert info.value.args == (message,)


# Policies and what an input carrying SRID 4326, or none, turns into.
POLICIES = [None, False, 3857, 0, -1]
FROM_4326 = {None: P4326, False: P, 3857: P3857, 0: P, -1: P}
FROM_PLAIN = {None: P, False: P, 3857: P3857, 0: P, -1: P}
TEXT_4326 = {None: "SRID=4326;" + CANON, False: CANON, 3857: "SRID=3857;" + CANON, 0: CANON,
             -1: CANON}


def table(sources, results):
    return [pytest.param(src, p, results[p], id=f"{name}-{p}")
            for name, src in sources for p in POLICIES]


BINARY_4326 = [("bytes", P4326), ("bytearray", bytearray(P4326)),
               ("memoryview", memoryview(P4326))]
HEX_4326 = [("hex-upper", upper(P4326)), ("hex-lower", lower(P4326)),
            ("hex-mixed", mixed(P4326)), ("hex-padded", " \t" + upper(P4326) + "\n\u3000")]


# --- to_wkb -----------------------------------------------------------------

@pytest.mark.parametrize("source, srid, expected",
                         table([("wkt", WKT), ("wkt-padded", "\u00a0 " + WKT + " \r\n")],
                               FROM_PLAIN)
                         + table([("ewkt", EWKT), ("ewkt-lower", "srid=4326;point(1 2)")],
                                 FROM_4326)
                         + table(HEX_4326 + BINARY_4326, FROM_4326))
def test_to_wkb(source, srid, expected):
    assert quorvel.to_wkb(source, srid=srid) == expected


@pytest.mark.parametrize("source, srid, expected", [
    pytest.param(upper(P4326_BE), None, P4326_BE, id="hex-be-mirror-as-decoded"),
    pytest.param(lower(P4326_BE), False, point((1, 2), order=BE), id="hex-be-strip-keeps-order"),
    pytest.param(P4326_BE, 7, point((1, 2), order=BE, srid=7), id="bytes-be-set-keeps-order"),
    pytest.param(b"\x00\x01", None, b"\x00\x01", id="bytes-not-wkb-mirror-unchecked"),
    pytest.param("0001", None, b"\x00\x01", id="hex-not-wkb-mirror-unchecked"),
    pytest.param(b"", None, b"", id="empty-bytes-mirror"),
    pytest.param("SRID=0;POINT(1 2)", None, P, id="ewkt-srid-0"),
])
def test_to_wkb_edge_cases(source, srid, expected):
    assert quorvel.to_wkb(source, srid=srid) == expected


@pytest.mark.parametrize("source, srid, exc, message", [
    pytest.param("0001", 4326, ValueError, "invalid WKB: unexpected end of data reading u32",
                 id="hex-not-wkb-set-takes-round-trip"),
    pytest.param("ABC", None, ValueError, "invalid WKT: unknown geometry type at position 0: ABC",
                 id="odd-length-hex-is-wkt"),
    pytest.param("0x0101000000", None, ValueError, "invalid WKT: ...", id="0x-prefix-is-wkt"),
    pytest.param("", None, ValueError, "invalid WKT: unknown geometry type at position 0: ",
                 id="empty-str-is-wkt"),
    pytest.param("SRID=x;POINT(1 2)", False, ValueError,
                 "invalid WKT: expected integer at position 5", id="bad-prefix-under-strip"),
    pytest.param("SRID=x;POINT(1 2)", 7, ValueError,
                 "invalid WKT: expected integer at position 5", id="bad-prefix-under-set"),
])
def test_to_wkb_errors(source, srid, exc, message):
    raises(exc, message, quorvel.to_wkb, source, srid=srid)


# --- to_wkt -----------------------------------------------------------------

@pytest.mark.parametrize("source, srid, expected",
                         table(HEX_4326 + BINARY_4326, TEXT_4326)
                         + table([("wkt", WKT)], {None: WKT, False: WKT, 3857: "SRID=3857;" + WKT,
                                                  0: WKT, -1: WKT})
                         + table([("ewkt", EWKT)], {None: EWKT, False: WKT,
                                                    3857: "SRID=3857;" + WKT, 0: WKT, -1: WKT})
                         + table([("odd-hex", "ABC")], {None: "ABC", False: "ABC",
                                                        3857: "SRID=3857;ABC", 0: "ABC",
                                                        -1: "ABC"}))
def test_to_wkt(source, srid, expected):
    assert quorvel.to_wkt(source, srid=srid) == expected


# T, policy, result of the prefix fast path (no parsing, never fails).
FAST_PATH = [
    ("srid=4326;point(1 2)", None, "srid=4326;point(1 2)", "lower-case-kept"),
    ("sRiD=4326;POINT(1 2)", False, WKT, "mixed-case-found"),
    ("srid=4326 ; POINT(1 2)", 3857, "SRID=3857;" + WKT, "space-after-semicolon-removed"),
    ("SRID=4326;   POINT(1 2)", None, "SRID=4326;   POINT(1 2)", "positive-mirror-keeps-spaces"),
    ("SRID=4326;\u3000\u00a0POINT(1 2)", False, WKT, "unicode-space-after-semicolon"),
    ("SRID=0;POINT(1 2)", None, WKT, "zero"),
    ("SRID=-1; POINT(1 2)", None, WKT, "negative"),
    ("SRID=+0;POINT(1 2)", None, WKT, "plus-zero"),
    ("SRID=-0;POINT(1 2)", None, WKT, "minus-zero"),
    ("SRID=000;POINT(1 2)", None, WKT, "leading-zeros"),
    ("SRID=-0000000000000000005;POINT(1 2)", None, WKT, "many-leading-zeros"),
    ("SRID= -5\t;POINT(1 2)", None, WKT, "value-trimmed"),
    ("SRID=-2147483648;POINT(1 2)", None, WKT, "i32-min"),
    ("SRID=-2147483649;POINT(1 2)", None, "SRID=-2147483649;POINT(1 2)", "below-i32-min"),
    ("SRID=-99999999999999999999;POINT(1 2)", None, "SRID=-99999999999999999999;POINT(1 2)",
     "far-below-i32-min"),
    ("SRID=+5;POINT(1 2)", None, "SRID=+5;POINT(1 2)", "positive-with-plus"),
    ("SRID=abc;POINT(1 2)", None, "SRID=abc;POINT(1 2)", "invalid-value-mirror"),
    ("SRID=abc;POINT(1 2)", False, WKT, "invalid-value-strip"),
    ("SRID=abc;POINT(1 2)", 9, "SRID=9;" + WKT, "invalid-value-set"),
    ("SRID=;POINT(1 2)", None, "SRID=;POINT(1 2)", "empty-value"),
    ("SRID=-;POINT(1 2)", None, "SRID=-;POINT(1 2)", "lone-sign"),
    ("SRID=--1;POINT(1 2)", None, "SRID=--1;POINT(1 2)", "double-sign"),
    ("SRID=-1 2;POINT(1 2)", None, "SRID=-1 2;POINT(1 2)", "inner-space"),
    ("SRID=-1;2;POINT(1 2)", None, "2;POINT(1 2)", "first-semicolon-ends-value"),
    ("SRID=0", None, "SRID=0", "no-semicolon-no-prefix"),
    ("SRID=0", False, "SRID=0", "no-semicolon-strip-keeps"),
    ("SRID=0", 5, "SRID=5;SRID=0", "no-semicolon-set-prepends"),
    ("SRID ;x", False, "SRID ;x", "no-equals-no-prefix"),
    ("XRID=0;x", False, "XRID=0;x", "first-letter-differs-no-prefix"),
    ("  SRID=0;POINT(1 2)\t\n", None, WKT, "trimmed-first"),
    ("  not wkt at all  ", None, "not wkt at all", "malformed-returned-trimmed"),
    ("POINT(1 2)\u200b", None, "POINT(1 2)\u200b", "zero-width-space-stays"),
    ("POINT(1 2)", 7, "SRID=7;POINT(1 2)", "set-on-plain"),
    ("SRID=4326;POINT(1 2)", -5, WKT, "negative-set-strips"),
    ("SRID=2147483648;POINT(1 2)", 2147483647, "SRID=2147483647;" + WKT, "i32-max-set"),
]


@pytest.mark.parametrize("text, srid, expected",
                         [pytest.param(*row[:3], id=row[3]) for row in FAST_PATH])
def test_to_wkt_prefix_fast_path(text, srid, expected):
    assert quorvel.to_wkt(text, srid=srid) == expected


@pytest.mark.parametrize("source, srid, expected", [
    pytest.param("point(1 2)", None, CANON, id="canonical-keywords"),
    pytest.param("  SRID=4326;point ( 1   2 ) ", None, "SRID=4326;" + CANON, id="prefix-kept"),
    pytest.param("SRID=4326;POINT(1 2)", False, CANON, id="strip"),
    pytest.param("SRID=4326;POINT(1 2)", 3857, "SRID=3857;" + CANON, id="set"),
    pytest.param("SRID=4326;POINT(1 2)", 0, CANON, id="set-zero-strips"),
    pytest.param("SRID=0;POINT(1 2)", None, CANON, id="prefix-zero"),
    pytest.param("multipoint(1 2, 3 4)", None, "MULTIPOINT ((1 2), (3 4))", id="bare-members"),
    pytest.param("POINT(.5 +1.)", 7, "SRID=7;POINT (0.5 1)", id="numbers"),
    pytest.param(upper(P4326), False, CANON, id="hex-input-reads-wkb"),
])
def test_to_wkt_normalize(source, srid, expected):
    assert quorvel.to_wkt(source, srid=srid, normalize_wkt=True) == expected


@pytest.mark.parametrize("source, normalize, message", [
    pytest.param("", False, "invalid WKT: empty input", id="empty"),
    pytest.param("", True, "invalid WKT: empty input", id="empty-normalize"),
    pytest.param(" \t\u3000\n", False, "invalid WKT: empty input", id="whitespace-only"),
    pytest.param(" \t\u3000\n", True, "invalid WKT: empty input", id="whitespace-only-normalize"),
    pytest.param("  not wkt at all  ", True, "invalid WKT: ...", id="malformed-normalize"),
    pytest.param("SRID=abc;POINT(1 2)", True, "invalid WKT: expected integer at position 5",
                 id="bad-prefix-normalize"),
    pytest.param("ABCD", False, "invalid WKB: invalid byte order marker: 171",
                 id="even-hex-read-as-wkb"),
    pytest.param("ABCD", True, "invalid WKB: invalid byte order marker: 171",
                 id="even-hex-read-as-wkb-normalize"),
])
@pytest.mark.parametrize("srid", [None, False, 5])
def test_to_wkt_errors(source, normalize, message, srid):
    raises(ValueError, message, quorvel.to_wkt, source, srid=srid, normalize_wkt=normalize)


# --- to_hex_wkb -------------------------------------------------------------

@pytest.mark.parametrize("source, srid, expected",
                         [pytest.param(s, p, upper(e), id=i) for s, p, e, i in [
                             (WKT, None, P, "wkt"), (EWKT, None, P4326, "ewkt"),
                             (EWKT, False, P, "ewkt-strip"), (EWKT, 3857, P3857, "ewkt-set"),
                             (EWKT, -1, P, "ewkt-negative"), (WKT, 3857, P3857, "wkt-set"),
                         ]]
                         + table(HEX_4326 + BINARY_4326,
                                 {p: upper(b) for p, b in FROM_4326.items()}))
def test_to_hex_wkb(source, srid, expected):
    assert quorvel.to_hex_wkb(source, srid=srid) == expected


@pytest.mark.parametrize("source, srid, expected", [
    pytest.param(" abcd ", None, "ABCD", id="lower-hex-uppercased-unchecked"),
    pytest.param("aBcDeF0123", None, "ABCDEF0123", id="mixed-hex-uppercased-unchecked"),
    pytest.param(b"\x01\x02", None, "0102", id="bytes-encoded-unchecked"),
    pytest.param(bytearray(b"\xab"), None, "AB", id="bytearray-encoded"),
    pytest.param(b"", None, "", id="empty-bytes"),
    pytest.param(lower(P4326_BE), None, upper(P4326_BE), id="be-kept-under-mirror"),
])
def test_to_hex_wkb_pass_through(source, srid, expected):
    assert quorvel.to_hex_wkb(source, srid=srid) == expected


@pytest.mark.parametrize("source, srid, message", [
    pytest.param("abcd", False, "invalid WKB: invalid byte order marker: 171",
                 id="hex-not-wkb-strip"),
    pytest.param("abc", None, "invalid WKT: unknown geometry type at position 0: abc",
                 id="odd-length-is-wkt"),
    pytest.param("SRID=x;POINT(1 2)", False, "invalid WKT: expected integer at position 5",
                 id="bad-prefix-strip"),
])
def test_to_hex_wkb_errors(source, srid, message):
    raises(ValueError, message, quorvel.to_hex_wkb, source, srid=srid)


# --- fixed-input functions --------------------------------------------------

@pytest.mark.parametrize("source, srid, expected",
                         table(BINARY_4326 + [("be", P4326_BE)], TEXT_4326)
                         + table([("plain", P), ("srid-0", point((1, 2), srid=0))],
                                 {None: CANON, False: CANON, 3857: "SRID=3857;" + CANON,
                                  0: CANON, -1: CANON}))
def test_wkb_to_wkt(source, srid, expected):
    assert quorvel.wkb_to_wkt(source, srid=srid) == expected


@pytest.mark.parametrize("source, srid, expected",
                         table(HEX_4326[:3] + [("hex-be", lower(P4326_BE))], TEXT_4326))
def test_hex_wkb_to_wkt(source, srid, expected):
    assert quorvel.hex_wkb_to_wkt(source, srid=srid) == expected


@pytest.mark.parametrize("source, message", [
    pytest.param("", "invalid WKB: empty hex string", id="empty"),
    pytest.param("0", "invalid WKB: hex string has odd length", id="one-digit"),
    pytest.param(" " + upper(P), "invalid WKB: hex string has odd length", id="one-space"),
    pytest.param("  " + upper(P), "invalid WKB: invalid hex digit at position 0", id="two-spaces"),
    pytest.param(upper(P) + "\n", "invalid WKB: hex string has odd length", id="trailing-newline"),
    pytest.param(upper(P) + "00", "invalid WKB: unexpected trailing data: 1 bytes remaining",
                 id="trailing-byte"),
    pytest.param("0163000000", "unsupported geometry type code: 99", id="unsupported-code"),
])
def test_hex_wkb_to_wkt_errors(source, message):
    raises(ValueError, message, quorvel.hex_wkb_to_wkt, source)


WKT_SOURCES = [("wkt", WKT), ("wkt-spaces-not-trimmed-but-skipped", "  " + WKT + " \n")]
EWKT_SOURCES = [("ewkt", EWKT), ("ewkt-spaced", "srid=4326 ; point(1 2)")]
UNKNOWN_SOURCES = [("srid-0", "SRID=0;POINT(1 2)"), ("srid-neg", "SRID=-1;POINT(1 2)")]
WKT_TABLE = (table(WKT_SOURCES + UNKNOWN_SOURCES, FROM_PLAIN) + table(EWKT_SOURCES, FROM_4326))


@pytest.mark.parametrize("source, srid, expected", WKT_TABLE)
def test_wkt_to_wkb(source, srid, expected):
    assert quorvel.wkt_to_wkb(source, srid=srid) == expected


@pytest.mark.parametrize("source, srid, expected", WKT_TABLE)
def test_wkt_to_hex_wkb(source, srid, expected):
    assert quorvel.wkt_to_hex_wkb(source, srid=srid) == upper(expected)


@pytest.mark.parametrize("fn", [quorvel.wkt_to_wkb, quorvel.wkt_to_hex_wkb,
                                quorvel.wkt_to_wkb_split_srid])
@pytest.mark.parametrize("source, message", [
    pytest.param("SRID=x;POINT(1 2)", "invalid WKT: expected integer at position 5",
                 id="bad-prefix"),
    pytest.param("SRID=2147483648;POINT(1 2)",
                 "invalid WKT: integer out of i32 range: 2147483648", id="prefix-out-of-range"),
    pytest.param("POINT(1 2)\x0b", "invalid WKT: unexpected trailing content at position 10: \x0b",
                 id="vertical-tab-not-trimmed"),
    pytest.param("", "invalid WKT: unknown geometry type at position 0: ", id="empty"),
])
def test_wkt_functions_refuse(fn, source, message):
    raises(ValueError, message, fn, source)


@pytest.mark.parametrize("srid", [None, False, 3857, -1])
def test_bad_prefix_fails_under_every_policy(srid):
    for fn in (quorvel.wkt_to_wkb, quorvel.wkt_to_hex_wkb):
        raises(ValueError, "invalid WKT: expected integer at position 5", fn,
               "SRID=x;POINT(1 2)", srid=srid)


def test_vertical_tab_trimmed_by_detecting_functions():
    text = "\x0bPOINT(1 2)\x0b"
    assert quorvel.to_wkb(text) == P
    assert quorvel.to_hex_wkb(text) == upper(P)
    assert quorvel.to_wkt(text, normalize_wkt=True) == CANON


@pytest.mark.parametrize("source, expected", [
    pytest.param(EWKT, (P, 4326), id="ewkt"),
    pytest.param(WKT, (P, None), id="wkt"),
    pytest.param("SRID=0;POINT(1 2)", (P, None), id="srid-0"),
    pytest.param("SRID=-7;POINT(1 2)", (P, None), id="srid-negative"),
    pytest.param("srid=2147483647;point empty", (point((math.nan, math.nan)), 2147483647),
                 id="i32-max-empty-point"),
])
def test_wkt_to_wkb_split_srid(source, expected):
    result = quorvel.wkt_to_wkb_split_srid(source)
    assert type(result) is tuple and len(result) == 2
    assert result[0] == expected[0] and result[1] == expected[1]


@pytest.mark.parametrize("source, expected", [
    pytest.param(P4326, (CANON, 4326), id="ewkb"),
    pytest.param(P4326_BE, (CANON, 4326), id="ewkb-be"),
    pytest.param(bytearray(P4326), (CANON, 4326), id="bytearray"),
    pytest.param(memoryview(P4326), (CANON, 4326), id="memoryview"),
    pytest.param(P, (CANON, None), id="plain"),
    pytest.param(point((1, 2), srid=0), (CANON, None), id="srid-0"),
    pytest.param(point((1, 2), srid=-1), (CANON, None), id="srid-negative"),
])
def test_wkb_to_wkt_split_srid(source, expected):
    assert quorvel.wkb_to_wkt_split_srid(source) == expected


@pytest.mark.parametrize("source, message", [
    pytest.param(b"", "invalid WKB: unexpected end of data", id="empty"),
    pytest.param(P + b"\x00", "invalid WKB: unexpected trailing data: 1 bytes remaining",
                 id="trailing-byte"),
    pytest.param(b"\x02", "invalid WKB: invalid byte order marker: 2", id="bad-marker"),
])
@pytest.mark.parametrize("fn", [quorvel.wkb_to_wkt, quorvel.wkb_to_wkt_split_srid,
                                quorvel.to_wkt])
def test_wkb_input_errors(fn, source, message):
    raises(ValueError, message, fn, source)


# --- decoding order ---------------------------------------------------------

SRID_TRUE = "srid=True is not valid; pass an integer SRID, False, or None"
SRID_TYPE = "srid must be None, False, or an integer"


@pytest.mark.parametrize("call, exc, message", [
    pytest.param(lambda: quorvel.to_wkb(5, srid=True), ValueError, SRID_TRUE, id="to_wkb"),
    pytest.param(lambda: quorvel.to_hex_wkb(5, srid=True), ValueError, SRID_TRUE,
                 id="to_hex_wkb"),
    pytest.param(lambda: quorvel.wkb_to_wkt("x", srid=True), ValueError, SRID_TRUE,
                 id="wkb_to_wkt"),
    pytest.param(lambda: quorvel.to_wkt(5, srid=True), ValueError, SRID_TRUE, id="to_wkt"),
    pytest.param(lambda: quorvel.to_wkt(5, srid=7), BufferError,
                 "source must be a contiguous one-byte buffer", id="to_wkt-source-after-srid"),
    pytest.param(lambda: quorvel.to_wkt(5, srid=True, normalize_wkt=1), TypeError,
                 "argument 'normalize_wkt': 'int' object is not an instance of 'bool'",
                 id="to_wkt-normalize-first"),
    pytest.param(lambda: quorvel.wkt_to_wkb(5, srid=True), TypeError,
                 "argument 'wkt': 'int' object is not an instance of 'str'", id="wkt_to_wkb"),
    pytest.param(lambda: quorvel.wkt_to_hex_wkb(5, srid=True), TypeError,
                 "argument 'wkt': 'int' object is not an instance of 'str'",
                 id="wkt_to_hex_wkb"),
    pytest.param(lambda: quorvel.hex_wkb_to_wkt(5, srid=True), TypeError,
                 "argument 'hex_wkb': 'int' object is not an instance of 'str'",
                 id="hex_wkb_to_wkt"),
    pytest.param(lambda: quorvel.hex_wkb_to_wkt("zz", srid=4.0), ValueError, SRID_TYPE,
                 id="hex_wkb_to_wkt-srid-before-hex"),
    pytest.param(lambda: quorvel.wkt_to_wkb("garbage", srid="x"), ValueError, SRID_TYPE,
                 id="wkt_to_wkb-srid-before-parse"),
    pytest.param(lambda: quorvel.to_ewkb_header(5, True), ValueError,
                 "srid=True is not valid; pass an integer SRID or False", id="to_ewkb_header"),
    pytest.param(lambda: quorvel.wkb_header_srid(5, include_unknown=1), TypeError,
                 "argument 'include_unknown': 'int' object is not an instance of 'bool'",
                 id="wkb_header_srid"),
])
def test_first_bad_argument_in_decoding_order_wins(call, exc, message):
    raises(exc, message, call)


# --- results are new objects ------------------------------------------------

@pytest.mark.parametrize("fn, source", [
    pytest.param(quorvel.to_wkb, P4326, id="to_wkb-bytes"),
    pytest.param(quorvel.to_wkt, EWKT, id="to_wkt-ewkt"),
    pytest.param(quorvel.to_wkt, "not wkt at all", id="to_wkt-malformed"),
    pytest.param(quorvel.to_hex_wkb, upper(P4326), id="to_hex_wkb-upper-hex"),
])
def test_pass_through_returns_new_equal_object(fn, source):
    result = fn(source)
    assert result == source and result is not source


# --- end to end -------------------------------------------------------------

finite = st.floats(allow_nan=False, allow_infinity=False).map(repr)
TAGS = {"XY": "", "XYZ": " Z", "XYM": " M", "XYZM": " ZM"}
SIZES = {"XY": 2, "XYZ": 3, "XYM": 3, "XYZM": 4}


def coord(dim):
    return st.lists(finite, min_size=SIZES[dim], max_size=SIZES[dim]).map(" ".join)


def coords(dim, min_size=1):
    return st.lists(coord(dim), min_size=min_size, max_size=4).map(", ".join)


def paren(s):
    return "(" + s + ")"


def body(kind, dim):
    c = coord(dim).map(paren)
    line = coords(dim).map(paren)
    poly = st.lists(coords(dim, 3).map(paren), min_size=1, max_size=2).map(", ".join).map(paren)
    members = {
        "POINT": c,
        "LINESTRING": line,
        "POLYGON": poly,
        "MULTIPOINT": st.lists(c | st.just("EMPTY"), min_size=1, max_size=3),
        "MULTILINESTRING": st.lists(line | st.just("EMPTY"), min_size=1, max_size=3),
        "MULTIPOLYGON": st.lists(poly | st.just("EMPTY"), min_size=1, max_size=3),
    }[kind]
    if kind.startswith("MULTI"):
        members = members.map(", ".join).map(paren)
    return st.just(" EMPTY") | members


KINDS = ["POINT", "LINESTRING", "POLYGON", "MULTIPOINT", "MULTILINESTRING", "MULTIPOLYGON"]


@st.composite
def geometry(draw, depth=0, dim=None):
    dim = dim or draw(st.sampled_from(list(TAGS)))
    kinds = KINDS + (["GEOMETRYCOLLECTION"] if depth < 2 else [])
    kind = draw(st.sampled_from(kinds))
    keyword = draw(st.sampled_from([kind, kind.lower()]))
    if kind != "GEOMETRYCOLLECTION":
        return keyword + TAGS[dim] + draw(body(kind, dim))
    # An XY collection takes members of any dimension; the others only their own.
    member_dim = None if dim == "XY" else dim
    members = draw(st.lists(geometry(depth + 1, member_dim), max_size=3))
    return keyword + TAGS[dim] + (paren(", ".join(members)) if members else " EMPTY")


prefixed = st.tuples(st.sampled_from(["", "SRID=4326;", "srid=0;", "SRID=-3;", "SRID=7 ; "]),
                     geometry()).map("".join)


@settings(max_examples=150, deadline=None)
@given(prefixed)
def test_conversion_paths_agree(text):
    for p in (None, False, 4326, 0, -1):
        through_wkb = quorvel.to_wkt(quorvel.to_wkb(text, srid=p))
        through_hex = quorvel.to_wkt(quorvel.to_hex_wkb(text, srid=p))
        normalized = quorvel.to_wkt(text, srid=p, normalize_wkt=True)
        assert through_wkb == through_hex == normalized
        # The canonical text is a fixed point.
        assert quorvel.to_wkt(normalized, normalize_wkt=True) == normalized
