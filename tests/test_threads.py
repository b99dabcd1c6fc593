"""Threads calling all twelve functions at once get what one thread gets.

The outcome of every call, a result or the type and text of the exception, is
computed on one thread first; then eight threads repeat all the calls in their
own orders, with the interpreter switching threads as often as it can and with
srid objects whose __index__ runs Python code that changes shared state in the
middle of a call.  On a free-threaded CPython the calls run truly at once, and the
other tests aim at what could race there: the first calls of a fresh process, the
UTF-8 form of a str made while every thread asks for it, views of one buffer taken
and given back by every thread, and a buffer rewritten while it is read.
"""

import os
import pathlib
import random
import subprocess
import sys
import sysconfig
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
# No call of the module at import: the fresh process of the first-calls test imports this.
LINE_WKT = "SRID=4326;LINESTRING (" + ", ".join(f"{x!r} {y!r}" for x, y in POSITIONS) + ")"
SHARED_BYTEARRAY = bytearray(COLLECTION)
SHARED_VIEW = memoryview(bytearray(LINE)).toreadonly()
SHARED_ARRAY = np.frombuffer(POLYGON, dtype=np.uint8)


# What the srid objects of every thread change, with no lock.
SHARED_STATE = {"calls": 0, "values": []}


class SwitchingIndex:
    """An srid whose __index__ changes shared state and lets other threads run mid-call."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        SHARED_STATE["calls"] += 1
        values = SHARED_STATE["values"]
        values.append(self.value)
        if len(values) > 64:
            values.clear()
        time.sleep(0)
        return self.value


class RaisingIndex:
    def __index__(self):
        raise LookupError("no srid here")


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
        ("wkt_to_wkb lone surrogate", q.wkt_to_wkb, ("POINT (1 \udc80)",), {}),
        ("wkt_to_wkb non-ASCII space", q.wkt_to_wkb, ("POINT (1\u00a02)",), {}),
        ("wkt_to_wkb_split_srid", q.wkt_to_wkb_split_srid, ("SRID=4326;POINT Z (1 2 3)",), {}),
        ("wkt_to_wkb_split_srid bytes", q.wkt_to_wkb_split_srid, (b"POINT(1 2)",), {}),
        ("wkt_to_hex_wkb", q.wkt_to_hex_wkb, ("GEOMETRYCOLLECTION(" + LINE_WKT + ")",), {}),
        ("wkt_to_hex_wkb strip", q.wkt_to_hex_wkb, ("srid=5;MULTIPOINT(1 2, EMPTY)", False), {}),
        ("wkt_to_hex_wkb deep", q.wkt_to_hex_wkb, ("GEOMETRYCOLLECTION(" * 200,), {}),
        ("wkt_to_hex_wkb srid range", q.wkt_to_hex_wkb, (LINE_WKT,), {"srid": 2**31}),
        ("hex_wkb_to_wkt", q.hex_wkb_to_wkt, (COLLECTION.hex(),), {}),
        ("hex_wkb_to_wkt set", q.hex_wkb_to_wkt, (LINE.hex().lower(),),
         {"srid": SwitchingIndex(-1)}),
        ("hex_wkb_to_wkt odd", q.hex_wkb_to_wkt, ("010",), {}),
        ("to_wkb bytes", q.to_wkb, (LINE,), {}),
        ("to_wkb bytearray set", q.to_wkb, (SHARED_BYTEARRAY,), {"srid": 4326}),
        ("to_wkb hex strip", q.to_wkb, ("  " + LINE.hex() + "\n",), {"srid": False}),
        ("to_wkb wkt", q.to_wkb, (LINE_WKT,), {"srid": SwitchingIndex(7)}),
        ("to_wkb int", q.to_wkb, (5,), {}),
        ("to_wkb too many", q.to_wkb, (LINE, 1, 2), {}),
        ("to_wkb twice", q.to_wkb, (LINE, 1), {"srid": 2}),
        ("to_wkb float srid", q.to_wkb, (LINE, 4326.0), {}),
        ("to_wkt bytes", q.to_wkt, (COLLECTION,), {}),
        ("to_wkt hex", q.to_wkt, (POLYGON.hex(),), {"srid": False}),
        ("to_wkt fast path", q.to_wkt, ("SRID=-1; point(1 2)",), {}),
        ("to_wkt normalize", q.to_wkt, ("point z (1 2 3)",),
         {"normalize_wkt": np.bool_(True), "srid": SwitchingIndex(4326)}),
        ("to_wkt empty", q.to_wkt, ("\u3000",), {}),
        ("to_wkt non-ASCII", q.to_wkt, ("\u3000" + LINE_WKT + "\u2003",),
         {"normalize_wkt": True}),
        ("to_wkt unknown keyword", q.to_wkt, (LINE,), {"SRID": 1}),
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
        ("to_ewkb_header index raises", q.to_ewkb_header, (LINE, RaisingIndex()), {}),
        ("to_ewkb_header unsupported", q.to_ewkb_header, (b"\x01\x63\x00\x00\x00", 1), {}),
    ]


def outcome(func, args, kwargs):
    try:
        return ("result", func(*args, **kwargs))
    except Exception as e:  # noqa: BLE001 - the exception is the outcome
        return ("raised", type(e), str(e))


FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


@pytest.fixture
def fast_switching():
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(interval)


def run_threads(work, count=THREADS):
    """work(i) on count threads at once; the exceptions they raised."""
    raised = []

    def guarded(i):
        try:
            work(i)
        except BaseException as e:  # noqa: BLE001 - reported by the test
            raised.append(e)

    threads = [threading.Thread(target=guarded, args=(i,)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=300)
    assert not any(t.is_alive() for t in threads)
    return raised


def test_table_covers_all_functions_and_both_outcomes():
    table = calls()
    names = {func.__name__ for _, func, _, _ in table}
    assert names == set(q.__all__)
    for name in q.__all__:
        kinds = {outcome(f, a, k)[0] for _, f, a, k in table if f.__name__ == name}
        assert kinds == {"result", "raised"}, name


@pytest.mark.thread_unsafe(reason="sets the switch interval and resizes the table's bytearray")
def test_eight_threads_get_the_single_thread_outcomes(fast_switching):
    table = calls()
    expected = [outcome(f, a, k) for _, f, a, k in table]
    mismatches = []
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

    assert not run_threads(work)
    assert not mismatches, mismatches[:3]
    # Every view the threads took was released.
    SHARED_BYTEARRAY.append(0)
    del SHARED_BYTEARRAY[-1]


# In a new process, every thread makes the first calls of every function at once:
# nothing the module could make on first need is made twice or seen half made.
FIRST_CALLS = """
import random, threading
import test_threads as t
table = t.calls()
start = threading.Barrier(t.THREADS)
got = []
def work(i):
    order = random.Random(i).sample(range(len(table)), len(table))
    start.wait()
    got.append({j: t.outcome(*table[j][1:]) for j in order})
