#!/usr/bin/env bash
# Builds every preset that can run on this machine and runs all tests:
# native, address/undefined sanitizers, the thread sanitizer (engine and
# end-to-end tests only), each fuzz target for a minute (two
# at a time), and the 64-bit Windows build under wine; the 32-bit Windows
# build is compiled and linked only.
set -uo pipefail
cd "$(dirname "$0")/.."

failed=()
step() {
  local name=$1; shift
  echo "=== $name"
  if ! "$@"; then failed+=("$name"); fi
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
step "win32 executable check" ctest --test-dir build/win32 -R "^executable$" --output-on-failure
step "win64 build" build win64
step "win64 tests" ctest --preset win64

echo
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all builds and tests passed"
