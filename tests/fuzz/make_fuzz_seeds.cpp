// Writes the seed corpus of the fuzz targets from the fixture builder:
//   make-fuzz-seeds DIR
// DIR/archive   archives of every version, header kind and entry feature
//               (fuzz_archive_read, fuzz_consolidate)

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/fixtures/archive_builder.h"

namespace {

using fixture::Bytes;
using fixture::Cipher;
using fixture::HeaderKind;
using fixture::Storage;

using fixture::Layout;

// Small entries of every kind the layout can hold.
fixture::ArchiveSpec FeatureSpec(const Layout& layout, int variant) {
  fixture::ArchiveSpec spec;
  spec.version = layout.version;
  spec.header = layout.header;
  spec.seed = 2;
  const bool old = layout.version == 0x12;
  const bool ciphers = layout.version >= 0x200;
  const Storage packed = old ? Storage::Lzss : Storage::Zlib;
  spec.entries.push_back(
      fixture::Entry("data\\a.txt", fixture::MakeContent(300, 1), packed));
  spec.entries.push_back(fixture::Entry("data\\big.GAT", fixture::MakeContent(400, 2), packed,
                                        ciphers ? Cipher::Header : Cipher::None));
  spec.entries.push_back(fixture::Entry("mixed.bin", fixture::MakeContent(260, 3, false), packed,
                                        ciphers ? Cipher::Mixed : Cipher::None));
  spec.entries.push_back(
      fixture::Entry("stored.txt", fixture::MakeContent(70, 4, false), Storage::Stored));
  spec.entries.push_back(fixture::Entry("empty", "", Storage::Stored));
  spec.entries.push_back(fixture::Entry("same.txt", fixture::MakeContent(300, 1), packed));
  spec.entries.push_back(fixture::Link("alias.txt", 0));
  spec.entries.push_back(fixture::Entry("\xC0\xDF\\high.bmp", "high bytes in the name", packed));
  if (!old) spec.entries.push_back(fixture::Placeholder());
  switch (variant) {
    case 1:
      if (layout.header != HeaderKind::Tail) spec.tableFirst = true;
      spec.leadingGap = 24;
      break;
    case 2:
      spec.reverseDataOrder = true;
      spec.garbageAfterTable = fixture::ToBytes("free bytes after the table");
      if (!old) spec.extraTableBytes = fixture::ToBytes("extra");
      // Same folded name: the later record replaces the earlier.
      spec.entries.push_back(fixture::Entry("DATA\\A.TXT", "replacement", packed));
      break;
    default:
      break;
  }
  return spec;
}

bool Write(const std::filesystem::path& dir, const std::string& name, const Bytes& bytes) {
  return fixture::WriteBytesToFile((dir / name).string(), bytes);
}

bool ArchiveSeeds(const std::filesystem::path& dir) {
  bool ok = true;
  for (const Layout& layout : fixture::AllLayouts()) {
    if (layout.tableFirst || layout.reverseData) continue;  // the variants place blocks
    const std::string name = fixture::LayoutName(layout);
    for (int variant = 0; variant < 3; ++variant) {
      ok &= Write(dir, name + "_" + std::to_string(variant),
                  fixture::BuildArchiveBytes(FeatureSpec(layout, variant)));
    }
    fixture::ArchiveSpec empty;
    empty.version = layout.version;
    empty.header = layout.header;
    ok &= Write(dir, name + "_empty", fixture::BuildArchiveBytes(empty));
  }
  // A 46-byte header over a version 0x12 table loads only without entries.
  fixture::ArchiveSpec classic12;
  classic12.version = 0x12;
  ok &= Write(dir, "v12_classic_empty", fixture::BuildArchiveBytes(classic12));
  // A table in the format of the test codec library: unreadable with zlib.
  fixture::ArchiveSpec foreign;
  foreign.tableCodec = fixture::TableCodec::XorZlib;
  foreign.entries.push_back(fixture::Entry("a.txt", "alpha"));
  ok &= Write(dir, "v200_foreign_table", fixture::BuildArchiveBytes(foreign));
  // Duplicate contents in and out of the isolated extension class.
  fixture::ArchiveSpec dups;
  for (const char* name : {"x.gnd", "y.txt", "p.GAT", "q.gat", "r.txt"})
    dups.entries.push_back(fixture::Entry(name, fixture::MakeContent(120, 9)));
  ok &= Write(dir, "v200_duplicates", fixture::BuildArchiveBytes(dups));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::filesystem::path dir = std::filesystem::path(argv[1]) / "archive";
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error || !ArchiveSeeds(dir)) {
    std::fprintf(stderr, "make-fuzz-seeds: could not write the seeds under %s\n", argv[1]);
    return 1;
  }
  return 0;
}
