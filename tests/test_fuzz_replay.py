"""The saved fuzz inputs (fuzz/corpus and fuzz/regressions) keep every property the
fuzz targets check, with AddressSanitizer and UndefinedBehaviorSanitizer on.

The targets are built without a fuzzing engine (fuzz/replay_main.cpp) by the first
C++ compiler found, in build/fuzz-replay (as `fuzz/run.sh replay` does), and each
runs over its saved inputs.
"""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
FUZZ = ROOT / "fuzz"
BUILD = ROOT / "build" / "fuzz-replay"  # shared with fuzz/run.sh replay
TARGETS = [
    "fuzz_wkb_to_wkt",
    "fuzz_wkt_to_wkb",
    "fuzz_hex",
    "fuzz_header_rewrite",
    "fuzz_header_srid",
]


def clean_env():
    # Without the sanitizer settings of tools/test-asan.sh: the compiler and the
    # build tools are not sanitized, and the replay binaries carry their own runtime.
    env = dict(os.environ)
    for name in ("LD_PRELOAD", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC"):
        env.pop(name, None)
    return env


def find_tools():
    cmake = shutil.which("cmake") or shutil.which("cmake", path=str(pathlib.Path(sys.executable).parent))
    compiler = os.environ.get("CXX") or shutil.which("g++") or shutil.which("clang++")
    return cmake, compiler


@pytest.fixture(scope="module")
def replay_dir():
    cmake, compiler = find_tools()
    if cmake is None or compiler is None:
        pytest.skip("the fuzz replay needs cmake and a C++ compiler; none found")
    env = clean_env()
    env["CXX"] = compiler
    for command in (
        [cmake, "-S", str(FUZZ), "-B", str(BUILD), "-DFUZZ_ENGINE=replay"],
        [cmake, "--build", str(BUILD), "-j2"],
    ):
        result = subprocess.run(command, env=env, capture_output=True, text=True, timeout=1200)
        assert result.returncode == 0, result.stdout[-4000:] + result.stderr[-4000:]
    return BUILD


def saved_inputs(target):
    return [p for d in ("corpus", "regressions") for p in (FUZZ / d / target).rglob("*") if p.is_file()]


@pytest.mark.parametrize("target", TARGETS)
def test_saved_inputs_keep_every_property(replay_dir, target):
    inputs = saved_inputs(target)
    assert len(inputs) >= 10, f"fuzz/corpus/{target} is missing; run fuzz/make_corpus.py"
    result = subprocess.run(
        [str(replay_dir / target), str(FUZZ / "corpus" / target), str(FUZZ / "regressions" / target)],
        env=clean_env(), capture_output=True, text=True, timeout=600,
    )
    # The last input named before the failure is the one that failed.
    replayed = [line for line in result.stderr.splitlines() if line.startswith("replay: ")]
    detail = [line for line in result.stderr.splitlines() if not line.startswith("replay: ")]
    assert result.returncode == 0, "\n".join(replayed[-1:] + detail[-40:])
    assert result.stdout.strip() == f"replayed {len(inputs)} inputs"
