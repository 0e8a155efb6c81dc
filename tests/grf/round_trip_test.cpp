// Every layout the fixture builder writes is copied entry by entry into a new
// archive, finalized, reopened and read back byte-identical. The copies drop
// the cipher, keep zlib bytes as they were, and compress what was stored or
// LZSS-coded.

#include <zlib.h>

#include <string>
#include <vector>

#include "tests/grf/grf_test_util.h"

namespace {

using fixture::Cipher;
using fixture::HeaderKind;
using fixture::Storage;
using grftest::TempFile;

using fixture::Layout;

fixture::ArchiveSpec MakeSpec(const Layout& l) {
  fixture::ArchiveSpec spec;
  spec.version = l.version;
  spec.header = l.header;
  spec.seed = 2;
  spec.leadingGap = 3;
  spec.tableFirst = l.tableFirst;
  spec.reverseDataOrder = l.reverseData;
  const bool old = l.version == 0x12;
  const Storage packed = old ? Storage::Lzss : Storage::Zlib;
  const bool ciphers = l.version >= 0x200;  // 0x1xx picks its cipher by extension
  spec.entries.push_back(fixture::Entry("data\\texture\\\xB1\xE2.bmp",
                                        fixture::MakeContent(9000, 11), packed));
  spec.entries.push_back(fixture::Entry("data\\mixed.txt", fixture::MakeContent(50000, 12), packed,
                                        ciphers ? Cipher::Mixed : Cipher::None));
  spec.entries.push_back(fixture::Entry("data\\map.GAT", fixture::MakeContent(2500, 13), packed,
                                        ciphers ? Cipher::Header : Cipher::None));
  spec.entries.push_back(fixture::Entry("stored.bin", fixture::MakeContent(1001, 14, false),
                                        Storage::Stored));
  spec.entries.push_back(fixture::Entry("stored.act", fixture::MakeContent(333, 15),
                                        Storage::Stored, ciphers ? Cipher::Header : Cipher::None));
  spec.entries.push_back(fixture::Entry("noise.dat", fixture::MakeContent(3000, 16, false), packed,
                                        ciphers ? Cipher::Mixed : Cipher::None));
  spec.entries.push_back(fixture::Entry("empty.txt", "", Storage::Stored));
  spec.entries.push_back(fixture::Link("alias.bmp", 0));
  if (!old) spec.entries.push_back(fixture::Placeholder());
  spec.entries.push_back(fixture::Entry("tiny.txt", "x", packed));
  return spec;
}

class RoundTrip : public testing::TestWithParam<Layout> {};

TEST_P(RoundTrip, CopiedEntriesReadBackIdentical) {
  const Layout& layout = GetParam();
  const fixture::ArchiveSpec spec = MakeSpec(layout);
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  TempFile source("rt-src");
  TempFile target("rt-dst");
  ASSERT_TRUE(source.Write(built.bytes));
  {
    grftest::Opened src = grftest::OpenPath(source.path(), GRF_OPEN_READ_ONLY);
    ASSERT_TRUE(src.ok) << std::hex << src.status << " " << src.detail;
    GrfArchive* dst = grftest::CreateArchive(target.path());
    ASSERT_NE(dst, nullptr);
    // Wide-header sources are copied with a lent work buffer, the others without.
    const bool lend = layout.header == HeaderKind::Wide;
    std::vector<unsigned char> work(lend ? src.archive->maxAlignedSize : 0);
    for (const fixture::ExpectedEntry& e : built.expected) {
      EXPECT_TRUE(GrfCopyEntry(dst, src.archive, e.name.c_str(),
                               work.empty() ? nullptr : work.data(),
                               static_cast<uint32_t>(work.size())))
          << e.name << std::hex << " " << GrfGetLastStatus(dst) << " "
          << GrfGetLastStatus(src.archive);
      EXPECT_EQ(GrfGetLastStatus(dst), GRF_S_OK);
    }
    ASSERT_TRUE(GrfFinalize(dst)) << std::hex << GrfGetLastStatus(dst);
    GrfClose(&dst);
    GrfClose(&src.archive);
  }

  const fixture::Bytes written = target.Read();
  const fixture::WrittenArchive raw = fixture::ParseWrittenArchive(written);
  ASSERT_TRUE(raw.ok);
  EXPECT_EQ(raw.version, 0x200u);
  EXPECT_FALSE(raw.wide);
  EXPECT_EQ(raw.countField - raw.seed, built.expected.size() + 7);

  grftest::Opened back = grftest::OpenPath(target.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(back.ok) << std::hex << back.status << " " << back.detail;
  EXPECT_EQ(grftest::ListEntries(back.archive).size(), built.expected.size());
  for (const fixture::ExpectedEntry& e : built.expected) {
    SCOPED_TRACE(e.name);
    bool ok = false;
    EXPECT_TRUE(grftest::ReadWhole(back.archive, e.name, &ok) == e.content);
    EXPECT_TRUE(ok);
    const GrfEntry* copy = grftest::Record(back.archive, e.name);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->name, e.name);  // spelling kept
    EXPECT_EQ(copy->flags & (ENTRY_CIPHER_MIXED | ENTRY_CIPHER_HEADER), 0);
    EXPECT_EQ(copy->realSize, e.realSize);
    EXPECT_EQ(copy->alignedSize, (copy->compressedSize + 7u) & ~7u);
    if (e.alignedSize == 0 || e.realSize == 0) {
      EXPECT_EQ(copy->flags, 0);
      EXPECT_EQ(copy->offset, 0u);
      continue;
    }
    EXPECT_EQ(copy->flags, ENTRY_COMPRESSED);
    const fixture::Bytes block = grftest::Slice(written, copy->offset, copy->alignedSize);
    ASSERT_EQ(block.size(), copy->alignedSize);
    for (uint32_t i = copy->compressedSize; i < copy->alignedSize; ++i) EXPECT_EQ(block[i], 0);
    const fixture::EntrySpec& from = spec.entries[e.specIndex];
    const Storage storage = from.linkTo >= 0 ? spec.entries[static_cast<size_t>(from.linkTo)].storage
                                             : from.storage;
    if (storage == Storage::Zlib) {
      // The zlib bytes the builder stored, before any cipher: carried over unchanged.
      EXPECT_EQ(copy->compressedSize, e.compressedSize);
      const fixture::Bytes original = fixture::ZlibCompress(e.content);
      EXPECT_TRUE(grftest::Slice(block, 0, copy->compressedSize) == original);
    } else {
      // Stored and LZSS sources are compressed anew with zlib.
      fixture::Bytes inflated(e.realSize);
      uLongf produced = e.realSize;
      ASSERT_EQ(uncompress(inflated.data(), &produced, block.data(), copy->compressedSize), Z_OK);
      EXPECT_TRUE(inflated == e.content);
    }
  }
  GrfClose(&back.archive);
}

INSTANTIATE_TEST_SUITE_P(Archives, RoundTrip, testing::ValuesIn(fixture::AllLayouts()),
                         [](const auto& info) { return fixture::LayoutName(info.param); });

// The consolidated copy of a copy is the same archive: copying every entry of
// a finalized archive again gives the same records and blocks.
TEST(RoundTripAgain, SecondGenerationKeepsRecordsAndBlocks) {
  fixture::ArchiveSpec spec = MakeSpec({0x101, HeaderKind::Classic, false});
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  TempFile source("rt2-src");
  TempFile first("rt2-a");
  TempFile second("rt2-b");
  ASSERT_TRUE(source.Write(built.bytes));
  auto copyAll = [&](const std::string& from, const std::string& to) {
    grftest::Opened src = grftest::OpenPath(from, GRF_OPEN_READ_ONLY);
    ASSERT_TRUE(src.ok);
    GrfArchive* dst = grftest::CreateArchive(to, GRF_OPEN_NO_SEED);
    ASSERT_NE(dst, nullptr);
    for (const fixture::ExpectedEntry& e : built.expected)
      ASSERT_TRUE(GrfCopyEntry(dst, src.archive, e.name.c_str(), nullptr, 0)) << e.name;
    ASSERT_TRUE(GrfFinalize(dst));
    GrfClose(&dst);
    GrfClose(&src.archive);
  };
  copyAll(source.path(), first.path());
  copyAll(first.path(), second.path());
  const fixture::Bytes a = first.Read();
  const fixture::Bytes b = second.Read();
  // Same puts in the same order from the same content: byte-identical files.
  EXPECT_EQ(a.size(), b.size());
  EXPECT_TRUE(a == b);
}

}  // namespace
