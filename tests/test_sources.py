"""The geometry argument: str, bytes and buffers, borrowed and released."""

import array
import ctypes
import struct
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvel

EWKB = struct.pack("<BIidd", 1, 0x20000001, 4326, 1.0, 2.0)  # 25 bytes
WKT = "SRID=4326;POINT (1 2)"


class BytesSubclass(bytes):
    pass


class StrSubclass(str):
    pass


class BytearraySubclass(bytearray):
    pass


SAME_CONTENT = [
    pytest.param(lambda: EWKB, id="bytes"),
    pytest.param(lambda: bytearray(EWKB), id="bytearray"),
    pytest.param(lambda: memoryview(EWKB), id="memoryview-of-bytes"),
    pytest.param(lambda: memoryview(bytearray(EWKB)), id="memoryview-of-bytearray"),
    pytest.param(lambda: memoryview(EWKB).toreadonly(), id="read-only-memoryview"),
    pytest.param(lambda: array.array("B", EWKB), id="array-B"),
    pytest.param(lambda: array.array("b", EWKB), id="array-b"),
    pytest.param(lambda: np.frombuffer(EWKB, dtype=np.uint8), id="numpy-uint8-read-only"),
    pytest.param(lambda: np.frombuffer(EWKB, dtype=np.int8), id="numpy-int8"),
    pytest.param(lambda: np.frombuffer(EWKB, dtype=np.uint8).reshape(5, 5), id="numpy-2d"),
    pytest.param(lambda: memoryview(EWKB).cast("B", shape=[5, 5]), id="memoryview-2d"),
    pytest.param(lambda: memoryview(EWKB).cast("c"), id="memoryview-format-c"),
    pytest.param(lambda: memoryview(b"xx" + EWKB + b"yy")[2:-2], id="sliced-memoryview"),
    pytest.param(lambda: BytesSubclass(EWKB), id="bytes-subclass"),
    pytest.param(lambda: BytearraySubclass(EWKB), id="bytearray-subclass"),
]


@pytest.mark.parametrize("make", SAME_CONTENT)
def test_same_geometry_through_every_buffer(make):
    assert quorvel.wkb_to_wkt(make()) == WKT
    assert quorvel.wkb_to_wkt_split_srid(make()) == ("POINT (1 2)", 4326)
    assert quorvel.to_wkt(make()) == WKT
    assert quorvel.to_wkb(make()) == EWKB
    assert quorvel.to_hex_wkb(make()) == EWKB.hex().upper()
    assert quorvel.wkb_header_srid(make()) == 4326


def test_str_subclass_is_text():
    assert quorvel.to_wkt(StrSubclass(" POINT(1 2) ")) == "POINT(1 2)"
    assert quorvel.to_wkb(StrSubclass(EWKB.hex())) == EWKB
    assert quorvel.hex_wkb_to_wkt(StrSubclass(EWKB.hex())) == WKT
    assert quorvel.wkt_to_wkb(StrSubclass("POINT(1 2)")) == quorvel.wkt_to_wkb("POINT(1 2)")


def test_bytes_content_is_raw_wkb_even_when_it_looks_like_text():
    hex_bytes = EWKB.hex().encode()
    assert quorvel.to_wkb(hex_bytes) == hex_bytes
    with pytest.raises(ValueError):
        quorvel.wkb_to_wkt(hex_bytes)


def test_empty_buffers_are_empty_binary():
    for empty in (b"", bytearray(), memoryview(b""), array.array("B")):
        assert quorvel.to_wkb(empty) == b""
        assert quorvel.to_hex_wkb(empty) == ""
        with pytest.raises(ValueError) as info:
            quorvel.wkb_to_wkt(empty)
        assert info.value.args == ("invalid WKB: unexpected end of data",)


# --- refused objects ----------------------------------------------------------

