#!/usr/bin/env bash
# Fuzz targets over the Python-free core.
#
#   fuzz/run.sh replay            build with g++ (no fuzzing engine) into build/fuzz-replay
#                                 and run every target over fuzz/corpus/<target> and
#                                 fuzz/regressions/<target>
#   fuzz/run.sh fuzz [SECONDS]    build with clang + libFuzzer into build/fuzz-libfuzzer and
#                                 fuzz each target for SECONDS (default 60), FUZZ_JOBS
#                                 (default 2) at a time; the growing corpus lives in
#                                 fuzz/corpus-work/<target>, crashing inputs land in
#                                 fuzz/regressions/<target>/
#
# Optional: TARGETS="fuzz_hex fuzz_wkt_to_wkb" limits the targets; FUZZ_JOBS=1 runs
# one at a time; CXX overrides the compiler of replay mode.  Sanitizers
# (AddressSanitizer, UndefinedBehaviorSanitizer) are on in both modes.
# Exits non-zero when a target fails.
set -euo pipefail

HERE="$(cd "$(dirname "$0")" && pwd)"
ROOT="$(cd "$HERE/.." && pwd)"
ALL_TARGETS="fuzz_wkb_to_wkt fuzz_wkt_to_wkb fuzz_hex fuzz_header_rewrite fuzz_header_srid"
TARGETS="${TARGETS:-$ALL_TARGETS}"
JOBS="${FUZZ_JOBS:-2}"

# The longest input worth trying per target: room for a collection nested to the
# depth limit (128 levels: about 2.5 kB of WKT, 1.2 kB of WKB).
max_len() {
    case "$1" in
        fuzz_wkt_to_wkb) echo 4096 ;;
        fuzz_wkb_to_wkt) echo 4096 ;;
        fuzz_hex) echo 2048 ;;
        *) echo 1024 ;;
    esac
}

build() {  # build DIR ENGINE COMPILER
    local dir="$1" engine="$2" compiler="$3"
    CXX="$compiler" cmake -S "$HERE" -B "$dir" -DFUZZ_ENGINE="$engine" >"$dir.configure.log" 2>&1 \
        || { cat "$dir.configure.log" >&2; return 1; }
    cmake --build "$dir" -j2 >"$dir.build.log" 2>&1 \
        || { cat "$dir.build.log" >&2; return 1; }
}

replay() {
    local dir="$ROOT/build/fuzz-replay" status=0
    mkdir -p "$ROOT/build"
    build "$dir" replay "${CXX:-g++}"
    for target in $TARGETS; do
        local log="$dir/$target.replay.log"
        if "$dir/$target" "$HERE/corpus/$target" "$HERE/regressions/$target" >"$log" 2>&1; then
            echo "$target: $(tail -n 1 "$log")"
        else
            echo "$target: FAILED" >&2
            grep -v '^replay: ' "$log" | tail -n 40 >&2 || true
            grep '^replay: ' "$log" | tail -n 1 >&2 || true
            status=1
        fi
    done
    return "$status"
}

fuzz_one() {  # fuzz_one TARGET SECONDS
    local target="$1" seconds="$2" dir="$ROOT/build/fuzz-libfuzzer"
    local work="$HERE/corpus-work/$target" crashes="$HERE/regressions/$target"
    local log="$HERE/corpus-work/$target.log"
    mkdir -p "$work" "$crashes"
    local dict=()
    [ -f "$HERE/$target.dict" ] && dict=(-dict="$HERE/$target.dict")
    local status=0
    # The work directory comes first: libFuzzer adds new inputs there and only reads
    # the committed seeds.
    "$dir/$target" "$work" "$HERE/corpus/$target" "${dict[@]}" \
        -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$crashes/" \
        >"$log" 2>&1 || status=$?
    local units
    units="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)"
    if [ "$status" = 0 ]; then
        echo "$target: ok, ${units:-?} executions in ${seconds}s, corpus $(ls "$work" | wc -l) files"
    else
        echo "$target: FAILED after ${units:-?} executions (log: $log)" >&2
        grep -E 'PROPERTY FAILED|  input|  detail|ERROR: |runtime error|SUMMARY|Test unit written' \
            "$log" | head -n 20 >&2 || true
    fi
    return "$status"
}

fuzz() {
    local seconds="${1:-60}" status=0
    mkdir -p "$ROOT/build" "$HERE/corpus-work"
    build "$ROOT/build/fuzz-libfuzzer" libfuzzer "${FUZZ_CXX:-clang++}"
    local running=0
    for target in $TARGETS; do
        if [ "$running" -ge "$JOBS" ]; then
            wait -n || status=1
            running=$((running - 1))
        fi
        fuzz_one "$target" "$seconds" &
        running=$((running + 1))
    done
    while [ "$running" -gt 0 ]; do
        wait -n || status=1
        running=$((running - 1))
    done
    return "$status"
}

case "${1:-}" in
    replay) replay ;;
    fuzz) fuzz "${2:-60}" ;;
    *)
        echo "usage: $0 replay | fuzz [seconds]" >&2
        exit 2
        ;;
esac
