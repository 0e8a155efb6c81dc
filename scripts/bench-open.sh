#!/usr/bin/env bash
# Benchmark of archive loading: a 0x200 archive with ENTRIES entries (default
# 1,000,000) is written, then opened and enumerated in a fresh process. Prints
# the load and enumeration times and the peak memory (figures, not a test).
#
#   scripts/bench-open.sh [ENTRIES]        (BUILD=build/native by default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build/native}
binary="$build/tests/test_grf"
[ -x "$binary" ] || { echo "build the native preset first: cmake --preset native && cmake --build --preset native --target test_grf"; exit 1; }
export SLIMWICK_BENCH_ENTRIES=${1:-1000000}
export SLIMWICK_BENCH_ARCHIVE=$(mktemp "${TMPDIR:-/tmp}/bench-open-XXXXXX.grf")
trap 'rm -f "$SLIMWICK_BENCH_ARCHIVE"' EXIT
quiet() { grep -v -e '^Running main' -e '^\[' -e '^$' -e 'DISABLED TEST' || true; }
"$binary" --gtest_also_run_disabled_tests --gtest_filter='BenchOpen.DISABLED_MakeArchive' --gtest_brief=1 | quiet
"$binary" --gtest_also_run_disabled_tests --gtest_filter='BenchOpen.DISABLED_OpenAndEnumerate' --gtest_brief=1 | quiet
