#!/usr/bin/env bash
# Runs a Windows test executable under wine64 with a quiet, prepared prefix.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"
