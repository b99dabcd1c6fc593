"""Calling a function many thousands of times leaves the process as it found it.

Every path of every function, successful or failing at binding, at the srid, at
the buffer or in the conversion, is repeated after a warm-up.  Afterwards:

- the Python allocator holds no more blocks (sys.getallocatedblocks: one leaked
  object per call shows as thousands of blocks);
- the C heap holds no more bytes (glibc's mallinfo2: the module allocates its
  buffers and messages with new/malloc, so this sees a leaked message too);
- the resident set has not grown (a leaked result or input copy shows at once);
- the reference counts of the arguments, of their types and of None, True and
  False are unchanged;
- a bytearray argument can be resized and a memoryview argument released, so
  every buffer view taken was given back.
"""

import array
import ctypes
import gc
import os
import sys
from dataclasses import dataclass
from typing import Any, Callable

import numpy as np
import pytest

import quorvel as q
from wkb_helpers import (
    GEOMETRYCOLLECTION,
    POINT,
    SRID_FLAG,
    geometrycollection,
    linestring,
    multipoint,
    point,
    raw_header,
)

pytestmark = pytest.mark.thread_unsafe(reason="measures the memory of the whole process")


def rss():
    """Resident bytes, or None without /proc (not Linux)."""
    try:
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except OSError:
        return None


class _Mallinfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
                     "uordblks", "fordblks", "keepcost")
    ]


_mallinfo2 = getattr(ctypes.CDLL(None), "mallinfo2", None) if os.name == "posix" else None
if _mallinfo2 is not None:
    _mallinfo2.restype = _Mallinfo2


def heap_in_use():
    """Bytes the C heap has handed out and not taken back (all arenas), or None."""
    if _mallinfo2 is None:
        return None
    m = _mallinfo2()
    return m.uordblks + m.hblkhd


# --- inputs ---------------------------------------------------------------------

# A line of 200 positions: its WKB is 3.2 kB and its text 6 kB, so a result or an
# intermediate buffer leaked per call is megabytes after a few thousand calls.
POSITIONS = [(i * 0.25 - 17.125, -1.5 * i + 0.1) for i in range(200)]
LINE_WKB = linestring(POSITIONS)
LINE_EWKB = linestring(POSITIONS, srid=4326)
LINE_WKT = "LINESTRING (" + ", ".join(f"{x!r} {y!r}" for x, y in POSITIONS) + ")"
LINE_EWKT = "SRID=4326;" + LINE_WKT
COLLECTION_EWKB = geometrycollection([LINE_WKB, point((1.0, 2.0))], srid=3857)
MULTIPOINT_WKB = multipoint([point((1.0, 2.0)), point((3.0, 4.0))])

TRUNCATED = LINE_WKB[:-3]
TRAILING = point((1.0, 2.0)) + b"\x00"
UNSUPPORTED = b"\x01\x63\x00\x00\x00"
TOO_DEEP = raw_header(GEOMETRYCOLLECTION) * 129 + b"\x00" * 4  # fails at level 128
SHORT_SRID = raw_header(POINT | SRID_FLAG) + b"\x00\x00"  # flag set, SRID cut off
BAD_WKT = LINE_WKT[:-10] + " x 1)"
BAD_SRID_WKT = "SRID=x;" + LINE_WKT
LONE_SURROGATE = "POINT(1 \udc80)"


class Index:
    """An srid through __index__, returning whatever it was given."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class IndexRaises:
    def __index__(self):
        raise LookupError("no index here")


class IndexLookupFails:
    @property
    def __index__(self):
        raise RuntimeError("lookup failed")


def fortran_2d():
    return np.asfortranarray(np.frombuffer(LINE_WKB[:64], dtype=np.uint8).reshape(8, 8))


def released_view():
    view = memoryview(LINE_WKB)
    view.release()
    return view


@dataclass
class Case:
    """One path: the call's arguments are made afresh for each test by `make`."""

    id: str
    func: Callable
    make: Callable[[], tuple]  # returns (args, kwargs)
    raises: Any = None  # exception type, or None for a result
    n: int = 10000


