#!/usr/bin/env bash
# The Windows release: builds the 32-bit and 64-bit executables in their own
# build trees and zips slimwick.exe, slimwick-x64.exe, slimwick-cli.exe and
# slimgrf.exe (the 32-bit console programs, which run on both) with the licence.
#   scripts/package-windows.sh [OUT_DIR]   (default build/packages)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/packages}
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target slimwick slimwick-cli slimgrf-tool
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target slimwick-x64
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp build/win32/slimwick.exe build/win32/slimwick-cli.exe build/win32/slimgrf.exe \
   build/win64/slimwick-x64.exe \
   LICENSE "$stage/"
mkdir -p "$out"
zip=$(cd "$out" && pwd)/slimwick-$version-windows.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip slimwick.exe slimwick-x64.exe \
   slimwick-cli.exe slimgrf.exe LICENSE)
echo "wrote $zip"
