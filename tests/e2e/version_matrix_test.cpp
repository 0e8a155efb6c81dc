// The whole job on archives of every layout: the copy reads back identical by
// content, links share blocks, no cipher flag remains, the source is unchanged.

#include <gtest/gtest.h>

#include <set>

#include "tests/e2e/e2e_util.h"

namespace {

using fixture::Bytes;
using fixture::Entry;

class VersionMatrix : public ::testing::TestWithParam<fixture::Layout> {};

TEST_P(VersionMatrix, CleanedCopyMatchesTheSource) {
  const fixture::Layout layout = GetParam();
  fixture::ArchiveSpec spec;
  spec.version = layout.version;
  spec.header = layout.header;
  spec.tableFirst = layout.tableFirst;
  spec.reverseDataOrder = layout.reverseData;
  spec.seed = 3;
  const auto packed = layout.version == 0x12 ? fixture::Storage::Lzss : fixture::Storage::Zlib;
  const auto mixed = layout.version >= 0x200 ? fixture::Cipher::Mixed : fixture::Cipher::None;
  const auto header = layout.version >= 0x200 ? fixture::Cipher::Header : fixture::Cipher::None;
  const Bytes shared = fixture::MakeContent(6000, 21), map = fixture::MakeContent(9000, 22);
  spec.entries = {Entry("data\\a.txt", shared, fixture::Storage::Stored),
                  Entry("data\\b.txt", shared, packed, mixed),
                  Entry("data\\map.gat", map, packed, header),
                  Entry("data\\copy.gat", map, fixture::Storage::Stored),
                  Entry("data\\\xC7\xD1\xB1\xDB.bmp", fixture::MakeContent(4000, 23, false), packed),
                  Entry("data\\empty.txt", ""),
                  Entry("data\\big.spr", fixture::MakeContent(70000, 24), packed, mixed)};
  const std::string source = fixture::TempPath("slimwick-matrix") + ".grf";
  const std::string cleaned = source.substr(0, source.size() - 4) + "-cleaned.grf";
  const Bytes original = fixture::BuildArchiveBytes(spec);
  ASSERT_TRUE(fixture::WriteBytesToFile(source, original));

  RecordingHost host;
  EXPECT_EQ(RunJob(&host, source), JobOutcome::CleanedCopyKept);
  EXPECT_EQ(host.Count(HostCall::kShowError), 0u);
  ExpectSameContent(source, cleaned);
  ExpectBytes(source, original);
  Bytes bytes;
  ASSERT_TRUE(fixture::ReadBytesFromFile(cleaned, &bytes));
  const fixture::WrittenArchive written = fixture::ParseWrittenArchive(bytes);
  ASSERT_TRUE(written.ok);
  EXPECT_EQ(written.version, 0x200u);
  std::set<uint64_t> blocks;
  for (const auto& r : written.records) {
    EXPECT_EQ(r.flags & (ENTRY_CIPHER_MIXED | ENTRY_CIPHER_HEADER), 0) << r.name;
    if (r.alignedSize) blocks.insert(r.offset);
  }
  EXPECT_EQ(written.Find("data\\a.txt")->offset, written.Find("data\\b.txt")->offset);
  EXPECT_EQ(written.Find("data\\map.gat")->offset, written.Find("data\\copy.gat")->offset);
  EXPECT_EQ(blocks.size(), 4u);  // a.txt, map.gat, the .bmp, big.spr
  std::remove(source.c_str());
  std::remove(cleaned.c_str());
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, VersionMatrix, ::testing::ValuesIn(fixture::AllLayouts()),
                         [](const auto& info) { return fixture::LayoutName(info.param); });

}  // namespace
