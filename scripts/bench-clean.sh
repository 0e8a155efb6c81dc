#!/usr/bin/env bash
# Benchmark of a whole cleaning run: an archive of about 200 MB with ~50,000
# entries and 30 % duplicates, cleaned in the default mode and with --best.
# Prints MB/s of source, entries/s, peak memory, and the floor of the
# unavoidable work (read every block, decipher and inflate once, CRC-32)
# measured on the same archive, so the ratio job/floor is visible. The
# read-back verification of the copy is timed apart (default minus
# --no-verify).
#
#   scripts/bench-clean.sh [ENTRIES] [MEGABYTES] [STORED-PERCENT]
#
# STORED-PERCENT is the share of entries kept uncompressed in the source
# (default 10): the job must deflate those, which the floor does not count.
#
# The floor is measured with both codecs (zlib alone, and libdeflate as the
# job uses it), with the deflate sizes of zlib 9 and libdeflate 9 and 12. With
# ZLIB_BUILD_DIR naming a build configured with -DSLIMWICK_CODEC=zlib, the job
# is timed with that build too.
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${1:-50000}
megabytes=${2:-200}
stored=${3:-10}
build=${BUILD_DIR:-build/native}
[ -x "$build/slimwick-cli" ] || { echo "build the native preset first (make native)"; exit 1; }
work=$(mktemp -d /tmp/slimwick-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$build/tests/make-sample-archive" "$work/big.grf" --entries "$entries" --megabytes "$megabytes" --duplicates 30 --stored "$stored" --seed 7
size=$(stat -c %s "$work/big.grf")
cat "$work/big.grf" >/dev/null   # warm the page cache once, as the runs below do too

measure() {  # label, command...
  local label=$1; shift
  local out
  out=$( { /usr/bin/time -f "%e %U %S %M" "$@" >/dev/null 2>"$work/err"; } 2>&1 ) || true
  local secs user sys kb
  read -r secs user sys kb < <(tail -n 1 "$work/err")
  awk -v l="$label" -v s="$secs" -v u="$user" -v y="$sys" -v kb="$kb" -v b="$size" -v n="$entries" \
    'BEGIN { printf "%-8s %7.2f s wall %7.2f s cpu  %8.1f MB/s  %9.0f entries/s  peak %7.1f MB\n", l, s, u+y, b/1e6/s, n/s, kb/1024 }'
  awk -v u="$user" -v y="$sys" 'BEGIN { print u+y }' > "$work/last"
  echo "$secs" > "$work/lastwall"
}

echo "archive: $((size / 1000000)) MB, $entries entries, 30 % duplicates, $stored % stored"
measure "floor-zlib" "$build/tests/bench-read-floor" "$work/big.grf" zlib
floorzlib=$(cat "$work/last")
measure "floor" "$build/tests/bench-read-floor" "$work/big.grf"
floor=$(cat "$work/last")
awk -v z="$floorzlib" -v l="$floor" 'BEGIN { printf "floor: zlib %.2f s cpu, libdeflate %.2f s cpu (%.2fx)\n", z, l, (l > 0 ? z/l : 0) }'
"$build/tests/bench-read-floor" "$work/big.grf" libdeflate --deflate | grep '^deflate'
if [ -n "${ZLIB_BUILD_DIR:-}" ]; then
  for mode in "" --best; do
    rm -f "$work/big-cleaned.grf"
    measure "zlib${mode:+ $mode}" "$ZLIB_BUILD_DIR/slimwick-cli" --yes $mode "$work/big.grf"
  done
fi
rm -f "$work/big-cleaned.grf"
measure "default" "$build/slimwick-cli" --yes "$work/big.grf"
default=$(cat "$work/last")
defaultwall=$(cat "$work/lastwall")
rm -f "$work/big-cleaned.grf"
measure "no-verify" "$build/slimwick-cli" --yes --no-verify "$work/big.grf"
noverify=$(cat "$work/last")
noverifywall=$(cat "$work/lastwall")
rm -f "$work/big-cleaned.grf"
measure "--best" "$build/slimwick-cli" --yes --best "$work/big.grf"
best=$(cat "$work/last")
awk -v f="$floor" -v d="$default" -v b="$best" \
  'BEGIN { printf "job/floor (cpu time): default %.2fx, --best %.2fx\n", d/f, b/f }'
awk -v d="$default" -v n="$noverify" -v dw="$defaultwall" -v nw="$noverifywall" \
  'BEGIN { printf "verification: %.2f s wall, %.2f s cpu (%.0f %% of the default run'"'"'s cpu)\n", dw-nw, d-n, (d > 0 ? 100*(d-n)/d : 0) }'
