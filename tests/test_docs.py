"""The README and every page of docs/ run as a reader runs them, so the documentation stays true.

Each page is one session: its ```python blocks run top to bottom in one fresh
`__main__` namespace, in a process of its own, with nothing put there beforehand.  A
block with ">>> " prompts is a doctest, typed into that session; a block without
prompts is a program, run in the same namespace as `__main__`, and each print's
comment is the line it prints.  A page whose examples need more than quorvel opens
with the one `pip install '.[EXTRA]'` line that brings it, EXTRA being extras of
pyproject.toml; those pages are marked `guides`.

An HTML comment before a block, invisible on the rendered page, names a service that
the block needs:

- `<!-- needs: postgis -->`: a PostGIS server, which the page reaches through libpq's
  PG* environment variables, set here for the tests' throwaway server (marker postgis);
- `<!-- needs: spark -->`: Java for PySpark in local mode (marker spark).

Without their packages or services these pages skip, except under CI=true, where that
is a failure; a run that installs only the test extra deselects them
(-m "not guides and not spark").
"""

import doctest
import importlib.metadata
import io
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tomllib
import types
from contextlib import redirect_stdout
from typing import NamedTuple

import pytest
from packaging.requirements import Requirement

from conftest import unavailable

ROOT = pathlib.Path(__file__).resolve().parent.parent
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
# The contributor's pages: no guide of a user's, so no pip line; their figures are the
# measurements of named commits that the design rests on.
CONTRIBUTOR_PAGES = {"development.md", "internals.md"}
SERVICES = {"postgis", "spark"}
BLOCK = re.compile(r"^(?:<!-- needs: (?P<needs>[\w, ]+) -->\n)?```(?P<lang>\w*)\n(?P<code>.*?)^```$",
                   re.M | re.S)
PIP = re.compile(r"pip install (?:'\.\[(?P<extras>[\w,-]+)\]'|\.)(?:\s|$)")


class Block(NamedTuple):
    lang: str
    needs: frozenset
    code: str
    line: int  # of the block's first line of code


def blocks(path):
    text = path.read_text(encoding="utf-8")
    return [Block(m["lang"], frozenset(re.split(r"[, ]+", m["needs"] or "")) - {""}, m["code"],
                  text.count("\n", 0, m.start("code")) + 1)
            for m in BLOCK.finditer(text)]


def python_blocks(path):
    return [b for b in blocks(path) if b.lang == "python"]


def extras_of(path):
    """The extras of the page's opening pip line, or None when it opens with none."""
    first = blocks(path)[0] if blocks(path) else None
    m = first and first.lang == "sh" and PIP.match(first.code)
    return None if not m else tuple(filter(None, (m["extras"] or "").split(",")))


def session(page):
    """Runs the page's Python blocks in order in one fresh __main__, as a reader's session;
    stops at the first block that fails and returns 1 then, else 0."""
    main = types.ModuleType("__main__")
    sys.modules["__main__"] = main
    path = pathlib.Path(page)
    for block in python_blocks(path):
        if ">>> " in block.code:
            test = doctest.DocTestParser().get_doctest(block.code, {}, path.name, str(path), block.line - 1)
            test.globs = vars(main)
            if doctest.DocTestRunner(optionflags=doctest.ELLIPSIS).run(test, clear_globs=False).failed:
                return 1
        else:
            with redirect_stdout(io.StringIO()) as out:
                # Blank lines before the code keep the page's line numbers in a traceback.
                exec(compile("\n" * (block.line - 1) + block.code, str(path), "exec"), vars(main))
            expected = re.findall(r"print\(.*\)  # (.*)", block.code)
            if out.getvalue().splitlines() != expected:
                print(f"{path}, line {block.line}: printed {out.getvalue()!r}, expected {expected}")
                return 1
    return 0


def run_page(path, cwd, env=None, timeout=900):
    """The page's session in a process of its own (tests/ on its path for this module)."""
    env = dict(os.environ, **(env or {}))
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(ROOT / "tests"), env.get("PYTHONPATH")]))
    # Under the sanitizer build (tools/test-asan.sh) the process keeps its runtime but not
    # its leak check, whose reports would be the interpreter's and its packages' own.
    if "ASAN_OPTIONS" in env:
        env["ASAN_OPTIONS"] += ":detect_leaks=0"
    code = "import sys, test_docs; sys.exit(test_docs.session(sys.argv[1]))"
    return subprocess.run([sys.executable, "-c", code, str(path)], cwd=cwd, env=env,
                          capture_output=True, text=True, timeout=timeout)


def missing(extras):
    """The packages of these extras that are not installed."""
    gone = []
    for line in importlib.metadata.requires("quorvel") or []:
        req = Requirement(line)
        if req.name != "quorvel" and any(req.marker and req.marker.evaluate({"extra": e}) for e in extras):
            try:
                importlib.metadata.version(req.name)
            except importlib.metadata.PackageNotFoundError:
                gone.append(req.name)
    return gone


def page_param(path):
    needs = set().union(*(b.needs for b in python_blocks(path)))
    marks = [getattr(pytest.mark, n) for n in sorted(needs)] + [pytest.mark.guides] * bool(extras_of(path))
    return pytest.param(path, marks=marks, id=path.name)


