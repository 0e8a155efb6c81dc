// Hostile input: truncated files, flipped bytes in headers, tables and data.
// Every outcome must be a clean status, and closing must give back every
// pool block.

#include "grf/stream.h"
#include "tests/grf/grf_test_util.h"
#include "tests/grf/test_stream.h"

namespace {

using fixture::ArchiveSpec;
using fixture::Bytes;
using fixture::HeaderKind;
using grftest::TempFile;

constexpr uint32_t kReadLimit = 16u << 20;

struct Tally {
  int opened = 0;
  int failed = 0;
  int entriesRead = 0;
};

// Opens, lists and reads everything it can; checks statuses and the pool.
// The bytes stay in memory: thousands of opens cost no file system work.
void Exercise(const Bytes& bytes, Tally* tally) {
  teststream::Memory file;
  file.bytes = bytes;
  GrfStream* stream = nullptr;
  ASSERT_TRUE(teststream::OpenMemory(&file, nullptr, &stream));
  grftest::Opened o;
  o.ok = GrfOpenStream(stream, GRF_OPEN_READ_ONLY, &o.status, &o.detail, &o.archive);
  StreamRelease(&stream);
  if (!o.ok) {
    ++tally->failed;
    EXPECT_TRUE(GrfFailed(o.status));
    EXPECT_EQ(o.archive, nullptr);
    return;
  }
  ++tally->opened;
  bool listed = false;
  std::vector<grftest::Listed> entries = grftest::ListEntries(o.archive, &listed);
  EXPECT_TRUE(listed);
  for (const grftest::Listed& e : entries) {
    uint32_t size = 0xDEADBEEF;
    const bool empty = GrfReadEntry(o.archive, e.name.c_str(), nullptr, 0, &size);
    EXPECT_EQ(size, e.realSize);
    if (empty) {
      EXPECT_EQ(size, 0u);
      continue;
    }
    EXPECT_EQ(GrfGetLastStatus(o.archive), GRF_E_BUFFER_TOO_SMALL);
    if (size > kReadLimit) continue;
    Bytes content(size);
    if (GrfReadEntry(o.archive, e.name.c_str(), content.data(), size, &size)) {
      ++tally->entriesRead;
    } else {
      EXPECT_TRUE(GrfFailed(GrfGetLastStatus(o.archive)));
    }
  }
  GrfClose(&o.archive);
  EXPECT_TRUE(file.closed);
}

ArchiveSpec SmallSpec(uint32_t version, HeaderKind header) {
  ArchiveSpec spec;
  spec.version = version;
  spec.header = header;
  spec.seed = 2;
  const fixture::Storage packed =
      version == 0x12 ? fixture::Storage::Lzss : fixture::Storage::Zlib;
  const fixture::Cipher cipher = version >= 0x200 ? fixture::Cipher::Mixed : fixture::Cipher::None;
  spec.entries.push_back(fixture::Entry("a.txt", fixture::MakeContent(300, 1), packed, cipher));
  spec.entries.push_back(fixture::Entry("B.gat", "stored bytes", fixture::Storage::Stored));
  spec.entries.push_back(fixture::Link("c.txt", 0));
  return spec;
}

struct Kind {
  uint32_t version;
  HeaderKind header;
};

const Kind kKinds[] = {{0x12, HeaderKind::Tail},     {0x100, HeaderKind::Classic},
                       {0x103, HeaderKind::Wide},    {0x200, HeaderKind::Classic},
                       {0x200, HeaderKind::Wide},    {0x300, HeaderKind::Classic}};

TEST(Hostile, TruncatedAtEveryLength) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.version);
    for (bool tableFirst : {false, true}) {
      if (tableFirst && k.header == HeaderKind::Tail) continue;
      ArchiveSpec spec = SmallSpec(k.version, k.header);
      spec.tableFirst = tableFirst;
      const Bytes full = fixture::BuildArchiveBytes(spec);
      Tally tally;
      for (size_t length = 0; length < full.size(); ++length) {
        Exercise(Bytes(full.begin(), full.begin() + length), &tally);
        if (HasFatalFailure()) return;
      }
      // Behind a table placed first, cut data blocks still let the table load.
      EXPECT_GT(tally.failed, 0);
      if (tableFirst && k.version >= 0x200) {
        EXPECT_GT(tally.opened, 0);
      }
    }
  }
}

TEST(Hostile, SizesAndPositionsPastTheEnd) {
  ArchiveSpec spec;
  fixture::EntrySpec e = fixture::Entry("far.txt", "far away");
  e.offset = uint64_t{1} << 31;
  spec.entries.push_back(e);
  e = fixture::Entry("huge.txt", "huge");
  e.alignedSize = 0xFFFFFFF8;
  spec.entries.push_back(e);
  e = fixture::Entry("big real.txt", "x");
  e.realSize = 0xFFFFFFF0;
  spec.entries.push_back(e);
  e = fixture::Entry("stored.bin", "short", fixture::Storage::Stored);
  e.realSize = 4096;  // more than the stored block holds
  spec.entries.push_back(e);
  TempFile file("pastend");
  ASSERT_TRUE(file.Write(fixture::BuildArchiveBytes(spec)));
  grftest::Opened o = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(o.ok);
  std::vector<uint8_t> buffer(8192);
  uint32_t size = 0;
  EXPECT_FALSE(GrfReadEntry(o.archive, "far.txt", buffer.data(), 8192, &size));
  EXPECT_EQ(GrfGetLastStatus(o.archive), GRF_E_IO);
  EXPECT_FALSE(GrfReadEntry(o.archive, "huge.txt", buffer.data(), 8192, &size));
  const uint32_t hugeStatus = GrfGetLastStatus(o.archive);
  EXPECT_TRUE(hugeStatus == GRF_E_IO || hugeStatus == GRF_E_OUT_OF_MEMORY) << std::hex << hugeStatus;
  EXPECT_FALSE(GrfReadEntry(o.archive, "big real.txt", buffer.data(), 8192, &size));
  EXPECT_EQ(size, 0xFFFFFFF0u);
  EXPECT_EQ(GrfGetLastStatus(o.archive), GRF_E_BUFFER_TOO_SMALL);
  EXPECT_FALSE(GrfReadEntry(o.archive, "stored.bin", buffer.data(), 8192, &size));
  EXPECT_EQ(GrfGetLastStatus(o.archive), GRF_E_BAD_DATA);
  GrfClose(&o.archive);
}

}  // namespace
