"""Hostile input: each gives a clear exception or a correct result, in bounded memory.

Counts are only loop bounds, nesting stops at 128 levels, huge texts and buffers
convert in one pass, numbers of a million digits round correctly, and every
character the tokenizer can meet ends in a message that is a valid str naming
the byte position.
"""

import array
import ctypes
import os
import pickle
import random
import struct
import subprocess
import sys
import unicodedata
from contextlib import contextmanager
from decimal import Decimal, localcontext
from functools import cache

import numpy as np
import pytest

import quorvel as q
from wkb_helpers import (
    BE,
    GEOMETRYCOLLECTION,
    LE,
    LINESTRING,
    MULTILINESTRING,
    MULTIPOINT,
    MULTIPOLYGON,
    POLYGON,
    f64s,
    geometrycollection,
    header,
    linestring,
    multipoint,
    point,
    polygon,
    positions,
    u32,
)

try:
    import resource
except ImportError:  # Windows
    resource = None

FULL = 0xFFFFFFFF
MiB = 2**20
# The address-space cap reads /proc and sets RLIMIT_AS: Linux only.
linux_memory = pytest.mark.skipif(not os.path.exists("/proc/self/status"),
                                  reason="needs /proc and RLIMIT_AS (Linux)")


def vm_size():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no VmSize")


@contextmanager
def address_space(extra):
    """Caps the address space at `extra` bytes above what the process maps now, so
    that any allocation sized from a count read from the input fails outright."""
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (vm_size() + extra, hard))
    try:
        yield
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))


def peak_rss():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def wkb_error(message):
    return "invalid WKB: " + message


def wkt_error(message):
    return "invalid WKT: " + message


def ordinates(wkb, offset=5, count=2):
    return struct.unpack_from("<%dd" % count, wkb, offset)


# --- counts of 4,294,967,295 ----------------------------------------------------

END = "unexpected end of data"
END_U32 = "unexpected end of data reading u32"
END_F64 = "unexpected end of data reading f64"


def line_members(order):
    return linestring([(1.0, 2.0), (3.0, 4.0)], order=order)


def full_count_cases(order):
    h = lambda code: header(code, order=order)  # noqa: E731
    n = lambda count: u32(count, order)  # noqa: E731
    xy = f64s((1.0, 2.0), order)
    ring = positions([(0.0, 0.0), (1.0, 1.0)], order)
    return [
        ("LineString points", h(LINESTRING) + n(FULL) + xy, END_F64),
        ("LineString points, 1 MB of positions", h(LINESTRING) + n(FULL) + xy * 65536, END_F64),
        ("Polygon rings", h(POLYGON) + n(FULL) + ring, END_U32),
        ("Polygon ring points", h(POLYGON) + n(2) + ring + n(FULL) + xy, END_F64),
        ("MultiPoint members", h(MULTIPOINT) + n(FULL) + point((1.0, 2.0), order=order), END),
        ("MultiLineString members", h(MULTILINESTRING) + n(FULL) + line_members(order), END),
        ("MultiLineString member points",
         h(MULTILINESTRING) + n(1) + h(LINESTRING) + n(FULL) + xy, END_F64),
        ("MultiPolygon members", h(MULTIPOLYGON) + n(FULL) + h(POLYGON) + n(1) + ring, END),
        ("MultiPolygon member rings", h(MULTIPOLYGON) + n(1) + h(POLYGON) + n(FULL) + ring,
         END_U32),
        ("MultiPolygon member ring points",
         h(MULTIPOLYGON) + n(1) + h(POLYGON) + n(1) + n(FULL) + xy, END_F64),
        ("GeometryCollection members", h(GEOMETRYCOLLECTION) + n(FULL) + line_members(order), END),
        ("nested GeometryCollection members",
         (h(GEOMETRYCOLLECTION) + n(1)) * 5 + h(GEOMETRYCOLLECTION) + n(FULL)
         + point((1.0, 2.0), order=order), END),
        ("100 nested collections all claiming the full count",
         (h(GEOMETRYCOLLECTION) + n(FULL)) * 100 + point((1.0, 2.0), order=order), END),
        ("collection > MultiPolygon > ring points",
         h(GEOMETRYCOLLECTION) + n(1) + h(MULTIPOLYGON) + n(1) + h(POLYGON) + n(1) + n(FULL) + xy,
         END_F64),
        ("collection > LineString points", h(GEOMETRYCOLLECTION) + n(3) + point((1.0, 2.0))
         + h(LINESTRING) + n(FULL) + xy, END_F64),
    ]


FULL_COUNTS = [
    pytest.param(wkb, message, id=f"{name}-{'LE' if order == LE else 'BE'}")
    for order in (LE, BE)
    for name, wkb, message in full_count_cases(order)
]

READERS = {
    "wkb_to_wkt": lambda b: q.wkb_to_wkt(b),
    "wkb_to_wkt_split_srid": lambda b: q.wkb_to_wkt_split_srid(bytearray(b)),
    "hex_wkb_to_wkt": lambda b: q.hex_wkb_to_wkt(b.hex()),
    "to_wkt-bytes": lambda b: q.to_wkt(memoryview(b), srid=False),
    "to_wkt-hex": lambda b: q.to_wkt(b.hex()),
}