REFUSED_BUFFERS = [
    pytest.param(lambda: memoryview(EWKB + b"\0")[::2], id="strided-memoryview"),
    pytest.param(lambda: array.array("i", [1, 2, 3]), id="array-i"),
    pytest.param(lambda: array.array("d", [1.0]), id="array-d"),
    pytest.param(lambda: np.frombuffer(EWKB, dtype=np.uint8).reshape(5, 5).T,
                 id="fortran-order-2d"),
    pytest.param(lambda: np.zeros(4, dtype=np.uint16), id="numpy-uint16"),
    pytest.param(lambda: 5, id="int"),
    pytest.param(lambda: None, id="None"),
    pytest.param(lambda: [1, 1, 0, 0, 0], id="list"),
    pytest.param(lambda: 1.5, id="float"),
    pytest.param(lambda: object(), id="object"),
]


@pytest.mark.parametrize("make", REFUSED_BUFFERS)
@pytest.mark.parametrize(
    "func",
    [quorvel.to_wkb, quorvel.to_wkt, quorvel.to_hex_wkb, quorvel.wkb_header_srid,
     quorvel.to_wkb_no_srid_header],
)
def test_source_refused_with_buffer_error(func, make):
    with pytest.raises(BufferError) as info:
        func(make())
    assert info.type is BufferError
    assert info.value.args == ("source must be a contiguous one-byte buffer",)
    assert info.value.__context__ is None


@pytest.mark.parametrize("make", REFUSED_BUFFERS)
@pytest.mark.parametrize("func", [quorvel.wkb_to_wkt, quorvel.wkb_to_wkt_split_srid])
def test_wkb_refused_with_buffer_error(func, make):
    with pytest.raises(BufferError) as info:
        func(make())
    assert info.value.args == ("wkb must be a contiguous one-byte buffer",)


@pytest.mark.parametrize("text", [EWKB.hex(), WKT, "", StrSubclass(EWKB.hex())])
@pytest.mark.parametrize("func", [quorvel.wkb_to_wkt, quorvel.wkb_to_wkt_split_srid])
def test_str_to_wkb_is_a_buffer_error(func, text):
    with pytest.raises(BufferError) as info:
        func(text)
    assert info.value.args == ("wkb must be a contiguous one-byte buffer",)


def test_to_ewkb_header_source_refused_after_srid():
    with pytest.raises(BufferError) as info:
        quorvel.to_ewkb_header(5, 4326)
    assert info.value.args == ("source must be a contiguous one-byte buffer",)


class ExporterRaisesTypeError:
    """A buffer exporter that refuses with TypeError (from 3.12; before it a class
    exports no buffer, and is refused as every other object that is no buffer)."""

    def __buffer__(self, flags):
        raise TypeError("refused")


def test_buffer_request_failure_other_than_type_error_passes_unchanged():
    view = memoryview(b"\x01\x01\x00\x00\x00")
    view.release()  # a released view refuses every request with ValueError
    with pytest.raises(ValueError, match="released memoryview"):
        quorvel.to_wkb(view)


def test_buffer_request_type_error_becomes_buffer_error():
    with pytest.raises(BufferError) as info:
        quorvel.wkb_to_wkt(ExporterRaisesTypeError())
    assert info.value.args == ("wkb must be a contiguous one-byte buffer",)
    assert info.value.__context__ is None


@pytest.mark.parametrize(
    "func", [quorvel.to_wkb, quorvel.to_wkt, quorvel.to_hex_wkb, quorvel.wkt_to_wkb,
             quorvel.hex_wkb_to_wkt, quorvel.wkb_header_srid]
)
def test_lone_surrogate_str_raises_unicode_encode_error(func):
    with pytest.raises(UnicodeEncodeError):
        func("POINT(1 2)\ud800")


# --- the view is released, references are not leaked -----------------------

