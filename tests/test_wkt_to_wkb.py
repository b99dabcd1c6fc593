"""WKT/EWKT text to little-endian EWKB, in binary and as uppercase hex: every kind and
dimension, empties, back-patched counts, nesting, the collection dimension rule, and
properties over generated geometries, cross-checked against shapely."""

import faulthandler
import struct
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvel

Z_FLAG, M_FLAG, SRID_FLAG = 0x80000000, 0x40000000, 0x20000000
POINT, LINESTRING, POLYGON, MULTIPOINT, MULTILINESTRING, MULTIPOLYGON, COLLECTION = range(1, 8)
NAMES = "POINT LINESTRING POLYGON MULTIPOINT MULTILINESTRING MULTIPOLYGON GEOMETRYCOLLECTION"
KEYWORDS = dict(zip(range(1, 8), NAMES.split()))
# ordinates, flags, tag
DIMS = {
    "XY": (2, 0, ""),
    "XYZ": (3, Z_FLAG, " Z"),
    "XYM": (3, M_FLAG, " M"),
    "XYZM": (4, Z_FLAG | M_FLAG, " ZM"),
}
MEMBER_KIND = {MULTIPOINT: POINT, MULTILINESTRING: LINESTRING, MULTIPOLYGON: POLYGON}
EMPTY_ORDINATE = struct.pack("<Q", 0x7FF8000000000000)


def hex_of(text):
    """The hex result, checked against the binary one."""
    result = quorvel.wkt_to_hex_wkb(text)
    assert result == quorvel.wkt_to_wkb(text).hex().upper()
    return result


def failure(text):
    """The message of both modes, which must fail alike."""
    with pytest.raises(ValueError) as binary:
        quorvel.wkt_to_wkb(text)
    with pytest.raises(ValueError) as hex_mode:
        quorvel.wkt_to_hex_wkb(text)
    assert binary.value.args == hex_mode.value.args
    return binary.value.args[0]


# --- a small model: geometry tuples (kind, dim, body), body None for EMPTY ---


def header(kind, dim, srid=None):
    word = kind | DIMS[dim][1] | (SRID_FLAG if srid is not None else 0)
    return struct.pack("<BI", 1, word) + (struct.pack("<i", srid) if srid is not None else b"")


def coord_bytes(c):
    return struct.pack("<%dd" % len(c), *c)


def seq_bytes(coords):
    return struct.pack("<I", len(coords)) + b"".join(coord_bytes(c) for c in coords)


def rings_bytes(rings):
    return struct.pack("<I", len(rings)) + b"".join(seq_bytes(r) for r in rings)


def to_wkb(g, srid=None):
    kind, dim, body = g
    n = DIMS[dim][0]
    out = header(kind, dim, srid)
    if body is None:
        return out + (EMPTY_ORDINATE * n if kind == POINT else b"\0\0\0\0")
    if kind == POINT:
        return out + coord_bytes(body)
    if kind == LINESTRING:
        return out + seq_bytes(body)
    if kind == POLYGON:
        return out + rings_bytes(body)
    out += struct.pack("<I", len(body))
    for m in body:
        if kind == COLLECTION:
            out += to_wkb(m)
        else:
            out += to_wkb((MEMBER_KIND[kind], dim, m))
    return out


class Style:
    """How the text is laid out; plain when rng is None."""

    SPACES = [" ", "  ", "\t", "\n", "\r\n", "\u3000", "\u00a0 "]

    def __init__(self, rng=None):
        self.rng = rng

    def keyword(self, word):
        if not self.rng:
            return word
        return self.rng.choice([word, word.lower(), word.capitalize()])

    def gap(self):  # required whitespace
        return self.rng.choice(self.SPACES) if self.rng else " "

    def tag_gap(self):  # a tag is looked for only behind ASCII whitespace
        return self.rng.choice([" ", "\t", "\n", " \u3000"]) if self.rng else " "

    def opt(self, plain=""):  # optional whitespace
        return self.rng.choice([""] + self.SPACES) if self.rng else plain

    def bare_point(self):
        return bool(self.rng) and self.rng.random() < 0.5


def coord_text(c, s):
    return s.gap().join(repr(v) for v in c)