@linux_memory
@pytest.mark.thread_unsafe(reason="caps the address space of the whole process")
@pytest.mark.parametrize("wkb, message", FULL_COUNTS)
def test_full_count_fails_at_end_of_data_in_bounded_memory(wkb, message):
    before = peak_rss()
    with address_space(256 * MiB):
        for name, read in READERS.items():
            with pytest.raises(ValueError) as info:
                read(wkb)
            assert str(info.value) == wkb_error(message), name
        # The header paths: a Point, LineString or Polygon header is patched without
        # reading the body; every other kind goes through a full read that fails.
        code = struct.unpack_from("<I" if wkb[0] == 1 else ">I", wkb, 1)[0] & 0xFFFF
        simple = code in (LINESTRING, POLYGON)
        for call in (lambda: q.to_ewkb_header(wkb, 4326), lambda: q.to_wkb(wkb, srid=4326),
                     lambda: q.to_hex_wkb(bytearray(wkb), srid=3857),
                     lambda: q.to_wkb_no_srid_header(wkb.hex())):
            if simple:
                call()
            else:
                with pytest.raises(ValueError) as info:
                    call()
                assert str(info.value) == wkb_error(message)
        assert q.wkb_header_srid(wkb) is None
    assert peak_rss() - before < 64 * MiB


def test_full_count_header_patch_copies_the_body_verbatim():
    wkb = header(LINESTRING) + u32(FULL) + f64s((1.0, 2.0))
    patched = q.to_ewkb_header(wkb, 4326)
    assert patched == b"\x01\x02\x00\x00\x20" + struct.pack("<i", 4326) + wkb[5:]
    assert q.to_wkb_no_srid_header(patched) == wkb
    assert q.to_wkb(wkb) == wkb


# --- nesting ----------------------------------------------------------------------

NESTING = wkb_error("geometry nesting exceeds maximum depth of 128")


def nested_wkb(levels, innermost, order=LE):
    """`levels` collections each holding the next; the last one holds `innermost`
    (bytes of a member) or nothing when it is None."""
    gc = header(GEOMETRYCOLLECTION, order=order)
    if innermost is None:
        return (gc + u32(1, order)) * (levels - 1) + gc + u32(0, order)
    return (gc + u32(1, order)) * levels + innermost


def nested_wkt(levels, innermost):
    if innermost is None:
        return "GEOMETRYCOLLECTION (" * (levels - 1) + "GEOMETRYCOLLECTION EMPTY" + ")" * (
            levels - 1)
    return "GEOMETRYCOLLECTION (" * levels + innermost + ")" * levels


@pytest.mark.parametrize("order", [LE, BE], ids=["LE", "BE"])
def test_wkb_nesting_of_128_levels_converts(order):
    wkb = nested_wkb(128, None, order)
    text = nested_wkt(128, None)
    assert q.wkb_to_wkt(wkb) == text
    assert q.wkt_to_wkb(text) == nested_wkb(128, None)
    # A Multi kind at the deepest collection level reads its members inline.
    deepest = nested_wkb(127, multipoint([point((1.0, 2.0))], order=order), order)
    assert q.wkb_to_wkt(deepest) == nested_wkt(127, "MULTIPOINT ((1 2))")
    # The full rewrite re-parses its own 128-level text.
    assert q.to_ewkb_header(wkb, 4326) == q.wkt_to_wkb("SRID=4326;" + text)


WKB_TOO_DEEP = [
    pytest.param(nested_wkb(129, None), id="129-collections"),
    pytest.param(nested_wkb(128, point((1.0, 2.0))), id="point-at-level-128"),
    pytest.param(nested_wkb(128, point((1.0, 2.0), order=BE), BE), id="big-endian"),
    pytest.param(nested_wkb(100_000, point((1.0, 2.0))), id="100000-levels"),
    pytest.param(nested_wkb(129, None)[:-4], id="129-levels-truncated"),
]


@pytest.mark.parametrize("wkb", WKB_TOO_DEEP)
def test_wkb_nesting_past_the_limit_fails(wkb):
    for name, read in READERS.items():
        with pytest.raises(ValueError) as info:
            read(wkb)
        assert str(info.value) == NESTING, name
    for call in (lambda: q.to_ewkb_header(wkb, 4326), lambda: q.to_wkb(wkb, srid=False),
                 lambda: q.wkb_header_srid(b"\x01\x07\x00\x00\x10" + wkb[5:])):
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == NESTING


WKT_TOO_DEEP = [
    pytest.param(nested_wkt(129, None), id="129-collections"),
    pytest.param(nested_wkt(128, "POINT(1 2)"), id="point-at-level-128"),
    pytest.param(nested_wkt(128, "POINT(1 2"), id="unclosed-point-at-level-128"),
    pytest.param("GEOMETRYCOLLECTION(" * 1_000_000, id="million-open-collections"),
    pytest.param("SRID=4326;" + "geometrycollection z(" * 200, id="srid-lower-case-tagged"),
]

