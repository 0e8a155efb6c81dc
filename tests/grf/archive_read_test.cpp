// Every version and header kind written by the fixture builder opens, lists
// its entries in ascending offset order and reads each one byte-identical.

#include <algorithm>
#include <map>
#include <string>

#include "grf/grf.h"
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
  spec.seed = 3;
  spec.tableFirst = l.tableFirst;
  spec.reverseDataOrder = l.reverseData;
  spec.leadingGap = 5;
  const bool old = l.version == 0x12;
  const Storage packed = old ? Storage::Lzss : Storage::Zlib;
  const bool ciphers = l.version >= 0x200;
  // High bytes in the name, compressible content well past 20 blocks.
  spec.entries.push_back(fixture::Entry("data\\texture\\\xC0\xDF\xB1\xE2.bmp",
                                        fixture::MakeContent(6000, 1), packed));
  spec.entries.push_back(fixture::Entry("data\\big.txt", fixture::MakeContent(70000, 2), packed,
                                        ciphers ? Cipher::Mixed : Cipher::None));
  spec.entries.push_back(fixture::Entry("data\\model.GAT", fixture::MakeContent(3000, 3), packed,
                                        ciphers ? Cipher::Header : Cipher::None));
  spec.entries.push_back(
      fixture::Entry("stored.bin", fixture::MakeContent(777, 4, false), Storage::Stored));
  spec.entries.push_back(fixture::Entry("noise.dat", fixture::MakeContent(4000, 5, false), packed,
                                        ciphers ? Cipher::Mixed : Cipher::None));
  spec.entries.push_back(fixture::Entry("empty.txt", "", Storage::Stored));
  spec.entries.push_back(fixture::Link("alias.bmp", 0));
  if (old) {
    fixture::EntrySpec skipped = fixture::Entry("skipped.txt", "not an entry", Storage::Stored);
    skipped.recordType = 2;
    spec.entries.push_back(skipped);
  } else {
    spec.entries.push_back(fixture::Placeholder());
  }
  // Same folded name as the first entry: the later record wins.
  spec.entries.push_back(fixture::Entry("DATA\\TEXTURE\\\xC0\xDF\xB1\xE2.BMP",
                                        fixture::MakeContent(900, 6), packed));
  spec.entries.push_back(fixture::Entry("last one.txt", "tail", packed));
  spec.garbageAfterTable = fixture::ToBytes("garbage after the table");
  if (!old) spec.extraTableBytes = fixture::ToBytes("extra");
  return spec;
}

class ArchiveLayout : public testing::TestWithParam<Layout> {};

TEST_P(ArchiveLayout, OpensListsAndReadsEveryEntry) {
  const fixture::BuiltArchive built = fixture::BuildArchive(MakeSpec(GetParam()));
  TempFile file("layout");
  ASSERT_TRUE(file.Write(built.bytes));
  {
    // Deferred load, as the consolidation job opens its sources.
    grftest::Opened o = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY | GRF_OPEN_DEFER_TABLE);
    ASSERT_TRUE(o.ok) << std::hex << o.status << " " << o.detail;
    EXPECT_EQ(o.status, GRF_S_OK);
    EXPECT_EQ(GrfGetFileSize(o.archive), built.bytes.size());
    ASSERT_TRUE(GrfLoadTable(o.archive)) << std::hex << GrfGetLastStatus(o.archive) << " "
                                         << GrfGetLastDetail(o.archive);

    bool listed = false;
    std::vector<grftest::Listed> entries = grftest::ListEntries(o.archive, &listed);
    ASSERT_TRUE(listed);
    ASSERT_EQ(entries.size(), built.expected.size());
    std::map<std::string, const fixture::ExpectedEntry*> expected;
    uint32_t maxReal = 0;
    for (const fixture::ExpectedEntry& e : built.expected) {
      expected[e.name] = &e;
      maxReal = std::max(maxReal, e.realSize);
    }
    EXPECT_EQ(GrfGetMaxRealSize(o.archive), maxReal);
    uint64_t previous = 0;
    for (const grftest::Listed& l : entries) {
      auto it = expected.find(l.name);
      ASSERT_NE(it, expected.end()) << l.name;
      EXPECT_GE(it->second->offset, previous) << "listed out of offset order: " << l.name;
      previous = it->second->offset;
      EXPECT_EQ(l.realSize, it->second->realSize) << l.name;
      EXPECT_EQ(l.storedSize, it->second->alignedSize) << l.name;
      bool ok = false;
      const fixture::Bytes content = grftest::ReadWhole(o.archive, l.name, &ok);
      EXPECT_TRUE(ok) << l.name << " " << std::hex << GrfGetLastStatus(o.archive);
      EXPECT_TRUE(content == it->second->content) << l.name;
    }
    EXPECT_EQ(built.Find("skipped.txt"), nullptr);
    uint32_t size = 0;
    EXPECT_FALSE(GrfReadEntry(o.archive, "placeholder.bin", nullptr, 0, &size));
    EXPECT_EQ(GrfGetLastStatus(o.archive), GRF_E_NOT_FOUND);
    GrfClose(&o.archive);
    EXPECT_EQ(o.archive, nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(Archives, ArchiveLayout, testing::ValuesIn(fixture::AllLayouts()),
                         [](const auto& info) { return fixture::LayoutName(info.param); });

TEST(ArchiveRead, ClassicHeaderWithVersion12LoadsOnlyWithoutEntries) {
  fixture::ArchiveSpec spec;
  spec.header = HeaderKind::Classic;
  spec.version = 0x200;
  spec.versionField = 0x12;
  TempFile file("v12classic");
  ASSERT_TRUE(file.Write(fixture::BuildArchiveBytes(spec)));
  grftest::Opened o = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(o.ok) << std::hex << o.detail;
  EXPECT_TRUE(grftest::ListEntries(o.archive).empty());
  GrfClose(&o.archive);

  spec.entries.push_back(fixture::Entry("a.txt", "a"));
  ASSERT_TRUE(file.Write(fixture::BuildArchiveBytes(spec)));
  o = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.status, GRF_E_BAD_DATA);
  EXPECT_EQ(o.detail, 0xA0000071u);
}

TEST(ArchiveRead, BackslashNamesOptionRewritesSlashesInVersion12) {
  fixture::ArchiveSpec spec;
  spec.header = HeaderKind::Tail;
  spec.version = 0x12;
  spec.entries.push_back(fixture::Entry("data/sub/a.txt", "slash", Storage::Stored));
  TempFile file("slashes");
  ASSERT_TRUE(file.Write(fixture::BuildArchiveBytes(spec)));
  for (uint32_t extra : {0u, GRF_OPEN_BACKSLASH_NAMES}) {
    grftest::Opened o = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY | extra);
    ASSERT_TRUE(o.ok);
    std::vector<grftest::Listed> entries = grftest::ListEntries(o.archive);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, extra ? "data\\sub\\a.txt" : "data/sub/a.txt");
    GrfClose(&o.archive);
  }
}

}  // namespace
