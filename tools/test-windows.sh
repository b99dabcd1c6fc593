#!/usr/bin/env bash
# Windows x64, as far as this machine reaches: the core built with Debian's
# MinGW-w64 cross compiler (cmake/toolchains/x86_64-w64-mingw32.cmake) and run
# under wine, held to the results of the x86-64 Linux build.
#
#   tools/test-windows.sh
#
# - The verification programs, the conformance program and the fuzz replay
#   programs, under wine: the conformance table with MUTATIONS mutated calls per
#   case (the digest must equal the Linux build's), the number reader against
#   strtod, from_chars and fast_float on READER_COUNT texts, the shortest digits
#   against Dragonbox and to_chars on DIGITS_COUNT random doubles and every sweep,
#   and every fuzz corpus and regression.
# - The core and the conformance program again with the macros that MSVC
#   predefines in place of GCC's (verify/msvc_macros.hpp), so that every _MSC_VER
#   branch is compiled and run against the table, with the same digest.
# - The module for CPython 3.11 on Windows, compiled and linked: against CPython's
#   own headers with its Windows pyconfig.h, from Debian's source package of
#   python3.11, and an import library of every function and datum those headers
#   declare exported (tools/python-exports.py).  No Windows CPython can be had
#   here, so the module is not loaded.
#
# Builds and logs land in build/cross/windows/; the wine prefix (made on the first
# run, one per work tree) and the CPython source stay in $QUORVEL_CACHE (default
# ~/.cache/quorvel).
# Needs g++-mingw-w64-x86-64-posix, wine64, libdragonbox-dev and libfast-float-dev
# (make deps), cmake, ninja and a CPython 3.11 of this machine.
set -euo pipefail

# shellcheck source=tools/cross-common.sh
source "$(dirname "$0")/cross-common.sh"
READER_COUNT="${READER_COUNT:-1000000}"
DIGITS_COUNT="${DIGITS_COUNT:-1000000}"
CACHE="${QUORVEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvel}"
OUT="$BUILD/windows"
TOOLCHAIN="-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/toolchains/x86_64-w64-mingw32.cmake"
WINE=/usr/lib/wine/wine64
# A prefix per work tree, since the wine server of a prefix, which outlives the
# programs, stops with the script.
export WINEPREFIX="$CACHE/wine-$(printf %s "$ROOT" | cksum | cut -d ' ' -f 1)" WINEDEBUG=-all
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT

reference_digest
mkdir -p "$OUT" "$CACHE"
"$WINE" wineboot --init >"$OUT/wineboot.log" 2>&1 || { cat "$OUT/wineboot.log" >&2; exit 1; }

configure_and_build "$ROOT/verify" "$OUT/verify" all "$TOOLCHAIN" -DQUORVEL_WERROR=ON \
    -DCMAKE_CXX_FLAGS="-isystem $(host_headers)" -DVERIFY_FUZZ_REPLAY=ON
run windows conformance "$WINE" "$OUT/verify/conformance.exe" "$TABLE" "$MUTATIONS"
same_digest windows conformance
run windows number_reader "$WINE" "$OUT/verify/number_reader.exe" "$READER_COUNT"
run windows shortest_digits "$WINE" "$OUT/verify/shortest_digits.exe" "$DIGITS_COUNT" 2
for target in $FUZZ_TARGETS; do
    run windows "$target" "$WINE" "$OUT/verify/$target.exe" \
        "$ROOT/fuzz/corpus/$target" "$ROOT/fuzz/regressions/$target"
done

# MSVC's branches: first that the forced header leaves MSVC's macros and that the
# headers then choose MSVC's intrinsics, then the core built that way.
msvc=(-include "$ROOT/verify/msvc_macros.hpp")
if ! x86_64-w64-mingw32-g++-posix -std=c++20 "${msvc[@]}" -I"$ROOT/src" -fsyntax-only -x c++ - \
    <<<'#include "lib/sse2.hpp"
#include "lib/wide_multiply.hpp"
#if defined(__GNUC__) || defined(__clang__) || !defined(_MSC_VER)
#error "GCC macros left"
#endif
#if !defined(QUORVEL_MSVC_WIDE_MULTIPLY) || !defined(QUORVEL_HAVE_SSE2)
#error "not the MSVC branches"
#endif' >"$OUT/msvc-macros.log" 2>&1; then
    echo "windows msvc-macros: FAILED" >&2
    cat "$OUT/msvc-macros.log" >&2
    failed=$((failed + 1))
fi
configure_and_build "$ROOT/verify" "$OUT/verify-msvc" conformance "$TOOLCHAIN" \
    -DQUORVEL_WERROR=ON -DCMAKE_CXX_FLAGS="${msvc[*]}"
run windows msvc-conformance "$WINE" "$OUT/verify-msvc/conformance.exe" "$TABLE" "$MUTATIONS"
same_digest windows msvc-conformance

# The module: CPython's headers laid out as in a Windows install (its include
# folder holds PC/pyconfig.h), and the import library.  FindPython asks the build
# machine's interpreter for the libraries a module links, which names Linux's
# libdl: an empty one stands in.
cross_venv
"$ROOT/tools/debian-packages.sh" source python3.11/bookworm "$CACHE/source/python3.11" >/dev/null
python="$OUT/python3.11"
rm -rf "$python"
mkdir -p "$python/stub"
tar xzf "$CACHE"/source/python3.11/python3.11_*.orig.tar.gz -C "$python" --strip-components=1 \
    --wildcards '*/Include' '*/PC/pyconfig.h'
cp "$python/PC/pyconfig.h" "$python/Include/"
"$CROSS_VENV/bin/python" "$ROOT/tools/python-exports.py" "$python/Include" python311.dll \
    >"$python/python311.def"
x86_64-w64-mingw32-dlltool --input-def "$python/python311.def" --dllname python311.dll \
    --output-lib "$python/libpython311.a"
x86_64-w64-mingw32-ar rc "$python/stub/libdl.a"
if configure_and_build "$ROOT" "$OUT/module" all "$TOOLCHAIN" -DQUORVEL_WERROR=ON \
    -DPython_EXECUTABLE="$CROSS_VENV/bin/python" -DPython_INCLUDE_DIR="$python/Include" \
    -DPython_LIBRARY="$python/libpython311.a" -DSKBUILD_SOABI=cp311-win_amd64 \
    -DCMAKE_MODULE_LINKER_FLAGS="-static -L$python/stub"; then
    module="$(ls "$OUT"/module/quorvel*.pyd)"
    echo "windows module: $(basename "$module"), imports" \
        "$(x86_64-w64-mingw32-objdump -p "$module" | sed -n 's/^\tDLL Name: //p' | tr '\n' ' ')"
    passed=$((passed + 1))
else
    failed=$((failed + 1))
fi
echo "test-windows: $passed passed, $failed failed"
[ "$failed" = 0 ]
