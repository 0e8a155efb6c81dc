#!/usr/bin/env bash
# The 32-bit console program on an archive of a real client's shape, under
# wine's 32-bit loader: wall and CPU seconds and peak memory (max RSS, the
# program with wine around it) of whole cleaning runs, one thread and every
# hardware thread, the default mode and --best. The pipeline holds its entries
# in flight within a budget made for a 32-bit address space; this shows the
# peak it reaches there.
#
#   scripts/bench-win32.sh [ENTRIES] [MEGABYTES] [STORED-PERCENT] [DUPLICATE-PERCENT]
#
# Defaults: 170000 2000 10 25 (a 1.45 GB archive). Needs "make win32", a
# machine whose kernel runs i386 programs (scripts/i386-probe.sh), and the
# sample maker of the native or win64 build: it builds the archive in memory,
# which a 32-bit process cannot hold at this size.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/win32}
[ -f "$build/slimwick-cli.exe" ] || { echo "build the win32 preset first (make win32)"; exit 1; }
scripts/i386-probe.sh
wine=scripts/wine-run.sh
threads=$(nproc)
work=$(mktemp -d /tmp/slimwick-bench32.XXXXXX)
trap 'rm -rf "$work"' EXIT
archive="Z:${work//\//\\}\\big.grf"

sampler=(build/native/tools/make-sample-archive "$work/big.grf")
[ -x "${sampler[0]}" ] || sampler=("$wine" build/win64/tools/make-sample-archive.exe "$archive")
[ -f "${sampler[-2]}" ] || { echo "build the native or win64 preset too, for the sample maker"; exit 1; }
"${sampler[@]}" --entries "${1:-170000}" \
  --megabytes "${2:-2000}" --stored "${3:-10}" --duplicates "${4:-25}" --seed 7
size=$(stat -c %s "$work/big.grf")
cat "$work/big.grf" >/dev/null
echo "archive: $((size / 1000000)) MB, ${1:-170000} entries; $threads hardware threads"
for flag in "" --best; do
  for jobs in 1 "$threads"; do
    rm -f "$work/big-cleaned.grf"
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" \
      "$wine" "$build/slimwick-cli.exe" --yes --json -j "$jobs" $flag "$archive" >"$work/json" 2>/dev/null || true
    read -r secs user sys kb <"$work/time"
    outcome=$(sed -n 's/.*"outcome": *"\([^"]*\)".*/\1/p' "$work/json")
    awk -v l="${flag:-default} -j$jobs" -v s="$secs" -v u="$user" -v y="$sys" -v kb="$kb" -v o="$outcome" \
      'BEGIN { printf "%-14s %8.2f s wall %8.2f s cpu  peak %7.1f MB  %s\n", l, s, u + y, kb / 1024, o }'
  done
done
