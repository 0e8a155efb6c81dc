#!/usr/bin/env bash
# Benchmark of the archive writer: a 0x200 archive of ENTRIES small entries
# (default 200,000) put one by one with GrfPutData, then finalized. Prints the
# time of the puts, of the finalize, and the table size.
#
#   scripts/bench-write.sh [ENTRIES]        (BUILD=build/native by default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build/native}
binary="$build/tools/bench-write"
[ -x "$binary" ] || { echo "build the native preset first: cmake --preset native && cmake --build --preset native --target bench-write"; exit 1; }
archive=$(mktemp "${TMPDIR:-/tmp}/bench-write-XXXXXX.grf")
trap 'rm -f "$archive"' EXIT
"$binary" "$archive" "${1:-200000}"
