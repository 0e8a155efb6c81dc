// Entry data reading: size queries, what the uncompress hook receives, size
// checks, LZSS failures, lent work buffers.

#include <cstring>

#include "grf/archive.h"
#include "grf/codec.h"
#include "grf/entry_index.h"
#include "grf/entry_reader.h"
#include "tests/grf/grf_test_util.h"

namespace {

using fixture::Cipher;
using fixture::Storage;
using grftest::TempFile;

struct HookLog {
  int calls = 0;
  unsigned long lastSource = 0;
  long lengthDelta = 0;  // added to the produced length
};
HookLog g_log;

int LoggingUncompress(unsigned char* d, unsigned long* dn, const unsigned char* s, unsigned long sn) {
  ++g_log.calls;
  g_log.lastSource = sn;
  const int r = DefaultUncompressHook(d, dn, s, sn);
  *dn += g_log.lengthDelta;
  return r;
}

class Reader : public testing::Test {
 protected:
  void Open(const fixture::ArchiveSpec& spec) {
    built_ = fixture::BuildArchive(spec);
    ASSERT_TRUE(file_.Write(built_.bytes));
    grftest::Opened o = grftest::OpenPath(file_.path(), GRF_OPEN_READ_ONLY);
    ASSERT_TRUE(o.ok) << std::hex << o.detail;
    archive_ = o.archive;
    GrfSetUncompressHook(archive_, LoggingUncompress);
    g_log = HookLog{};
  }
  void TearDown() override {
    GrfClose(&archive_);
    balance_.Expect();
  }
  grftest::PoolBalance balance_;
  TempFile file_{"reader"};
  fixture::BuiltArchive built_;
  GrfArchive* archive_ = nullptr;
};

TEST_F(Reader, SizeQueries) {
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("full.txt", "some content"));
  spec.entries.push_back(fixture::Entry("empty.txt", "", Storage::Stored));
  fixture::EntrySpec odd = fixture::Entry("nonsense.txt", "", Storage::Stored);
  odd.alignedSize = 0xFFFFFFF0;
  odd.offset = 0xFFFFFFF0;
  spec.entries.push_back(odd);
  Open(spec);
  uint32_t size = 0;
  EXPECT_FALSE(GrfReadEntry(archive_, "full.txt", nullptr, 0, &size));
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(GrfGetLastStatus(archive_), GRF_E_BUFFER_TOO_SMALL);
  EXPECT_TRUE(GrfReadEntry(archive_, "EMPTY.TXT", nullptr, 0, &size));
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(GrfGetLastStatus(archive_), GRF_S_OK);
  // Real size 0 needs no file access, whatever the other values say.
  EXPECT_TRUE(GrfReadEntry(archive_, "nonsense.txt", nullptr, 0, nullptr));
  EXPECT_FALSE(GrfReadEntry(archive_, "missing.txt", nullptr, 0, &size));
  EXPECT_EQ(GrfGetLastStatus(archive_), GRF_E_NOT_FOUND);
  EXPECT_EQ(g_log.calls, 0);
}

TEST_F(Reader, HookGetsTheAlignedBlockOnlyWhenEnciphered) {
  fixture::ArchiveSpec spec;
  const fixture::Bytes content = fixture::MakeContent(5000, 9);
  spec.entries.push_back(fixture::Entry("plain.txt", content));
  spec.entries.push_back(fixture::Entry("mixed.txt", content, Storage::Zlib, Cipher::Mixed));
  spec.entries.push_back(fixture::Entry("header.txt", content, Storage::Zlib, Cipher::Header));
  Open(spec);
  for (const fixture::ExpectedEntry& e : built_.expected) {
    SCOPED_TRACE(e.name);
    ASSERT_NE(e.compressedSize % 8, 0u);  // padding exists
    bool ok = false;
    EXPECT_TRUE(grftest::ReadWhole(archive_, e.name, &ok) == content);
    EXPECT_TRUE(ok);
    const bool enciphered = e.flags & (ENTRY_CIPHER_MIXED | ENTRY_CIPHER_HEADER);
    EXPECT_EQ(g_log.lastSource, enciphered ? e.alignedSize : e.compressedSize);
  }
}

TEST_F(Reader, WrongLengthFromTheHookIsBadDataAndLeavesTheBuffer) {
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("a.txt", "content of a"));
  Open(spec);
  g_log.lengthDelta = -1;
  std::vector<uint8_t> buffer(64, 0xAB);
  uint32_t size = 0;
  EXPECT_FALSE(GrfReadEntry(archive_, "a.txt", buffer.data(), 64, &size));
  EXPECT_EQ(GrfGetLastStatus(archive_), GRF_E_BAD_DATA);
  EXPECT_EQ(GrfGetLastDetail(archive_), 0xA0000060u);
  EXPECT_EQ(buffer, std::vector<uint8_t>(64, 0xAB));
}

