#!/usr/bin/env bash
# slimgrf verify against the cleaning program's dry run, on one generated
# archive, in one run of this script: both read and decode every entry with
# every hardware thread (the dry run also checksums, indexes and measures the
# copy). Each is timed PAIRS times, alternating, and the ratio is taken per
# pair, since the machine's speed drifts over minutes.
#
#   scripts/bench-verify.sh [ENTRIES] [MEGABYTES] [STORED-PERCENT] [DUPLICATE-PERCENT]
#
# The shape of a real client archive: scripts/bench-verify.sh 170000 2000 10 25
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${1:-170000}
megabytes=${2:-2000}
stored=${3:-10}
duplicates=${4:-25}
pairs=${PAIRS:-3}
build=${BUILD_DIR:-build/native}
for program in slimgrf slimwick-cli tools/make-sample-archive; do
  [ -x "$build/$program" ] || { echo "build the native preset first (make native)"; exit 1; }
done
work=$(mktemp -d /tmp/slimgrf-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$build/tools/make-sample-archive" "$work/big.grf" --entries "$entries" --megabytes "$megabytes" \
  --duplicates "$duplicates" --stored "$stored" --seed 7
size=$(stat -c %s "$work/big.grf")
cat "$work/big.grf" >/dev/null   # warm the page cache once
echo "archive: $((size / 1000000)) MB, $entries entries, $duplicates % duplicates, $stored % stored; $(nproc) hardware threads"

measure() {  # label, command...  (sets $wall)
  local label=$1; shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
  local user sys kb
  read -r wall user sys kb < "$work/time"
  awk -v l="$label" -v s="$wall" -v u="$user" -v y="$sys" -v kb="$kb" \
    'BEGIN { printf "%-24s %8.2f s wall %8.2f s cpu  peak %7.1f MB\n", l, s, u+y, kb/1024 }'
}

ratios=()
for pair in $(seq "$pairs"); do
  measure "slimwick-cli --dry-run" "$build/slimwick-cli" --dry-run --quiet "$work/big.grf"
  dry=$wall
  measure "slimgrf verify" "$build/slimgrf" verify --quiet "$work/big.grf"
  ratios+=("$(awk -v a="$wall" -v b="$dry" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')")
  echo "  pair $pair: verify / dry run = ${ratios[-1]}x"
done
printf '%s\n' "${ratios[@]}" | sort -n |
  awk '{ r[NR] = $1 } END { printf "median verify / dry run: %.2fx (target: at most 1.20x)\n", r[int((NR + 1) / 2)] }'