def seq_text(coords, s):
    return "(" + s.opt() + ("," + s.opt(" ")).join(coord_text(c, s) for c in coords) + s.opt() + ")"


def rings_text(rings, s):
    return "(" + ("," + s.opt(" ")).join(seq_text(r, s) for r in rings) + ")"


def member_text(kind, m, s):
    if m is None:
        return s.keyword("EMPTY")
    if kind == MULTIPOINT:
        return coord_text(m, s) if s.bare_point() else "(" + coord_text(m, s) + ")"
    if kind == MULTILINESTRING:
        return seq_text(m, s)
    if kind == MULTIPOLYGON:
        return rings_text(m, s)
    return to_wkt(m, s)


def to_wkt(g, s=Style()):
    kind, dim, body = g
    tag = DIMS[dim][2]
    text = s.keyword(KEYWORDS[kind]) + (s.tag_gap() + s.keyword(tag[1:]) if tag else "")
    if body is None:
        return text + s.gap() + s.keyword("EMPTY")
    text += s.opt(" ")
    if kind == POINT:
        return text + "(" + coord_text(body, s) + ")"
    if kind == LINESTRING:
        return text + seq_text(body, s)
    if kind == POLYGON:
        return text + rings_text(body, s)
    return text + "(" + ("," + s.opt(" ")).join(member_text(kind, m, s) for m in body) + ")"


# --- generated geometries ---

finite = st.floats(allow_nan=False, allow_infinity=False)


@st.composite
def geometries(draw, dims=tuple(DIMS), depth=0, dim=None, valid=False, numbers=finite):
    """Any kind; valid=True keeps to what GEOS accepts (2+ points, closed rings)."""
    dim = dim or draw(st.sampled_from(dims))
    kind = draw(st.integers(POINT, COLLECTION if depth < 3 else MULTIPOLYGON))
    coord = st.tuples(*[numbers] * DIMS[dim][0])
    line = st.lists(coord, min_size=2 if valid else 1, max_size=4)
    ring = st.lists(coord, min_size=3, max_size=4).map(lambda r: r + r[:1]) if valid else line
    rings = st.lists(ring, min_size=1, max_size=3)
    maybe = lambda s: st.none() | s  # noqa: E731
    if draw(st.integers(0, 7)) == 0:
        return (kind, dim, None)
    if kind == POINT:
        return (kind, dim, draw(coord))
    if kind == LINESTRING:
        return (kind, dim, draw(line))
    if kind == POLYGON:
        return (kind, dim, draw(rings))
    if kind == COLLECTION:
        member_dims = dims if dim == "XY" else (dim,)
        member = geometries(member_dims, depth + 1, valid=valid, numbers=numbers)
        return (kind, dim, draw(st.lists(member, min_size=1, max_size=3)))
    member = {MULTIPOINT: coord, MULTILINESTRING: line, MULTIPOLYGON: rings}[kind]
    return (kind, dim, draw(st.lists(maybe(member), min_size=1, max_size=4)))


@settings(max_examples=150, deadline=None)
@given(geometries(), st.none() | st.integers(1, 2**31 - 1), st.randoms(use_true_random=False))
def test_generated_text_gives_expected_ewkb(g, srid, rng):
    text = ("SRID=%d;" % srid if srid else "") + to_wkt(g, Style(rng))
    expected = to_wkb(g, srid)
    assert quorvel.wkt_to_wkb(text) == expected
    assert quorvel.wkt_to_hex_wkb(text) == expected.hex().upper()
    assert quorvel.wkt_to_wkb_split_srid(text) == (to_wkb(g), srid)


# WKT text writes a negative zero as "0".
@settings(max_examples=100, deadline=None)
@given(geometries(numbers=finite.map(lambda v: v + 0.0)), st.none() | st.integers(1, 2**31 - 1))
def test_writer_form_survives_round_trip_through_wkt(g, srid):
    wkb = to_wkb(g, srid)
    assert quorvel.wkt_to_wkb(quorvel.wkb_to_wkt(wkb)) == wkb


