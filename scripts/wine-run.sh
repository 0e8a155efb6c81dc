#!/usr/bin/env bash
# Runs a Windows program under wine, quietly, in a prefix of the build's own.
#
#   wine-run.sh PROGRAM [ARGUMENTS...]
#
# The loader follows the program's PE header and is named explicitly, never
# left to the `wine` launcher (which prefers the 32-bit loader wherever wine32
# is installed): wine64 for a 64-bit program, the 32-bit loader for a 32-bit
# one. A name that is no file (a wine builtin such as `reg`) runs under wine64.
#
# The prefix is $SLIMWICK_WINEPREFIX, else `wineprefix` in the build tree that
# holds the program (the nearest folder above it with a CMakeCache.txt). It is
# created on first use as a 64-bit prefix, which holds the 32-bit half too when
# wine32 is installed; the prefix of the user (~/.wine) is never touched.
#
# A 32-bit program on a machine whose kernel does not run i386 programs exits
# with status 77 (CTest's skip code) and one line saying why.
scripts=$(cd "$(dirname "$0")" && pwd)
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine

program=$1
loader=$wine64
if [ -f "$program" ]; then
  pe=$(od -An -tu4 -j60 -N4 "$program" 2>/dev/null | tr -d ' ')
  machine=$(od -An -tx2 -j$((${pe:-0} + 4)) -N2 "$program" 2>/dev/null | tr -d ' ')
  if [ "$machine" = 014c ]; then
    if ! reason=$("$scripts/i386-probe.sh"); then
      echo "SKIPPED: $reason; the 32-bit program $(basename "$program") cannot run here."
      exit 77
    fi
    if [ ! -x "$wine32" ]; then
      echo "wine32 is not installed, though this machine runs i386 programs: run scripts/install-deps.sh." >&2
      exit 1
    fi
    loader=$wine32
  fi
fi

if [ -z "${SLIMWICK_WINEPREFIX:-}" ]; then
  build=$(cd "$(dirname "$program")" 2>/dev/null && pwd)
  while [ -n "$build" ] && [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do
    build=$(dirname "$build")
  done
  if [ -z "$build" ] || [ "$build" = / ]; then
    echo "wine-run.sh: $program is in no build tree; set SLIMWICK_WINEPREFIX." >&2
    exit 1
  fi
  SLIMWICK_WINEPREFIX=$build/wineprefix
fi
export WINEPREFIX=$SLIMWICK_WINEPREFIX
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      WINEARCH=win64 "$wine64" wineboot -i >/dev/null 2>&1
      wineserver -w
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec "$loader" "$@"