CALLS = [
    pytest.param(lambda s: quorvel.wkb_to_wkt(s), id="wkb_to_wkt"),
    pytest.param(lambda s: quorvel.wkb_to_wkt(s, srid=3857), id="wkb_to_wkt-set"),
    pytest.param(lambda s: quorvel.wkb_to_wkt_split_srid(s), id="wkb_to_wkt_split_srid"),
    pytest.param(lambda s: quorvel.to_wkb(s), id="to_wkb"),
    pytest.param(lambda s: quorvel.to_wkb(s, srid=False), id="to_wkb-strip"),
    pytest.param(lambda s: quorvel.to_wkt(s), id="to_wkt"),
    pytest.param(lambda s: quorvel.to_hex_wkb(s), id="to_hex_wkb"),
    pytest.param(lambda s: quorvel.to_hex_wkb(s, srid=3857), id="to_hex_wkb-set"),
    pytest.param(lambda s: quorvel.wkb_header_srid(s), id="wkb_header_srid"),
    pytest.param(lambda s: quorvel.to_wkb_no_srid_header(s), id="to_wkb_no_srid_header"),
    pytest.param(lambda s: quorvel.to_ewkb_header(s, 3857), id="to_ewkb_header"),
]

CONTENTS = [
    pytest.param(EWKB, id="valid"),
    pytest.param(b"\x02" + EWKB[1:], id="bad-marker"),
    pytest.param(EWKB[:7], id="truncated"),
    pytest.param(b"", id="empty"),
]


def _call(call, arg):
    try:
        call(arg)
    except (ValueError, BufferError):
        pass


@pytest.mark.parametrize("content", CONTENTS)
@pytest.mark.parametrize("call", CALLS)
def test_bytearray_view_released_on_success_and_error(call, content):
    ba = bytearray(content)
    before = sys.getrefcount(ba)
    _call(call, ba)
    assert sys.getrefcount(ba) == before
    ba.extend(b"\0" * 64)  # raises BufferError while a view is still held
    del ba[len(content):]


@pytest.mark.parametrize("content", CONTENTS)
@pytest.mark.parametrize("call", CALLS)
def test_memoryview_view_released_on_success_and_error(call, content):
    ba = bytearray(content)
    mv = memoryview(ba)
    before = sys.getrefcount(mv)
    _call(call, mv)
    assert sys.getrefcount(mv) == before
    mv.release()  # raises BufferError while an export is still held
    ba.append(0)


@pytest.mark.parametrize("call", CALLS)
def test_view_released_when_buffer_is_refused(call):
    ba = bytearray(EWKB + b"\0")
    mv = memoryview(ba)[::2]
    with pytest.raises(BufferError):
        call(mv)
    mv.release()
    arr = array.array("i", [1, 2, 3])
    with pytest.raises(BufferError):
        call(arr)
    arr.append(4)  # an array refuses to resize while exporting
    ba.append(0)


@pytest.mark.parametrize(
    "arg",
    [pytest.param(EWKB, id="bytes"), pytest.param(EWKB.hex(), id="str"),
     pytest.param("POINT(1 2)", id="wkt")],
)
@pytest.mark.thread_unsafe(reason="other threads' copies hold references to the same arguments")
def test_refcount_of_bytes_and_str_arguments_unchanged(arg):
    before = sys.getrefcount(arg)
    for _ in range(20):
        quorvel.to_wkt(arg)
        quorvel.to_wkb(arg)
        quorvel.to_hex_wkb(arg, srid=False)
    assert sys.getrefcount(arg) == before


# --- trimming of text (to_wkt, to_wkb, to_hex_wkb) -----------------------------

WHITE_SPACE = [
    " ", "\t", "\n", "\r", "\x0b", "\x0c", "\x85", "\u00a0", "\u1680", "\u2000", "\u2005",
    "\u200a", "\u2028", "\u2029", "\u202f", "\u205f", "\u3000",
]


# Texts that end in each kind of token, valid or not: EMPTY, a keyword, a tag, a
# number, a number and a space, a bracket, the prefix's integer.  Trimmed, each reads
# as it does alone: the byte after it, the first of the white space trimmed off, is
# never taken for more text, and an error names the same position.
TRIMMED_ENDS = ["POINT EMPTY", "MULTIPOINT(EMPTY", "POINT", "POINT Z", "POINT(1 2)", "POINT(1",
                "POINT(1 ", "LINESTRING(1 2 ", "POINT(", "SRID=4326"]
DETECTING = [quorvel.to_wkb, quorvel.to_hex_wkb, quorvel.to_wkt,
             lambda text: quorvel.to_wkt(text, normalize_wkt=True)]