@pytest.mark.thread_unsafe(reason="a page's examples create tables and files of fixed names")
@pytest.mark.parametrize("path", [page_param(p) for p in PAGES if python_blocks(p)])
def test_page(path, request, tmp_path):
    if gone := missing(extras_of(path) or ()):
        unavailable(f"{', '.join(gone)} not installed (pip install '.[guides]')")
    needs = set().union(*(b.needs for b in python_blocks(path)))
    env = {}
    if "postgis" in needs:
        from psycopg.conninfo import conninfo_to_dict

        dsn = conninfo_to_dict(request.getfixturevalue("postgis_dsn"))
        env |= {f"PG{key.upper()}": str(value) for key, value in dsn.items()
                if key in ("host", "port", "user", "password", "dbname")}
        env["PGDATABASE"] = env.pop("PGDBNAME")
    if "spark" in needs:
        if not (shutil.which("java") or os.environ.get("JAVA_HOME")):
            unavailable("no Java for Spark (Debian's default-jre-headless; make deps as root)")
        env["SPARK_LOCAL_IP"] = "127.0.0.1"  # the driver listens on the loopback address only
    run = run_page(path, tmp_path, env)  # what a page writes lands in tmp_path
    assert run.returncode == 0, run.stdout + run.stderr[-5000:]


@pytest.mark.parametrize("code", ["    >>> convert_rows\n", "    print(convert_rows)  # -\n"],
                         ids=["doctest", "program"])
def test_a_name_defined_on_another_page_is_not_there(code, tmp_path):
    # at-scale.md defines convert_rows; a page that uses it without defining it fails.
    page = tmp_path / "page.md"
    page.write_text(f"```python\n{code.strip()}\n```\n")
    run = run_page(page, tmp_path)
    assert run.returncode == 1
    assert "NameError: name 'convert_rows' is not defined" in run.stdout + run.stderr


def test_every_page_opens_with_its_pip_line_and_names_known_services():
    extras = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]["optional-dependencies"]
    guides = set(Requirement(extras["guides"][0]).extras)
    for path in PAGES:
        if python_blocks(path) and path.name not in CONTRIBUTOR_PAGES:
            assert extras_of(path) is not None, f"{path.name} opens with no pip install line"
            assert set(extras_of(path)) <= guides, path.name
        assert {n for b in blocks(path) for n in b.needs} <= SERVICES, path.name
    assert guides <= extras.keys()


# A measured figure: a number with a unit of time, a ratio or a rate.  bench/figures.py
# writes each between the comments that name its script and place.
FIGURE = re.compile(r"(?<![\w.])\d(?:[\d,.]*\d)?\s?(?:ns|µs|us|ms|s|seconds?|minutes?|hours?|×|x|%|times"
                    r"|million|thousand|M|k|rows/s)(?![\w-])"
                    r"|\b(?:twice|(?:two|three|four|five|six|seven|eight|nine|ten|a hundred) times)\b", re.I)
# A table cell that is a number, with its ratio in brackets or not.
CELL = re.compile(r"^\|.*\|\s*\d[\d,]*(?:\.\d+)?\s*(?:\([^|]*\))?\s*(?=\|)", re.M)
REGION = re.compile(r"<!-- ([\w./-]+\.py): ([\w-]+) -->(.*?)<!-- end -->", re.S)


@pytest.mark.parametrize("path", [p for p in PAGES if p.name not in CONTRIBUTOR_PAGES], ids=lambda p: p.name)
def test_every_measured_figure_is_written_by_its_script(path):
    text = path.read_text(encoding="utf-8")
    for script, place, _ in REGION.findall(text):
        # The script, or a module of bench/ that it imports, names the place it writes.
        source = (ROOT / script).read_text()
        for module in re.findall(r"^import (\w+)", source, re.M):
            if (ROOT / "bench" / f"{module}.py").exists():
                source += (ROOT / "bench" / f"{module}.py").read_text()
        assert "figures" in source and f'"{place}"' in source, (script, place)
    prose = re.sub(r"`[^`\n]*`", "", re.sub(r"^```.*?^```$", "", REGION.sub("", text), flags=re.M | re.S))
    assert FIGURE.findall(prose) + CELL.findall(prose) == []


def test_the_readme_counts_the_functions():
    import quorvel

    counted = re.search(r"^(\w+) functions\.", (ROOT / "README.md").read_text(), re.M)[1]
    assert counted == ["Eleven", "Twelve", "Thirteen"][len(quorvel.__all__) - 11]


def test_every_make_target_named_has_a_rule():
    # A .PHONY target without a rule does nothing and succeeds: CI would pass a step
    # that never ran.
    rules = {target for line in re.findall(r"^([a-z][a-z -]*):(?!=)", (ROOT / "Makefile").read_text(), re.M)
             for target in line.split()}
    named = set()
    for path in [ROOT / ".ci" / "run", *PAGES]:
        named |= set(re.findall(r"\bmake ([a-z][a-z-]*[a-z])(?![\w*-])", path.read_text()))
    assert named - rules == set()
