#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (clang-15, ASan, UBSan) in
# build-fuzz/ and runs each: first over its seed corpus, then fuzzing for
# SECONDS (default 20). A crash, leak, hang (10 s for one input), sanitizer
# report or failed property stops that target and fails the run; the input is
# kept in build-fuzz/artifacts/<target>/. New inputs the fuzzer finds go to
# build-fuzz/corpus/<target>/ (kept between runs, never into the tree).
# The figures of the run (executions, executions per second, edges) are
# printed at the end and kept in build-fuzz/figures.txt.
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
source "$(dirname "$0")/common.sh"

seconds="${1:-20}"
shift || true
FUZZ_BUILD="$ROOT/build-fuzz"
FUZZ_SRC="$ROOT/tests/fuzz"

ensure_packages "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}"
cmake -S "$ROOT" -B "$FUZZ_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-15 \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DKIVO_FUZZ=ON >/dev/null
cmake --build "$FUZZ_BUILD" -j"$(nproc)" --target kivo_fuzzers

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for dir in "$FUZZ_SRC"/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

# The readers that take a path write a file per input: memory is faster than the disk.
scratch="$(mktemp -d "${KIVO_FUZZ_TMP:-/dev/shm}/kivo-fuzz.XXXXXX" 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export TMPDIR="$scratch"

# The FTP replies may hold lines longer than the client's 64 KiB buffer.
max_len() {
    case "$1" in
    fuzz_ftpreply) echo 140000 ;;
    *) echo 16384 ;;
    esac
}

# Seconds one input may take: a Paradox table that makes pxlib loop is given
# up by the import after 30 s, and only a wait past that is a hang.
hang_after() {
    case "$1" in
    fuzz_legacy) echo 40 ;;
    *) echo 10 ;;
    esac
}

failed=()
figures="$FUZZ_BUILD/figures.txt"
printf '%-16s %12s %10s %8s %s\n' target executions "exec/s" edges result >"$figures"
for target in "${targets[@]}"; do
    work="$FUZZ_BUILD/corpus/$target"
    artifacts="$FUZZ_BUILD/artifacts/$target"
    log="$FUZZ_BUILD/logs/$target.log"
    mkdir -p "$work" "$artifacts" "$(dirname "$log")"
    options=(-max_total_time="$seconds" -timeout="$(hang_after "$target")" -rss_limit_mb=2048 -max_len="$(max_len "$target")"
             -print_final_stats=1 -artifact_prefix="$artifacts/"
             -seed="${KIVO_FUZZ_SEED:-1}") # a fixed seed: a run is repeatable; KIVO_FUZZ_SEED=0 draws one
    [ -f "$FUZZ_SRC/dict/$target.dict" ] && options+=(-dict="$FUZZ_SRC/dict/$target.dict")
    echo "== $target: its corpus, then ${seconds} s of fuzzing"
    result=ok
    if ! "$FUZZ_BUILD/tests/fuzz/$target" "${options[@]}" "$work" "$FUZZ_SRC/corpus/$target" >"$log" 2>&1; then
        result=FAILED
        failed+=("$target")
        grep -E "PROPERTY FAILED|ERROR: |SUMMARY|runtime error|Test unit written" "$log" | head -20 || true
        echo "   whole log: $log"
    fi
    # The last figures are the fuzzer's own (a forked reader may print its copy's too).
    executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)"
    edges="$(grep -oE 'cov: [0-9]+' "$log" | tail -n 1 | cut -d' ' -f2)"
    printf '%-16s %12s %10s %8s %s\n' "$target" "${executions:--}" "${rate:--}" "${edges:--}" "$result" |
        tee -a "$figures"
done
echo
cat "$figures"
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: ${#failed[@]} of ${#targets[@]} targets failed: ${failed[*]} (inputs in $FUZZ_BUILD/artifacts/)"
    exit 1
fi
echo "fuzz: ${#targets[@]} passed, 0 failed"