@settings(max_examples=100, deadline=None)
@given(geometries(dims=("XY", "XYZ"), valid=True))
def test_agrees_with_shapely(g):
    # Imported here: shapely 2 has no wheel for every machine the suite runs on (s390x).
    shapely = pytest.importorskip("shapely", minversion="2")
    text = to_wkt(g)
    ours = shapely.from_wkb(quorvel.wkt_to_wkb(text))
    theirs = shapely.from_wkt(text)
    assert shapely.to_wkb(ours, output_dimension=3) == shapely.to_wkb(theirs, output_dimension=3)
    assert shapely.equals_exact(ours, theirs, tolerance=0)


# --- fixed cases ---

HEX = [
    ("SRID=4326;POINT(1 2)", "0101000020E6100000000000000000F03F0000000000000040"),
    ("POINT(1 2)", "0101000000000000000000F03F0000000000000040"),
    ("POINT EMPTY", "0101000000000000000000F87F000000000000F87F"),
    ("POINT Z EMPTY", "0101000080" + "000000000000F87F" * 3),
    ("LINESTRING EMPTY", "010200000000000000"),
    ("POLYGON EMPTY", "010300000000000000"),
    ("MULTIPOINT EMPTY", "010400000000000000"),
    ("MULTIPOLYGON EMPTY", "010600000000000000"),
    ("GEOMETRYCOLLECTION EMPTY", "010700000000000000"),
    (
        "GEOMETRYCOLLECTION(POINT Z (1 2 3))",
        "0107000000010000000101000080000000000000F03F00000000000000400000000000000840",
    ),
    (
        "MULTIPOINT M ((1 2 3), EMPTY)",
        "0104000040020000000101000040000000000000F03F00000000000000400000000000000840"
        "0101000040000000000000F87F000000000000F87F000000000000F87F",
    ),
    (
        "POLYGON((0 0, 1 0, 1 1, 0 0))",
        "0103000000010000000400000000000000000000000000000000000000000000000000F03F0000000000"
        "000000000000000000F03F000000000000F03F00000000000000000000000000000000",
    ),
    ("MULTIPOLYGON(EMPTY)", "010600000001000000010300000000000000"),
    ("MULTIPOINT(EMPTY)", "01040000000100000001010000" + "00" + "000000000000F87F" * 2),
    ("POINT(-0 0)", "0101000000" + "0000000000000080" + "0000000000000000"),
]


@pytest.mark.parametrize("text, expected", HEX)
def test_exact_hex(text, expected):
    assert hex_of(text) == expected


@pytest.mark.parametrize("kind", list(KEYWORDS))
@pytest.mark.parametrize("dim", list(DIMS))
def test_every_kind_and_dimension(kind, dim):
    c = tuple(float(i + 1) for i in range(DIMS[dim][0]))
    members = [(POINT, dim, c), (LINESTRING, dim, None), (POLYGON, dim, [[c]])]
    bodies = [c, [c, c], [[c, c, c], [c]], [c, None], [[c], None], [None, [[c, c]]], members]
    body = bodies[kind - 1]
    for g in (kind, dim, body), (kind, dim, None):
        assert quorvel.wkt_to_wkb(to_wkt(g)) == to_wkb(g)


P, PZ = (1.0, 2.0), (1.0, 2.0, 3.0)


@pytest.mark.parametrize(
    "text, g",
    [
        (
            "MULTIPOINT Z ((1 2 3), 1 2 3, EMPTY,1 2 3,(1 2 3))",
            (MULTIPOINT, "XYZ", [PZ, PZ, None, PZ, PZ]),
        ),
        (
            "GEOMETRYCOLLECTION(POINT Z (1 2 3), POINT M (1 2 3), POINT ZM EMPTY, POINT(1 2))",
            (
                COLLECTION,
                "XY",
                [(POINT, "XYZ", PZ), (POINT, "XYM", PZ), (POINT, "XYZM", None), (POINT, "XY", P)],
            ),
        ),
        (
            "GEOMETRYCOLLECTION(MULTIPOLYGON(((1 2,1 2,1 2,1 2),(1 2,1 2)),EMPTY,((1 2))),"
            "GEOMETRYCOLLECTION(LINESTRING(1 2,1 2,1 2,1 2,1 2),GEOMETRYCOLLECTION EMPTY,"
            "POINT(1 2)),"
            "MULTILINESTRING((1 2,1 2,1 2),EMPTY))",
            (
                COLLECTION,
                "XY",
                [
                    (MULTIPOLYGON, "XY", [[[P, P, P, P], [P, P]], None, [[P]]]),
                    (
                        COLLECTION,
                        "XY",
                        [(LINESTRING, "XY", [P] * 5), (COLLECTION, "XY", None), (POINT, "XY", P)],
                    ),
                    (MULTILINESTRING, "XY", [[P, P, P], None]),
                ],
            ),
        ),
    ],
)
def test_member_forms_flags_and_nested_counts(text, g):
    assert hex_of(text) == to_wkb(g).hex().upper()


