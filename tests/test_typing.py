"""The stub package type-checks real usage, rejects misuse line by line, and matches
the signatures of the built module."""

import os
import pathlib
import re
import subprocess
import sys

import pytest

import quorvel

ROOT = pathlib.Path(__file__).resolve().parent.parent
STUBS = ROOT / "stubs"
USAGE = pathlib.Path(__file__).resolve().parent / "typing"

pytest.importorskip("mypy")
pytestmark = pytest.mark.thread_unsafe(reason="its threads would share tmp_path, where mypy works")


def run(args, *extra_path, cwd):
    # The stub-only package is found the way an installed one is: through the
    # interpreter's search path, which mypy reads from PYTHONPATH.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(STUBS), *extra_path]))
    return subprocess.run([sys.executable, "-m", *args], env=env, cwd=cwd,
                          capture_output=True, text=True, timeout=300)


# The oldest supported version and the running one.
TARGETS = sorted({"3.11", "%d.%d" % sys.version_info[:2]})


def mypy(path, tmp_path, target):
    return run(["mypy", "--strict", "--no-incremental", "--config-file", os.devnull,
                "--python-version", target, "--cache-dir", str(tmp_path / "cache"),
                "--show-error-codes", str(path)], cwd=tmp_path)


@pytest.mark.parametrize("target", TARGETS)
def test_good_usage_type_checks(tmp_path, target):
    result = mypy(USAGE / "good_usage.py", tmp_path, target)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.parametrize("target", TARGETS)
def test_bad_usage_fails_on_every_marked_line(tmp_path, target):
    path = USAGE / "bad_usage.py"
    lines = path.read_text().splitlines()
    marked = {n for n, line in enumerate(lines, 1) if "# E:" in line}
    result = mypy(path, tmp_path, target)
    assert result.returncode == 1, result.stdout + result.stderr
    reported = {int(m) for m in re.findall(r"^[^:\n]*bad_usage\.py:(\d+): error:", result.stdout,
                                           re.MULTILINE)}
    assert reported == marked, result.stdout


def test_stubs_match_the_built_module(tmp_path):
    module_dir = str(pathlib.Path(quorvel.__file__).parent)
    result = run(["mypy.stubtest", "quorvel", "--mypy-config-file", os.devnull], module_dir,
                 cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
