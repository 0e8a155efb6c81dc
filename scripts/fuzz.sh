#!/usr/bin/env bash
# Builds the fuzz preset and runs each libFuzzer target for a bounded time.
#
#   scripts/fuzz.sh [SECONDS [PARALLEL [TARGET...]]]
#
# SECONDS per target (default 60); PARALLEL targets at a time (default 1);
# targets: archive_read consolidate (default both).
# Inputs that once crashed, kept under tests/fuzz/regressions/<target>, are
# replayed first. Seeds come from make-fuzz-seeds (the fixture builder); the
# grown corpus stays in <build>/corpus/<target>, crashing inputs land in
# <build>/findings/<target>, logs in <build>/logs. FUZZ_BUILD_DIR overrides
# the build directory (default build/fuzz). Exit status 1 when any target
# found something.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
parallel=${2:-1}
targets=("${@:3}")
[ ${#targets[@]} -eq 0 ] && targets=(archive_read consolidate)
build=${FUZZ_BUILD_DIR:-build/fuzz}

cmake --preset fuzz -B "$build" >/dev/null || exit 1
cmake --build "$build" -j "${JOBS:-2}" --target make-fuzz-seeds "${targets[@]/#/fuzz_}" || exit 1
bin=$build/tests/fuzz
"$bin/make-fuzz-seeds" "$build/seeds" || exit 1
mkdir -p "$build/logs"

seeds_of() { echo "$build/seeds/archive"; }

# The targets make allocations above 64 MiB fail (see fuzz_support.cpp); the
# sanitizer's warning about each is left out of the logs.
flags=(-max_len=16384 -timeout=30 -print_final_stats=1)
quiet() { grep -v --line-buffered 'AddressSanitizer failed to allocate'; }

run_target() {
  local t=$1 log=$build/logs/$1.log regressions=tests/fuzz/regressions/$1
  mkdir -p "$build/corpus/$t" "$build/findings/$t"
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    "$bin/fuzz_$t" "${flags[@]}" "$regressions"/* 2>&1 | quiet >"$log.replay"
    [ "${PIPESTATUS[0]}" -eq 0 ] || {
      echo "fuzz $t: a regression input fails again (see $log.replay)"
      return 1
    }
  fi
  "$bin/fuzz_$t" "${flags[@]}" -max_total_time="$seconds" \
    -artifact_prefix="$build/findings/$t/" "$build/corpus/$t" "$(seeds_of "$t")" 2>&1 | quiet >"$log"
  local status=${PIPESTATUS[0]}
  local execs cov
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$')
  cov=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 | grep -o 'cov: [0-9]* ft: [0-9]*')
  echo "fuzz $t: ${execs:-?} executions, ${cov:-no coverage figures}, status $status"
  if [ $status -ne 0 ]; then
    grep -E 'ERROR|SUMMARY|fuzz check failed|debug assertion|leaked' "$log" | head -5
    echo "  log: $log"
  fi
  return $status
}

for t in "${targets[@]}"; do
  rm -f "$build/logs/$t.status"
  ( run_target "$t"; echo $? >"$build/logs/$t.status" ) &
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do sleep 1; done
done
wait
failed=()
for t in "${targets[@]}"; do
  [ "$(cat "$build/logs/$t.status" 2>/dev/null)" = 0 ] || failed+=("$t")
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}"
  exit 1
fi
echo "fuzz: no findings"
