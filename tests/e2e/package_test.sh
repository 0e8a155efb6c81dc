#!/usr/bin/env bash
# The .deb as a user gets it: packed by CPack from this build, unpacked into a
# scratch root, its program run on a generated sample archive, and its
# library linked, statically and shared, by a small program.
#   package_test.sh BUILD_DIR MAKE_SAMPLE_ARCHIVE
set -euo pipefail
build=$1
make_sample=$2
for tool in dpkg-deb cpack python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not available"
    exit 77
  fi
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G DEB -B "$scratch/pkg" >"$scratch/cpack.log") ||
  { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/pkg/*.deb)
dpkg-deb -x "$deb" "$scratch/root"
usr=$scratch/root/usr
for f in bin/slimwick-cli bin/slimgrf include/grf/grf.h share/man/man1/slimwick-cli.1 \
         share/man/man1/slimgrf.1 \
         share/doc/slimwick/copyright; do
  [ -f "$usr/$f" ] || { echo "missing from the package: /usr/$f"; exit 1; }
done
libdir=$(dirname "$(find "$usr" -name libslimgrf.a)")

"$make_sample" "$scratch/sample.grf" --entries 200 --megabytes 2 --duplicates 25 \
  --contents "$scratch/contents" >/dev/null
# The installed slimgrf lists and verifies the sample and gives every entry
# back byte for byte.
[ "$("$usr/bin/slimgrf" list "$scratch/sample.grf" | wc -l)" = 200 ]
"$usr/bin/slimgrf" verify -q "$scratch/sample.grf"
"$usr/bin/slimgrf" extract -q "$scratch/sample.grf" -C "$scratch/extracted"
diff -r "$scratch/contents" "$scratch/extracted" ||
  { echo "installed slimgrf extracted other contents than the archive holds"; exit 1; }
"$usr/bin/slimwick-cli" --json "$scratch/sample.grf" >"$scratch/out.json" 2>"$scratch/err.txt" ||
  { echo "installed slimwick-cli failed:"; cat "$scratch/err.txt"; exit 1; }
python3 - "$scratch/out.json" "$scratch/sample-cleaned.grf" <<'PY'
import json, os, sys
lines = open(sys.argv[1]).read().splitlines()
assert len(lines) == 1, lines
r = json.loads(lines[0])
assert r["outcome"] == "kept", r
assert r["entries"] == 200 and r["links"] > 0, r
assert r["bytesAfter"] == os.path.getsize(sys.argv[2]) < r["bytesBefore"], r
PY

# The installed header and library alone are enough to read an archive.
if command -v c++ >/dev/null; then
  cat >"$scratch/count.cpp" <<'CPP'
#include <grf/grf.h>
#include <cstdio>
int main(int, char** argv) {
  GrfArchive* archive = nullptr;
  if (!GrfOpen(argv[1], GRF_OPEN_READ_ONLY, nullptr, &archive)) return 1;
  unsigned count = 0;
  GrfForEachEntry(archive, [](uint32_t, uint32_t, const EntryView*, void* n) {
    ++*static_cast<unsigned*>(n);
    return true;
  }, &count);
  GrfClose(&archive);
  std::printf("%u\n", count);
  return 0;
}
CPP
  c++ -std=c++20 -I"$usr/include" "$scratch/count.cpp" "$libdir/libslimgrf.a" -ldeflate -lz -pthread -ldl \
    -o "$scratch/count-static"
  c++ -std=c++20 -I"$usr/include" "$scratch/count.cpp" -L"$libdir" -lslimgrf -o "$scratch/count-shared"
  [ "$("$scratch/count-static" "$scratch/sample.grf")" = 200 ]
  [ "$(LD_LIBRARY_PATH=$libdir "$scratch/count-shared" "$scratch/sample.grf")" = 200 ]
fi
# The shared library exports the entry points grf.h declares, and nothing else.
if command -v nm >/dev/null; then
  exported=$(nm -D --defined-only -C "$libdir/libslimgrf.so" | sed -E 's/^[0-9a-f]+ . //; s/\(.*//' | sort -u)
  declared=$(grep -oE '^GRF_API [a-z0-9_]+ Grf[A-Za-z0-9]+' "$usr/include/grf/grf.h" | awk '{print $3}' | sort -u)
  [ "$exported" = "$declared" ] ||
    { echo "exported symbols differ from grf.h:"; diff <(echo "$declared") <(echo "$exported"); exit 1; }
fi
echo "package $(basename "$deb"): installed program and library work"
