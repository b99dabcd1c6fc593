#!/usr/bin/env bash
# The threads tests under ThreadSanitizer: the module built with g++ -fsanitize=thread
# in build/tsan, run by the free-threaded CPython that tools/python-ft --tsan built
# with ThreadSanitizer, on the packages of the free-threaded environment (FT_PY, by
# default .venv-ft/bin/python: make venv-ft).  Every report fails the run, except
# those tools/tsan.supp lists, which lie inside CPython.
#
#   tools/test-tsan.sh [pytest arguments]      default: tests/test_threads.py
#
# The reports go to build/tsan/reports/, one file a process (the tests start a
# process of their own too), and are printed at the end.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
FT_PY=${FT_PY:-$ROOT/.venv-ft/bin/python}
[ -x "$FT_PY" ] || { echo "test-tsan: no free-threaded environment at $FT_PY (make venv-ft)" >&2; exit 1; }
TSAN_PY=$(tools/python-ft --tsan)
SITE=$("$FT_PY" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')
BUILD=$ROOT/build/tsan
REPORTS=$BUILD/reports
BIN=$(dirname "$FT_PY")

# The interpreter's own ThreadSanitizer runtime is gcc's, so the module is built with g++.
mkdir -p "$BUILD"
"$BIN/cmake" -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_MAKE_PROGRAM="$BIN/ninja" \
    -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_WERROR=ON \
    -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_MODULE_LINKER_FLAGS=-fsanitize=thread \
    -DPython_EXECUTABLE="$TSAN_PY" >"$BUILD/configure.log" 2>&1 \
    || { cat "$BUILD/configure.log" >&2; exit 1; }
"$BIN/cmake" --build "$BUILD" >"$BUILD/build.log" 2>&1 || { cat "$BUILD/build.log" >&2; exit 1; }

rm -rf "$REPORTS"
mkdir -p "$REPORTS"
run() {
    env -u PYTHON_GIL OPENBLAS_NUM_THREADS=1 PYTHONPATH="$BUILD:$SITE" \
        TSAN_OPTIONS="suppressions=$ROOT/tools/tsan.supp:print_suppressions=1:log_path=$REPORTS/report:halt_on_error=0" \
        "$TSAN_PY" "$@"
}
# The tests must see the ThreadSanitizer build, not the one installed in the environment.
run -c "import quorvel, sys; sys.exit(0 if quorvel.__file__.startswith('$BUILD/') else 'not the ThreadSanitizer build: ' + quorvel.__file__)"

# A buffer that Python code rewrites while a call reads it races with the call by the
# caller's own design (the output is unspecified), and ThreadSanitizer reports that
# race at the module's read, numpy's copies too (through its memmove): that test runs
# in the other suites only.
if [ "$#" -eq 0 ]; then
    set -- tests/test_threads.py --deselect tests/test_threads.py::test_buffer_rewritten_while_threads_convert_it
fi
status=0
run -m pytest -p no:cacheprovider "$@" || status=$?

reports=$(cat "$REPORTS"/report.* 2>/dev/null | grep -c "^WARNING: ThreadSanitizer") || true
if [ "$reports" -gt 0 ]; then
    cat "$REPORTS"/report.* >&2
    echo "test-tsan: $reports ThreadSanitizer reports (above; files in $REPORTS)" >&2
    exit 1
fi
# What the suppressions hid: each process logs "<count> race_top:<function>" lines.
suppressed=$(cat "$REPORTS"/report.* 2>/dev/null | awk '$1 ~ /^[0-9]+$/ && $2 ~ /^race/ { n += $1 } END { print n + 0 }') || true
echo "test-tsan: no ThreadSanitizer report ($suppressed suppressed by tools/tsan.supp)"
exit "$status"