def case(id, func, *args, raises=None, n=10000, **kwargs):
    # The arguments are made by calling any zero-argument factory among them.
    def make():
        return (tuple(a() if callable(a) and not isinstance(a, type) else a for a in args),
                {k: v() if callable(v) and not isinstance(v, type) else v
                 for k, v in kwargs.items()})
    return pytest.param(Case(id, func, make, raises, n), id=id)


def ba(data):
    return lambda: bytearray(data)


def mv(data):
    return lambda: memoryview(bytearray(data))


def big_int(text):
    """An int made at run time, so that it is neither cached nor immortal."""
    return lambda: int(text)


SUCCESS = [
    case("wkb_to_wkt-bytes", q.wkb_to_wkt, LINE_EWKB, n=1500),
    case("wkb_to_wkt-bytearray-strip", q.wkb_to_wkt, ba(LINE_EWKB), srid=False, n=1500),
    case("wkb_to_wkt-memoryview-set", q.wkb_to_wkt, mv(LINE_WKB), srid=big_int("3857"), n=1500),
    case("wkb_to_wkt-numpy-index", q.wkb_to_wkt,
         lambda: np.frombuffer(LINE_WKB, dtype=np.uint8), srid=lambda: Index(int("4326")),
         n=1500),
    case("wkb_to_wkt_split_srid-srid", q.wkb_to_wkt_split_srid, LINE_EWKB, n=1500),
    case("wkb_to_wkt_split_srid-none", q.wkb_to_wkt_split_srid, ba(LINE_WKB), n=1500),
    case("wkt_to_wkb-mirror", q.wkt_to_wkb, LINE_EWKT, n=1500),
    case("wkt_to_wkb-strip", q.wkt_to_wkb, LINE_EWKT, srid=False, n=1500),
    case("wkt_to_wkb-set", q.wkt_to_wkb, LINE_WKT, srid=big_int("900913"), n=1500),
    case("wkt_to_wkb_split_srid-srid", q.wkt_to_wkb_split_srid, LINE_EWKT, n=1500),
    case("wkt_to_wkb_split_srid-none", q.wkt_to_wkb_split_srid, LINE_WKT, n=1500),
    case("wkt_to_hex_wkb-mirror", q.wkt_to_hex_wkb, LINE_EWKT, n=1500),
    case("wkt_to_hex_wkb-strip", q.wkt_to_hex_wkb, LINE_EWKT, srid=False, n=1500),
    case("wkt_to_hex_wkb-set", q.wkt_to_hex_wkb, LINE_WKT, srid=7, n=1500),
    case("hex_wkb_to_wkt-mirror", q.hex_wkb_to_wkt, LINE_EWKB.hex(), n=1500),
    case("hex_wkb_to_wkt-set", q.hex_wkb_to_wkt, LINE_EWKB.hex(), srid=-5, n=1500),
    case("to_wkb-bytes-mirror", q.to_wkb, LINE_EWKB, n=2500),
    case("to_wkb-bytearray-set-header", q.to_wkb, ba(LINE_WKB), srid=4326, n=2500),
    case("to_wkb-collection-full-rewrite", q.to_wkb, COLLECTION_EWKB, srid=4326, n=1000),
    case("to_wkb-hex-mirror", q.to_wkb, LINE_EWKB.hex(), n=2500),
    case("to_wkb-hex-strip", q.to_wkb, LINE_EWKB.hex().lower(), srid=False, n=2500),
    case("to_wkb-wkt", q.to_wkb, "  " + LINE_EWKT + "\n", n=1500),
    case("to_wkt-bytes", q.to_wkt, lambda: memoryview(LINE_EWKB).toreadonly(), n=1500),
    case("to_wkt-hex-set", q.to_wkt, LINE_EWKB.hex(), srid=3857, n=1500),
    case("to_wkt-wkt-fast-path", q.to_wkt, "srid=0; " + LINE_WKT, srid=31467, n=2500),
    case("to_wkt-normalize", q.to_wkt, LINE_EWKT, normalize_wkt=True, n=1000),
    case("to_wkt-normalize-numpy-flag", q.to_wkt, LINE_WKT,
         normalize_wkt=lambda: np.bool_(True), n=1000),
    case("to_hex_wkb-bytes-mirror", q.to_hex_wkb, LINE_EWKB, n=2500),
    case("to_hex_wkb-bytes-set", q.to_hex_wkb, ba(LINE_EWKB), srid=3857, n=2500),
    case("to_hex_wkb-hex-normalised", q.to_hex_wkb, LINE_EWKB.hex(), n=2500),
    case("to_hex_wkb-hex-strip", q.to_hex_wkb, LINE_EWKB.hex(), srid=0, n=2500),
    case("to_hex_wkb-wkt", q.to_hex_wkb, LINE_EWKT, n=1500),
    case("wkb_header_srid-bytes", q.wkb_header_srid, LINE_EWKB),
    case("wkb_header_srid-hex-include-unknown", q.wkb_header_srid, LINE_EWKB.hex(),
         include_unknown=True, n=2500),
    case("wkb_header_srid-full-read", q.wkb_header_srid, COLLECTION_EWKB[:1] + b"\x07\x00\x00\x30"
         + COLLECTION_EWKB[5:], include_unknown=lambda: np.bool_(False), n=1500),
    case("to_wkb_no_srid_header-bytes", q.to_wkb_no_srid_header, LINE_EWKB, n=2500),
    case("to_wkb_no_srid_header-memoryview", q.to_wkb_no_srid_header, mv(LINE_EWKB), n=2500),
    case("to_wkb_no_srid_header-hex", q.to_wkb_no_srid_header, LINE_EWKB.hex(), n=2500),
    case("to_wkb_no_srid_header-full-rewrite", q.to_wkb_no_srid_header, MULTIPOINT_WKB),
    case("to_ewkb_header-insert", q.to_ewkb_header, ba(LINE_WKB), 4326, n=2500),
    case("to_ewkb_header-replace", q.to_ewkb_header, LINE_EWKB, big_int("3857"), n=2500),
    case("to_ewkb_header-unchanged", q.to_ewkb_header, LINE_EWKB, 4326, n=2500),
    case("to_ewkb_header-hex", q.to_ewkb_header, LINE_WKB.hex(), Index(big_int("4326")()),
         n=2500),
    case("to_ewkb_header-full-rewrite", q.to_ewkb_header, COLLECTION_EWKB, 4326, n=1000),
]

