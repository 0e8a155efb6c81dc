// The whole job on archives of every version and header kind: the cleaned
// copy reads back identical by content, links share blocks, no cipher flag
// remains, the source's bytes never change, and the copy is the same byte
// for byte whatever the number of threads.

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "engine/consolidation_job.h"
#include "tests/e2e/archive_compare.h"
#include "tests/engine/recording_host.h"
#include "tests/fixtures/archive_builder.h"
#include "tests/fixtures/archive_inspect.h"

namespace {

using fixture::Bytes;

struct Layout {
  uint32_t version;
  fixture::HeaderKind header;
  const char* label;
};

class VersionMatrix : public ::testing::TestWithParam<Layout> {};

fixture::ArchiveSpec FatSpec(const Layout& layout) {
  fixture::ArchiveSpec spec;
  spec.version = layout.version;
  spec.header = layout.header;
  spec.seed = 3;
  const bool lzss = layout.version == 0x12;
  const fixture::Storage packed = lzss ? fixture::Storage::Lzss : fixture::Storage::Zlib;
  const bool ciphers = layout.version >= 0x200;
  const Bytes shared = fixture::MakeContent(6000, 21);
  spec.entries = {
      fixture::Entry("data\\a.txt", shared, fixture::Storage::Stored),
      fixture::Entry("data\\b.txt", shared, packed,
                     ciphers ? fixture::Cipher::Mixed : fixture::Cipher::None),
      fixture::Entry("data\\map.gat", fixture::MakeContent(9000, 22), packed,
                     ciphers ? fixture::Cipher::Header : fixture::Cipher::None),
      fixture::Entry("data\\copy.gat", fixture::MakeContent(9000, 22), fixture::Storage::Stored),
      fixture::Entry("data\\\xC7\xD1\xB1\xDB.bmp", fixture::MakeContent(4000, 23, false), packed),
      fixture::Entry("data\\empty.txt", ""),
      fixture::Entry("data\\big.spr", fixture::MakeContent(70000, 24), packed,
                     ciphers ? fixture::Cipher::Mixed : fixture::Cipher::None),
  };
  return spec;
}

TEST_P(VersionMatrix, CleanedCopyMatchesTheSource) {
  const Layout layout = GetParam();
  const std::string base = fixture::TempPath(std::string("slimwick-matrix-") + layout.label);
  const std::string source = base + ".grf";
  const std::string cleaned = base + "-cleaned.grf";
  const Bytes original = fixture::BuildArchiveBytes(FatSpec(layout));
  ASSERT_TRUE(fixture::WriteBytesToFile(source, original));

  RecordingHost host;
  ConsolidationJob* job = CreateConsolidationJob(&host, source.c_str(), false, nullptr);
  ASSERT_NE(job, nullptr);
  EXPECT_EQ(ExecuteConsolidationJob(job), JobOutcome::CleanedCopyKept);
  EXPECT_EQ(host.Count(HostCall::kShowError), 0u);

  std::string why;
  EXPECT_TRUE(SameArchiveContent(source, cleaned, &why)) << why;

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

  Bytes after;
  ASSERT_TRUE(fixture::ReadBytesFromFile(source, &after));
  EXPECT_EQ(after, original);

  // One thread decides and writes in entry order: workers change nothing.
  for (const bool best : {false, true}) {
    Bytes single;
    for (const uint32_t threads : {1u, 2u, 3u, 8u}) {
      std::remove(cleaned.c_str());
      RecordingHost quiet;
      ConsolidationJob* run = CreateConsolidationJob(&quiet, source.c_str(), best, nullptr);
      ASSERT_NE(run, nullptr);
      run->threads = threads;
      std::srand(7);  // the header's seed
      EXPECT_EQ(ExecuteConsolidationJob(run), JobOutcome::CleanedCopyKept);
      Bytes now;
      ASSERT_TRUE(fixture::ReadBytesFromFile(cleaned, &now));
      if (threads == 1) single = now;
      EXPECT_TRUE(now == single) << (best ? "best, " : "") << threads << " threads";
    }
  }
  std::remove(source.c_str());
  std::remove(cleaned.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    EveryLayout, VersionMatrix,
    ::testing::Values(Layout{0x12, fixture::HeaderKind::Tail, "tail12"},
                      Layout{0x100, fixture::HeaderKind::Classic, "v100"},
                      Layout{0x101, fixture::HeaderKind::Classic, "v101"},
                      Layout{0x102, fixture::HeaderKind::Classic, "v102"},
                      Layout{0x103, fixture::HeaderKind::Classic, "v103"},
                      Layout{0x200, fixture::HeaderKind::Classic, "v200"},
                      Layout{0x200, fixture::HeaderKind::Wide, "v200wide"},
                      Layout{0x300, fixture::HeaderKind::Classic, "v300"},
                      Layout{0x300, fixture::HeaderKind::Wide, "v300wide"}),
    [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.label); });

}  // namespace
