"""The PostGIS server of the tests marked `postgis`.

QUORVEL_POSTGIS_DSN names a server to use; otherwise a throwaway PostgreSQL 15 cluster
is made in a temporary folder, listens on a free loopback port only (no unix socket),
and is removed at the end of the session.  initdb and postgres refuse to run as root,
so under root they run as the `postgres` user, which owns the folder.  Without a server
these tests skip, except under CI (CI=true), where that is a failure.
"""

import os
import pathlib
import secrets
import shutil
import signal
import socket
import subprocess
import sys
import sysconfig
import tempfile
import time

import pytest

PG_BIN = pathlib.Path(os.environ.get("QUORVEL_PG_BIN", "/usr/lib/postgresql/15/bin"))


def unavailable(reason):
    if os.environ.get("CI", "").lower() in ("true", "1"):
        pytest.fail(f"PostGIS tests must run under CI: {reason}", pytrace=False)
    pytest.skip(reason)


def start_cluster(folder):
    # A clean environment for the server: no preloaded sanitizer runtime, no PG* settings.
    how = {"cwd": folder, "env": {"PATH": "/usr/bin:/bin", "LC_ALL": "C"}}
    if hasattr(os, "geteuid") and os.geteuid() == 0:
        import pwd  # POSIX only: the suite also runs on Windows

        pw = pwd.getpwnam("postgres")
        how.update(user=pw.pw_uid, group=pw.pw_gid, extra_groups=[])
        os.chown(folder, pw.pw_uid, pw.pw_gid)
    password = secrets.token_hex(16)
    pwfile = folder / "pw"
    pwfile.write_text(password)
    if "user" in how:
        os.chown(pwfile, how["user"], how["group"])
    subprocess.run(
        [PG_BIN / "initdb", "-D", folder / "data", "-U", "quorvel", f"--pwfile={pwfile}",
         "--auth=scram-sha-256", "--no-sync", "--no-locale", "-E", "UTF8"],
        check=True, capture_output=True, **how)
    pwfile.unlink()
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    with open(folder / "log", "wb") as log:
        server = subprocess.Popen(
            [PG_BIN / "postgres", "-D", folder / "data", "-p", str(port), "-k", "",
             "-c", "listen_addresses=127.0.0.1", "-c", "fsync=off", "-c", "synchronous_commit=off"],
            stdout=log, stderr=subprocess.STDOUT, **how)
    return server, f"host=127.0.0.1 port={port} dbname=postgres user=quorvel password={password}"


def connect(psycopg, dsn, server=None, log=None):
    deadline = time.monotonic() + 60
    while True:
        try:
            return psycopg.connect(dsn, autocommit=True, connect_timeout=5)
        except psycopg.OperationalError as e:
            if server is None or server.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"{e}\n{log.read_text() if log else ''}") from None
            time.sleep(0.1)


@pytest.fixture(scope="session")
def postgis_dsn():
    try:
        import psycopg
    except ImportError:
        unavailable("psycopg 3 is not installed")
    dsn = os.environ.get("QUORVEL_POSTGIS_DSN")
    folder = server = None
    try:
        if not dsn:
            folder = pathlib.Path(tempfile.mkdtemp(prefix="quorvel-postgis-"))
            server, dsn = start_cluster(folder)
        with connect(psycopg, dsn, server, folder and folder / "log") as conn:
            conn.execute("CREATE EXTENSION IF NOT EXISTS postgis")
    except (OSError, KeyError, subprocess.CalledProcessError, RuntimeError, psycopg.Error) as e:
        detail = getattr(e, "stderr", b"") or b""
        stop(server, folder)
        unavailable(f"no PostGIS server: {e} {detail.decode(errors='replace')}".strip())
    yield dsn
    stop(server, folder)


def stop(server, folder):
    if server is not None:
        server.send_signal(signal.SIGINT)  # fast shutdown
        try:
            server.wait(30)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
    if folder is not None:
        shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture(scope="session")
def pg(postgis_dsn):
    """One autocommit connection for the whole session."""
    import psycopg

    with psycopg.connect(postgis_dsn, autocommit=True) as conn:
        yield conn


# --- free-threaded CPython ---------------------------------------------------------

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
# The tests whose packages publish no wheel for the free-threaded CPython 3.13
# (cp313t): make test-free-threaded installs wheels only, since a module built from
# source without declaring that it runs without the GIL would turn the GIL back on.
NO_FREE_THREADED_WHEEL = {
    "scale": "Dask and distributed need PyYAML, tornado and msgpack, which have no cp313t wheel",
    "guides": "the pages' extras are not all there: polars and DuckDB publish no cp313t wheel",
    "spark": "pyspark is published as source only, with no wheel for cp313t",
}


def pytest_collection_modifyitems(items):
    if not FREE_THREADED:
        return
    for item in items:
        for marker, reason in NO_FREE_THREADED_WHEEL.items():
            if marker in item.keywords:
                item.add_marker(pytest.mark.skip(reason=reason))


def pytest_sessionfinish(session):
    # What ran must have run without the GIL: an import that turns it back on (an
    # extension module that does not declare it can run without) fails the run.
    if FREE_THREADED and sys._is_gil_enabled():
        session.exitstatus = pytest.ExitCode.TESTS_FAILED
        print("\nthe GIL was turned back on during the run", file=sys.stderr)
