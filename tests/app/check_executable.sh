#!/usr/bin/env bash
# Checks a built Windows executable of the application: it imports only
# system DLLs (the C++ runtime, pthreads and zlib are linked in), and it
# carries icon 1 at 32x32 and 16x16, menu 1 with the system submenu's items,
# and the manifest (common controls 6, asInvoker, not DPI aware).
#
#   check_executable.sh EXE OBJDUMP WINDRES
set -uo pipefail
exe=$1 objdump=$2 windres=$3
status=0
fail() { echo "FAIL: $*"; status=1; }

[ -f "$exe" ] || { echo "FAIL: $exe not built"; exit 1; }

# --- imports -----------------------------------------------------------------
system_dlls=" advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll shell32.dll user32.dll winmm.dll "
imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || fail "no import table found"
for dll in $imports; do
  case "$system_dlls" in
    *" $dll "*) ;;
    *) fail "imports $dll, which is not a system DLL (static linking incomplete)";;
  esac
done
echo "imports: $(echo $imports)"

# --- resources ---------------------------------------------------------------
rc=$("$windres" -i "$exe" -O rc 2>&1) || fail "windres cannot read the resources: $rc"

group=$(printf '%s\n' "$rc" | sed -n '/^1 14 /,/^END/p')
[ -n "$group" ] || fail "no icon group 1"
printf '%s\n' "$group" | grep -q '"\\040\\040\\000\\000", 1, 32' || fail "icon 1 has no 32x32 image"
printf '%s\n' "$group" | grep -q '"\\020\\020\\000\\000", 1, 32' || fail "icon 1 has no 16x16 image"

menu=$(printf '%s\n' "$rc" | sed -n '/^1 MENU/,/^END/p')
[ -n "$menu" ] || fail "no menu 1"
expected_menu='MENUITEM "&About...", 1004
MENUITEM SEPARATOR
MENUITEM "Use best &compression", 1005
MENUITEM "&Background mode", 1007
MENUITEM SEPARATOR
MENUITEM "Load CPS Library...", 1008
MENUITEM "Unload CPS Library", 1009'
actual_menu=$(printf '%s\n' "$menu" | sed -n 's/^[[:space:]]*\(MENUITEM.*\)$/\1/p')
[ "$actual_menu" = "$expected_menu" ] || fail "menu 1 differs:
$actual_menu"

manifest=$(printf '%s\n' "$rc" | sed -n '/^1 24 /,/^END/p')
[ -n "$manifest" ] || fail "no manifest (resource 1 of type 24)"
printf '%s\n' "$manifest" | grep -q 'name=""Microsoft.Windows.Common-Controls"" version=""6.0.0.0""' ||
  fail "manifest does not ask for common controls 6"
printf '%s\n' "$manifest" | grep -q 'requestedExecutionLevel level=""asInvoker""' ||
  fail "manifest does not ask for the invoker's execution level"
printf '%s\n' "$manifest" | grep -q 'dpiAware[^>]*>false<' || fail "manifest claims DPI awareness"
if printf '%s\n' "$manifest" | grep -q 'dpiAwareness\|>true<\|per monitor'; then
  fail "manifest claims DPI awareness"
fi

if printf '%s\n' "$rc" | grep -q '/\* Type: dialog\|/\* Type: string'; then
  fail "the program carries dialog or string-table resources"
fi

# The version resource names the holder of the licence, as the About box does.
license=$(sed -n 's/^\(Copyright (c) .*\)$/\1/p' "$(dirname "$0")/../../LICENSE" | head -n 1)
printf '%s\n' "$rc" | grep -qF "VALUE \"LegalCopyright\", \"$license\"" ||
  fail "the version resource's copyright is not the licence's: $license"

[ $status -eq 0 ] && echo "ok: $exe"
exit $status