TEST_F(Reader, StoredBlocksAndTheirSizeChecks) {
  fixture::ArchiveSpec spec;
  fixture::EntrySpec shorter = fixture::Entry("prefix.bin", "0123456789abcdef", Storage::Stored);
  shorter.realSize = 10;  // the block holds more than the content
  spec.entries.push_back(shorter);
  // Compressed data claiming more bytes than its stored block.
  fixture::EntrySpec overlong = fixture::Entry("overlong.txt", fixture::MakeContent(100, 3));
  overlong.compressedSize = 4096;
  spec.entries.push_back(overlong);
  fixture::EntrySpec noBlock = fixture::Entry("noblock.txt", "x");
  noBlock.alignedSize = 0;
  spec.entries.push_back(noBlock);
  Open(spec);
  bool ok = false;
  EXPECT_TRUE(grftest::ReadWhole(archive_, "prefix.bin", &ok) == fixture::ToBytes("0123456789"));
  EXPECT_TRUE(ok);
  std::vector<uint8_t> buffer(200);
  EXPECT_FALSE(GrfReadEntry(archive_, "overlong.txt", buffer.data(), 200, nullptr));
  EXPECT_EQ(GrfGetLastStatus(archive_), GRF_E_BAD_DATA);
  EXPECT_EQ(g_log.calls, 0);  // refused before the hook
  EXPECT_FALSE(GrfReadEntry(archive_, "noblock.txt", buffer.data(), 200, nullptr));
  EXPECT_EQ(GrfGetLastStatus(archive_), GRF_E_BAD_DATA);

  const GrfEntry* entry = FindEntry(archive_, "overlong.txt");
  ASSERT_NE(entry, nullptr);
  EXPECT_FALSE(CheckCompressedSize(archive_, entry));
}

TEST_F(Reader, LentWorkBufferSparesTheAllocation) {
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("s.bin", fixture::MakeContent(1000, 4, false), Storage::Stored));
  Open(spec);
  const GrfEntry* entry = FindEntry(archive_, "s.bin");
  ASSERT_NE(entry, nullptr);
  std::vector<uint8_t> out(entry->realSize), work(entry->alignedSize);
  uint32_t before = GetPoolCounters().allocations;
  ASSERT_TRUE(ReadEntryData(archive_, entry, out.data(), entry->realSize, nullptr, work.data(),
                            entry->alignedSize));
  EXPECT_EQ(GetPoolCounters().allocations, before);
  EXPECT_TRUE(fixture::Bytes(out.begin(), out.end()) == built_.expected[0].content);
  // Too small a loan is ignored, not resized.
  before = GetPoolCounters().allocations;
  ASSERT_TRUE(ReadEntryData(archive_, entry, out.data(), entry->realSize, nullptr, work.data(),
                            entry->alignedSize - 1));
  EXPECT_EQ(GetPoolCounters().allocations, before + 1);

  uint32_t aligned = 0;
  EXPECT_FALSE(ReadStoredBlock(archive_, entry, work.data(), entry->alignedSize - 1, &aligned));
  EXPECT_EQ(aligned, entry->alignedSize);
  EXPECT_EQ(GrfGetLastStatus(archive_), GRF_E_BUFFER_TOO_SMALL);
}

TEST_F(Reader, LzssFailuresCarryTheirDetail) {
  fixture::ArchiveSpec spec;
  spec.version = 0x12;
  spec.header = fixture::HeaderKind::Tail;
  spec.entries.push_back(fixture::Entry("good.txt", fixture::MakeContent(3000, 5), Storage::Lzss));
  fixture::EntrySpec emptyStream = fixture::Entry("zero.txt", "abc", Storage::Lzss);
  emptyStream.compressedSize = 0;
  emptyStream.alignedSize = 0;
  spec.entries.push_back(emptyStream);
  fixture::EntrySpec longer = fixture::Entry("longer.txt", fixture::MakeContent(200, 6), Storage::Lzss);
  longer.realSize = 150;  // the stream produces more than the real size
  spec.entries.push_back(longer);
  Open(spec);
  bool ok = false;
  EXPECT_TRUE(grftest::ReadWhole(archive_, "good.txt", &ok) == built_.expected[0].content);
  EXPECT_TRUE(ok);
  std::vector<uint8_t> buffer(4096);
  EXPECT_FALSE(GrfReadEntry(archive_, "zero.txt", buffer.data(), 4096, nullptr));
  EXPECT_EQ(GrfGetLastStatus(archive_), GRF_E_BAD_DATA);  // no stored block
  EXPECT_FALSE(GrfReadEntry(archive_, "longer.txt", buffer.data(), 4096, nullptr));
  EXPECT_EQ(GrfGetLastStatus(archive_), GRF_E_BAD_DATA);
  EXPECT_EQ(GrfGetLastDetail(archive_), 0xA0000080u);

  const unsigned char nothing[1] = {0};
  EXPECT_EQ(LzssDecodeEntry(archive_, nothing, 0, 5), nullptr);
  EXPECT_EQ(GrfGetLastDetail(archive_), 0xA0000080u);
  EXPECT_EQ(g_log.calls, 0);  // LZSS never goes through the hook
}

}  // namespace
