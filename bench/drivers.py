#!/usr/bin/env python3
"""Rows a second through the recipes of the guides: PostgreSQL with psycopg 3, asyncpg
and SQLAlchemy 2, DuckDB, and Spark.

    python bench/drivers.py                   # all three, the best of 3 rounds of each case
    python bench/drivers.py --quick           # a tenth of the rows, one round
    python bench/drivers.py --only duckdb     # or postgis or spark; may be repeated

The recipes timed are the guides' own: the examples of docs/postgis.md, docs/duckdb.md
and docs/at-scale.md that import, define a function or a class, or make one of the UDFs
timed are run here first.  The rows are lon/lat points with 6 decimals and
polygons of 100 vertices with 6 or 7 (bench/data.py), made before any clock starts.

- PostgreSQL: fetching a table into a list of EWKT and inserting a list of EWKT into
  an unlogged table, through each recipe, through the server's own text functions
  (ST_AsEWKT, ST_GeomFromEWKT) and through an adapter that uses shapely; whether the
  SRID came through is read back from the rows.  The server is QUORVEL_POSTGIS_DSN,
  or one made as the tests make theirs (tests/conftest.py).
- DuckDB: count() over the Python function and the Arrow function of each direction
  on a table in memory.
- Spark: the pandas UDF, the Arrow-optimised Python UDF and the plain one of each
  direction over a cached DataFrame on local[2], written to the noop sink.

Writes the tables into those guides (bench/figures.py) and bench/results/drivers.json.
"""

from __future__ import annotations

import argparse
import ast
import datetime
import doctest
import json
import os
import platform
import re
import sys
import time
from importlib.metadata import version
from pathlib import Path

import quorvel

BENCH = Path(__file__).resolve().parent
sys.path[:0] = [str(BENCH), str(BENCH.parent / "tests")]
import data  # noqa: E402
import figures  # noqa: E402
from scale import point_rows  # noqa: E402

# bench/profile.py would stand for the standard library's profile, which PySpark imports.
sys.path[:] = [p for p in sys.path if Path(p or ".").resolve() != BENCH]

FULL = {"rounds": 3, "postgis": (100_000, 10_000), "duckdb": 1_000_000, "spark": (1_000_000, 20_000)}
QUICK = {"rounds": 1, "postgis": (10_000, 1_000), "duckdb": 100_000, "spark": (100_000, 2_000)}
SRID = 4326


def recipes(page: str, names: set[str]) -> dict:
    """The page's imports, functions and classes, and its assignments to `names`, run in
    a namespace of their own."""
    namespace: dict = {"__name__": "recipes"}
    text = (figures.ROOT / page).read_text(encoding="utf-8")
    kept = (ast.Import, ast.ImportFrom, ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)
    for block in re.findall(r"^```python\n(.*?)^```$", text, re.M | re.S):
        for example in doctest.DocTestParser().get_examples(block):
            statement = ast.parse(example.source).body[0]
            assigned = {t.id for t in getattr(statement, "targets", []) if isinstance(t, ast.Name)}
            if isinstance(statement, kept) or assigned & names:
                exec(example.source, namespace)
    assert names <= namespace.keys(), names - namespace.keys()
    return namespace


def best(cases: dict, rounds: int, log, warm: bool = False) -> dict[str, float]:
    """The fastest of `rounds` runs of each case, in seconds; a case is (prepare, run, check).
    With `warm`, each case runs once more first, untimed."""
    seconds = {name: float("inf") for name in cases}
    for name, (prepare, run, check) in cases.items() if warm else ():
        prepare()
        check(run())
    for r in range(rounds):
        for name, (prepare, run, check) in cases.items():
            prepare()
            start = time.perf_counter()
            out = run()
            seconds[name] = min(seconds[name], time.perf_counter() - start)
            check(out)
        log(f"  round {r + 1} of {rounds} done")
    return seconds


def tables(points: int, polygons: int) -> dict[str, list[str]]:
    """EWKT of lon/lat points and polygons of 100 vertices, all with SRID 4326."""
    rings = data.polygon_rings("lonlat", polygons, 100)
    return {"points": [quorvel.wkb_to_wkt(b, srid=SRID) for b in point_rows(points)],
            "polygons": [quorvel.wkb_to_wkt(data.polygon_wkb(r), srid=SRID) for r in rings]}


