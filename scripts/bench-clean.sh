#!/usr/bin/env bash
# Benchmark of whole cleaning runs on one generated archive, next to the
# single-thread floors of the same work:
#   floor            read every block, decipher, inflate, CRC-32
#   floor+stored     ... plus deflate of every distinct stored entry (the default mode's extra)
#   floor+level9     ... plus level-9 deflate of every distinct content (--best's extra)
# and the job (slimwick-cli) in the default mode and with --best, with one
# thread and with every hardware thread, each with and without the read-back
# verification. Wall and CPU seconds and peak memory (max RSS) per run; the
# ratios compare the job's wall time with the CPU time of the matching
# single-thread floor (its wall time on an idle machine), and CPU with CPU.
#
#   scripts/bench-clean.sh [ENTRIES] [MEGABYTES] [STORED-PERCENT] [DUPLICATE-PERCENT]
#
# MEGABYTES is the content before compression. The shape of a real client
# archive (170,000 entries, ~2 GB of content, 10 % stored, 25 % duplicates):
#   scripts/bench-clean.sh 170000 2000 10 25
# The machine's other load shows in wall times: compare wall with CPU time.
#
# The floors are measured with zlib alone and with the build's own codec
# (libdeflate); the ratios use the zlib floors. --compare prints the deflate
# times and sizes of zlib 9 and libdeflate 9 and 12. With ZLIB_BUILD_DIR naming
# a build configured with -DSLIMWICK_CODEC=zlib, the job is timed with it too.
# PAIRS (default 3) sets how many floor-then-job pairs end the run.
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${1:-50000}
megabytes=${2:-200}
stored=${3:-10}
duplicates=${4:-30}
build=${BUILD_DIR:-build/native}
[ -x "$build/slimwick-cli" ] || { echo "build the native preset first (make native)"; exit 1; }
threads=$(nproc)
work=$(mktemp -d /tmp/slimwick-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$build/tools/make-sample-archive" "$work/big.grf" --entries "$entries" --megabytes "$megabytes" \
  --duplicates "$duplicates" --stored "$stored" --seed 7
size=$(stat -c %s "$work/big.grf")
cat "$work/big.grf" >/dev/null   # warm the page cache once, as the runs below do too

measure() {  # label, command...  (sets $wall)
  local label=$1; shift
  rm -f "$work/big-cleaned.grf"
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
  local secs user sys kb
  read -r secs user sys kb < "$work/time"
  wall=$secs
  cpu=$(awk -v u="$user" -v y="$sys" 'BEGIN { print u + y }')
  awk -v l="$label" -v s="$secs" -v u="$user" -v y="$sys" -v kb="$kb" -v b="$size" \
    'BEGIN { printf "%-26s %8.2f s wall %8.2f s cpu %8.1f MB/s  peak %7.1f MB\n", l, s, u+y, b/1e6/s, kb/1024 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2fx", (b > 0 ? a / b : 0) }'; }

echo "archive: $((size / 1000000)) MB, $entries entries, $duplicates % duplicates, $stored % stored; $threads hardware threads"
floor="$build/tools/bench-read-floor"
for codec in zlib libdeflate; do
  z=(); [ "$codec" = zlib ] && z=(--zlib)
  measure "floor $codec" "$floor" "$work/big.grf" "${z[@]}"
  measure "  + stored deflate" "$floor" "$work/big.grf" "${z[@]}" --stored
  [ "$codec" = zlib ] && floorStored=$cpu
  measure "  + level-9 deflate" "$floor" "$work/big.grf" "${z[@]}" --best
  [ "$codec" = zlib ] && floorBest=$cpu
done
"$floor" "$work/big.grf" --compare | grep '^deflate'
cli="$build/slimwick-cli"
if [ -n "${ZLIB_BUILD_DIR:-}" ]; then
  measure "zlib build default" "$ZLIB_BUILD_DIR/slimwick-cli" --yes --quiet "$work/big.grf"
  measure "zlib build --best" "$ZLIB_BUILD_DIR/slimwick-cli" --yes --quiet --best "$work/big.grf"
fi
for mode in default best; do
  flag=(); reference=$floorStored
  [ "$mode" = best ] && { flag=(--best); reference=$floorBest; }
  for jobs in 1 "$threads"; do
    for verify in verify no-verify; do
      extra=(); [ "$verify" = no-verify ] && extra=(--no-verify)
      measure "$mode -j$jobs $verify" "$cli" --yes --quiet -j "$jobs" "${flag[@]}" "${extra[@]}" "$work/big.grf"
      echo "    vs single-thread zlib floor: wall $(ratio "$wall" "$reference"), cpu $(ratio "$cpu" "$reference")"
      if [ "$verify" = verify ]; then verifiedWall=$wall; verifiedCpu=$cpu; fi
    done
    awk -v w="$verifiedWall" -v nw="$wall" -v c="$verifiedCpu" -v nc="$cpu" \
      'BEGIN { printf "    verification: %.2f s wall, %.2f s cpu\n", w - nw, c - nc }'
  done
done

# The machine's speed drifts over minutes on shared hosts, which moves the
# ratios above. Here each default-mode run (every thread, verification on)
# follows its own zlib floor measurement, and the ratio is taken per pair.
pairs=${PAIRS:-3}
ratios=()
for i in $(seq "$pairs"); do
  measure "pair $i: floor + stored" "$floor" "$work/big.grf" --zlib --stored
  pairFloor=$cpu
  measure "pair $i: default -j$threads" "$cli" --yes --quiet -j "$threads" "$work/big.grf"
  ratios+=("$(ratio "$wall" "$pairFloor")")
done
printf '%s\n' "${ratios[@]}" | tr -d x | sort -n |
  awk '{ r[NR] = $1 } END { printf "paired wall ratios: %s .. %s, median %.2fx\n", r[1], r[NR], r[int((NR + 1) / 2)] }'
