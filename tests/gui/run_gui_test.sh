#!/usr/bin/env bash
# Runs the GUI end-to-end test binary under a virtual X server and wine.
#
#   run_gui_test.sh TEST_GUI_EXE [gtest arguments]
#
# The test gets a wine prefix of its own: a prefix whose desktop process was
# started without a display (by the other, windowless test runs) cannot show
# windows. It also gets an archive in a folder where no file can be created,
# when this machine allows one: immutable (chattr +i) as root, without write
# permission otherwise; SLIMWICK_READONLY_ARCHIVE names it.
set -uo pipefail
exe=$1
shift
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$(dirname "$exe")" && pwd)

export SLIMWICK_WINEPREFIX=${SLIMWICK_GUI_WINEPREFIX:-$build/wineprefix-gui}
export WINEPREFIX=$SLIMWICK_WINEPREFIX
# Test binaries sit in <build>/tests, the libraries they load in <build>.
export SLIMWICK_TEST_BIN=${SLIMWICK_TEST_BIN:-$(cd "$build/.." && pwd)}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/slimwick-gui.XXXXXX")
locked=$scratch/locked
mkdir -p "$locked"
# A classic header: the signature, then zeros up to 46 bytes.
{ printf 'Master of Magic\0'; head -c 30 /dev/zero; } > "$locked/locked.grf"
immutable=0
if chattr +i "$locked" 2>/dev/null; then
  immutable=1
else
  chmod a-w "$locked"
fi
if touch "$locked/probe" 2>/dev/null; then
  rm -f "$locked/probe"
  echo "note: no read-only folder can be made here; that case is skipped"
else
  # As wine sees it: the Z: drive.
  export SLIMWICK_READONLY_ARCHIVE="Z:$(printf %s "$locked/locked.grf" | tr / '\\')"
fi

cleanup() {
  [ $immutable -eq 1 ] && chattr -i "$locked"
  chmod -R u+w "$scratch"
  rm -rf "$scratch"
  # The prefix's server and desktop lose their display with the X server.
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

xvfb-run -a -s "-screen 0 1024x768x24" "$root/scripts/wine-run.sh" "$exe" "$@"