def said(cfg: dict, quick: bool, *packages: str) -> str:
    """When, where and with what a table was measured."""
    versions = ", ".join(f"{p} {version(p)}" for p in packages)
    how = ("one round of a short run (--quick): provisional" if quick
           else f"the best of {cfg['rounds']} rounds")
    return (f"Measured on {datetime.date.today().isoformat()}, {how}; {figures.machine()},"
            f" CPython {platform.python_version()}, {versions}.")


# --- PostgreSQL --------------------------------------------------------------------

WAYS = {  # way: (driver, how: what fetches; what inserts, where the two differ)
    "psycopg-binary": ("psycopg", "`register_geometry`: binary cursor; `executemany`"),
    "psycopg-text": ("psycopg", "`register_geometry`: text cursor"),
    "psycopg-copy": ("psycopg", "`register_geometry`: binary `COPY` with `set_types`"),
    "psycopg-server": ("psycopg", "the server's text: `ST_AsEWKT`; `ST_GeomFromEWKT` in `executemany`"),
    "psycopg-shapely": ("psycopg", "through shapely: binary cursor; `executemany`"),
    "asyncpg-codec": ("asyncpg", "`geometry_codec`: `fetch`; `executemany`"),
    "asyncpg-copy": ("asyncpg", "`geometry_codec`: `copy_records_to_table`"),
    "asyncpg-server": ("asyncpg", "the server's text: `ST_AsEWKT`; `ST_GeomFromEWKT` in `executemany`"),
    "asyncpg-shapely": ("asyncpg", "through shapely: `fetch`; `executemany`"),
    "sqlalchemy-type": ("SQLAlchemy", "`GeometryType`: `select`; `insert` of a list"),
    "sqlalchemy-server": ("SQLAlchemy", "the server's text: `ST_AsEWKT`; `ST_GeomFromEWKT`"),
}


def shapely_wkt(wkb) -> str:
    import shapely

    return shapely.to_wkt(shapely.from_wkb(bytes(wkb)), rounding_precision=-1)


def shapely_wkb(wkt: str) -> bytes:
    import shapely

    return shapely.to_wkb(shapely.from_wkt(wkt))


