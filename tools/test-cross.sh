#!/usr/bin/env bash
# The Python-free core on other processors: built statically with Debian's cross
# compilers and run under qemu-user, held to the results of the x86-64 build.
#
#   tools/test-cross.sh                   x86-64 (native), then aarch64 and s390x
#   ARCHES="s390x" tools/test-cross.sh    one emulated machine
#
# The conformance table (verify/conformance) runs through the core on every machine,
# and MUTATIONS randomly changed inputs per case go through the same calls: the
# digest of their results must equal the build machine's.  On the emulated machines
# it runs twice, in a plain and in a sanitized build, and beside it: the number reader against strtod, from_chars and fast_float
# (READER_COUNT texts); the shortest digits against Dragonbox's to_decimal and
# to_chars (DIGITS_COUNT random doubles and every sweep); the replay of every fuzz
# corpus and regression, sanitized.  Natively those have targets of their own
# (verify-digits, verify-number-reader, fuzz-replay, test-asan).  Builds and logs
# land in build/cross/<arch>/.  Needs g++-aarch64-linux-gnu, g++-s390x-linux-gnu,
# qemu-user, libdragonbox-dev and libfast-float-dev (make deps), cmake and ninja.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
ARCHES="${ARCHES:-aarch64 s390x}"
READER_COUNT="${READER_COUNT:-100000}"
DIGITS_COUNT="${DIGITS_COUNT:-1000000}"
MUTATIONS="${MUTATIONS:-200}"
BUILD="$ROOT/build/cross"
TABLE="$ROOT/tests/data/conformance.tsv"
FUZZ_TARGETS="fuzz_wkb_to_wkt fuzz_wkt_to_wkb fuzz_hex fuzz_header_rewrite fuzz_header_srid"
passed=0
failed=0
REFERENCE=""

# The header-only libraries that serve as oracles, arch-independent but installed
# for the build machine: a folder of links to them alone, so that no other header
# of the build machine reaches a cross build.
host_headers() {
    local dir="$BUILD/host-headers" dragonbox
    mkdir -p "$dir"
    [ -d /usr/include/fast_float ] && ln -sfn /usr/include/fast_float "$dir/fast_float"
    dragonbox="$(ls -d /usr/include/dragonbox-*/dragonbox 2>/dev/null | tail -n 1 || true)"
    [ -n "$dragonbox" ] && ln -sfn "$dragonbox" "$dir/dragonbox"
    echo "$dir"
}

configure_and_build() {  # configure_and_build SOURCE DIR "TARGETS" [cmake options...]
    local source="$1" dir="$2" targets
    read -ra targets <<<"$3"
    shift 3
    mkdir -p "$dir"
    cmake -S "$source" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 \
        || { cat "$dir.configure.log" >&2; return 1; }
    cmake --build "$dir" -j2 --target "${targets[@]}" >"$dir.build.log" 2>&1 \
        || { cat "$dir.build.log" >&2; return 1; }
}

# Two builds of the core per emulated machine, each against the conformance table: a
# plain build with the verification programs, and a sanitized build with the fuzz
# replay programs.
cross_builds() {  # cross_builds ARCH: the toolchain of cmake/toolchains/
    local arch="$1" flags="-isystem $HEADERS"
    local toolchain="-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/toolchains/$arch-linux-gnu.cmake"
    configure_and_build "$ROOT/verify" "$BUILD/$arch/verify" all "$toolchain" \
        -DCMAKE_CXX_FLAGS="$flags" -DQUORVEL_WERROR=ON
    configure_and_build "$ROOT/verify" "$BUILD/$arch/verify-sanitized" "conformance $FUZZ_TARGETS" \
        "$toolchain" \
        -DCMAKE_CXX_FLAGS="$flags $SANITIZE" "${SANITIZED[@]}" -DQUORVEL_WERROR=ON \
        -DVERIFY_FUZZ_REPLAY=ON
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

# The results of the mutated calls are the same on every machine: each digest
# equals the first one, the build machine's.
same_digest() {  # same_digest ARCH NAME
    local digest
    digest="$(grep -o 'digest [0-9a-f]*' "$BUILD/$1/$2.log" | tail -n 1 || true)"
    REFERENCE="${REFERENCE:-$digest}"
    if [ -z "$digest" ] || [ "$digest" != "$REFERENCE" ]; then
        echo "$1 $2: ${digest:-no digest}, x86_64 gave $REFERENCE" \
            "(QUORVEL_DUMP=1 makes the program print every mutated call, to compare)" >&2
        failed=$((failed + 1))
    fi
}

# run ARCH NAME COMMAND...: the command's last line on success, its output on failure.
run() {
    local arch="$1" name="$2" log start
    shift 2
    log="$BUILD/$arch/$name.log"
    start=$SECONDS
    if "$@" >"$log" 2>&1; then
        echo "$arch $name: $(tail -n 1 "$log") ($((SECONDS - start)) s)"
        passed=$((passed + 1))
    else
        echo "$arch $name: FAILED" >&2
        failed=$((failed + 1))
        grep -v '^replay: ' "$log" | tail -n 40 >&2 || true
    fi
}

# The build machine: the reference digest; the suite checks the module against the
# table.
EMULATOR=()
configure_and_build "$ROOT/verify" "$BUILD/x86_64/verify" conformance -DQUORVEL_WERROR=ON
run x86_64 conformance "$BUILD/x86_64/verify/conformance" "$TABLE" "$MUTATIONS"
same_digest x86_64 conformance

HEADERS="$(host_headers)"
for arch in $ARCHES; do
    command -v "qemu-$arch" >/dev/null || { echo "$arch: qemu-$arch not found (qemu-user)" >&2; exit 1; }
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
done
echo "test-cross: $passed passed, $failed failed"
[ "$failed" = 0 ]