WKT_WRITERS = {
    "wkt_to_wkb": q.wkt_to_wkb,
    "wkt_to_hex_wkb": lambda t: q.wkt_to_hex_wkb(t, srid=False),
    "wkt_to_wkb_split_srid": q.wkt_to_wkb_split_srid,
    "to_wkb": lambda t: q.to_wkb(t, srid=4326),
    "to_hex_wkb": q.to_hex_wkb,
    "to_wkt": lambda t: q.to_wkt(t, normalize_wkt=True),
}


@pytest.mark.parametrize("text", WKT_TOO_DEEP)
def test_wkt_nesting_past_the_limit_fails(text):
    for name, write in WKT_WRITERS.items():
        with pytest.raises(ValueError) as info:
            write(text)
        assert str(info.value) == wkt_error("geometry nesting exceeds maximum depth of 128"), name


def test_wkt_nesting_of_128_levels_round_trips():
    text = nested_wkt(128, None)
    assert q.to_wkt(text, normalize_wkt=True) == text
    deepest = nested_wkt(127, "MULTIPOLYGON (((0 0, 1 0, 0 0)), EMPTY)")
    assert q.wkb_to_wkt(q.wkt_to_wkb(deepest)) == deepest


# Each pickled call of stdin runs on a thread with a 32 KiB stack; the outcomes,
# results or exception texts, go back pickled on stdout.
SMALL_STACK_CHILD = """
import pickle, sys, threading
import quorvel
calls, outcomes = pickle.load(sys.stdin.buffer), []
def run():
    for name, args, kwargs in calls:
        try:
            outcomes.append(getattr(quorvel, name)(*args, **kwargs))
        except ValueError as e:
            outcomes.append(str(e))
threading.stack_size(32 * 1024)
thread = threading.Thread(target=run)
thread.start()
thread.join()
pickle.dump(outcomes, sys.stdout.buffer)
"""


def stack_calls(levels):
    """Per converting function: args, kwargs, result and input kind ("WKB" or "WKT"),
    with `levels` collections around a polygon."""
    text = nested_wkt(levels, "POLYGON ((0 0, 1 0, 0 1, 0 0))")
    wkb = nested_wkb(levels, polygon([[(0.0, 0.0), (1.0, 0.0), (0.0, 1.0), (0.0, 0.0)]]))
    ewkb = header(GEOMETRYCOLLECTION, srid=4326) + wkb[5:]
    return {
        "wkb_to_wkt": ((wkb,), {}, text, "WKB"),
        "hex_wkb_to_wkt": ((wkb.hex(),), {}, text, "WKB"),
        "wkb_to_wkt_split_srid": ((wkb,), {}, (text, None), "WKB"),
        "wkt_to_wkb": ((text,), {}, wkb, "WKT"),
        "wkt_to_hex_wkb": ((text,), {}, wkb.hex().upper(), "WKT"),
        "to_wkt": ((text,), {"normalize_wkt": True}, text, "WKT"),
        "to_ewkb_header": ((wkb, 4326), {}, ewkb, "WKB"),
        "to_wkb_no_srid_header": ((ewkb,), {}, wkb, "WKB"),
    }


@pytest.mark.parametrize("name", list(stack_calls(1)))
def test_deepest_nesting_converts_on_a_32_kib_thread_stack(name):
    deepest, refused = stack_calls(127)[name], stack_calls(128)[name]
    calls = [(name, deepest[0], deepest[1]), (name, refused[0], refused[1])]
    child = subprocess.run([sys.executable, "-c", SMALL_STACK_CHILD],
                           input=pickle.dumps(calls), capture_output=True)
    assert child.returncode == 0, f"exit status {child.returncode}: {child.stderr.decode()}"
    assert pickle.loads(child.stdout) == [
        deepest[2], f"invalid {refused[3]}: geometry nesting exceeds maximum depth of 128"]


# --- size -------------------------------------------------------------------------


