#!/usr/bin/env bash
# A copy larger than 4 GiB, written by the console program of a Windows build
# (run through scripts/wine-run.sh). The source is sparse: 65 entries of
# 64 MiB whose blocks lie in holes, so none decodes and each is copied as it
# is, behind 64 MiB of unused space that the copy leaves out. The copy must be
# kept, carry every entry beyond 4 GiB in a 0x300 table, and read back.
#
#   large_copy_test.sh SLIMWICK_CLI_EXE
#
# Exit status 77 (skipped) where the scratch folder has not room for the copy.
set -uo pipefail
cli=$1
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
table=$scratch/table
for ((i = 0; i < count; i++)); do
  printf 'data\\big%d.bin\0' "$i"
  le $size 4; le $size 4; le $size 4; le 1 1; le $((gap + i * size - 46)) 8
done >"$table"
length=$(stat -c %s "$table")
# zlib around one stored deflate block, with the Adler-32 of the records.
adler=$(od -An -v -tu1 "$table" | awk 'BEGIN { a = 1 }
  { for (i = 1; i <= NF; i++) { a = (a + $i) % 65521; b = (b + a) % 65521 } } END { print b * 65536 + a }')
source=$scratch/big.grf
{
  printf 'Master of Magic\0'; le 0 14
  le 0 4; le 0 4; le $((count + 7)) 4; le $((0x300)) 4  # table at 46, seed 0, version 0x300
  le 0 4; le $((length + 11)) 4; le "$length" 4
  printf '\x78\x01\x01'; le "$length" 2; le $((length ^ 0xFFFF)) 2
  cat "$table"
  for ((i = 3; i >= 0; i--)); do printf "\\x$(printf %02x $(((adler >> (8 * i)) & 255)))"; done
} >"$source"
truncate -s $((gap + count * size)) "$source"

start=$(date +%s)
json=$("$root/scripts/wine-run.sh" "$cli" --yes --json "Z:${source//\//\\}" 2>"$scratch/err")
status=$?
echo "slimwick-cli: status $status in $(($(date +%s) - start)) s: $json"
flat=${json// /}
[ $status -eq 77 ] && exit 77
result=0
fail() { echo "FAIL: $*"; result=1; }
copy=$scratch/big-cleaned.grf
bytes=$(stat -c %s "$copy" 2>/dev/null || echo 0)
[ $status -eq 0 ] || fail "exit status $status: $(cat "$scratch/err")"
[[ $flat == *'"outcome":"kept"'* ]] || fail "the copy was not kept"
[[ $flat == *"\"unreadable\":$count,"* ]] || fail "not every entry was copied undecoded"
[ "$bytes" -gt $((count * size)) ] || fail "the copy has $bytes bytes"
[[ $flat == *"\"bytesAfter\":$bytes,"* ]] || fail "the report does not tell the copy's $bytes bytes"
[ "$(od -An -tu4 -j42 -N4 "$copy" | tr -d ' ')" = $((0x300)) ] || fail "the copy's table is not of version 0x300"
exit $result
