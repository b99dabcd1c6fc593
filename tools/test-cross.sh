#!/usr/bin/env bash
# The core and the module on other processors: built with Debian's cross compilers
# and run under qemu-user, held to the results of the x86-64 build.
#
#   tools/test-cross.sh                   x86-64 (native), then aarch64 and s390x
#   ARCHES="s390x" tools/test-cross.sh    one emulated machine
#
# The conformance table (verify/conformance) runs through the core on every machine,
# and MUTATIONS randomly changed inputs per case go through the same calls: the
# digest of their results must equal the build machine's.  On the emulated machines
# it runs twice, in a plain and in a sanitized build, and beside it: the number
# reader against strtod, from_chars and fast_float (READER_COUNT texts); the
# shortest digits against Dragonbox's to_decimal and to_chars (DIGITS_COUNT random
# doubles and every sweep); the replay of every fuzz corpus and regression,
# sanitized; and the module, built as a wheel and checked by auditwheel, under
# Debian's own CPython 3.11 of that machine with the suite's MODULE_TESTS.
# Natively those have targets of their own (verify-digits, verify-number-reader,
# fuzz-replay, test-asan, make test).  Builds and logs land in build/cross/<arch>/.
# Needs g++-aarch64-linux-gnu, g++-s390x-linux-gnu, qemu-user, libdragonbox-dev and
# libfast-float-dev (make deps), cmake, ninja and a CPython 3.11 of this machine.
set -euo pipefail

# shellcheck source=tools/cross-common.sh
source "$(dirname "$0")/cross-common.sh"
ARCHES="${ARCHES:-aarch64 s390x}"
READER_COUNT="${READER_COUNT:-100000}"
DIGITS_COUNT="${DIGITS_COUNT:-1000000}"

# Two builds of the core per emulated machine, each against the conformance table: a
# plain build with the verification programs, and a sanitized build with the fuzz
# replay programs.
cross_builds() {  # cross_builds ARCH: the toolchain of cmake/toolchains/
    local arch="$1" flags="-isystem $HEADERS" start=$SECONDS
    local toolchain="-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/toolchains/$arch-linux-gnu.cmake"
    configure_and_build "$ROOT/verify" "$BUILD/$arch/verify" all "$toolchain" \
        -DCMAKE_CXX_FLAGS="$flags" -DQUORVEL_WERROR=ON
    configure_and_build "$ROOT/verify" "$BUILD/$arch/verify-sanitized" "conformance $FUZZ_TARGETS" \
        "$toolchain" \
        -DCMAKE_CXX_FLAGS="$flags $SANITIZE" "${SANITIZED[@]}" -DQUORVEL_WERROR=ON \
        -DVERIFY_FUZZ_REPLAY=ON
    echo "$arch builds: plain and sanitized ($((SECONDS - start)) s)"
    for build in verify verify-sanitized; do
        run "$arch" "$build-conformance" "${EMULATOR[@]}" "$BUILD/$arch/$build/conformance" \
            "$TABLE" "$MUTATIONS"
        same_digest "$arch" "$build-conformance"
    done
}

# Sanitizers where they run under qemu-user: AddressSanitizer and
# UndefinedBehaviorSanitizer on aarch64, linked dynamically (qemu's -L finds the
# target's runtime), LeakSanitizer off (it needs ptrace); UndefinedBehaviorSanitizer
# alone on s390x, statically, since ASan's shadow memory does not fit qemu-user's
# address space there.
sanitizers_for() {  # sanitizers_for ARCH: sets SANITIZE (compile flags) and SANITIZED
    local checks="address,undefined" link=""
    [ "$1" = s390x ] && { checks="undefined"; link="-static"; }
    SANITIZE="-fsanitize=$checks -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
    # -O1: half the compile time of -O3 with the instrumentation.
    SANITIZED=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG"
        "-DCMAKE_EXE_LINKER_FLAGS=$link -fsanitize=$checks")
}

# The module on the emulated machines, built as a release builds its wheel: by
# scikit-build-core through the same toolchain file, against the headers of Debian
# 12's own CPython 3.11 for that machine, named for that interpreter
# (SETUPTOOLS_EXT_SUFFIX) and tagged for that machine (_PYTHON_HOST_PLATFORM), then
# checked and repaired by auditwheel.  The interpreter and what it needs to run
# come from Debian's packages of that machine, unpacked into build/cross/<arch>/sysroot
# (tools/debian-packages.sh); the repaired wheel and the tests' packages from PyPI
# for that machine go into a folder of their own (pip install --target), and
# MODULE_TESTS run there under qemu-user.  numpy publishes no wheel of CPython 3.11
# for s390x, so Debian's own python3-numpy is unpacked into that sysroot; shapely 2
# is in neither for s390x, and the one test that compares with it skips there.
MODULE_TESTS="${MODULE_TESTS:-tests/test_wkb_to_wkt.py tests/test_wkt_to_wkb.py tests/test_conformance.py
    tests/test_call_table.py tests/test_arguments.py tests/test_header.py tests/test_hex.py
    tests/test_hex_blocks.py tests/test_sources.py tests/test_threads.py}"
declare -A DEBIAN_ARCH=([aarch64]=arm64 [s390x]=s390x)
declare -A DEBIAN_TEST_PACKAGES=([aarch64]="" [s390x]=python3-numpy)
declare -A PYPI_TEST_PACKAGES=([aarch64]="pytest hypothesis numpy shapely" [s390x]="pytest hypothesis")

