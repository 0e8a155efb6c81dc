#!/usr/bin/env bash
# Benchmark of the archive writer: a 0x200 archive of ENTRIES small entries
# (default 200,000) put one by one with GrfPutData, then finalized. Prints the
# time of the puts, of the finalize, and the table size.
#
#   scripts/bench-write.sh [ENTRIES]        (BUILD=build/native by default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build/native}
binary="$build/tests/test_grf"
[ -x "$binary" ] || { echo "build the native preset first: cmake --preset native && cmake --build --preset native --target test_grf"; exit 1; }
export SLIMWICK_BENCH_ENTRIES=${1:-200000}
"$binary" --gtest_also_run_disabled_tests --gtest_filter='BenchWrite.*' --gtest_brief=1 |
  grep -v -e '^Running main' -e '^\[' -e '^$' || true
