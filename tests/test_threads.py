"""Eight threads calling all twelve functions on shared inputs get what one thread gets.

The outcome of every call, a result or the type and text of the exception, is
computed on one thread first; then eight threads repeat all the calls in their
own orders, with the interpreter switching threads as often as it can and with
srid objects whose __index__ runs Python code in the middle of a call.
"""

import random
import sys
import threading
import time

import numpy as np
import pytest

import quorvel as q
from wkb_helpers import geometrycollection, linestring, multipoint, point, polygon

THREADS = 8
ROUNDS = 150

POSITIONS = [(i * 0.125 - 3.5, 2.0 - i / 3) for i in range(120)]
LINE = linestring(POSITIONS, srid=4326)
LINE_BE = linestring(POSITIONS, order=">")
RING = [(0.0, 0.0, 1.0), (4.0, 0.0, 2.0), (4.0, 4.0, 3.0), (0.0, 0.0, 1.0)]
POLYGON = polygon([RING], dim="XYZ", srid=3857)
COLLECTION = geometrycollection([LINE_BE, multipoint([point((1.0, 2.0))]), POLYGON], srid=2154)
LINE_WKT = q.wkb_to_wkt(LINE)
SHARED_BYTEARRAY = bytearray(COLLECTION)
SHARED_VIEW = memoryview(bytearray(LINE)).toreadonly()
SHARED_ARRAY = np.frombuffer(POLYGON, dtype=np.uint8)


