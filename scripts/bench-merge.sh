#!/usr/bin/env bash
# slimgrf merge of a base and a patch against cleaning the base alone
# (slimwick-cli), on generated archives, in one run of this script. The patch's
# names are the base's item numbers with extensions of their own draw, so
# about one in nine replaces a base entry and the rest are new. Each command is
# timed ROUNDS times (default 3), alternating, and the ratio is taken per round,
# since the machine's speed drifts over minutes (CPU time is shown too: on a
# shared machine it is the steadier figure). Then the merged archive is
# verified, and the entries of the patch's item numbers are extracted from it
# and compared with the base's and the patch's (the patch's winning).
#
#   scripts/bench-merge.sh [BASE-ENTRIES] [PATCH-ENTRIES] [MEGABYTES]
#
# MEGABYTES is the base's content (the patch's is in proportion). The shape of
# a real client archive and a large patch: scripts/bench-merge.sh 170000 5000 2000
# With WORK=DIR the generated archives are kept in DIR and reused next time.
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${1:-170000}
patch_entries=${2:-5000}
megabytes=${3:-2000}
rounds=${ROUNDS:-3}
build=${BUILD_DIR:-build/native}
for program in slimgrf slimwick-cli tools/make-sample-archive; do
  [ -x "$build/$program" ] || { echo "build the native preset first (make native)"; exit 1; }
done
if [ -n "${WORK:-}" ]; then
  work=$WORK
  mkdir -p "$work"
else
  work=$(mktemp -d /tmp/slimgrf-merge-bench.XXXXXX)
  trap 'rm -rf "$work"' EXIT
fi
base=$work/base-$entries-$megabytes.grf
patch=$work/patch-$patch_entries-$megabytes.gpf
shape=(--duplicates 25 --stored 10)
[ -s "$base" ] || "$build/tools/make-sample-archive" "$base" --entries "$entries" \
  --megabytes "$megabytes" "${shape[@]}" --seed 7
[ -s "$patch" ] || "$build/tools/make-sample-archive" "$patch" --entries "$patch_entries" \
  --megabytes $((megabytes * patch_entries / entries + 1)) "${shape[@]}" --seed 8
merged=$work/merged.grf cleaned=${base%.grf}-cleaned.grf
cat "$base" "$patch" >/dev/null   # warm the page cache once
echo "base: $(($(stat -c %s "$base") / 1000000)) MB, $entries entries; patch: $(($(stat -c %s "$patch") / 1000000)) MB, $patch_entries entries; $(nproc) hardware threads"

measure() {  # label, command...  (sets $wall and $cpu)
  local label=$1; shift
  rm -f "$merged" "$cleaned"
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >"$work/out" 2>&1 || { cat "$work/out"; exit 1; }
  local user sys kb
  read -r wall user sys kb < "$work/time"
  cpu=$(awk -v u="$user" -v y="$sys" 'BEGIN { print u + y }')
  awk -v l="$label" -v s="$wall" -v u="$user" -v y="$sys" -v kb="$kb" \
    'BEGIN { printf "%-24s %8.2f s wall %8.2f s cpu  peak %7.1f MB\n", l, s, u+y, kb/1024 }'
}

ratios=()
for round in $(seq "$rounds"); do
  measure "slimwick-cli (clean)" "$build/slimwick-cli" --yes --quiet "$base"
  clean=$wall clean_cpu=$cpu
  measure "slimgrf merge" "$build/slimgrf" merge --json --quiet "$base" "$patch" -o "$merged"
  ratios+=("$(awk -v a="$wall" -v b="$clean" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')")
  echo "  round $round: merge / clean = ${ratios[-1]}x wall, $(awk -v a="$cpu" -v b="$clean_cpu" \
    'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')x cpu"
done
echo "merge report: $(cat "$work/out")"
printf '%s\n' "${ratios[@]}" | sort -n |
  awk '{ r[NR] = $1 } END { printf "median merge / clean: %.2fx (target: at most 1.20x)\n", r[int((NR + 1) / 2)] }'

"$build/slimgrf" verify --quiet "$merged" && echo "slimgrf verify: every entry of the merged archive reads"
# The item numbers the patch uses, in all three archives; the patch's files
# laid over the base's are what the merged archive must hold.
picks=('data/sample/item?.*' 'data/sample/item??.*' 'data/sample/item???.*')
for ((thousand = 1; thousand < patch_entries / 1000; thousand++)); do picks+=("data/sample/item$thousand???.*"); done
for what in base patch merged; do
  rm -rf "$work/x-$what"
  "$build/slimgrf" extract --quiet "${!what}" "${picks[@]}" -C "$work/x-$what" || true
done
cp -r "$work/x-patch/." "$work/x-base/"
if diff -rq "$work/x-base" "$work/x-merged" >"$work/diff"; then
  echo "spot check: $(find "$work/x-merged" -type f | wc -l) entries of the merged archive equal the winners'"
else
  echo "spot check FAILED:"; head "$work/diff"; exit 1
fi
rm -rf "$work/x-base" "$work/x-patch" "$work/x-merged" "$merged"
