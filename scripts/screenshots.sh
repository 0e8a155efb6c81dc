#!/usr/bin/env bash
# Pictures of the real program for people to look at: starts slimwick-x64.exe
# (or, in build/win32, the 32-bit slimwick.exe) under Xvfb + wine and saves the
# main window, the About box and the report of a cleaned sample archive into
# screenshots/.
#
#   scripts/screenshots.sh [BUILD_DIR]      (default: build/win64)
#
# The build needs the program, screenshot-driver and make-sample-archive (all
# built by "make win64" or "make win32"). Wine runs through wine-run.sh, in a
# prefix of its own with a virtual desktop, so that windows get their frames
# without a window manager.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
out=$root/screenshots
exe=$build/slimwick-x64.exe
[ -f "$exe" ] || exe=$build/slimwick.exe
driver=$build/tools/screenshot-driver.exe
sampler=$build/tools/make-sample-archive.exe
for file in "$exe" "$driver" "$sampler"; do
  [ -f "$file" ] || { echo "missing $file (build the win64 preset first)"; exit 1; }
done

export SLIMWICK_WINEPREFIX=${SLIMWICK_SHOT_WINEPREFIX:-$build/wineprefix-shots}
export WINEPREFIX=$SLIMWICK_WINEPREFIX
wine=$root/scripts/wine-run.sh
# Runs inside the virtual X server (the script calls itself there).
session() {
  "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x400 /f >/dev/null 2>&1
  # The desktop process reads the setting when it starts.
  wineserver -k 2>/dev/null || true
  wineserver -w
  "$wine" "$sampler" "$work/sample.grf" --entries 300 --megabytes 3 --duplicates 40 >/dev/null
  "$wine" "$exe" &
  local app=$!
  shot() { sleep 1; import -window root "$out/$1.png"; echo "saved screenshots/$1.png"; }
  "$wine" "$driver" main
  shot main-window
  "$wine" "$driver" about
  shot about-box
  "$wine" "$driver" dismiss
  "$wine" "$driver" drop "Z:${work//\//\\}\\sample.grf"
  shot report-box
  "$wine" "$driver" dismiss
  "$wine" "$driver" close
  wait "$app" || true
}

if [ "${SLIMWICK_SHOT_SESSION:-}" = 1 ]; then
  work=$SLIMWICK_SHOT_WORK
  session
  exit 0
fi

mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/slimwick-shots.XXXXXX")
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
SLIMWICK_SHOT_SESSION=1 SLIMWICK_SHOT_WORK=$work \
  xvfb-run -a -s "-screen 0 640x400x24" bash "$0" "$build"
