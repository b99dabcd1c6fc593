"""quorvel outside the calling process: pickling, process pools, pandas and Dask.

Worker processes started by spawn and by fork (after the parent imported quorvel)
must give the parent's outcome for every call; and a Dask DataFrame converted on a
two-process LocalCluster through the function of docs/at-scale.md must equal the same
conversion in this process, bad rows included.
"""

import multiprocessing
import pickle
import random
import re
from concurrent.futures import ProcessPoolExecutor

import pytest

from conftest import FREE_THREADED, NO_FREE_THREADED_WHEEL

if FREE_THREADED:
    pytest.skip(NO_FREE_THREADED_WHEEL["scale"], allow_module_level=True)

import dask
import dask.dataframe as dd
import pandas as pd
from distributed import Client, LocalCluster

import quorvel
import wkb_helpers as w
from test_docs import ROOT, python_blocks
from test_threads import calls, outcome

pytestmark = pytest.mark.scale


def test_every_function_pickles_by_reference():
    for name in quorvel.__all__:
        func = getattr(quorvel, name)
        assert func.__reduce__() == name  # a global: module and name, no state
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
            assert pickle.loads(pickle.dumps(func, protocol)) is func


def outcome_in_worker(func, index):
    """The outcome of the table's call `index`, with `func` as the pickle brought it."""
    _, own, args, kwargs = calls()[index]
    assert func is own
    return outcome(func, args, kwargs)


# The runner's process has native threads of its own (numpy's and pyarrow's pools),
# which makes Python warn on every fork; the forked workers start no threads.
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
@pytest.mark.parametrize("method", ["spawn", "fork"])
def test_workers_give_the_parent_outcomes(method):
    table = calls()
    expected = [outcome(f, a, k) for _, f, a, k in table]
    funcs = [f for _, f, _, _ in table]
    context = multiprocessing.get_context(method)
    with ProcessPoolExecutor(max_workers=2, mp_context=context) as pool:
        got = list(pool.map(outcome_in_worker, funcs, range(len(table)), chunksize=8))
        # A function of the module as the mapped callable itself.
        wkb = [w.linestring([(i, 0.5), (2.0, i)], srid=i) for i in range(1, 50)]
        assert list(pool.map(quorvel.wkb_to_wkt, wkb, chunksize=7)) == list(map(quorvel.wkb_to_wkt, wkb))
    assert got == expected


# The guide's Dask example defines the row-by-row wrapper and its meta; run without
# its main part, it gives them to the test below.
DASK_EXAMPLE = {"__name__": "example"}
exec(next(b.code for b in python_blocks(ROOT / "docs" / "at-scale.md") if "map_partitions" in b.code),
     DASK_EXAMPLE)
convert_rows, META = DASK_EXAMPLE["convert_rows"], DASK_EXAMPLE["META"]


def mixed_table(rows, seed):
    """WKB of every kind, dimension, byte order and SRID; missing and bad rows among them."""
    rng = random.Random(seed)
    values, bad = [], []
    for _ in range(rows):
        dim, order = rng.choice(list(w.ORDINATES)), rng.choice([w.LE, w.BE])
        line = [tuple(rng.uniform(-180, 180) for _ in range(w.ORDINATES[dim]))
                for _ in range(rng.randint(2, 6))]
        point = w.point(line[0], dim, order)
        geometry = rng.choice([
            point,
            w.linestring(line, dim, order),
            w.polygon([line + line[:1]], dim, order),
            w.multipoint([point] * 2, dim, order),
            w.geometrycollection([point, w.linestring(line, dim, order)], dim, order),
        ])
        srid = rng.choice([None, None, 4326, 0])
        if srid is not None:
            geometry = quorvel.to_ewkb_header(geometry, srid)
        fault = rng.random()
        if fault < 0.04:
            geometry = geometry[:-1]
        elif fault < 0.06:
            geometry = w.raw_header(8) + geometry[5:]
        elif fault < 0.08:
            geometry = None
        values.append(geometry)
        bad.append(fault < 0.06)
    return pd.DataFrame({"wkb": values}), bad


# The scheduler's HTTP routes (no dashboard) take another loopback port when another
# cluster on this machine holds the default one.
@pytest.mark.filterwarnings("ignore:Port 8787 is already in use")
def test_dask_partitions_on_two_worker_processes_equal_one_process():
    table, bad = mixed_table(600, seed=13)
    one_wkt = convert_rows(table["wkb"], quorvel.wkb_to_wkt)
    one_back = convert_rows(one_wkt["result"], quorvel.wkt_to_wkb)
    with (dask.config.set({"dataframe.convert-string": False}),
          LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                       dashboard_address=None) as cluster, Client(cluster) as client):
        wkb = dd.from_pandas(table, npartitions=6)["wkb"]
        wkt = wkb.map_partitions(convert_rows, quorvel.wkb_to_wkt, meta=META)
        back = wkt["result"].map_partitions(convert_rows, quorvel.wkt_to_wkb, meta=META)
        wkt, back = dask.compute(wkt, back)
        assert len(set(client.run(lambda: multiprocessing.current_process().pid).values())) == 2
    pd.testing.assert_frame_equal(wkt, one_wkt)
    pd.testing.assert_frame_equal(back, one_back)
    # Every bad row is kept with its message; the others convert and come back.
    assert wkt["error"].notna().tolist() == bad
    assert all(re.match(r"invalid WKB: |unsupported geometry type code: 8$", m)
               for m in wkt["error"].dropna())
    assert back["error"].isna().all()
    assert back["result"].isna().tolist() == wkt["result"].isna().tolist()
