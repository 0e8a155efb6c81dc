// make-fuzz-seeds DIR: the seed corpus (DIR/archive), every layout with and without entries.

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/fixtures/archive_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) return std::fprintf(stderr, "usage: %s DIR\n", argv[0]), 2;
  const std::filesystem::path dir = std::filesystem::path(argv[1]) / "archive";
  std::error_code error;
  bool ok = std::filesystem::create_directories(dir, error) || !error;
  int n = 0;
  for (const fixture::Layout& l : fixture::AllLayouts()) {
    for (bool empty : {false, true}) {
      fixture::ArchiveSpec spec;
      spec.version = l.version, spec.header = l.header, spec.seed = 2, spec.tableFirst = l.tableFirst;
      spec.reverseDataOrder = l.reverseData, spec.tableCodec = n % 7 == 3 ? fixture::TableCodec::XorZlib : fixture::TableCodec::Zlib;
      const auto packed = l.version == 0x12 ? fixture::Storage::Lzss : fixture::Storage::Zlib;
      if (!empty) {
        spec.entries = {fixture::Entry("data\\a.txt", fixture::MakeContent(300, 1), packed, fixture::Cipher::Mixed),
                        fixture::Entry("big.GAT", fixture::MakeContent(400, 2), packed),
                        fixture::Entry("stored.txt", fixture::MakeContent(70, 4, false), fixture::Storage::Stored),
                        fixture::Entry("empty", "", fixture::Storage::Stored), fixture::Link("alias.gnd", 0),
                        fixture::Entry("DATA\\A.TXT", "replacement", packed)};
      }
      ok &= fixture::WriteBytesToFile((dir / ("seed" + std::to_string(n++))).string(), fixture::BuildArchiveBytes(spec));
    }
  }
  if (!ok) std::fprintf(stderr, "make-fuzz-seeds: could not write the seeds under %s\n", argv[1]);
  return ok ? 0 : 1;
}
