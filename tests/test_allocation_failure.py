"""Allocation failure: every call raises MemoryError or gives its usual result.

Each path of test_leaks' catalogue (every function and argument form, success and
every kind of failure) runs with its k-th allocation made to fail, for k = 0, 1, ...
until the call gets through, once with only that allocation failing and once with
every later one failing too: the interpreter's allocations through
_testcapi.set_nomemory, and the module's C++ allocations (operator new, the output
buffers' malloc and realloc) through tests/failing_allocator.cpp, which the test
builds with the system's C++ compiler and preloads into a child interpreter.  No
call may raise PanicException, SystemError or any other exception, give another
result or crash; and repeating the whole sweep leaves no Python blocks, C heap or
references behind.
"""

import ctypes
import gc
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import quorvel
from test_leaks import BINDING, BUFFER, CONVERSION, SRID, SUCCESS, heap_in_use, shared

try:
    import _testcapi
except ImportError:  # release builds without the test modules, free-threaded builds
    _testcapi = None

CASES = [p.values[0] for p in SUCCESS + BINDING + SRID + BUFFER + CONVERSION]
# Exceptions that the arguments' own Python code raises (an srid's __index__): with one
# allocation failing in their traceback, CPython 3.13.0 loses them ("returned NULL
# without setting an exception"), so those calls fail their allocations only from
# the k-th on.
RAISED_BY_PYTHON_CODE = (LookupError, RuntimeError)
SWEEPS = 4  # repetitions of a whole sweep for the leak check, after one more


def detached(error):
    """The exception without its traceback and context, which hold the frames of the
    call (and so its arguments) until the garbage collector runs."""
    error.__context__ = None
    return error.with_traceback(None)


def outcome(result, error):
    if error is not None:
        return type(error), error.args
    return result


def sweep(case, args, kwargs, attempt, limit=400):
    """Runs every failing allocation of one call, both ways: the unexpected outcomes
    as (k, persistent, outcome)."""
    held = [o for o in (*args, *kwargs.values()) if not shared(o)]
    try:
        expected = outcome(case.func(*args, **kwargs), None)
    except Exception as error:
        expected = outcome(None, error)
    counts = [sys.getrefcount(o) for o in held]
    wrong = []

    def run(k, persistent):
        result, error, seen = attempt(case.func, args, kwargs, k, persistent)
        got = outcome(result, error)
        if got != expected and not isinstance(error, MemoryError):
            wrong.append((k, persistent, got))
        # Past the call's last allocation: nothing failed, or (where that is not known)
        # everything from k on failed and the call got through all the same.
        return seen <= k if seen is not None else persistent and got == expected

    # Every allocation from the k-th on failing, up to the first k that the call
    # gets past; then each of those allocations failing alone.
    last = next((k for k in range(limit) if run(k, True)), None)
    if last is None:
        wrong.append((limit, True, "still failing"))
        last = limit
    if case.raises not in RAISED_BY_PYTHON_CODE:
        for k in range(last + 1):
            run(k, False)
    if [sys.getrefcount(o) for o in held] != counts:
        wrong.append((None, None, "reference counts of the arguments changed"))
    return wrong


def check_cases(attempt):
    """Every case swept, then every sweep repeated: the unexpected outcomes and the
    growth of Python blocks and of the C heap, as a list of failure messages."""
    failures = []
    calls = [(case, *case.make()) for case in CASES]
    for case, args, kwargs in calls:
        wrong = sweep(case, args, kwargs, attempt)
        failures += [f"{case.id}: allocation {k} failing{' and on' if p else ''}: {got!r}"
                     for k, p, got in wrong]
    for call in calls:
        sweep(*call, attempt)
    gc.collect()
    blocks, heap = sys.getallocatedblocks(), heap_in_use()
    for _ in range(SWEEPS):
        for call in calls:
            sweep(*call, attempt)
    gc.collect()
    # The C heap holds every result of more than 512 bytes (the long lines' texts and
    # EWKB) and every C++ allocation: it must not move.  The interpreter's small blocks
    # drift by a few tens a sweep here without any failure (its free lists filling).
    block_growth = sys.getallocatedblocks() - blocks
    if block_growth >= 64 * SWEEPS:
        failures.append(f"{block_growth} Python blocks more after {SWEEPS} sweeps")
    if heap is not None and heap_in_use() - heap >= 1024:
        failures.append(f"the C heap grew by {heap_in_use() - heap} bytes in {SWEEPS} sweeps")
    return failures


# --- the interpreter's allocations ----------------------------------------------


def python_attempt(func, args, kwargs, k, persistent):
    nomem, remove = _testcapi.set_nomemory, _testcapi.remove_mem_hooks
    result = error = None
    # Nothing between arming and disarming but the call: the test's own bookkeeping
    # would fail as well.
    nomem(k, 0 if persistent else k + 1)
    try:
        result = func(*args, **kwargs)
    except BaseException as e:
        remove()
        error = detached(e)
    else:
        remove()
    return result, error, None


@pytest.mark.skipif(_testcapi is None, reason="this interpreter has no _testcapi")
def test_interpreter_allocation_failure_gives_memory_error():
    failures = check_cases(python_attempt)
    assert not failures, "\n".join(failures[:30])


# --- the module's C++ allocations -----------------------------------------------

ALLOCATOR = pathlib.Path(__file__).with_name("failing_allocator.cpp")


def module_code():
    """The address range of the module's mappings."""
    path = os.path.realpath(quorvel.__file__)
    ranges = []
    with open("/proc/self/maps") as maps:
        for line in maps:
            if line.rstrip().endswith(path):
                begin, end = line.split()[0].split("-")
                ranges.append((int(begin, 16), int(end, 16)))
    return min(b for b, _ in ranges), max(e for _, e in ranges)


def cxx_attempt_with(shim):
    def attempt(func, args, kwargs, k, persistent):
        result = error = None
        shim.quorvel_fail_from(k, persistent)
        try:
            result = func(*args, **kwargs)
        except BaseException as e:
            error = e
        seen = shim.quorvel_disarm()
        if error is not None:
            error = detached(error)
        return result, error, seen
    return attempt


def child(library):
    shim = ctypes.CDLL(library)
    shim.quorvel_fail_from.argtypes = [ctypes.c_long, ctypes.c_int]
    shim.quorvel_disarm.restype = ctypes.c_long
    shim.quorvel_set_module_code.argtypes = [ctypes.c_size_t, ctypes.c_size_t]
    shim.quorvel_set_module_code(*module_code())
    failures = check_cases(cxx_attempt_with(shim))
    print("\n".join(failures[:30]))
    return 1 if failures else 0


@pytest.mark.skipif(sys.platform != "linux" or "asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="needs glibc's allocator, preloaded before any other")
def test_cxx_allocation_failure_gives_memory_error(tmp_path):
    compiler = shutil.which("g++") or shutil.which("c++")
    if compiler is None:
        pytest.skip("no C++ compiler")
    library = tmp_path / "failing_allocator.so"
    subprocess.run([compiler, "-std=c++17", "-O1", "-shared", "-fPIC", "-o", library, ALLOCATOR],
                   check=True)
    env = dict(os.environ, LD_PRELOAD=str(library))
    run = subprocess.run([sys.executable, __file__, str(library)], env=env, capture_output=True,
                         text=True, timeout=600)
    assert run.returncode == 0, run.stdout + run.stderr


if __name__ == "__main__":
    sys.exit(child(sys.argv[1]))