@cache
def hundred_mb_linestring():
    """About 100 MB of canonical WKT: a line of 5.5 million distinct-looking positions."""
    rng = random.Random(100)
    values = [repr(rng.uniform(-180, 180)) for _ in range(4000)]
    values = [v for v in values if "e" not in v and not v.endswith(".0")]
    unit = ", ".join(f"{values[i]} {values[-1 - i]}" for i in range(len(values) // 2))
    copies = 100 * MiB // (len(unit) + 2) + 1
    return "LINESTRING (" + ", ".join([unit] * copies) + ")"


def test_100_mb_wkt_converts_and_round_trips():
    text = hundred_mb_linestring()
    assert len(text) >= 100 * MiB
    wkb = q.wkt_to_wkb(text)
    (count,) = struct.unpack_from("<I", wkb, 5)
    assert len(wkb) == 9 + 16 * count
    first = tuple(map(float, text[len("LINESTRING ("):].split(",", 1)[0].split()))
    assert ordinates(wkb, offset=9) == first
    assert q.wkb_to_wkt(wkb) == text


def test_100_mb_wkt_error_at_its_end_names_the_byte_position():
    text = hundred_mb_linestring()
    broken = text[:-1] + ", 1 x)"
    with pytest.raises(ValueError) as info:
        q.wkt_to_hex_wkb(broken)
    assert str(info.value) == wkt_error(f"expected number at position {len(text) + 3}, got x)")


@cache
def sixty_four_mb_wkb():
    count = (64 * MiB - 9) // 16
    xy = np.empty((count, 2))
    xy[:, 0] = np.arange(count) % 1000 - 500.25
    xy[:, 1] = -(np.arange(count) % 777) * 0.5
    return header(LINESTRING) + u32(count) + xy.astype("<f8").tobytes()


def test_64_mb_wkb_converts_and_round_trips():
    wkb = sixty_four_mb_wkb()
    assert len(wkb) > 64 * MiB - 16
    text = q.wkb_to_wkt(bytearray(wkb))
    assert text.startswith("LINESTRING (-500.25 0, -499.25 -0.5, ")
    assert q.wkt_to_wkb(text) == wkb
    hex_text = q.to_hex_wkb(memoryview(wkb))
    assert bytes.fromhex(hex_text) == wkb and hex_text[:4096].isupper()
    assert q.hex_wkb_to_wkt(hex_text) == text


def test_64_mb_bytearray_goes_through_the_header_paths():
    data = bytearray(sixty_four_mb_wkb())
    with_srid = q.to_ewkb_header(data, 4326)
    assert len(with_srid) == len(data) + 4 and with_srid[9:] == data[5:]
    assert q.to_wkb_no_srid_header(with_srid) == data
    assert q.wkb_header_srid(with_srid) == 4326
    assert q.to_wkb(data) == data
    data.append(0)  # no view is left behind
    with pytest.raises(ValueError) as info:
        q.wkb_to_wkt(data)
    assert str(info.value) == wkb_error("unexpected trailing data: 1 bytes remaining")


# --- long numbers -------------------------------------------------------------------


def _decimal_text(value):
    with localcontext() as ctx:
        ctx.prec = 2000
        return format(value, "f")


MILLION = 1_000_000
_digits = "".join(random.Random(7).choices("0123456789", k=MILLION))
HALF_SUBNORMAL = _decimal_text(Decimal(2) ** -1075)  # halfway between 0 and 5e-324
HALF_PAST_MAX = 2**1024 - 2**970  # halfway between the largest double and 2**1024

LONG_NUMBERS = {
    "million-random-digits": "0." + _digits,
    "tie-rounds-to-even": "9007199254740993." + "0" * MILLION,
    "tie-broken-a-million-digits-on": "9007199254740993." + "0" * (MILLION - 1) + "1",
    "million-digit-integer": "1" + "0" * MILLION,
    "million-zeros-then-1": "0." + "0" * (MILLION - 1) + "1",
    "negative-underflow": "-0." + "0" * (MILLION - 1) + "1",
    "half-subnormal": HALF_SUBNORMAL,
    "half-subnormal-and-a-bit": HALF_SUBNORMAL + "0" * MILLION + "1",
    "half-past-max": str(HALF_PAST_MAX),
    "just-below-half-past-max": str(HALF_PAST_MAX - 1) + "." + "9" * MILLION,
    "just-above-half-past-max": str(HALF_PAST_MAX) + "." + "0" * MILLION + "1",
    "million-digit-exponent-of-5": "1e" + "0" * (MILLION - 1) + "5",
    "million-digit-exponent-plus": "1e+" + "0" * MILLION,
    "million-nines-exponent": "1e" + "9" * MILLION,
    "million-nines-negative-exponent": "1e-" + "9" * MILLION,
    "zero-million-nines-exponent": "0e" + "9" * MILLION,
    "exponent-cancels-integer-digits": "1" + "0" * MILLION + "e-1000000",
    "exponent-cancels-fraction-zeros": "0." + "0" * (MILLION - 1) + "1e1000000",
    "exponent-of-million-digits-cancels": "0." + "0" * (MILLION - 1) + "1e"
                                          + "0" * (MILLION - 7) + "1000000",
}


@pytest.mark.parametrize("token", LONG_NUMBERS.values(), ids=LONG_NUMBERS.keys())
def test_long_number_reads_as_the_nearest_double(token):
    expected = float(token)  # correctly rounded, whatever the length
    text = "POINT(" + token + " -0)"
    if expected in (float("inf"), float("-inf")):
        with pytest.raises(ValueError) as info:
            q.wkt_to_wkb(text)
        assert str(info.value) == wkt_error(f"non-finite coordinate {token} at position 6")
        return
    x, y = ordinates(q.wkt_to_wkb(text))
    assert struct.pack("<d", x) == struct.pack("<d", expected)
    assert struct.pack("<d", y) == struct.pack("<d", -0.0)


@pytest.mark.parametrize("token", ["1.2.3" * 200_000, "1e" * 500_000, "-" * MILLION,
                                   "1" * MILLION + "e", "." * MILLION],
                         ids=["dots", "exponents", "signs", "missing-exponent", "points"])
def test_long_malformed_number_is_named_in_full(token):
    with pytest.raises(ValueError) as info:
        q.wkt_to_wkb("LINESTRING(1 2, " + token + " 3)")
    assert str(info.value) == wkt_error(f"invalid number {token} at position 16")


LONG_SRID_PREFIXES = [
    # (text, split SRID or error message, to_wkt fast-path result)
    ("SRID=" + "0" * MILLION + "4326;POINT(1 2)", 4326, None),
    ("SRID=-" + "0" * MILLION + "1;POINT(1 2)", None, "POINT(1 2)"),
    ("SRID=-" + "0" * MILLION + "2147483648;POINT(1 2)", None, "POINT(1 2)"),
    ("SRID=-" + "0" * MILLION + "2147483649;POINT(1 2)",
     "integer out of i32 range: -" + "0" * MILLION + "2147483649", None),
    ("SRID=" + "9" * MILLION + ";POINT(1 2)", "integer out of i32 range: " + "9" * MILLION, None),
    ("SRID=4326" + "\u3000" * MILLION + ";POINT(1 2)", 4326, None),
    ("SRID=+" + "0" * MILLION + ";POINT(1 2)", "expected integer at position 5", "POINT(1 2)"),
    ("SRID= " + "\u3000" * MILLION + "-5 ;POINT(1 2)", "expected integer at position 5",
     "POINT(1 2)"),
]


@pytest.mark.parametrize("text, split, fast", LONG_SRID_PREFIXES,
                         ids=["leading-zeros", "minus-one", "minimum", "below-minimum",
                              "million-nines", "space-before-semicolon", "plus-zero",
                              "spaced-negative"])
def test_long_srid_prefix_values(text, split, fast):
    if isinstance(split, str):
        with pytest.raises(ValueError) as info:
            q.wkt_to_wkb_split_srid(text)
        assert str(info.value) == wkt_error(split)
    else:
        assert q.wkt_to_wkb_split_srid(text) == (POINT_12, split)
    # Without normalisation the prefix is judged as text: zero or below goes.
    assert q.to_wkt(text) == (text if fast is None else fast)


def test_subnormal_and_huge_ordinates_expand_in_positional_text():
    # 1 MiB of WKB becomes about 40 MiB of text, and comes back bit for bit.
    wkb = linestring([(5e-324, -1.7976931348623157e308)] * 65536)
    text = q.wkb_to_wkt(wkb)
    position = "0." + "0" * 323 + "5 -17976931348623157" + "0" * 292
    assert text == "LINESTRING (" + ", ".join([position] * 65536) + ")"
    assert q.wkt_to_wkb(text) == wkb


def test_empty_members_expand_into_nan_ordinates():
    # Six characters a member become 37 bytes: the output grows past its reservation.
    count = MiB
    text = "MULTIPOINT ZM (" + ",".join(["EMPTY"] * count) + ")"
    wkb = q.wkt_to_wkb(text)
    member = b"\x01\x01\x00\x00\xc0" + b"\x00\x00\x00\x00\x00\x00\xf8\x7f" * 4
    assert wkb == b"\x01\x04\x00\x00\xc0" + u32(count) + member * count
    assert bytes.fromhex(q.wkt_to_hex_wkb(text)) == wkb
    assert q.wkb_to_wkt(wkb) == text.replace(",", ", ")


# --- long whitespace runs -------------------------------------------------------------

SPACES = " " * (10 * MiB)
IDEOGRAPHIC = "\u3000" * (10 * MiB // 3)
MIXED = "\u3000 \t\u00a0\n\u2029\u000b" * (10 * MiB // 12)


@pytest.mark.parametrize("run", [SPACES, IDEOGRAPHIC, MIXED], ids=["spaces", "u3000", "mixed"])
def test_long_whitespace_runs_are_skipped(run):
    # Before the keyword, before the tag, between ordinates, before ")" and at the end.
    expected = q.wkt_to_wkb("SRID=4326;POINT Z (1 2 3)")
    text = run.join(["SRID=4326;", "POINT ", "Z(1", "2 3", ")", ""])
    assert q.wkt_to_wkb(text) == expected
    assert q.to_wkt(run.join(["", " POINT(1 2)", ""])) == "POINT(1 2)"
    assert q.to_wkb(run.join(["", expected.hex(), ""])) == expected


def test_long_non_ascii_run_after_keyword_gives_no_tag():
    text = "POINT" + IDEOGRAPHIC + "Z (1 2 3)"
    with pytest.raises(ValueError) as info:
        q.wkt_to_wkb(text)
    position = 5 + 3 * len(IDEOGRAPHIC)
    assert str(info.value) == wkt_error(f"expected 'EMPTY' or '(' at position {position}, "
                                        "got Z (1 2 3)")


@pytest.mark.parametrize("run", [SPACES, IDEOGRAPHIC], ids=["spaces", "u3000"])
def test_long_whitespace_only_is_empty_input(run):
    length = len(run.encode())
    for call, message in [
        (lambda: q.wkt_to_wkb(run), f"unknown geometry type at position {length}: "),
        (lambda: q.to_wkt(run), "empty input"),
        (lambda: q.to_wkb(run, srid=7), "unknown geometry type at position 0: "),
    ]:
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == wkt_error(message)
    odd = (length + 4) % 2
    with pytest.raises(ValueError) as info:
        q.hex_wkb_to_wkt(run + "0101")
    assert str(info.value) == wkb_error("hex string has odd length" if odd
                                        else "invalid hex digit at position 0")


# --- every character the tokenizer can meet ------------------------------------------

WHITE_SPACE = set(map(chr, [*range(0x09, 0x0E), 0x20, 0x85, 0xA0, 0x1680, *range(0x2000, 0x200B),
                            0x2028, 0x2029, 0x202F, 0x205F, 0x3000]))
ASCII_SPACE = set("\t\n\f\r ")
NUMBER_BYTES = set("0123456789+-.eE")
HEX_DIGITS = set("0123456789abcdefABCDEF")
# Assigned after Unicode 15.0, the version of the module's tables.
NEWER_THAN_TABLES = {*range(0x2EBF0, 0x2EE5E), *range(0x2FFC, 0x3000), 0x31EF}
# Escaped in the character display: not printable, or grapheme-extending marks.
ESCAPED = {"Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp", "Zs", "Mn", "Me"}
SHOWN = {"Lu", "Ll", "Lt", "Lo", "Nd", "Nl", "No", "Pc", "Pd", "Ps", "Pe", "Pi", "Pf", "Po",
         "Sm", "Sc", "So"}
# Letters are alphabetic; these categories hold no alphabetic character.
ALPHABETIC = {"Lu", "Ll", "Lt", "Lm", "Lo", "Nl"}
NOT_ALPHABETIC = {"Nd", "No", "Pc", "Pd", "Ps", "Pe", "Pi", "Pf", "Po", "Sm", "Sc", "Sk", "Cc",
                  "Cf", "Co", "Cn", "Zs", "Zl", "Zp"}
SIMPLE_ESCAPES = {"\0": "\\0", "\t": "\\t", "\r": "\\r", "\n": "\\n", "'": "\\'", "\\": "\\\\"}


@cache
def characters_by_category():
    """Up to 48 characters of each General_Category: the ends and evenly spread ones,
    and every ASCII one and every whitespace one."""
    members = {}
    for c in range(0x110000):
        if c not in NEWER_THAN_TABLES:
            members.setdefault(unicodedata.category(chr(c)), []).append(c)
    picked = {}
    for category, codes in members.items():
        step = max(1, len(codes) // 46)
        chosen = set(codes[::step]) | {codes[-1]}
        chosen |= {c for c in codes if c < 0x80 or chr(c) in WHITE_SPACE}
        picked[category] = sorted(chosen)
    return picked


CATEGORIES = sorted(set(characters_by_category()) - {"Cs"})


def display(c):
    """The character display of a message, or None where both forms are allowed."""
    category = unicodedata.category(c)
    if c in SIMPLE_ESCAPES:
        return SIMPLE_ESCAPES[c]
    if category in ESCAPED:
        return "\\u{%x}" % ord(c)
    if category in SHOWN or c == " ":
        return c
    return None


def outcome(text):
    try:
        return q.wkt_to_wkb(text)
    except ValueError as e:
        message = str(e)
        message.encode("utf-8")  # a valid str: no lone surrogate
        assert e.args == (message,) and e.__cause__ is None and e.__context__ is None
        return message


PREFIX = "\u3000\u00a0\u2003"  # eight bytes of whitespace the tokenizer skips
POINT_12 = q.wkt_to_wkb("POINT(1 2)")
LINE_3 = q.wkt_to_wkb("LINESTRING(1 2, 3 4, 5 6)")


def skipped(c, after_unicode_space=False):
    """Whether the tokenizer skips c: ASCII whitespace, any non-ASCII whitespace, and a
    vertical tab only inside a run that a non-ASCII whitespace character began."""
    if c == "\v":
        return after_unicode_space
    return c in WHITE_SPACE


def before_keyword(c, prefix, offset):
    expected = POINT_12
    if not skipped(c, bool(prefix)):
        excerpt = (c * 12 + "POINT(1 2)")[:20]
        expected = wkt_error(f"unknown geometry type at position {offset}: {excerpt}")
    return prefix + c * 12 + "POINT(1 2)", [expected]


def after_keyword(c, prefix, offset):
    if c == "(":
        return None
    unknown = wkt_error(f"unknown geometry type at position {offset}: POINT{c}(1 2)")
    no_open = wkt_error(f"expected 'EMPTY' or '(' at position {offset + 5}, got {c}(1 2)")
    category = unicodedata.category(c)
    if skipped(c):
        allowed = [POINT_12]
    elif category in ALPHABETIC:  # the keyword does not end here
        allowed = [unknown]
    elif category in NOT_ALPHABETIC:
        allowed = [no_open]
    else:  # marks and symbols: some are alphabetic
        allowed = [unknown, no_open]
    return prefix + "POINT" + c + "(1 2)", allowed


def where_a_number_is_due(c, prefix, offset):
    if c in NUMBER_BYTES:
        return None
    expected = LINE_3
    if not skipped(c):
        excerpt = (c + "1 2, 3 4, 5 6)")[:10]
        expected = wkt_error(f"expected number at position {offset + 11}, got {excerpt}")
    return prefix + "LINESTRING(" + c + "1 2, 3 4, 5 6)", [expected]


def where_a_parenthesis_is_due(c, prefix, offset):
    if c in NUMBER_BYTES or c == ")":
        return None
    if skipped(c):
        return prefix + "POINT(1 2" + c + ")", [POINT_12]
    head = wkt_error(f"expected ')' at position {offset + 9}, got ")
    shown = display(c)
    forms = [shown] if shown is not None else [c, "\\u{%x}" % ord(c)]
    return prefix + "POINT(1 2" + c + ")", [f"{head}Some('{form}')" for form in forms]


def after_the_geometry(c, prefix, offset):
    expected = POINT_12
    if not skipped(c):
        expected = wkt_error(f"unexpected trailing content at position {offset + 10}: {c}")
    return prefix + "POINT(1 2)" + c, [expected]


PLACES = [before_keyword, after_keyword, where_a_number_is_due, where_a_parenthesis_is_due,
          after_the_geometry]


@pytest.mark.parametrize("category", CATEGORIES)
@pytest.mark.parametrize("prefix", ["", PREFIX], ids=["bare", "after-unicode-space"])
def test_every_category_reaching_the_tokenizer(category, prefix):
    offset = len(prefix.encode())
    for c in map(chr, characters_by_category()[category]):
        for place in PLACES:
            case = place(c, prefix, offset)
            if case is not None:
                text, allowed = case
                assert outcome(text) in allowed, (place.__name__, c)


@pytest.mark.parametrize("category", CATEGORIES)
def test_every_category_in_hex_text(category):
    # The byte length decides first, then the first byte that is not a digit.
    for c in map(chr, characters_by_category()[category]):
        if c in HEX_DIGITS:
            continue
        text = "01" + c + "00"
        odd = len(text.encode()) % 2
        with pytest.raises(ValueError) as info:
            q.hex_wkb_to_wkt(text)
        assert str(info.value) == wkb_error(
            "hex string has odd length" if odd else "invalid hex digit at position 2")


def test_excerpts_count_characters_not_bytes():
    text = "POINT(1 2) " + "\U0001F600\u00e9\u20ac\u0301x" * 10
    with pytest.raises(ValueError) as info:
        q.wkt_to_wkb(text)
    assert str(info.value) == wkt_error("unexpected trailing content at position 11: "
                                        + text[11:31])


STR_FUNCTIONS = {
    "wkt_to_wkb": q.wkt_to_wkb,
    "wkt_to_wkb_split_srid": q.wkt_to_wkb_split_srid,
    "wkt_to_hex_wkb": q.wkt_to_hex_wkb,
    "hex_wkb_to_wkt": q.hex_wkb_to_wkt,
    "to_wkb": q.to_wkb,
    "to_wkt": q.to_wkt,
    "to_hex_wkb": q.to_hex_wkb,
    "wkb_header_srid": q.wkb_header_srid,
    "to_wkb_no_srid_header": q.to_wkb_no_srid_header,
    "to_ewkb_header": lambda s: q.to_ewkb_header(s, 4326),
}


@pytest.mark.parametrize("text", ["\ud800", "POINT(1 2)\udfff", "0101\udc80", "\udbff\udc00",
                                  " " * MiB + "\ud834"],
                         ids=["alone", "trailing", "in-hex", "reversed-pair", "after-1-MiB"])
@pytest.mark.parametrize("name", STR_FUNCTIONS)
def test_lone_surrogates_raise_unicode_encode_error(name, text):
    with pytest.raises(UnicodeEncodeError):
        STR_FUNCTIONS[name](text)


@pytest.mark.parametrize("name", ["\udc80", "sr\u0301id", "\U0001F600", "\x00"])
def test_unexpected_keyword_names_stay_valid_text(name):
    with pytest.raises(TypeError) as info:
        q.to_wkt("POINT(1 2)", **{name: 1})
    message = str(info.value)
    message.encode("utf-8")
    shown = name.replace("\udc80", "\ufffd")
    assert message == f"to_wkt() got an unexpected keyword argument '{shown}'"


# --- buffers ------------------------------------------------------------------------

POINT_WKB = point((1.0, 2.0))
POINT_TEXT = "POINT (1 2)"


def uint8(data):
    return np.frombuffer(data, dtype=np.uint8)


TRAILING_3 = wkb_error("unexpected trailing data: 3 bytes remaining")

ACCEPTED_BUFFERS = [
    # (source, what wkb_to_wkt makes of it)
    pytest.param(lambda: POINT_WKB, POINT_TEXT, id="bytes"),
    pytest.param(lambda: memoryview(POINT_WKB).toreadonly(), POINT_TEXT,
                 id="read-only-memoryview"),
    pytest.param(lambda: memoryview(bytearray(POINT_WKB)).toreadonly(), POINT_TEXT,
                 id="read-only-of-bytearray"),
    pytest.param(lambda: uint8(POINT_WKB + b"\x00" * 3).reshape(2, 3, 4), TRAILING_3,
                 id="numpy-3d"),
    pytest.param(lambda: uint8(POINT_WKB).astype(np.int8), POINT_TEXT, id="numpy-int8"),
    pytest.param(lambda: np.asfortranarray(uint8(POINT_WKB).reshape(1, 21)), POINT_TEXT,
                 id="fortran-one-row"),
    pytest.param(lambda: memoryview(POINT_WKB[:20]).cast("B", (4, 5)), wkb_error(END_F64),
                 id="memoryview-2d"),
    pytest.param(lambda: array.array("b", POINT_WKB), POINT_TEXT, id="signed-byte-array"),
    pytest.param(lambda: memoryview(bytearray(POINT_WKB) + bytearray(8))[:21], POINT_TEXT,
                 id="sliced"),
]


@pytest.mark.parametrize("make, text", ACCEPTED_BUFFERS)
def test_contiguous_one_byte_buffers_are_read_in_memory_order(make, text):
    source = make()
    data = memoryview(source).tobytes()
    try:
        assert q.wkb_to_wkt(source) == text
    except ValueError as e:
        assert str(e) == text
    assert q.to_wkb(source) == data
    assert q.to_hex_wkb(source) == data.hex().upper()
    assert q.to_wkb_no_srid_header(source) == data


REFUSED_BUFFERS = [
    pytest.param(lambda: memoryview(POINT_WKB)[::2], id="strided-memoryview"),
    pytest.param(lambda: uint8(POINT_WKB)[::-1], id="negative-stride"),
    pytest.param(lambda: np.asfortranarray(uint8(POINT_WKB[:20]).reshape(4, 5)), id="fortran-2d"),
    pytest.param(lambda: uint8(POINT_WKB + b"\x00" * 3).reshape(2, 3, 4)[:, :, ::2],
                 id="numpy-3d-strided"),
    pytest.param(lambda: uint8(POINT_WKB[:20]).view(np.uint16), id="two-byte-items"),
    pytest.param(lambda: array.array("d", [1.0, 2.0]), id="double-array"),
    pytest.param(lambda: 21, id="int"),
    pytest.param(lambda: [1, 1, 0, 0, 0], id="list"),
]


@pytest.mark.parametrize("make", REFUSED_BUFFERS)
def test_non_contiguous_or_wide_buffers_are_refused(make):
    source = make()
    for name, call in [("wkb", q.wkb_to_wkt), ("wkb", q.wkb_to_wkt_split_srid),
                       ("source", q.to_wkb), ("source", q.to_wkt), ("source", q.to_hex_wkb),
                       ("source", q.wkb_header_srid), ("source", q.to_wkb_no_srid_header),
                       ("source", lambda s: q.to_ewkb_header(s, 7))]:
        with pytest.raises(BufferError) as info:
            call(source)
        assert str(info.value) == f"{name} must be a contiguous one-byte buffer"


@pytest.mark.parametrize("make, message", [
    (lambda: np.array(1, dtype=np.uint8), "shape is null"),
    (lambda: (ctypes.c_ubyte * 21).from_buffer_copy(POINT_WKB), "strides is null"),
], ids=["numpy-0d", "ctypes-array"])
def test_views_without_shape_or_strides_are_refused(make, message):
    for call in (q.wkb_to_wkt, q.to_wkb, lambda s: q.to_ewkb_header(s, 7)):
        with pytest.raises(BufferError) as info:
            call(make())
        assert str(info.value) == message


@pytest.mark.parametrize("source", [b"", bytearray(), memoryview(b""),
                                    np.zeros((0, 5), np.uint8, order="F")],
                         ids=["bytes", "bytearray", "memoryview", "numpy-0x5"])
def test_empty_buffers(source):
    for call in (q.wkb_to_wkt, q.wkb_to_wkt_split_srid, q.to_wkt, q.wkb_header_srid,
                 lambda s: q.to_ewkb_header(s, 7), lambda s: q.to_wkb(s, srid=7)):
        with pytest.raises(ValueError) as info:
            call(source)
        assert str(info.value) == wkb_error("unexpected end of data")
    assert q.to_wkb(source) == b""
    assert q.to_hex_wkb(source) == ""


@linux_memory
@pytest.mark.thread_unsafe(reason="caps the address space of the whole process")
def test_huge_bytearray_of_zeros_fails_at_once():
    data = bytearray(64 * MiB)
    with pytest.raises(ValueError) as info:
        q.wkb_to_wkt(data)
    assert str(info.value) == "unsupported geometry type code: 0"
    assert q.to_wkb(data) == data
    data[:5] = header(LINESTRING)
    data[5:9] = u32(FULL)
    with address_space(256 * MiB):
        with pytest.raises(ValueError) as info:
            q.to_wkt(data)
    assert str(info.value) == wkb_error(END_F64)
    data.clear()