def nested(depth, innermost):
    """innermost at the given level, inside that many collections."""
    return "GEOMETRYCOLLECTION(" * depth + innermost + ")" * depth


@pytest.mark.parametrize(
    "text, expected",
    [
        (
            nested(127, "GEOMETRYCOLLECTION EMPTY"),
            "0107000000" "01000000" * 127 + "010700000000000000",
        ),
        (nested(128, "GEOMETRYCOLLECTION EMPTY"), None),
        (nested(128, "POINT(1 2)"), None),
        (nested(1000, "POINT(1 2)"), None),
    ],
)
def test_nesting_limit(text, expected):
    if expected:
        assert hex_of(text) == expected
    else:
        assert failure(text) == "invalid WKT: geometry nesting exceeds maximum depth of 128"


@pytest.mark.parametrize(
    "text, expected",
    [
        ("GEOMETRYCOLLECTION Z (POINT(1 2))", "XYZ member has incompatible dimension XY"),
        ("GEOMETRYCOLLECTION M (POINT Z (1 2 3))", "XYM member has incompatible dimension XYZ"),
        (
            "GEOMETRYCOLLECTION ZM (POINT ZM EMPTY, POINT M EMPTY)",
            "XYZM member has incompatible dimension XYM",
        ),
        (
            "GEOMETRYCOLLECTION Z (GEOMETRYCOLLECTION (POINT Z (1 2 3)))",
            "XYZ member has incompatible dimension XY",
        ),
    ],
)
def test_tagged_collection_refuses_other_dimensions(text, expected):
    assert failure(text) == "invalid WKT: GeometryCollection " + expected


@pytest.mark.parametrize(
    "text, expected",
    [
        ("POINT(1 2 3)", "expected ')' at position 10, got Some('3')"),
        ("POINT Z (1 2)", "expected number at position 12, got )"),
        ("LINESTRING(1 2 3, 4 5 6)", "expected ',' or ')' at position 15, got Some('3')"),
        ("POLYGON(EMPTY)", "expected '(' at position 8, got Some('E')"),
        ("POLYGON((1 2),EMPTY)", "expected '(' at position 14, got Some('E')"),
        ("MULTIPOINT(POINT(1 2))", "expected number at position 11, got POINT(1 2)"),
        ("MULTIPOINT(1 2,)", "expected number at position 15, got )"),
        ("MULTIPOLYGON((1 2))", "expected '(' at position 14, got Some('1')"),
        # a collection member is read in full before its dimension is compared
        ("GEOMETRYCOLLECTION Z (POINT (1 2 3))", "expected ')' at position 33, got Some('3')"),
        (
            "GEOMETRYCOLLECTION(SRID=4326;POINT(1 2))",
            "unknown geometry type at position 19: SRID=4326;POINT(1 2)",
        ),
        ("POINT(1 2) POINT(1 2)", "unexpected trailing content at position 11: POINT(1 2)"),
    ],
)
def test_grammar_failures(text, expected):
    assert failure(text) == "invalid WKT: " + expected


# --- long coordinate lists: read many tuples at a time, one at a time where a run stops ---

# Tokens of every shape the reader has a path for: short and full-precision decimals,
# integers, signs, exponents, more than 19 digits, a fraction that ends at the 16th byte
# (then "1"), and tokens near the end of the text.
TOKENS = ["1", "-0.5", "+.25", "73.9856721", "-122.16443208785796", "0.41527933064110356",
          "1e3", "-7.25E-3", "123456789012.123456789", "0.1234567890123456789012", "-0",
          "0.12345678901234"]
