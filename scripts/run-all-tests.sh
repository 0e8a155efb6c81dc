#!/usr/bin/env bash
# Builds every preset and runs all tests: native, address/undefined
# sanitizers, the thread sanitizer (engine and end-to-end tests only), each
# fuzz target for a minute (two at a time), the 32-bit Windows build under
# wine's 32-bit loader (its tests report themselves skipped where the kernel
# does not run i386 programs; scripts/i386-probe.sh tells) and the 64-bit
# Windows build under wine64. Each step's minutes are printed.
set -uo pipefail
cd "$(dirname "$0")/.."

failed=()
step() {
  local name=$1; shift
  echo "=== $name"
  local start=$SECONDS
  if ! "$@"; then failed+=("$name"); fi
  echo "=== $name: $(((SECONDS - start) / 60)) min $(((SECONDS - start) % 60)) s"
}

build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "${JOBS:-2}"; }

step "native build" build native
step "native tests" ctest --preset native
step "asan build" build asan
step "asan tests" ctest --preset asan
step "tsan build" build tsan
step "tsan tests" ctest --preset tsan
step "fuzz" scripts/fuzz.sh 60 2
step "win32 build" build win32
# CTest shows no output of a skipped test: the reason is told here once.
win32_tests() { scripts/i386-probe.sh || echo "so the 32-bit tests that run programs are skipped"; ctest --preset win32; }
step "win32 tests" win32_tests
step "win64 build" build win64
step "win64 tests" ctest --preset win64

echo
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all builds and tests passed"