def postgis(cfg: dict, quick: bool, log) -> dict:
    import asyncio

    import psycopg
    import sqlalchemy as sa
    from psycopg.adapt import Dumper, Loader
    from psycopg.conninfo import conninfo_to_dict
    from psycopg.pq import Format

    from conftest import connect, start_cluster, stop

    r = recipes("docs/postgis.md", {"Geometry", "register_geometry", "geometry_codec", "GeometryType"})
    Geometry, register_geometry = r["Geometry"], r["register_geometry"]
    made = tables(*cfg["postgis"])
    plain = {name: [t.split(";", 1)[1] for t in texts] for name, texts in made.items()}
    server = folder = None
    dsn = os.environ.get("QUORVEL_POSTGIS_DSN")
    if not dsn:
        import tempfile

        folder = Path(tempfile.mkdtemp(prefix="quorvel-bench-postgis-"))
        server, dsn = start_cluster(folder)
    # The recipes connect as the guide's do, through libpq's variables.
    keys = {"host": "PGHOST", "port": "PGPORT", "user": "PGUSER", "password": "PGPASSWORD", "dbname": "PGDATABASE"}
    os.environ.update({keys[k]: str(v) for k, v in conninfo_to_dict(dsn).items() if k in keys})
    try:
        setup = connect(psycopg, dsn, server, folder and folder / "log")
        setup.execute("CREATE EXTENSION IF NOT EXISTS postgis")
        server_version = setup.execute("SELECT split_part(current_setting('server_version'), ' ', 1), postgis_lib_version()").fetchone()
        register_geometry(setup)
        for name, texts in made.items():
            setup.execute(f"DROP TABLE IF EXISTS bench_{name}; CREATE TABLE bench_{name} (geom geometry)")
            with setup.cursor().copy(f"COPY bench_{name} FROM STDIN (FORMAT BINARY)") as copy:
                copy.set_types(["geometry"])
                for t in texts:
                    copy.write_row((Geometry(t),))
        setup.execute("DROP TABLE IF EXISTS bench_sink; CREATE UNLOGGED TABLE bench_sink (geom geometry)")

        class ShapelyGeometry(str):
            """WKT that goes to the server through shapely's WKB, as adapters through shapely do."""

        class ShapelyLoader(Loader):
            format = Format.BINARY

            def load(self, data):
                return shapely_wkt(data)

        geometry_oid = psycopg.types.TypeInfo.fetch(setup, "geometry").oid

        class ShapelyDumper(Dumper):
            format, oid = Format.BINARY, geometry_oid

            def dump(self, wkt):
                return shapely_wkb(wkt)

        q, text, through_shapely = (psycopg.connect(autocommit=True) for _ in range(3))
        register_geometry(q)
        through_shapely.adapters.register_loader(geometry_oid, ShapelyLoader)
        through_shapely.adapters.register_dumper(ShapelyGeometry, ShapelyDumper)
        loop = asyncio.Runner()
        import asyncpg

        async def connect(codec=None):
            conn = await asyncpg.connect()
            if codec:
                await conn.set_type_codec("geometry", encoder=codec[0], decoder=codec[1], format="binary")
            return conn

        aq = loop.run(connect())
        loop.run(r["geometry_codec"](aq))
        atext = loop.run(connect())
        ashapely = loop.run(connect((shapely_wkb, shapely_wkt)))
        engine = sa.create_engine("postgresql+psycopg://")
        meta = sa.MetaData()
        typed = {name: sa.Table(f"bench_{name}", meta, sa.Column("geom", r["GeometryType"]))
                 for name in (*made, "sink")}

        def fetch(name):
            sql = f"SELECT geom FROM bench_{name}"
            as_text = f"SELECT ST_AsEWKT(geom) FROM bench_{name}"

            def copy_out():
                with q.cursor().copy(f"COPY bench_{name} TO STDOUT (FORMAT BINARY)") as copy:
                    copy.set_types(["geometry"])
                    return list(copy.rows())

            def alchemy(select):
                with engine.connect() as c:
                    return c.execute(select).all()

            return {
                "psycopg-binary": lambda: q.cursor(binary=True).execute(sql).fetchall(),
                "psycopg-text": lambda: q.cursor().execute(sql).fetchall(),
                "psycopg-copy": copy_out,
                "psycopg-server": lambda: text.cursor().execute(as_text).fetchall(),
                "psycopg-shapely": lambda: through_shapely.cursor(binary=True).execute(sql).fetchall(),
                "asyncpg-codec": lambda: loop.run(aq.fetch(sql)),
                "asyncpg-server": lambda: loop.run(atext.fetch(as_text)),
                "asyncpg-shapely": lambda: loop.run(ashapely.fetch(sql)),
                "sqlalchemy-type": lambda: alchemy(sa.select(typed[name].c.geom)),
                "sqlalchemy-server": lambda: alchemy(sa.text(as_text)),
            }

        def insert(name):
            texts, wkt = made[name], plain[name]
            into = "INSERT INTO bench_sink VALUES (%s)"
            as_text = "INSERT INTO bench_sink VALUES (ST_GeomFromEWKT(%s))"

            def copy_in():
                with q.cursor().copy("COPY bench_sink FROM STDIN (FORMAT BINARY)") as copy:
                    copy.set_types(["geometry"])
                    for t in texts:
                        copy.write_row((Geometry(t),))

            def alchemy(statement, rows):
                with engine.begin() as c:
                    c.execute(statement, rows)

            return {
                "psycopg-binary": lambda: q.cursor().executemany(into, [(Geometry(t),) for t in texts]),
                "psycopg-copy": copy_in,
                "psycopg-server": lambda: text.cursor().executemany(as_text, [(t,) for t in texts]),
                "psycopg-shapely": lambda: through_shapely.cursor().executemany(
                    into, [(ShapelyGeometry(t),) for t in wkt]),
                "asyncpg-codec": lambda: loop.run(aq.executemany("INSERT INTO bench_sink VALUES ($1)",
                                                                 [(t,) for t in texts])),
                "asyncpg-copy": lambda: loop.run(aq.copy_records_to_table("bench_sink",
                                                                          records=[(t,) for t in texts])),
                "asyncpg-server": lambda: loop.run(atext.executemany(
                    "INSERT INTO bench_sink VALUES (ST_GeomFromEWKT($1))", [(t,) for t in texts])),
                "asyncpg-shapely": lambda: loop.run(ashapely.executemany("INSERT INTO bench_sink VALUES ($1)",
                                                                         [(t,) for t in wkt])),
                "sqlalchemy-type": lambda: alchemy(typed["sink"].insert(), [{"geom": t} for t in texts]),
                "sqlalchemy-server": lambda: alchemy(sa.text("INSERT INTO bench_sink VALUES (ST_GeomFromEWKT(:g))"),
                                                     [{"g": t} for t in texts]),
            }

        srid_kept: dict[str, list[bool]] = {}

        def fetched(way, name):
            def check(rows):
                got = [row[0] for row in rows]
                assert len(got) == len(made[name]), (way, name)
                if way.endswith(("binary", "text", "copy", "codec", "type")):
                    assert sorted(got) == sorted(made[name]), (way, name)
                srid_kept.setdefault(way, []).append(all(t.startswith(f"SRID={SRID};") for t in got))
            return check

        def inserted(way, name):
            def check(_):
                count, srids = setup.execute("SELECT count(*), array_agg(DISTINCT ST_SRID(geom)) FROM bench_sink").fetchone()
                assert count == len(made[name]), (way, name, count)
                srid_kept.setdefault(way, []).append(srids == [SRID])
            return check

        def truncate():
            setup.execute("TRUNCATE bench_sink")

        cases = {}
        for name in made:
            cases |= {(way, "fetch", name): (lambda: None, run, fetched(way, name))
                      for way, run in fetch(name).items()}
            cases |= {(way, "insert", name): (truncate, run, inserted(way, name))
                      for way, run in insert(name).items()}
        log(f"PostgreSQL {server_version[0]}, PostGIS {server_version[1]}: {len(cases)} cases")
        seconds = best(cases, cfg["rounds"], log)
        loop.run(aq.close())
        loop.run(atext.close())
        loop.run(ashapely.close())
        loop.close()
        engine.dispose()
        for conn in (q, text, through_shapely):
            conn.close()
        setup.execute("DROP TABLE bench_points, bench_polygons, bench_sink")
        setup.close()
    finally:
        stop(server, folder)

    rows = {name: len(texts) for name, texts in made.items()}
    columns = [(op, name) for op in ("fetch", "insert") for name in made]
    table = figures.markdown_table(
        ["driver", "way", *(f"{op} {name}" for op, name in columns), "SRID kept"],
        [[driver, how, *(figures.rate(rows[name], seconds[(way, op, name)]) if (way, op, name) in seconds
                         else "-" for op, name in columns),
          "yes" if all(srid_kept[way]) else "no"]
         for way, (driver, how) in WAYS.items()])
    note = (f"{rows['points']:,} points and {rows['polygons']:,} polygons, rows a second. "
            + said(cfg, quick, "psycopg", "asyncpg", "SQLAlchemy", "shapely")
            + f" PostgreSQL {server_version[0]} with PostGIS {server_version[1]} on the same machine.")
    figures.write("bench/drivers.py", "postgis", f"{table}\n\n{note}")
    return {"rows": rows, "seconds": {"/".join(k): v for k, v in seconds.items()},
            "srid_kept": {k: all(v) for k, v in srid_kept.items()},
            "server": list(server_version)}


