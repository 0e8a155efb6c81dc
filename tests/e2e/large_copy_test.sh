#!/usr/bin/env bash
# A result larger than 4 GiB: the cleaning program's copy, or slimgrf's merge.
# The source is sparse: 65 entries of 64 MiB whose blocks lie in holes, so
# none decodes and each is copied as it is, behind 64 MiB of unused space that
# the result leaves out. The merge's patch replaces one entry and adds one,
# each of 32 MiB. The result must be kept, carry every entry beyond 4 GiB in a
# 0x300 table, and read back. A Windows build's program runs through
# scripts/wine-run.sh.
#
#   large_copy_test.sh SLIMWICK_CLI          a clean
#   large_copy_test.sh SLIMGRF merge         a merge with --output
#
# Exit status 77 (skipped) where the scratch folder has not room for the copy.
set -uo pipefail
program=$1 mode=${2:-clean}
root=$(cd "$(dirname "$0")/../.." && pwd)
count=65 size=$((64 << 20)) gap=$((64 << 20))
scratch=$(mktemp -d "${TMPDIR:-/tmp}/slimwick-large.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
free=$(df -Pk "$scratch" | awk 'NR == 2 { print $4 }')
if [ "$free" -lt $(((count * size + (1 << 30)) >> 10)) ]; then
  echo "SKIPPED: $scratch has $((free >> 20)) GiB free, the copy needs 5."
  exit 77
fi

le() {  # VALUE BYTES: little-endian bytes
  local i
  for ((i = 0; i < $2; i++)); do printf "\\x$(printf %02x $((($1 >> (8 * i)) & 255)))"; done
}
sparse_archive() {  # PATH FIRST COUNT SIZE: entries data\bigFIRST... of SIZE bytes in holes after $gap
  local i table=$scratch/table length adler
  for ((i = 0; i < $3; i++)); do
    printf 'data\\big%d.bin\0' $(($2 + i))
    le $4 4; le $4 4; le $4 4; le 1 1; le $((gap + i * $4 - 46)) 8
  done >"$table"
  length=$(stat -c %s "$table")
  # zlib around one stored deflate block, with the Adler-32 of the records.
  adler=$(od -An -v -tu1 "$table" | awk 'BEGIN { a = 1 }
    { for (i = 1; i <= NF; i++) { a = (a + $i) % 65521; b = (b + a) % 65521 } } END { print b * 65536 + a }')
  {
    printf 'Master of Magic\0'; le 0 14
    le 0 4; le 0 4; le $(($3 + 7)) 4; le $((0x300)) 4  # table at 46, seed 0, version 0x300
    le 0 4; le $((length + 11)) 4; le "$length" 4
    printf '\x78\x01\x01'; le "$length" 2; le $((length ^ 0xFFFF)) 2
    cat "$table"
    for ((i = 3; i >= 0; i--)); do printf "\\x$(printf %02x $(((adler >> (8 * i)) & 255)))"; done
  } >"$1"
  truncate -s $((gap + $3 * $4)) "$1"
}
run() {  # ARGUMENTS... (paths under $scratch): the program, under wine for a Windows build
  if [[ $program == *.exe ]]; then
    local args=() a
    for a in "$@"; do [[ $a == /* ]] && a="Z:${a//\//\\}"; args+=("$a"); done
    "$root/scripts/wine-run.sh" "$program" "${args[@]}"
  else
    "$program" "$@"
  fi
}

source=$scratch/big.grf copy=$scratch/big-cleaned.grf entries=$count
sparse_archive "$source" 0 $count $size
start=$(date +%s)
if [ "$mode" = merge ]; then
  sparse_archive "$scratch/patch.gpf" $((count - 1)) 2 $((size / 2))
  copy=$scratch/merged.grf entries=$((count + 1))
  json=$(run merge --json -q "$source" "$scratch/patch.gpf" -o "$copy" 2>"$scratch/err")
else
  json=$(run --yes --json "$source" 2>"$scratch/err")
fi
status=$?
echo "$mode: status $status in $(($(date +%s) - start)) s: $json"
flat=${json// /}
[ $status -eq 77 ] && exit 77
result=0
fail() { echo "FAIL: $*"; result=1; }
bytes=$(stat -c %s "$copy" 2>/dev/null || echo 0)
[ $status -eq 0 ] || fail "exit status $status: $(cat "$scratch/err")"
[[ $flat == *'"outcome":"kept"'* || $flat == *'"outcome":"done"'* ]] || fail "the result was not kept"
[[ $flat == *"\"unreadable\":$entries,"* ]] || fail "not every entry was copied undecoded"
[ "$bytes" -gt $((count * size)) ] || fail "the result has $bytes bytes"
[[ $flat == *"\"bytesAfter\":$bytes,"* ]] || fail "the report does not tell the result's $bytes bytes"
[ "$(od -An -tu4 -j42 -N4 "$copy" | tr -d ' ')" = $((0x300)) ] || fail "the result's table is not of version 0x300"
if [ "$mode" = merge ]; then
  [[ $flat == *'"added":1,"replaced":1,'* ]] || fail "the patch did not add one entry and replace one"
  listed=$(run list --json "$copy" "data/big$((count - 1)).bin" | tr -d ' ')
  [[ $listed == *"\"size\":$((size / 2)),"* ]] || fail "the patch's entry did not win: $listed"
fi
exit $result