BINDING = [
    case("too-many-positional", q.to_wkb, LINE_WKB, 1, 2, raises=TypeError),
    case("too-many-positional-2", q.wkb_header_srid, LINE_WKB, True, raises=TypeError),
    case("unexpected-keyword", q.wkb_to_wkt, LINE_WKB, SRID=1, raises=TypeError),
    case("surrogate-keyword", q.to_wkt, LINE_WKB, **{"\udc80": 1}, raises=TypeError),
    case("multiple-values", q.to_wkb, LINE_WKB, 1, srid=2, raises=TypeError),
    case("missing-two", q.to_ewkb_header, raises=TypeError),
    case("missing-with-keyword", q.to_ewkb_header, srid=4326, raises=TypeError),
    case("wkt-not-str", q.wkt_to_wkb, LINE_WKB, raises=TypeError),
    case("wkt_to_hex_wkb-none", q.wkt_to_hex_wkb, None, raises=TypeError),
    case("split-wkt-not-str", q.wkt_to_wkb_split_srid, ba(b"POINT(1 2)"), raises=TypeError),
    case("hex_wkb-not-str", q.hex_wkb_to_wkt, LINE_WKB, raises=TypeError),
    case("normalize_wkt-int", q.to_wkt, LINE_WKT, normalize_wkt=big_int("1"), raises=TypeError),
    case("include_unknown-none", q.wkb_header_srid, LINE_EWKB, include_unknown=None,
         raises=TypeError),
    case("include_unknown-array", q.wkb_header_srid, LINE_EWKB,
         include_unknown=lambda: np.array([True]), raises=TypeError),
    case("split-too-many", q.wkb_to_wkt_split_srid, LINE_WKB, None, raises=TypeError),
    case("to_hex_wkb-keyword-only-elsewhere", q.to_hex_wkb, LINE_WKB, include_unknown=True,
         raises=TypeError),
    case("to_wkb_no_srid_header-missing", q.to_wkb_no_srid_header, raises=TypeError),
]

