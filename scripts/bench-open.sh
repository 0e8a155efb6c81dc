#!/usr/bin/env bash
# Benchmark of archive loading: a 0x200 archive with ENTRIES entries (default
# 1,000,000) is written, then opened and enumerated in a fresh process. Prints
# the load and enumeration times and the peak memory (figures, not a test).
#
#   scripts/bench-open.sh [ENTRIES]        (BUILD=build/native by default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build/native}
binary="$build/tools/bench-open"
[ -x "$binary" ] || { echo "build the native preset first: cmake --preset native && cmake --build --preset native --target bench-open"; exit 1; }
archive=$(mktemp "${TMPDIR:-/tmp}/bench-open-XXXXXX.grf")
trap 'rm -f "$archive"' EXIT
"$binary" make "$archive" "${1:-1000000}"
"$binary" open "$archive"
