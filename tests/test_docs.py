"""The examples of the README and of the guides in docs/ run, so the documentation stays true.

Every ```python block is an example.  A block with ">>> " prompts is a doctest: the
doctest blocks of one file and one need run in order in one namespace, as a reader
types them into one session.  A block without prompts is a program: it runs as its
own process, and each print's comment is the line it prints.

A block whose first line is "# requires: NAME" needs more than quorvel:

- postgis: a PostGIS server, and a connection `conn` (tests/test_postgis.py runs these);
- scale: worker processes, pandas and Dask (tests/test_scale.py);
- guides: GeoPandas, pyogrio, pyarrow and polars, the guides extra (marker guides);
- spark: PySpark in local mode and Java, the guides extra (marker spark).

Without their packages the guides and spark examples skip, except under CI=true,
where that is a failure; a run that installs only the test extra deselects them
(-m "not guides and not spark").
"""

import doctest
import importlib
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

from conftest import unavailable

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOCS = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
REQUIRES = re.compile(r"# requires: (\S+)\n")


def every_block():
    """(file name, need or None, block) of every Python block, in order."""
    for path in DOCS:
        for block in re.findall(r"```python\n(.*?)```", path.read_text(encoding="utf-8"), re.S):
            m = REQUIRES.match(block)
            yield path.name, m and m.group(1), block


def doc_blocks(requires=None):
    """(file name, block) of every Python block that needs `requires` (None: nothing)."""
    return [(name, block) for name, need, block in every_block() if need == requires]


def sessions(requires=None):
    """The doctest blocks that need `requires`, joined per file: {file name: text}."""
    joined = {}
    for name, block in doc_blocks(requires):
        if ">>> " in block:
            joined[name] = joined.get(name, "") + "\n" + REQUIRES.sub("", block, count=1)
    return joined


def definitions(block):
    """What a program block defines, run without its main part."""
    namespace = {"__name__": "example"}
    exec(block, namespace)
    return namespace


def run_doctest(text, name, globs=None):
    test = doctest.DocTestParser().get_doctest(text, dict(globs or {}), name, name, 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test)
    assert runner.failures == 0 and runner.tries > 0


def run_script(block, folder, timeout=300):
    """Runs the block as its own program, as a user would (so that spawned workers import
    it as their main module); each print's comment is the line it prints."""
    script = folder / "example.py"
    script.write_text(block, encoding="utf-8")
    # Under the sanitizer build (tools/test-asan.sh) the program keeps its runtime but
    # not its leak check, whose reports would be the interpreter's and its packages' own.
    env = dict(os.environ)
    if "ASAN_OPTIONS" in env:
        env["ASAN_OPTIONS"] += ":detect_leaks=0"
    run = subprocess.run([sys.executable, str(script)], cwd=folder, capture_output=True,
                         text=True, timeout=timeout, env=env)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines() == re.findall(r"print\(.*\)  # (.*)", block)


def need(*modules):
    for module in modules:
        try:
            importlib.import_module(module)
        except ImportError as e:
            unavailable(f"{module} is not installed (pip install '.[guides]'): {e}")


PLAIN = sessions()
GUIDES = sessions("guides")


def test_every_block_has_a_runner():
    # Programs run only among the scale examples; the others run as doctests.
    assert {need for _, need, _ in every_block()} <= {None, "postgis", "scale", "guides", "spark"}
    assert all(">>> " in block or need == "scale" for _, need, block in every_block())


@pytest.mark.thread_unsafe(reason="doctest replaces sys.stdout, one for the whole process")
@pytest.mark.parametrize("name", PLAIN)
def test_example(name):
    run_doctest(PLAIN[name], name)


@pytest.mark.guides
@pytest.mark.thread_unsafe(reason="doctest replaces sys.stdout, one for the whole process")
@pytest.mark.parametrize("name", GUIDES)
def test_guide_example(name, tmp_path, monkeypatch):
    need("geopandas", "pyogrio", "pyarrow", "polars")
    monkeypatch.chdir(tmp_path)  # what an example writes lands here
    run_doctest(GUIDES[name], name)


@pytest.mark.spark
@pytest.mark.thread_unsafe(reason="doctest replaces sys.stdout, one for the whole process")
@pytest.mark.filterwarnings("ignore:PySpark does not yet fully support pandas:FutureWarning")
def test_spark_examples(monkeypatch):
    need("pyspark", "pandas", "pyarrow")
    if not (shutil.which("java") or os.environ.get("JAVA_HOME")):
        unavailable("no Java for Spark (Debian's default-jre-headless; make deps as root)")
    # The workers run this interpreter, which has quorvel; the driver listens on the
    # loopback address only.
    monkeypatch.setenv("PYSPARK_PYTHON", sys.executable)
    monkeypatch.setenv("SPARK_LOCAL_IP", "127.0.0.1")
    from pyspark.sql import SparkSession

    # The examples use the row-by-row wrapper of the Dask example beside them.
    dask_example = next(b for _, b in doc_blocks("scale") if "map_partitions" in b)
    globs = {"convert_rows": definitions(dask_example)["convert_rows"]}
    try:
        for name, text in sessions("spark").items():
            run_doctest(text, name, globs)
    finally:
        if (session := SparkSession.getActiveSession()) is not None:
            session.stop()


def test_every_make_target_named_has_a_rule():
    # A .PHONY target without a rule does nothing and succeeds: CI would pass a step
    # that never ran.
    rules = set(re.findall(r"^([a-z][a-z-]*):", (ROOT / "Makefile").read_text(), re.M))
    named = set()
    for path in [ROOT / ".ci" / "run", *DOCS]:
        named |= set(re.findall(r"\bmake ([a-z][a-z-]*[a-z])(?![\w*-])", path.read_text()))
    assert named - rules == set()