assert not t.run_threads(work)
expected = {j: t.outcome(*call[1:]) for j, call in enumerate(table)}
assert got == [expected] * t.THREADS
"""


def test_first_calls_of_a_fresh_process_from_every_thread_at_once():
    # Under qemu-user (make test-cross) through the emulator that runs this interpreter.
    emulator = os.environ.get("QUORVEL_EMULATOR", "").split()
    run = subprocess.run([*emulator, sys.executable, "-c", FIRST_CALLS], capture_output=True,
                         text=True, cwd=pathlib.Path(__file__).parent, timeout=600)
    assert run.returncode == 0, run.stderr


def test_utf8_form_of_a_new_str_made_while_every_thread_asks():
    # Strings none of which was asked for its UTF-8 form yet, which every thread
    # converts in the same order, and equal copies for the expected outcomes.
    def texts():
        return [f"\u3000SRID=4326;MULTIPOINT (({i} 1), (2 {i / 3}))\u2003" for i in range(2000)]

    shared = texts()
    expected = [q.to_wkb(text) for text in texts()]
    start = threading.Barrier(THREADS)
    got = [None] * THREADS

    def work(i):
        start.wait()
        got[i] = [q.to_wkb(text) for text in shared]

    assert not run_threads(work)
    assert got == [expected] * THREADS


def test_views_of_one_buffer_taken_by_every_thread_are_all_given_back():
    data = bytearray(COLLECTION)
    view = memoryview(data)
    expected = q.to_wkt(COLLECTION)
    failures = []

    def work(i):
        for _ in range(500):
            for result in (q.to_wkt(data), q.wkb_to_wkt(view),
                           q.to_ewkb_header(data, SwitchingIndex(3857))):
                if isinstance(result, str) and result != expected:
                    failures.append(result)

    assert not run_threads(work)
    assert not failures
    view.release()  # BufferError if an export of the view is left
    data.extend(b"\0" * 1024)  # and of the bytearray
    assert len(data) == len(COLLECTION) + 1024


# A bytearray resizes without a lock in the free-threaded 3.13 (CPython issue 129107,
# fixed in 3.14): a resize there can free the memory of a view another thread is
# taking, whoever takes it.
RESIZES_SAFELY = not FREE_THREADED or sys.version_info >= (3, 14)


@pytest.mark.parametrize("kind", ["bytearray", "numpy"])
def test_buffer_rewritten_while_threads_convert_it(kind):
    """Output unspecified, but always a line of the same header or a clean ValueError."""
    mirrored = linestring([(y, x) for x, y in POSITIONS], srid=4326)
    data, variants = bytearray(LINE), [LINE, mirrored]
    if kind == "numpy":
        data = np.frombuffer(data, np.uint8)
        variants = [np.frombuffer(v, np.uint8) for v in variants]
    stop = threading.Event()
    unexpected = []

    def work(i):
        if i > 0:
            while not stop.is_set():
                for call in (lambda: q.wkb_to_wkt(data), lambda: q.to_hex_wkb(data, srid=False)):
                    got = outcome(call, (), {})
                    if not (got[0] == "result" and got[1].startswith(("SRID=4326;LINESTRING (",
                                                                       "0102000000"))
                            or got[0] == "raised" and got[1] is ValueError):
                        unexpected.append(got)
            return
        try:
            for n in range(2000):
                data[:len(LINE)] = variants[n % 2]
                if kind == "bytearray" and RESIZES_SAFELY:
                    try:
                        data.extend(b"\0" * 3)  # trailing bytes: a ValueError
                        del data[len(LINE):]
                    except BufferError:  # a call holds a view
                        pass
        finally:
            stop.set()

    assert not run_threads(work)
    assert not unexpected, unexpected[:3]
    if kind == "bytearray":
        del data[len(LINE):]  # no view left