SRID = [
    case("srid-true", q.to_wkb, LINE_WKB, srid=True, raises=ValueError),
    case("srid-true-required", q.to_ewkb_header, LINE_WKB, True, raises=ValueError),
    case("srid-none-required", q.to_ewkb_header, LINE_WKB, None, raises=ValueError),
    case("srid-float", q.wkb_to_wkt, LINE_WKB, srid=lambda: float("4326.5"), raises=ValueError),
    case("srid-str", q.to_hex_wkb, LINE_WKB, srid="4326", raises=ValueError),
    case("srid-out-of-range", q.wkt_to_wkb, LINE_WKT, srid=big_int("2147483648"),
         raises=ValueError),
    case("srid-overflow", q.to_wkt, LINE_WKB, srid=lambda: 10**30, raises=ValueError),
    case("srid-index-big", q.hex_wkb_to_wkt, LINE_WKB.hex(),
         srid=lambda: Index(2**40 + int("1")), raises=ValueError),
    case("srid-index-bool", q.to_wkb, LINE_WKB, srid=lambda: Index(False), raises=ValueError),
    case("srid-index-float", q.wkt_to_hex_wkb, LINE_WKT, srid=lambda: Index(1.5),
         raises=ValueError),
    case("srid-index-raises", q.to_ewkb_header, LINE_WKB, IndexRaises(), raises=LookupError),
    case("srid-index-lookup-fails", q.to_wkb, LINE_WKB, srid=IndexLookupFails(),
         raises=RuntimeError),
]

BUFFER = [
    case("source-int", q.to_wkb, big_int("123456"), raises=BufferError),
    case("source-list", q.to_wkt, lambda: [1, 2], raises=BufferError),
    case("wkb-str", q.wkb_to_wkt, LINE_WKB.hex(), raises=BufferError),
    case("wkb-none", q.wkb_to_wkt_split_srid, None, raises=BufferError),
    case("strided", q.to_hex_wkb, lambda: memoryview(bytearray(LINE_WKB))[::2],
         raises=BufferError),
    case("wide-items", q.to_ewkb_header, lambda: array.array("H", b"\x01\x00" * 8), 4326,
         raises=BufferError),
    case("fortran-2d", q.wkb_to_wkt, fortran_2d, raises=BufferError),
    case("header-of-float-array", q.wkb_header_srid, lambda: array.array("f", [1.0]),
         raises=BufferError),
    case("released-view", q.to_wkb_no_srid_header, released_view, raises=ValueError),
    case("lone-surrogate-wkt", q.wkt_to_wkb, LONE_SURROGATE, raises=UnicodeEncodeError),
    case("lone-surrogate-source", q.to_wkt, LONE_SURROGATE, raises=UnicodeEncodeError),
    case("lone-surrogate-hex", q.wkb_header_srid, "01\ud800", raises=UnicodeEncodeError),
]