module_suite() {  # module_suite ARCH
    local arch="$1" dir="$BUILD/$1/module" sysroot="$BUILD/$1/sysroot" wheel platforms=()
    local start=$SECONDS
    local pip=("$CROSS_VENV/bin/python" -m pip --disable-pip-version-check -q)
    "$ROOT/tools/debian-packages.sh" unpack "${DEBIAN_ARCH[$arch]}" "$sysroot" python3.11 \
        libpython3.11-dev libstdc++6 ${DEBIAN_TEST_PACKAGES[$arch]} >/dev/null
    rm -rf "$dir/dist" "$dir/repaired" "$dir/site"
    mkdir -p "$dir"
    # The sysroot's pyconfig.h includes the one of the target's triple from its
    # include folder, searched after the cross compiler's own.
    if ! (cd "$ROOT" && PATH="$CROSS_VENV/bin:$PATH" _PYTHON_HOST_PLATFORM="linux-$arch" \
        SETUPTOOLS_EXT_SUFFIX=".cpython-311-$arch-linux-gnu.so" \
        CMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchains/$arch-linux-gnu.cmake" \
        "${pip[@]}" wheel --no-deps --no-build-isolation --wheel-dir "$dir/dist" . \
        -Cbuild-dir="$dir/build" -Ccmake.define.QUORVEL_WERROR=ON \
        -Ccmake.define.Python_INCLUDE_DIR="$sysroot/usr/include/python3.11" \
        -Ccmake.define.CMAKE_CXX_FLAGS="-idirafter $sysroot/usr/include") >"$dir/wheel.log" 2>&1; then
        echo "$arch wheel: FAILED" >&2
        tail -n 40 "$dir/wheel.log" >&2
        failed=$((failed + 1))
        return
    fi
    PATH="$CROSS_VENV/bin:$PATH" auditwheel show "$dir"/dist/*.whl >"$dir/auditwheel.log" 2>&1 || true
    PATH="$CROSS_VENV/bin:$PATH" auditwheel repair --wheel-dir "$dir/repaired" "$dir"/dist/*.whl \
        >>"$dir/auditwheel.log" 2>&1 || true
    wheel="$(ls "$dir"/repaired/*.whl 2>/dev/null || true)"
    if [ -z "$wheel" ] || ! grep -q '"manylinux_' "$dir/auditwheel.log"; then
        echo "$arch auditwheel: FAILED" >&2
        cat "$dir/auditwheel.log" >&2
        failed=$((failed + 1))
        return
    fi
    echo "$arch wheel: $(basename "$wheel"), with the sysroot ($((SECONDS - start)) s)"
    passed=$((passed + 1))
    # Every manylinux tag that Debian 12's glibc (2.36) runs.
    for minor in $(seq 17 36); do platforms+=(--platform "manylinux_2_${minor}_$arch"); done
    "${pip[@]}" install --target "$dir/site" "${platforms[@]}" --python-version 3.11 \
        --implementation cp --abi cp311 --only-binary=:all: "$wheel" ${PYPI_TEST_PACKAGES[$arch]} \
        >"$dir/pip.log" 2>&1 || { cat "$dir/pip.log" >&2; failed=$((failed + 1)); return; }
    # Debian's numpy finds BLAS and LAPACK through links that its package's scripts
    # make, which unpacking does not run.
    # QUORVEL_EMULATOR tells a test that starts another interpreter how: the other
    # machine's binary cannot be run directly without binfmt_misc.
    local libs="/usr/lib/$arch-linux-gnu"
    local emulator="qemu-$arch -L $sysroot -E LD_LIBRARY_PATH=$libs/blas:$libs/lapack"
    run "$arch" module env -C "$ROOT" PYTHONPATH="$dir/site" \
        HYPOTHESIS_STORAGE_DIRECTORY="$dir/hypothesis" QUORVEL_EMULATOR="$emulator" \
        $emulator "$sysroot/usr/bin/python3.11" -m pytest -p no:cacheprovider -rs $MODULE_TESTS
}

# One emulated machine from start to end, its lines printed as they come and its
# counts left in build/cross/<arch>/tally.  The machines run side by side: most of
# what runs under qemu-user takes one core.
machine() {  # machine ARCH
    local arch="$1" target
    EMULATOR=(env ASAN_OPTIONS=detect_leaks=0 "qemu-$arch" -L "/usr/$arch-linux-gnu")
    sanitizers_for "$arch"
    cross_builds "$arch"
    bin="$BUILD/$arch/verify"
    run "$arch" number_reader "${EMULATOR[@]}" "$bin/number_reader" "$READER_COUNT"
    run "$arch" shortest_digits "${EMULATOR[@]}" "$bin/shortest_digits" "$DIGITS_COUNT" 2
    for target in $FUZZ_TARGETS; do
        run "$arch" "$target" "${EMULATOR[@]}" "$BUILD/$arch/verify-sanitized/$target" \
            "$ROOT/fuzz/corpus/$target" "$ROOT/fuzz/regressions/$target"
    done
    module_suite "$arch"
    echo "$passed $failed" >"$BUILD/$arch/tally"
}

reference_digest
HEADERS="$(host_headers)"
cross_venv
pids=()
for arch in $ARCHES; do
    command -v "qemu-$arch" >/dev/null || { echo "$arch: qemu-$arch not found (qemu-user)" >&2; exit 1; }
    mkdir -p "$BUILD/$arch"
    rm -f "$BUILD/$arch/tally"
    (passed=0; failed=0; machine "$arch") &
    pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || true; done
for arch in $ARCHES; do
    if read -r p f <"$BUILD/$arch/tally"; then
        passed=$((passed + p)) failed=$((failed + f))
    else
        echo "$arch: stopped early, at the error above" >&2
        failed=$((failed + 1))
    fi
done
echo "test-cross: $passed passed, $failed failed"
[ "$failed" = 0 ]