class SwitchingIndex:
    """An srid whose __index__ gives other threads a chance to run mid-call."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        time.sleep(0)
        return self.value


def calls():
    """(description, function, args, kwargs) for every function, results and errors."""
    return [
        ("wkb_to_wkt", q.wkb_to_wkt, (LINE,), {}),
        ("wkb_to_wkt bytearray set", q.wkb_to_wkt, (SHARED_BYTEARRAY,),
         {"srid": SwitchingIndex(4326)}),
        ("wkb_to_wkt numpy strip", q.wkb_to_wkt, (SHARED_ARRAY,), {"srid": False}),
        ("wkb_to_wkt truncated", q.wkb_to_wkt, (LINE[:-1],), {}),
        ("wkb_to_wkt str", q.wkb_to_wkt, (LINE.hex(),), {}),
        ("wkb_to_wkt_split_srid", q.wkb_to_wkt_split_srid, (SHARED_VIEW,), {}),
        ("wkb_to_wkt_split_srid collection", q.wkb_to_wkt_split_srid, (COLLECTION,), {}),
        ("wkb_to_wkt_split_srid trailing", q.wkb_to_wkt_split_srid, (POLYGON + b"\0",), {}),
        ("wkt_to_wkb", q.wkt_to_wkb, (LINE_WKT,), {}),
        ("wkt_to_wkb set", q.wkt_to_wkb, ("SRID=1;" + LINE_WKT,),
         {"srid": SwitchingIndex(3857)}),
        ("wkt_to_wkb bad", q.wkt_to_wkb, (LINE_WKT + " x",), {}),
        ("wkt_to_wkb srid True", q.wkt_to_wkb, (LINE_WKT, True), {}),
        ("wkt_to_wkb_split_srid", q.wkt_to_wkb_split_srid, ("SRID=4326;POINT Z (1 2 3)",), {}),
        ("wkt_to_wkb_split_srid bytes", q.wkt_to_wkb_split_srid, (b"POINT(1 2)",), {}),
        ("wkt_to_hex_wkb", q.wkt_to_hex_wkb, ("GEOMETRYCOLLECTION(" + LINE_WKT + ")",), {}),
        ("wkt_to_hex_wkb strip", q.wkt_to_hex_wkb, ("srid=5;MULTIPOINT(1 2, EMPTY)", False), {}),
        ("wkt_to_hex_wkb deep", q.wkt_to_hex_wkb, ("GEOMETRYCOLLECTION(" * 200,), {}),
        ("hex_wkb_to_wkt", q.hex_wkb_to_wkt, (COLLECTION.hex(),), {}),
        ("hex_wkb_to_wkt set", q.hex_wkb_to_wkt, (LINE.hex().lower(),),
         {"srid": SwitchingIndex(-1)}),
        ("hex_wkb_to_wkt odd", q.hex_wkb_to_wkt, ("010",), {}),
        ("to_wkb bytes", q.to_wkb, (LINE,), {}),
        ("to_wkb bytearray set", q.to_wkb, (SHARED_BYTEARRAY,), {"srid": 4326}),
        ("to_wkb hex strip", q.to_wkb, ("  " + LINE.hex() + "\n",), {"srid": False}),
        ("to_wkb wkt", q.to_wkb, (LINE_WKT,), {"srid": SwitchingIndex(7)}),
        ("to_wkb int", q.to_wkb, (5,), {}),
        ("to_wkb float srid", q.to_wkb, (LINE, 4326.0), {}),
        ("to_wkt bytes", q.to_wkt, (COLLECTION,), {}),
        ("to_wkt hex", q.to_wkt, (POLYGON.hex(),), {"srid": False}),
        ("to_wkt fast path", q.to_wkt, ("SRID=-1; point(1 2)",), {}),
        ("to_wkt normalize", q.to_wkt, ("point z (1 2 3)",),
         {"normalize_wkt": np.bool_(True), "srid": SwitchingIndex(4326)}),
        ("to_wkt empty", q.to_wkt, ("\u3000",), {}),
        ("to_wkt flag int", q.to_wkt, (LINE,), {"normalize_wkt": 1}),
        ("to_hex_wkb", q.to_hex_wkb, (SHARED_VIEW,), {}),
        ("to_hex_wkb hex", q.to_hex_wkb, (POLYGON.hex().lower(),), {}),
        ("to_hex_wkb set", q.to_hex_wkb, (SHARED_BYTEARRAY,), {"srid": SwitchingIndex(9)}),
        ("to_hex_wkb strided", q.to_hex_wkb, (memoryview(LINE)[::2],), {}),
        ("wkb_header_srid", q.wkb_header_srid, (POLYGON,), {}),
        ("wkb_header_srid hex", q.wkb_header_srid, (LINE.hex(),),
         {"include_unknown": np.bool_(False)}),
        ("wkb_header_srid short", q.wkb_header_srid, (POLYGON[:7],), {}),
        ("wkb_header_srid none flag", q.wkb_header_srid, (POLYGON,), {"include_unknown": None}),
        ("to_wkb_no_srid_header", q.to_wkb_no_srid_header, (SHARED_ARRAY,), {}),
        ("to_wkb_no_srid_header collection", q.to_wkb_no_srid_header, (SHARED_BYTEARRAY,), {}),
        ("to_wkb_no_srid_header hex", q.to_wkb_no_srid_header, (LINE.hex(),), {}),
        ("to_wkb_no_srid_header bad hex", q.to_wkb_no_srid_header, (" " + LINE.hex(),), {}),
        ("to_ewkb_header", q.to_ewkb_header, (LINE_BE, SwitchingIndex(4326)), {}),
        ("to_ewkb_header collection", q.to_ewkb_header, (COLLECTION, 27700), {}),
        ("to_ewkb_header hex", q.to_ewkb_header, (POLYGON.hex(), 0), {}),
        ("to_ewkb_header none", q.to_ewkb_header, (LINE, None), {}),
        ("to_ewkb_header missing", q.to_ewkb_header, (LINE,), {}),
        ("to_ewkb_header unsupported", q.to_ewkb_header, (b"\x01\x63\x00\x00\x00", 1), {}),
    ]


def outcome(func, args, kwargs):
    try:
        return ("result", func(*args, **kwargs))
    except Exception as e:  # noqa: BLE001 - the exception is the outcome
        return ("raised", type(e), str(e))


@pytest.fixture
def fast_switching():
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(interval)


def test_table_covers_all_functions_and_both_outcomes():
    table = calls()
    names = {func.__name__ for _, func, _, _ in table}
    assert names == set(q.__all__)
    for name in q.__all__:
        kinds = {outcome(f, a, k)[0] for _, f, a, k in table if f.__name__ == name}
        assert kinds == {"result", "raised"}, name


def test_eight_threads_get_the_single_thread_outcomes(fast_switching):
    table = calls()
    expected = [outcome(f, a, k) for _, f, a, k in table]
    mismatches = []
    done = []
    start = threading.Barrier(THREADS)

    def work(seed):
        order = list(range(len(table)))
        rng = random.Random(seed)
        start.wait()
        for _ in range(ROUNDS):
            rng.shuffle(order)
            for i in order:
                _, f, a, k = table[i]
                got = outcome(f, a, k)
                if got != expected[i]:
                    mismatches.append((table[i][0], got, expected[i]))
        done.append(seed)

    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert len(done) == THREADS
    assert not mismatches, mismatches[:3]
    # Every view the threads took was released.
    SHARED_BYTEARRAY.append(0)
    del SHARED_BYTEARRAY[-1]


def test_threads_converting_one_bytearray_release_every_view(fast_switching):
    data = bytearray(COLLECTION)
    expected = q.to_wkt(data)
    failures = []

    def work():
        for _ in range(500):
            for call in (lambda: q.to_wkt(data), lambda: q.wkb_to_wkt(memoryview(data)),
                         lambda: q.to_ewkb_header(data, SwitchingIndex(3857))):
                result = call()
                if isinstance(result, str) and result != expected:
                    failures.append(result)

    threads = [threading.Thread(target=work) for _ in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert not failures
    data.extend(b"\0" * 1024)  # BufferError if any export is left
    assert len(data) == len(COLLECTION) + 1024