def result_or_error(call, text):
    try:
        return call(text)
    except ValueError as error:
        return error.args


@pytest.mark.parametrize("ws", WHITE_SPACE, ids=[f"U+{ord(c):04X}" for c in WHITE_SPACE])
def test_to_wkt_trims_unicode_white_space(ws):
    assert quorvel.to_wkt(ws * 2 + "POINT(1 2)" + ws * 2) == "POINT(1 2)"
    assert quorvel.to_wkt(ws + "POINT(1 2)" + ws, normalize_wkt=True) == "POINT (1 2)"
    assert quorvel.to_wkb(ws + "POINT(1 2)" + ws) == quorvel.wkt_to_wkb("POINT(1 2)")
    for text in TRIMMED_ENDS:
        for call in DETECTING:
            assert result_or_error(call, ws + text + ws) == result_or_error(call, text.strip())


@pytest.mark.parametrize(
    "ch",
    ["\u200b", "\u180e", "\ufeff", "\u2060", "\u00ad", "\U0001f600", "\u00e9", "\u2100", "\u3001"],
    ids=lambda c: f"U+{ord(c):04X}",
)
def test_to_wkt_keeps_characters_that_are_not_white_space(ch):
    assert quorvel.to_wkt(ch + "POINT(1 2)" + ch) == ch + "POINT(1 2)" + ch
    assert quorvel.to_wkt(" " + ch + " ") == ch


def test_inner_white_space_is_kept():
    assert quorvel.to_wkt("\tPOINT (1\u00a0 2)\n") == "POINT (1\u00a0 2)"


@pytest.mark.parametrize("text", ["", " ", "\t\n\u3000\u00a0", "\u2028"])
@pytest.mark.parametrize("normalize", [False, True])
def test_to_wkt_of_empty_or_white_space_only_text(text, normalize):
    with pytest.raises(ValueError) as info:
        quorvel.to_wkt(text, normalize_wkt=normalize)
    assert info.value.args == ("invalid WKT: empty input",)


def test_vertical_tab_trimmed_by_to_wkb_only():
    assert quorvel.to_wkb("POINT(1 2)\x0b") == quorvel.wkt_to_wkb("POINT(1 2)")
    with pytest.raises(ValueError) as info:
        quorvel.wkt_to_wkb("POINT(1 2)\x0b")
    assert info.value.args[0].startswith("invalid WKT: unexpected trailing content")


WHITE_SPACE_SET = "".join(WHITE_SPACE) + "\u2001\u2002\u2003\u2004\u2006\u2007\u2008\u2009"


@settings(max_examples=300, deadline=None)
@given(
    st.text(alphabet=WHITE_SPACE_SET, max_size=4),
    st.text(max_size=20),
    st.text(alphabet=WHITE_SPACE_SET, max_size=4),
)
def test_trimming_matches_the_white_space_property(lead, body, tail):
    # "X" first: never hex, never an SRID prefix, never empty after trimming
    expected = ("X" + body + tail).rstrip(WHITE_SPACE_SET)
    assert quorvel.to_wkt(lead + "X" + body + tail) == expected


# --- buffers the view checks refuse ------------------------------------------

@pytest.mark.parametrize(
    "make, message",
    [
        pytest.param(lambda: np.array(5, dtype=np.uint8), "shape is null", id="zero-dim-numpy"),
        pytest.param(lambda: ctypes.c_ubyte(7), "shape is null", id="ctypes-scalar"),
        pytest.param(lambda: (ctypes.c_ubyte * 3)(1, 2, 3), "strides is null", id="ctypes-array"),
        pytest.param(lambda: memoryview(bytearray(4)).cast("B", shape=[2, 2])[::-1],
                     "source must be a contiguous one-byte buffer", id="negative-stride-2d"),
    ],
)
def test_view_without_shape_or_strides(make, message):
    obj = make()
    with pytest.raises(BufferError) as info:
        quorvel.to_wkb(obj)
    assert info.value.args == (message,)


def test_zero_length_two_dimensional_buffer_is_empty_binary():
    assert quorvel.to_wkb(np.zeros((0, 5), dtype=np.uint8)) == b""
