#!/usr/bin/env bash
# The Python test suite against a module built with AddressSanitizer and
# UndefinedBehaviorSanitizer (g++, QUORVEL_SANITIZE=ON) in build/asan.
#
#   tools/test-asan.sh [pytest arguments]      default: -m "not guides and not spark" tests
#
# The interpreter is not built with ASan, so the ASan runtime of g++ is preloaded;
# the UBSan runtime comes linked into the module.  PYTHONMALLOC=malloc sends every
# Python allocation through the sanitizer's malloc, and LeakSanitizer runs at exit
# with tools/lsan.supp, which drops what the interpreter itself keeps until exit
# (objects it allocates for itself, its start-up and its imports) so that what is
# left are the module's own leaks.  Python objects the module leaks by reference
# count are found by tests/test_leaks.py, not here.
#
# PYTHON overrides the interpreter (default: the active virtual environment, else
# .venv); CXX the compiler (default g++, whose runtime is preloaded).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
if [ -n "${PYTHON:-}" ]; then
    PY="$PYTHON"
elif [ -n "${VIRTUAL_ENV:-}" ]; then
    PY="$VIRTUAL_ENV/bin/python"
else
    PY="$ROOT/.venv/bin/python"
fi
CXX="${CXX:-g++}"
BUILD="$ROOT/build/asan"

ASAN_LIB="$("$CXX" -print-file-name=libasan.so)"
if [ ! -e "$ASAN_LIB" ]; then
    echo "test-asan: $CXX has no AddressSanitizer runtime ($ASAN_LIB)" >&2
    exit 1
fi
# The C++ library goes in with it: loaded into an interpreter that is not C++, the
# runtime finds no __cxa_throw to intercept otherwise, and the std::bad_alloc that the
# module throws when an allocation fails (tests/test_allocation_failure.py) would stop
# the process.
CXX_LIB="$("$CXX" -print-file-name=libstdc++.so)"

# cmake from the environment's scripts when it is not on PATH.
CMAKE="$(command -v cmake || true)"
[ -n "$CMAKE" ] || CMAKE="$(dirname "$PY")/cmake"

"$CMAKE" -S "$ROOT" -B "$BUILD" -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVEL_SANITIZE=ON -DPython_EXECUTABLE="$PY" >/dev/null
"$CMAKE" --build "$BUILD" -j2 >"$BUILD/build.log" 2>&1 || { cat "$BUILD/build.log" >&2; exit 1; }

# LeakSanitizer stops every thread at exit to read its stack and registers, and its
# tracer has been seen to crash once at that point ("Tracer caught signal 11", a fault
# of the sanitizer, not a leak report), with native threads of the imported packages
# still running: OpenBLAS's pool (numpy) and jemalloc's background thread (pyarrow,
# which pandas imports).  Neither is wanted here, so the threads left at exit are the
# interpreter's: its main thread and the idle offload thread of Dask's distributed.
run() {
    env LD_PRELOAD="$ASAN_LIB $CXX_LIB" \
        OPENBLAS_NUM_THREADS=1 JE_ARROW_MALLOC_CONF=background_thread:false \
        ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1" \
        LSAN_OPTIONS="suppressions=$ROOT/tools/lsan.supp:print_suppressions=0" \
        UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        PYTHONMALLOC=malloc \
        PYTHONPATH="$BUILD${PYTHONPATH:+:$PYTHONPATH}" \
        "$PY" "$@"
}

# The suite must see the sanitized module, not an installed one.
run -c "import quorvel, sys; sys.exit(0 if quorvel.__file__.startswith('$BUILD/') else 'not the ASan build: ' + quorvel.__file__)"

# The resident-memory checks of tests/test_leaks.py measure nothing under ASan, whose
# quarantine and redzones grow the process on purpose; they run in the ordinary
# suite, and LeakSanitizer stands in for them here.
DESELECT=(-k "not keep_memory_and_references")
for arg in "$@"; do [ "$arg" = -k ] && DESELECT=(); done
# The guides' examples (GeoPandas, pyarrow, polars, Spark's JVM and workers) run the
# same calls as the rest on stacks whose own allocations are not this module's: they
# run in the ordinary suite only.
if [ "$#" -eq 0 ]; then set -- -m "not guides and not spark" tests; fi
# Should the tracer crash all the same, after a suite that passed and with no leak
# reported, the run is repeated once: the repeat checks for leaks again.
LOG="$BUILD/pytest.log"
for attempt in 1 2; do
    status=0
    run -m pytest -p no:cacheprovider "${DESELECT[@]}" "$@" 2>&1 | tee "$LOG" || status=$?
    [ "$status" -eq 0 ] && exit 0
    if [ "$attempt" = 1 ] && grep -q "^Tracer caught signal" "$LOG" \
        && grep -q "LeakSanitizer has encountered a fatal error" "$LOG" \
        && ! grep -q "detected memory leaks" "$LOG" \
        && grep -Eq "^=*.* passed" "$LOG" && ! grep -Eq "[0-9]+ (failed|error)" "$LOG"; then
        echo "test-asan: LeakSanitizer's tracer crashed after a passing suite; running it again" >&2
        continue
    fi
    exit "$status"
done
