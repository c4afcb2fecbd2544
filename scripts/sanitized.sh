#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer
# (-DKIVO_SANITIZE=ON) in build-asan/: a memory error, a leak or undefined
# behaviour in any test fails that test. Starts its own PostgreSQL unless
# KIVO_TEST_PG names one already. Extra arguments go to ctest. The build and
# the tests are timed (sanitized: build N s, tests N s).
#
# Usage: scripts/sanitized.sh [CTEST-ARGS...]
source "$(dirname "$0")/common.sh"

ASAN_BUILD="$ROOT/build-asan"
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
started=$SECONDS
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}"
# With debug information ccache hashes the working directory too, so a clone
# at another path (CI's) would compile everything again.
export CCACHE_NOHASHDIR=true
# Only what ctest runs is built. -O1 and line tables only compile much
# faster than -O2 -g, and still give the sanitizers' reports file and line.
cmake -S "$ROOT" -B "$ASAN_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DKIVO_SANITIZE=ON >/dev/null
cmake --build "$ASAN_BUILD" -j"$(nproc)" --target kivo_tests
built=$SECONDS

if [ -z "${KIVO_TEST_PG:-}" ]; then
    source "$ROOT/scripts/postgres.sh"
    trap pg_stop EXIT
    pg_start
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$ROOT/tests/sanitizer/lsan.supp}"
cd "$ASAN_BUILD"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 "$@"
tested=$SECONDS
echo "sanitized: build $((built - started)) s, tests $((tested - built)) s"