CONVERSION = [
    case("wkb_to_wkt-truncated", q.wkb_to_wkt, ba(TRUNCATED), raises=ValueError, n=2500),
    case("wkb_to_wkt-trailing", q.wkb_to_wkt, TRAILING, srid=4326, raises=ValueError),
    case("wkb_to_wkt-unsupported", q.wkb_to_wkt, UNSUPPORTED, raises=ValueError),
    case("wkb_to_wkt-too-deep", q.wkb_to_wkt, TOO_DEEP, raises=ValueError),
    case("wkb_to_wkt_split_srid-truncated", q.wkb_to_wkt_split_srid, TRUNCATED,
         raises=ValueError, n=2500),
    case("wkt_to_wkb-bad", q.wkt_to_wkb, BAD_WKT, raises=ValueError, n=2500),
    case("wkt_to_wkb-bad-srid", q.wkt_to_wkb, BAD_SRID_WKT, srid=False, raises=ValueError),
    case("wkt_to_wkb_split_srid-bad", q.wkt_to_wkb_split_srid, BAD_WKT, raises=ValueError,
         n=2500),
    case("wkt_to_hex_wkb-bad", q.wkt_to_hex_wkb, BAD_WKT, srid=False, raises=ValueError,
         n=2500),
    case("hex_wkb_to_wkt-bad-digit", q.hex_wkb_to_wkt, LINE_WKB.hex()[:-2] + "0G",
         raises=ValueError, n=2500),
    case("hex_wkb_to_wkt-empty", q.hex_wkb_to_wkt, "", raises=ValueError),
    case("hex_wkb_to_wkt-truncated", q.hex_wkb_to_wkt, TRUNCATED.hex(), raises=ValueError,
         n=2500),
    case("to_wkb-wkt-bad", q.to_wkb, BAD_WKT, raises=ValueError, n=2500),
    case("to_wkb-full-rewrite-fails", q.to_wkb, UNSUPPORTED, srid=4326, raises=ValueError),
    case("to_wkt-empty", q.to_wkt, " \u3000 ", raises=ValueError),
    case("to_wkt-hex-bad", q.to_wkt, "ABCD", raises=ValueError),
    case("to_wkt-normalize-bad", q.to_wkt, BAD_WKT, normalize_wkt=True, raises=ValueError,
         n=2500),
    case("to_hex_wkb-wkt-bad", q.to_hex_wkb, BAD_WKT, raises=ValueError, n=2500),
    case("to_hex_wkb-full-rewrite-fails", q.to_hex_wkb, TOO_DEEP, srid=False,
         raises=ValueError),
    case("wkb_header_srid-short", q.wkb_header_srid, SHORT_SRID, raises=ValueError),
    case("wkb_header_srid-bad-hex", q.wkb_header_srid, " 0101", raises=ValueError),
    case("wkb_header_srid-full-read-fails", q.wkb_header_srid, b"", raises=ValueError),
    case("to_wkb_no_srid_header-fails", q.to_wkb_no_srid_header, ba(MULTIPOINT_WKB + b"\x00"),
         raises=ValueError),
    case("to_wkb_no_srid_header-odd-hex", q.to_wkb_no_srid_header, "010", raises=ValueError),
    case("to_ewkb_header-fails", q.to_ewkb_header, MULTIPOINT_WKB[:-1], 4326,
         raises=ValueError),
    case("to_ewkb_header-hex-fails", q.to_ewkb_header, TOO_DEEP.hex(), 4326, raises=ValueError),
]


def call_n(func, args, kwargs, raises, n):
    if raises is None:
        for _ in range(n):
            func(*args, **kwargs)
    else:
        for _ in range(n):
            try:
                func(*args, **kwargs)
            except raises:
                pass


def refcounts(objects):
    return [sys.getrefcount(o) for o in objects]


def shared(obj):
    """None, the bools and the small ints: objects of the whole interpreter.  Before
    3.12 they are not immortal, and the interpreter's own caches move their counts by
    a few during a test, where a reference kept or dropped per call moves them by n."""
    return obj is None or type(obj) is bool or (type(obj) is int and -5 <= obj <= 256)