# --- DuckDB ------------------------------------------------------------------------

def duckdb_bench(cfg: dict, quick: bool, log) -> dict:
    import duckdb
    import pyarrow as pa

    names = {"wkb_to_wkt", "wkt_to_wkb", "wkb_to_wkt_chunk", "wkt_to_wkb_chunk"}
    r = recipes("docs/duckdb.md", names)
    wkb = point_rows(cfg["duckdb"])
    con = duckdb.connect()
    con.from_arrow(pa.table({"wkb": pa.array(wkb, pa.binary()),
                             "wkt": pa.array([quorvel.wkb_to_wkt(b) for b in wkb], pa.string())})).create("points")
    blob, varchar = r["BLOB"], r["VARCHAR"]
    for name in names:
        source, result = (blob, varchar) if name.startswith("wkb") else (varchar, blob)
        con.create_function(name, r[name], [source], result, **({"type": "arrow"} if "chunk" in name else {}))

    def case(name):
        def counted(n):
            assert n == len(wkb), (name, n)
        column = name.split("_")[0]
        return (lambda: None, lambda: con.execute(f"SELECT count({name}({column})) FROM points").fetchone()[0],
                counted)

    seconds = best({name: case(name) for name in sorted(names)}, cfg["rounds"], log)
    n = len(wkb)
    table = figures.markdown_table(
        ["function", "WKB → WKT", "WKT → WKB"],
        [["Python, a call per row (`wkb_to_wkt`, `wkt_to_wkb`)",
          figures.rate(n, seconds["wkb_to_wkt"]), figures.rate(n, seconds["wkt_to_wkb"])],
         ["Arrow, a call per chunk (`wkb_to_wkt_chunk`, `wkt_to_wkb_chunk`)",
          figures.rate(n, seconds["wkb_to_wkt_chunk"]), figures.rate(n, seconds["wkt_to_wkb_chunk"])]])
    figures.write("bench/drivers.py", "duckdb", f"{table}\n\n{n:,} points, rows a second. "
                  + said(cfg, quick, "duckdb", "pyarrow"))
    return {"rows": n, "seconds": seconds}