# Whitespace between numbers and around separators: none where allowed, ASCII, Unicode,
# and runs of ASCII spaces before Unicode ones.
SPACES = [" ", "\t", "\n ", "\u3000", " \u00a0", "  \u00a0", " \t\n\u3000\u2003"]


@pytest.fixture
def no_endless_loop(request):
    """A conversion that never returns ends the run after a minute, the stacks written
    where pytest's own fault handler writes them, instead of holding it."""
    try:
        from _pytest.faulthandler import fault_handler_stderr_fd_key
        fd = request.config.stash.get(fault_handler_stderr_fd_key, None)
    except ImportError:
        fd = None
    faulthandler.dump_traceback_later(60, exit=True, file=sys.stderr if fd is None else fd)
    yield
    faulthandler.cancel_dump_traceback_later()


def long_list(count, dims=2):
    """A coordinate list of `count` tuples cycling through TOKENS and SPACES, and its
    doubles as Python reads them."""
    parts, values = [], []
    for i in range(count):
        numbers = [TOKENS[(i * dims + j) % len(TOKENS)] for j in range(dims)]
        values.extend(float(t) for t in numbers)
        space = SPACES[i % len(SPACES)]
        parts.append(space.join(numbers))
    separators = [("," + SPACES[i % len(SPACES)]) if i % 3 else "," for i in range(count)]
    text = "".join(p + s for p, s in zip(parts, separators))[: -len(separators[-1])]
    return text, values


@pytest.mark.parametrize("count", [1, 31, 32, 33, 64, 65, 100])
@pytest.mark.parametrize("dims", ["XY", "XYZM"])
@pytest.mark.usefixtures("no_endless_loop")
def test_long_coordinate_lists_read_exactly(count, dims):
    n, _, tag = DIMS[dims]
    text, values = long_list(count, n)
    expected = header(LINESTRING, dims) + struct.pack("<I%dd" % len(values), count, *values)
    assert bytes.fromhex(hex_of("LINESTRING%s (%s)" % (tag, text))) == expected
    ring = header(POLYGON, dims)[:5] + struct.pack("<II", 2, count)
    ring += struct.pack("<%dd" % len(values), *values) + struct.pack("<I", count)
    ring += struct.pack("<%dd" % len(values), *values)
    assert quorvel.wkt_to_wkb("POLYGON%s ((%s), (%s))" % (tag, text, text)) == ring


# A defect in tuple k of a long list: (text of tuple k, message with {p} the position of
# the byte the message names, found as the first occurrence of `at` in tuple k).
DEFECTS = [
    ("1 2 7", "7", "expected ',' or ')' at position {p}, got Some('7')"),
    ("1 2;", ";", "expected ',' or ')' at position {p}, got Some(';')"),
    ("1e999 2", "1e999", "non-finite coordinate 1e999 at position {p}"),
    ("1 -1-2", "-1-2", "invalid number -1-2 at position {p}"),
    ("1 2.5e", "2.5e", "invalid number 2.5e at position {p}"),
    ("1 x2", "x2", "expected number at position {p}, got x2, 3 4, 3"),
    # Right after a token that goes on past sixteen bytes: the bytes before '0' and
    # after '9'; a UTF-8 lead byte as the seventeenth byte.
    ("0.123456789012345/7 2", "/", "expected number at position {p}, got /7 2, 3 4,"),
    ("0.123456789012345:7 2", ":", "expected number at position {p}, got :7 2, 3 4,"),
    ("0.12345678901234\u0430 2", "\u0430", "expected number at position {p}, got \u0430 2, 3 4, "),
]


@pytest.mark.parametrize("k", [0, 30, 31, 32, 33, 63, 64])
@pytest.mark.parametrize("defect, at, message", DEFECTS)
def test_defect_in_a_long_list_is_reported_where_it_is(k, defect, at, message):
    tuples = ["3 4"] * 70
    tuples[k] = defect
    text = "LINESTRING(" + ", ".join(tuples) + ")"
    start = len("LINESTRING(") + sum(len(t) + 2 for t in tuples[:k])
    assert failure(text) == "invalid WKT: " + message.format(p=start + defect.index(at))
