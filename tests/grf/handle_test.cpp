// The archive handle: new archives, header arithmetic, open flags, deferred
// load, references, hooks.

#include <cstring>

#include "grf/archive.h"
#include "grf/codec.h"
#include "grf/stream.h"
#include "tests/grf/grf_test_util.h"

namespace {

using grftest::Opened;
using grftest::OpenPath;
using grftest::TempFile;

TEST(Handle, EmptyWritableFileBecomesTheNewArchiveImage) {
  TempFile file("new");
  ASSERT_TRUE(file.Write({}));
  Opened o = OpenPath(file.path(), GRF_OPEN_NO_SEED);
  ASSERT_TRUE(o.ok) << std::hex << o.status;
  EXPECT_EQ(GrfGetFileSize(o.archive), 54u);
  EXPECT_EQ(o.archive->version, 0x200u);
  EXPECT_EQ(o.archive->headerKind, HEADER_CLASSIC);
  EXPECT_TRUE(grftest::ListEntries(o.archive).empty());
  GrfClose(&o.archive);

  const fixture::Bytes bytes = file.Read();
  ASSERT_EQ(bytes.size(), 54u);
  EXPECT_EQ(std::memcmp(bytes.data(), "Master of Magic\0", 16), 0);
  for (int i = 16; i < 30; ++i) EXPECT_EQ(bytes[i], 0) << i;
  const uint8_t tail[24] = {0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 2, 0, 0,
                            0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(bytes.data() + 30, tail, sizeof(tail)), 0);

  // Reopens as an empty 0x200 archive, read-only too.
  o = OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.archive->entryCount, 0u);
  GrfClose(&o.archive);
}

TEST(Handle, EmptyFileOpenedReadOnlyIsRefused) {
  TempFile file("empty-ro");
  ASSERT_TRUE(file.Write({}));
  Opened o = OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.status, GRF_E_READ_ONLY);
  EXPECT_EQ(o.archive, nullptr);
  EXPECT_TRUE(file.Read().empty());
}

TEST(Handle, MissingFileFailsReadOnlyAndIsCreatedWritable) {
  TempFile file("missing");
  uint32_t status = 0, detail = 0x1234;
  GrfArchive* archive = reinterpret_cast<GrfArchive*>(&status);  // must stay untouched
  EXPECT_FALSE(GrfOpenFile(file.c_str(), 33, &status, &detail, &archive));
  EXPECT_EQ(status, GRF_E_OPEN_FAILED);
  EXPECT_EQ(detail, 0x1234u);
  EXPECT_EQ(archive, reinterpret_cast<GrfArchive*>(&status));

  ASSERT_TRUE(GrfOpen(file.c_str(), 0, &status, &archive));
  EXPECT_EQ(status, GRF_S_OK);
  GrfClose(&archive);
  EXPECT_EQ(file.Read().size(), 54u);
}

TEST(Handle, TrailerArchiveOpenedForWritingStaysReadOnly) {
  fixture::ArchiveSpec tail;
  tail.header = fixture::HeaderKind::Tail;
  tail.version = 0x12;
  tail.entries.push_back(fixture::Entry("one.txt", "one", fixture::Storage::Stored));
  TempFile file("tail-ro");
  ASSERT_TRUE(file.Write(fixture::BuildArchiveBytes(tail)));
  Opened o = OpenPath(file.path(), 0);
  ASSERT_TRUE(o.ok);
  EXPECT_FALSE(GrfPutData(o.archive, "two.txt", "two", 3));
  EXPECT_EQ(GrfGetLastStatus(o.archive), GRF_E_READ_ONLY);
  GrfClose(&o.archive);
}

TEST(Handle, WideSignatureIgnoresBytes14And15) {
  fixture::ArchiveSpec spec;
  spec.header = fixture::HeaderKind::Wide;
  spec.wideSignatureTail[0] = 0;
  spec.wideSignatureTail[1] = 0;
  spec.entries.push_back(fixture::Entry("w.txt", "wide"));
  TempFile file("wide00");
  ASSERT_TRUE(file.Write(fixture::BuildArchiveBytes(spec)));
  Opened o = OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.archive->headerKind, HEADER_WIDE);
  GrfClose(&o.archive);
}

int CountingFailHook(unsigned char*, unsigned long*, const unsigned char*, unsigned long) {
  return -1;
}