# --- Spark -------------------------------------------------------------------------

def spark_bench(cfg: dict, quick: bool, log) -> dict:
    os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
    os.environ.setdefault("SPARK_LOCAL_IP", "127.0.0.1")
    import pandas as pd
    from pyspark.sql import SparkSession

    kinds = {"pandas UDF (`pandas_udf`)": ("wkb_to_wkt", "wkt_to_wkb"),
             "Arrow-optimised Python UDF (`useArrow=True`)": ("wkb_to_wkt_arrow", "wkt_to_wkb_arrow"),
             "plain Python UDF, pickled": ("wkb_to_wkt_pickled", "wkt_to_wkb_pickled")}
    made = tables(*cfg["spark"])
    spark = (SparkSession.builder.master("local[2]").appName("quorvel-bench")
             .config("spark.ui.enabled", "false").config("spark.driver.memory", "4g")
             .config("spark.sql.execution.arrow.pyspark.enabled", "true").getOrCreate())
    try:
        # A UDF is made in a session.
        r = recipes("docs/at-scale.md", {n for pair in kinds.values() for n in pair})
        frames = {}
        for name, texts in made.items():
            frame = spark.createDataFrame(pd.DataFrame(
                {"wkb": [quorvel.wkt_to_wkb(t) for t in texts], "wkt": texts})).cache()
            frame.count()
            frames[name] = frame

        def case(name, udf):
            column = udf.split("_")[0]
            return (lambda: None,
                    lambda: frames[name].select(r[udf](column)).write.format("noop").mode("overwrite").save(),
                    lambda _: None)

        cases = {(name, udf): case(name, udf) for name in made for pair in kinds.values() for udf in pair}
        # The first job of each UDF starts its Python workers.
        seconds = best(cases, cfg["rounds"], log, warm=True)
        # Each UDF once more, collected, against quorvel in this process.
        for name, texts in made.items():
            for wkb_to_wkt, _ in kinds.values():
                got = [row[0] for row in frames[name].select(r[wkb_to_wkt]("wkb")).limit(100).collect()]
                assert got == texts[:100], (name, wkb_to_wkt)
    finally:
        spark.stop()
    rows = {name: len(texts) for name, texts in made.items()}
    columns = [(name, i, arrow) for name in made for i, arrow in enumerate(("WKB → WKT", "WKT → WKB"))]
    table = figures.markdown_table(
        ["UDF", *(f"{name} {arrow}" for name, _, arrow in columns)],
        [[kind, *(figures.rate(rows[name], seconds[(name, pair[i])]) for name, i, _ in columns)]
         for kind, pair in kinds.items()])
    figures.write("bench/drivers.py", "spark", f"{table}\n\n{rows['points']:,} points and {rows['polygons']:,}"
                  " polygons, rows a second. " + said(cfg, quick, "pyspark", "pandas", "pyarrow"))
    return {"rows": rows, "seconds": {"/".join(k): v for k, v in seconds.items()}}


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true", help="a tenth of the rows, one round")
    ap.add_argument("--only", action="append", choices=("postgis", "duckdb", "spark"))
    ap.add_argument("--json", type=Path, default=BENCH / "results" / "drivers.json")
    args = ap.parse_args()
    cfg = QUICK if args.quick else FULL

    def log(msg: str) -> None:
        print(msg, file=sys.stderr, flush=True)

    results = {"date": datetime.datetime.now().isoformat(timespec="seconds"), "quick": args.quick,
               "machine": {"cpus": os.cpu_count(), "platform": platform.platform(),
                           "python": platform.python_version()}}
    for part, run in (("postgis", postgis), ("duckdb", duckdb_bench), ("spark", spark_bench)):
        if not args.only or part in args.only:
            log(f"{part}: load {os.getloadavg()[0]:.2f}")
            results[part] = run(cfg, args.quick, log)
    args.json.parent.mkdir(parents=True, exist_ok=True)
    args.json.write_text(json.dumps(results, indent=1))
    log(f"wrote {args.json} and the tables of docs/postgis.md, docs/duckdb.md and docs/at-scale.md")


if __name__ == "__main__":
    main()
