// Writes the seed corpus of the fuzz targets from the fixture builder:
//   make-fuzz-seeds DIR    (DIR/archive: every layout, with and without entries)

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/fixtures/archive_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::filesystem::path dir = std::filesystem::path(argv[1]) / "archive";
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  bool ok = !error;
  int n = 0;
  for (const fixture::Layout& l : fixture::AllLayouts()) {
    for (bool empty : {false, true}) {
      fixture::ArchiveSpec spec;
      spec.version = l.version;
      spec.header = l.header;
      spec.tableFirst = l.tableFirst;
      spec.reverseDataOrder = l.reverseData;
      spec.tableCodec = n % 7 == 3 ? fixture::TableCodec::XorZlib : fixture::TableCodec::Zlib;
      const fixture::Storage packed = l.version == 0x12 ? fixture::Storage::Lzss : fixture::Storage::Zlib;
      const fixture::Cipher cipher = l.version >= 0x200 ? fixture::Cipher::Mixed : fixture::Cipher::None;
      if (!empty) {
        spec.entries.push_back(fixture::Entry("data\\a.txt", fixture::MakeContent(300, 1), packed, cipher));
        spec.entries.push_back(fixture::Entry("big.GAT", fixture::MakeContent(400, 2), packed));
        spec.entries.push_back(fixture::Entry("stored.txt", fixture::MakeContent(70, 4, false), fixture::Storage::Stored));
        spec.entries.push_back(fixture::Entry("empty", "", fixture::Storage::Stored));
        spec.entries.push_back(fixture::Link("alias.gnd", 0));
        spec.entries.push_back(fixture::Entry("DATA\\A.TXT", "replacement", packed));
      }
      ok &= fixture::WriteBytesToFile((dir / ("seed" + std::to_string(n++))).string(),
                                      fixture::BuildArchiveBytes(spec));
    }
  }
  if (!ok) std::fprintf(stderr, "make-fuzz-seeds: could not write the seeds under %s\n", argv[1]);
  return ok ? 0 : 1;
}