TEST(Handle, DeferredLoadCanBeRetriedAfterAFailure) {
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("a.txt", "alpha"));
  TempFile file("defer");
  ASSERT_TRUE(file.Write(fixture::BuildArchiveBytes(spec)));
  Opened o = OpenPath(file.path(), GRF_OPEN_READ_ONLY | GRF_OPEN_DEFER_TABLE);
  ASSERT_TRUE(o.ok);
  uint32_t size = 0;
  EXPECT_FALSE(GrfReadEntry(o.archive, "a.txt", nullptr, 0, &size));
  EXPECT_EQ(GrfGetLastStatus(o.archive), GRF_E_NOT_FOUND);

  GrfSetUncompressHook(o.archive, CountingFailHook);
  EXPECT_FALSE(GrfLoadTable(o.archive));
  EXPECT_EQ(GrfGetLastStatus(o.archive), GRF_E_CODEC_IO);
  EXPECT_EQ(GrfGetLastDetail(o.archive), 0xA0000060u);
  EXPECT_TRUE(o.archive->flags & GRF_OPEN_DEFER_TABLE);
  EXPECT_EQ(o.archive->entries, nullptr);

  GrfSetUncompressHook(o.archive, nullptr);  // back to zlib
  ASSERT_TRUE(GrfLoadTable(o.archive));
  EXPECT_EQ(GrfGetLastDetail(o.archive), 0xA0000060u);  // never cleared by success
  EXPECT_EQ(grftest::ListEntries(o.archive).size(), 1u);
  // A second load leaves the index alone.
  EntryIndex* index = o.archive->entries;
  EXPECT_TRUE(GrfLoadTable(o.archive));
  EXPECT_EQ(o.archive->entries, index);
  GrfClose(&o.archive);
}

TEST(Handle, HookFailuresAtOpenReportTheirStatus) {
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("a.txt", "alpha"));
  fixture::BuiltArchive built = fixture::BuildArchive(spec);
  TempFile file("hooks");
  ASSERT_TRUE(file.Write(built.bytes));
  struct Case {
    GrfCodecHook hook;
    uint32_t status;
  };
  const Case cases[] = {
      {[](unsigned char*, unsigned long*, const unsigned char*, unsigned long) { return -4; },
       GRF_E_OUT_OF_MEMORY},
      {[](unsigned char*, unsigned long*, const unsigned char*, unsigned long) { return -1; },
       GRF_E_CODEC_IO},
      {[](unsigned char*, unsigned long*, const unsigned char*, unsigned long) { return -3; },
       GRF_E_BAD_DATA},
      // Success with a wrong length is bad data too.
      {[](unsigned char*, unsigned long* n, const unsigned char*, unsigned long) {
         *n -= 1;
         return 0;
       },
       GRF_E_BAD_DATA},
  };
  for (const Case& c : cases) {
    Opened o = OpenPath(file.path(), GRF_OPEN_READ_ONLY | GRF_OPEN_DEFER_TABLE);
    ASSERT_TRUE(o.ok);
    GrfSetUncompressHook(o.archive, c.hook);
    EXPECT_FALSE(GrfLoadTable(o.archive));
    EXPECT_EQ(GrfGetLastStatus(o.archive), c.status);
    EXPECT_EQ(GrfGetLastDetail(o.archive), 0xA0000060u);
    GrfClose(&o.archive);
  }
}

TEST(Handle, RetainAndCloseCountReferences) {
  TempFile file("refs");
  ASSERT_TRUE(file.Write({}));
  Opened o = OpenPath(file.path(), 0);
  ASSERT_TRUE(o.ok);
  GrfArchive* second = nullptr;
  GrfRetain(o.archive, &second);
  EXPECT_EQ(second, o.archive);
  GrfClose(&o.archive);
  EXPECT_EQ(o.archive, nullptr);
  EXPECT_EQ(GrfGetLastStatus(second), GRF_S_STILL_OPEN);
  EXPECT_TRUE(grftest::ListEntries(second).empty());  // still usable
  GrfClose(&second);
  EXPECT_EQ(second, nullptr);
}

int RefusingEventHook(GrfArchive*, uint32_t, void*, uint32_t) { return 1; }

// An event hook must answer 0; any other answer is a programming error that
// stops the program.
TEST(HandleDeathTest, EventHookThatDoesNotAnswerZeroStopsTheProgram) {
  TempFile file("event-death");
  ASSERT_TRUE(file.Write({}));
  Opened o = OpenPath(file.path(), 0);
  ASSERT_TRUE(o.ok);
  const GrfEventHook hook = o.archive->eventHook;
  o.archive->eventHook = RefusingEventHook;
  EXPECT_DEATH(GrfClose(&o.archive), "fatal assertion");
  o.archive->eventHook = hook;
  GrfClose(&o.archive);
}

}  // namespace
