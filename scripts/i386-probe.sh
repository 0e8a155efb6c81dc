#!/usr/bin/env bash
# Tells whether this machine's kernel runs 32-bit (i386) programs: writes a
# 96-byte static i386 program that exits with status 42 and runs it.
# Exit status 0 when it does; otherwise 1, with the reason on stdout.
#
#   scripts/i386-probe.sh
dir=$(mktemp -d "${TMPDIR:-/tmp}/slimwick-i386.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
# ELF header, one loadable segment at 0x08048000, then the code at 0x08048054:
# mov eax, 1 (exit); mov ebx, 42; int 0x80.
printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08\x34\0\0\0\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0' >"$dir/probe"
printf '\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08\x60\0\0\0\x60\0\0\0\x05\0\0\0\0\x10\0\0' >>"$dir/probe"
printf '\xb8\x01\0\0\0\xbb\x2a\0\0\0\xcd\x80' >>"$dir/probe"
chmod +x "$dir/probe"
error=$("$dir/probe" 2>&1)
status=$?
[ $status -eq 42 ] && exit 0
echo "this machine's kernel does not run 32-bit (i386) programs (probe: status $status${error:+, ${error##*: }})"
exit 1
