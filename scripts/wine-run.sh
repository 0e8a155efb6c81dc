#!/usr/bin/env bash
# Runs a 64-bit Windows test executable under wine64 with a quiet, prepared
# prefix. The 64-bit loader is named explicitly: where wine32 is installed the
# `wine` launcher prefers the 32-bit one.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
for loader in /usr/lib/wine/wine64 /usr/lib64/wine/wine64; do
  [ -x "$loader" ] && exec "$loader" "$@"
done
exec wine "$@"