def changed_counts(watched, before, after, n):
    return [(o, b, a) for o, b, a in zip(watched, before, after)
            if abs(a - b) >= (n // 2 if shared(o) else 1)]


def check_repeated_calls(c: Case):
    args, kwargs = c.make()
    held = [*args, *kwargs.values()]
    # The arguments, their types, what an srid object's __index__ returns, and the
    # three singletons.
    inner = [v for o in held for v in getattr(o, "__dict__", {}).values()]
    watched = [None, True, False, *held, *inner, *{type(o) for o in held}]

    # One call decides the path: a result, or the expected exception, every time.
    if c.raises is None:
        first = c.func(*args, **kwargs)
        assert c.func(*args, **kwargs) == first
    else:
        messages = set()
        for _ in range(2):
            with pytest.raises(c.raises) as info:
                c.func(*args, **kwargs)
            messages.add(str(info.value))
        assert len(messages) == 1
        del info

    # The warm-up: the free-threaded build's allocator keeps a few hundred blocks more
    # during the first several hundred calls of some paths, and no more after them.
    call_n(c.func, args, kwargs, c.raises, max(1000, c.n // 10))
    gc.collect()
    counts = refcounts(watched)
    blocks = sys.getallocatedblocks()
    heap = heap_in_use()
    resident = rss()

    call_n(c.func, args, kwargs, c.raises, c.n)

    gc.collect()
    resident_growth = None if resident is None else rss() - resident
    block_growth = sys.getallocatedblocks() - blocks
    heap_growth = None if heap is None else heap_in_use() - heap
    changed = changed_counts(watched, counts, refcounts(watched), c.n)
    assert not changed, f"reference counts changed (object, before, after): {changed}"
    assert block_growth < max(64, c.n // 20), f"{block_growth} Python blocks more after {c.n} calls"
    if heap_growth is not None:
        assert heap_growth < 64 * 1024, f"C heap grew by {heap_growth} bytes in {c.n} calls"
    if resident_growth is not None:
        assert resident_growth < 4 * 2**20, f"RSS grew by {resident_growth} bytes in {c.n} calls"

    # Every buffer view was released: a bytearray resizes, a memoryview releases.
    for obj in held:
        if isinstance(obj, bytearray):
            obj.extend(b"\x00" * 64)
            del obj[-64:]
        elif isinstance(obj, memoryview):
            obj.release()  # BufferError while an export is still held


@pytest.mark.parametrize("c", SUCCESS + BINDING + SRID + BUFFER + CONVERSION)
def test_calls_keep_memory_and_references(c):
    check_repeated_calls(c)


def functions(cases):
    return {p.values[0].func.__name__ for p in cases}


def test_every_function_is_exercised_on_every_kind_of_path():
    with_srid = {"wkb_to_wkt", "wkt_to_wkb", "wkt_to_hex_wkb", "hex_wkb_to_wkt", "to_wkb",
                 "to_wkt", "to_hex_wkb", "to_ewkb_header"}
    with_buffer = {"wkb_to_wkt", "wkb_to_wkt_split_srid", "to_wkb", "to_wkt", "to_hex_wkb",
                   "wkb_header_srid", "to_wkb_no_srid_header", "to_ewkb_header"}
    assert functions(SUCCESS) == set(q.__all__)
    assert functions(BINDING) == set(q.__all__)
    assert functions(SRID) == with_srid
    assert functions(BUFFER) >= with_buffer
    assert functions(CONVERSION) == set(q.__all__)


def test_bytearray_resizes_after_every_function_fails_on_it():
    # Unknown flag bit and a trailing byte: every path reads it whole and fails.
    data = bytearray(b"\x01\x04\x00\x00\x10" + MULTIPOINT_WKB[5:] + b"\x00")
    for name in q.__all__:
        func = getattr(q, name)
        with pytest.raises((ValueError, TypeError)):
            if name == "to_ewkb_header":
                func(data, 7)
            elif name in ("to_wkb", "to_hex_wkb"):
                func(data, srid=7)
            else:
                func(data)
        data.append(0)  # BufferError here would mean a view was kept
        del data[-1]


def test_bytearray_resizes_after_every_function_succeeds_on_it():
    data = bytearray(LINE_EWKB)
    for name in ("wkb_to_wkt", "wkb_to_wkt_split_srid", "to_wkb", "to_wkt", "to_hex_wkb",
                 "wkb_header_srid", "to_wkb_no_srid_header"):
        getattr(q, name)(data)
        data.append(0)
        del data[-1]
    q.to_ewkb_header(data, 3857)
    data.append(0)
