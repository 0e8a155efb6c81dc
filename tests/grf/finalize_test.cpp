// Finalize: the bytes it leaves (table order, positions, prefixes, header
// fields), what it leaves alone, discard on close, failures that must keep
// the previous archive, and placement in free ranges with the tail trim.

#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "grf/free_space_map.h"
#include "tests/grf/test_stream.h"
#include "tests/grf/grf_test_util.h"

namespace {

using fixture::Bytes;
using fixture::HeaderKind;
using grftest::TempFile;

using grftest::Archive;
using grftest::OpenWritable;

TEST(Finalize, NewArchiveLayoutAfterPuts) {
  TempFile file("fin-layout");
  Bytes image;
  {
    Archive ar;
    ar.a = grftest::CreateArchive(file.path(), GRF_OPEN_NO_SEED);
    ASSERT_NE(ar.a, nullptr);
    image = file.Read();
    ASSERT_EQ(image.size(), 54u);
    // Without a seed: position 0, seed 0, count field 7, version 0x200, empty prefix.
    const Bytes fields = {0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 2, 0, 0,
                          0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(grftest::Slice(image, 30, 24) == fields);
    const Bytes a = fixture::MakeContent(13, 1);
    const Bytes b = fixture::MakeContent(100, 2, false);
    ASSERT_TRUE(GrfPutCompressed(ar.a, "zeta\\a.bin", a.data(), 13, 99));
    ASSERT_TRUE(GrfPutCompressed(ar.a, "alpha\\b.bin", b.data(), 100, 0));
    ASSERT_TRUE(GrfPutData(ar.a, "empty", nullptr, 0));
    ASSERT_TRUE(GrfLinkEntry(ar.a, "zeta\\a.bin", "middle\\link.bin"));
    ASSERT_TRUE(GrfFinalize(ar.a));
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_S_OK);
    EXPECT_FALSE(ar.a->flags & GRF_STATE_DIRTY);

    const Bytes bytes = file.Read();
    EXPECT_EQ(GrfGetFileSize(ar.a), bytes.size());
    // Only header bytes 30-45 changed; the first empty prefix stays, unused.
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 30, bytes.begin()));
    EXPECT_TRUE(grftest::Slice(bytes, 46, 8) == Bytes(8, 0));
    // Blocks from byte 54 in put order, each padded to 8.
    EXPECT_TRUE(grftest::Slice(bytes, 54, 13) == a);
    EXPECT_TRUE(grftest::Slice(bytes, 67, 3) == Bytes(3, 0));
    EXPECT_TRUE(grftest::Slice(bytes, 70, 100) == b);
    EXPECT_TRUE(grftest::Slice(bytes, 170, 4) == Bytes(4, 0));

    const fixture::WrittenArchive raw = fixture::ParseWrittenArchive(bytes);
    ASSERT_TRUE(raw.ok);
    EXPECT_FALSE(raw.wide);
    EXPECT_EQ(raw.version, 0x200u);
    EXPECT_EQ(raw.seed, 0u);
    EXPECT_EQ(raw.countField, 4u + 7u);
    EXPECT_EQ(raw.storedTablePosition + 46, 174u);  // the table right behind the last block
    EXPECT_EQ(bytes.size(), 174u + 8u + raw.compressedLength);
    // Offset order, not name order: the blockless entry first, then the
    // link and its target side by side.
    ASSERT_EQ(raw.records.size(), 4u);
    EXPECT_EQ(raw.records[0].name, "empty");
    EXPECT_EQ(raw.records[0].storedPosition, 0xFFFFFFD2u);
    EXPECT_EQ(raw.records[1].storedPosition, 54u - 46u);
    EXPECT_EQ(raw.records[2].storedPosition, 54u - 46u);
    std::vector<std::string> pair = {raw.records[1].name, raw.records[2].name};
    std::sort(pair.begin(), pair.end());
    EXPECT_EQ(pair, (std::vector<std::string>{"middle\\link.bin", "zeta\\a.bin"}));
    EXPECT_EQ(raw.records[1].compressedSize, 13u);
    EXPECT_EQ(raw.records[1].alignedSize, 16u);
    EXPECT_EQ(raw.records[1].realSize, 99u);
    EXPECT_EQ(raw.records[1].flags, ENTRY_COMPRESSED);
    EXPECT_EQ(raw.records[3].name, "alpha\\b.bin");
    EXPECT_EQ(raw.records[3].flags, 0);
    EXPECT_EQ(raw.records[3].realSize, 100u);
    EXPECT_EQ(raw.records[3].storedPosition, 70u - 46u);
  }

  grftest::Opened back = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(back.ok);
  bool ok = false;
  EXPECT_TRUE(grftest::ReadWhole(back.archive, "alpha\\b.bin", &ok) ==
              fixture::MakeContent(100, 2, false));
  EXPECT_TRUE(ok);
  GrfClose(&back.archive);
}

TEST(Finalize, WithoutChangesWritesNothing) {
  TempFile file("fin-unchanged");
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("a.txt", "alpha"));
  spec.garbageAfterTable = fixture::ToBytes("tail bytes that are not part of anything");
  const Bytes original = fixture::BuildArchiveBytes(spec);
  ASSERT_TRUE(file.Write(original));
  for (uint32_t flags : {0u, GRF_OPEN_REUSE_GAPS, GRF_OPEN_TRACK_SPACE}) {
    {
      Archive ar = OpenWritable(file, flags);
      EXPECT_TRUE(GrfFinalize(ar.a));
      EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_S_UNCHANGED);
    }
    EXPECT_TRUE(file.Read() == original) << flags;
  }
  // A second finalize after a real one has nothing to do either.
  Archive ar = OpenWritable(file);
  ASSERT_TRUE(GrfPutData(ar.a, "b.txt", "beta", 4));
  ASSERT_TRUE(GrfFinalize(ar.a));
  const Bytes once = file.Read();
  EXPECT_TRUE(GrfFinalize(ar.a));
  EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_S_UNCHANGED);
  EXPECT_TRUE(file.Read() == once);
}

TEST(Finalize, CountFieldMinusSeedIsAlwaysTheEntryCountPlusSeven) {
  TempFile file("fin-seed");
  Archive ar;
  ar.a = grftest::CreateArchive(file.path());
  ASSERT_NE(ar.a, nullptr);
  const Bytes filler = fixture::MakeContent(4000, 3, false);
  for (uint32_t round = 1; round <= 12; ++round) {
    // A varying amount of data moves the table, and with it the seed.
    const std::string name = "entry" + std::to_string(round);
    ASSERT_TRUE(GrfPutCompressed(ar.a, name.c_str(), filler.data(), 100 * round, 0));
    ASSERT_TRUE(GrfFinalize(ar.a));
    const fixture::WrittenArchive raw = fixture::ParseWrittenArchive(file.Read());
    ASSERT_TRUE(raw.ok);
    EXPECT_EQ(raw.countField - raw.seed, round + 7);
    const uint32_t base = static_cast<uint32_t>(raw.storedTablePosition / 15);
    EXPECT_GE(raw.seed, base);
    EXPECT_LE(raw.seed, base + 5);
    EXPECT_EQ(ar.a->entryCount, round);
    EXPECT_EQ(ar.a->tablePosition, raw.storedTablePosition + 46);
    EXPECT_EQ(ar.a->tableSize, raw.compressedLength);
  }
}

TEST(Finalize, WideHeadersAndVersion300KeepTheirKind) {
  TempFile file("fin-wide");
  fixture::ArchiveSpec spec;
  spec.version = 0x300;
  spec.header = HeaderKind::Wide;
  spec.wideSignatureTail[0] = 0;  // bytes 14 and 15 are kept as the file has them
  spec.wideSignatureTail[1] = 0;
  spec.entries.push_back(fixture::Entry("old.txt", fixture::MakeContent(600, 4)));
  const Bytes original = fixture::BuildArchiveBytes(spec);
  ASSERT_TRUE(file.Write(original));
  {
    Archive ar = OpenWritable(file);
    ASSERT_TRUE(GrfPutData(ar.a, "new.txt", "new", 3));
    ASSERT_TRUE(GrfPutData(ar.a, "none", nullptr, 0));
    ASSERT_TRUE(GrfFinalize(ar.a));
    EXPECT_EQ(ar.a->headerKind, HEADER_WIDE);
  }
  const Bytes bytes = file.Read();
  EXPECT_TRUE(std::equal(original.begin(), original.begin() + 30, bytes.begin()));
  const fixture::WrittenArchive raw = fixture::ParseWrittenArchive(bytes);
  ASSERT_TRUE(raw.ok);
  EXPECT_TRUE(raw.wide);
  EXPECT_EQ(raw.version, 0x300u);
  EXPECT_EQ(raw.countField, 3u);
  EXPECT_EQ(raw.prefixZero, 0u);
  ASSERT_EQ(raw.records.size(), 3u);
  EXPECT_EQ(raw.records[0].name, "none");
  EXPECT_EQ(raw.records[0].storedPosition, 0xFFFFFFFFFFFFFFD2ull);
  grftest::Opened back = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(back.ok);
  bool ok = false;
  EXPECT_TRUE(grftest::ReadWhole(back.archive, "new.txt", &ok) == fixture::ToBytes("new"));
  EXPECT_TRUE(grftest::ReadWhole(back.archive, "old.txt", &ok) == fixture::MakeContent(600, 4));
  GrfClose(&back.archive);
}

bool FinalizeInside(uint32_t, uint32_t, const EntryView*, void* user) {
  auto* archive = static_cast<GrfArchive*>(user);
  GrfFinalize(archive);
  return GrfGetLastStatus(archive) == GRF_E_READ_ONLY;
}

TEST(Finalize, RefusedWhileEnumeratingADirtyArchive) {
  TempFile file("fin-enum");
  Archive ar;
  ar.a = grftest::CreateArchive(file.path());
  ASSERT_TRUE(GrfPutData(ar.a, "a", "a", 1));
  EXPECT_TRUE(GrfForEachEntry(ar.a, FinalizeInside, ar.a));
  EXPECT_TRUE(ar.a->flags & GRF_STATE_DIRTY);
  EXPECT_TRUE(GrfFinalize(ar.a));
}

// ---- discard ----

int g_discards = 0;
int CountingHook(GrfArchive*, uint32_t code, void*, uint32_t) {
  if (code == 4) ++g_discards;
  return 0;
}

TEST(Discard, CloseRestoresTheLastFinalizedFile) {
  TempFile file("discard-close");
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("a.txt", "alpha"));
  spec.entries.push_back(fixture::Entry("b.txt", fixture::MakeContent(3000, 5)));
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  ASSERT_TRUE(file.Write(built.bytes));
  {
    Archive ar = OpenWritable(file);
    ar.a->eventHook = CountingHook;
    g_discards = 0;
    ASSERT_TRUE(GrfPutData(ar.a, "c.txt", "gamma", 5));
    ASSERT_TRUE(GrfPutData(ar.a, "a.txt", "replaced", 8));
    ASSERT_TRUE(GrfLinkEntry(ar.a, "b.txt", "d.txt"));
    EXPECT_GT(file.Read().size(), built.bytes.size());
    GrfClose(&ar.a);
    EXPECT_EQ(g_discards, 1);
  }
  EXPECT_TRUE(file.Read() == built.bytes);

  Bytes finalized;
  {
    Archive ar = OpenWritable(file);
    ASSERT_TRUE(GrfPutData(ar.a, "c.txt", "gamma", 5));
    ASSERT_TRUE(GrfFinalize(ar.a));
    finalized = file.Read();
    ASSERT_TRUE(GrfPutData(ar.a, "e.txt", fixture::MakeContent(999, 6).data(), 999));
    // A retained handle keeps the changes until the last close.
    GrfArchive* second = nullptr;
    GrfRetain(ar.a, &second);
    GrfClose(&second);
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_S_STILL_OPEN);
    EXPECT_GT(file.Read().size(), finalized.size());
  }
  EXPECT_TRUE(file.Read() == finalized);

  grftest::Opened back = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(back.ok);
  std::vector<grftest::Listed> listed = grftest::ListEntries(back.archive);
  EXPECT_EQ(listed.size(), 3u);
  bool ok = false;
  EXPECT_TRUE(grftest::ReadWhole(back.archive, "a.txt", &ok) == fixture::ToBytes("alpha"));
  EXPECT_EQ(grftest::Record(back.archive, "e.txt"), nullptr);
  GrfClose(&back.archive);
}

// ---- failed finalize ----

int FailingCompress(unsigned char*, unsigned long*, const unsigned char*, unsigned long) {
  return Z_ERRNO;
}

TEST(Finalize, CodecAndMemoryFailuresLeaveTheFileAsItWas) {
  TempFile file("fin-codec");
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("a.txt", "alpha"));
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  ASSERT_TRUE(file.Write(built.bytes));
  {
    Archive ar = OpenWritable(file);
    ASSERT_TRUE(GrfPutCompressed(ar.a, "b.txt", "beta", 4, 0));
    const Bytes grown = file.Read();
    GrfSetCompressHook(ar.a, FailingCompress);
    EXPECT_FALSE(GrfFinalize(ar.a));
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_E_CODEC_IO);
    GrfSetCompressHook(ar.a, nullptr);
    for (uint32_t skip : {0u, 1u, 2u}) {  // entry list, table buffer, compression
      PoolInjectFailures(skip, 1);
      EXPECT_FALSE(GrfFinalize(ar.a)) << skip;
      PoolInjectFailures(0, 0);
      EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_E_OUT_OF_MEMORY) << skip;
    }
    EXPECT_TRUE(file.Read() == grown);
    EXPECT_TRUE(ar.a->flags & GRF_STATE_DIRTY);
    EXPECT_TRUE(GrfFinalize(ar.a));
  }
}

TEST(Finalize, FailedFileSizeQueryAfterTheHeaderStillProtectsTheNewTable) {
  TempFile file("fin-size");
  fixture::WriteBytesToFile(file.path(), {});
  teststream::Plan plan;
  GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, 0);
  ASSERT_NE(ar, nullptr);
  ASSERT_TRUE(GrfPutData(ar, "a", "alpha", 5));
  // The first query places the table; the second, after the header, fails.
  plan.Arm(teststream::Op::SizeQuery, 2);
  ASSERT_TRUE(GrfFinalize(ar));
  EXPECT_EQ(plan.injected, 1u);
  const uint64_t size = file.Read().size();
  EXPECT_EQ(GrfGetFileSize(ar), size);
  // A later discard cuts nothing the header refers to.
  ASSERT_TRUE(GrfPutData(ar, "b", "beta", 4));
  GrfClose(&ar);
  EXPECT_EQ(file.Read().size(), size);
  grftest::Opened back = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(grftest::ListEntries(back.archive).size(), 1u);
  GrfClose(&back.archive);
}

// ---- free ranges ----

TEST(Gaps, BlocksAndTablesGoIntoFreeRangesAndTheFreeTailIsTrimmed) {
  fixture::ArchiveSpec spec;
  spec.leadingGap = 40;  // [46, 86) free
  spec.entries.push_back(fixture::Entry("a.txt", fixture::MakeContent(3000, 8)));
  spec.garbageAfterTable = Bytes(8192, 0xAB);  // a free tail
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);

  TempFile file("gaps");
  ASSERT_TRUE(file.Write(built.bytes));
  uint64_t end = 0;
  {
    Archive ar = OpenWritable(file, GRF_OPEN_REUSE_GAPS);
    ASSERT_NE(ar.a->freeSpace, nullptr);
    // 30 bytes fit the leading gap (the smaller of the two ranges).
    ASSERT_TRUE(GrfPutCompressed(ar.a, "small", fixture::MakeContent(30, 9).data(), 30, 0));
    EXPECT_EQ(grftest::Record(ar.a, "small")->offset, 46u);
    // 100 bytes only fit the tail range, at its start.
    ASSERT_TRUE(GrfPutCompressed(ar.a, "larger", fixture::MakeContent(100, 10).data(), 100, 0));
    EXPECT_EQ(grftest::Record(ar.a, "larger")->offset, built.tableEnd);
    EXPECT_EQ(file.Read().size(), built.bytes.size());  // nothing appended
    ASSERT_TRUE(GrfFinalize(ar.a));
    // The table went behind "larger", and the rest of the tail was cut off.
    const uint64_t tableAt = built.tableEnd + 104;
    EXPECT_EQ(ar.a->tablePosition, tableAt);
    end = tableAt + 8 + ar.a->tableSize;
    EXPECT_EQ(file.Read().size(), end);
    EXPECT_EQ(GrfGetFileSize(ar.a), end);
    // A discard after the trim cuts nothing of the finalized archive.
    ASSERT_TRUE(GrfPutData(ar.a, "discarded", fixture::MakeContent(5000, 11, false).data(), 5000));
  }
  EXPECT_EQ(file.Read().size(), end);
  grftest::Opened back = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(grftest::ListEntries(back.archive).size(), 3u);
  bool ok = false;
  EXPECT_TRUE(grftest::ReadWhole(back.archive, "small", &ok) == fixture::MakeContent(30, 9));
  EXPECT_TRUE(grftest::ReadWhole(back.archive, "a.txt", &ok) == fixture::MakeContent(3000, 8));
  GrfClose(&back.archive);

  // Without gap reuse, or with append-only, everything goes to the end.
  for (uint32_t flags : {GRF_OPEN_TRACK_SPACE, GRF_OPEN_REUSE_GAPS | GRF_OPEN_APPEND_ONLY}) {
    ASSERT_TRUE(file.Write(built.bytes));
    Archive ar = OpenWritable(file, flags);
    ASSERT_NE(ar.a->freeSpace, nullptr);
    ASSERT_TRUE(GrfPutCompressed(ar.a, "small", fixture::MakeContent(30, 9).data(), 30, 0));
    EXPECT_EQ(grftest::Record(ar.a, "small")->offset, built.bytes.size()) << flags;
    ASSERT_TRUE(GrfFinalize(ar.a));
    EXPECT_EQ(ar.a->tablePosition, built.bytes.size() + 32) << flags;
  }
}

TEST(Gaps, SpaceOfReplacedBlocksAndOldTablesIsReusedOnlyAfterFinalize) {
  TempFile file("gaps-reuse");
  Archive ar;
  ar.a = grftest::CreateArchive(file.path(), GRF_OPEN_REUSE_GAPS | GRF_OPEN_NO_SEED);
  ASSERT_NE(ar.a, nullptr);
  // Header and empty prefix fill the fresh file: nothing is free yet.
  ASSERT_NE(ar.a->freeSpace, nullptr);
  EXPECT_EQ(ar.a->freeSpace->count, 0u);
  const Bytes big = fixture::MakeContent(400, 12, false);
  ASSERT_TRUE(GrfPutCompressed(ar.a, "first", big.data(), 400, 0));
  ASSERT_TRUE(GrfPutCompressed(ar.a, "second", big.data(), 200, 0));
  ASSERT_TRUE(GrfFinalize(ar.a));
  ASSERT_NE(ar.a->freeSpace, nullptr);
  const uint64_t firstTable = ar.a->tablePosition;

  // Replacing "first" does not free its block yet: the table on disk still
  // points there.
  ASSERT_TRUE(GrfPutCompressed(ar.a, "first", big.data(), 16, 0));
  const uint64_t replaced = grftest::Record(ar.a, "first")->offset;
  EXPECT_NE(replaced, 54u);
  ASSERT_TRUE(GrfPutCompressed(ar.a, "third", big.data(), 300, 0));
  EXPECT_NE(grftest::Record(ar.a, "third")->offset, 54u);
  EXPECT_NE(grftest::Record(ar.a, "third")->offset, firstTable);
  ASSERT_TRUE(GrfFinalize(ar.a));
  // Now the old 400-byte block is free, merged with the first empty prefix
  // in front of it; the first table is free too, but too small.
  ASSERT_TRUE(GrfPutCompressed(ar.a, "fourth", big.data(), 390, 0));
  EXPECT_EQ(grftest::Record(ar.a, "fourth")->offset, 46u);
  ASSERT_TRUE(GrfFinalize(ar.a));

  GrfClose(&ar.a);
  grftest::Opened back = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(back.ok);
  bool ok = false;
  EXPECT_TRUE(grftest::ReadWhole(back.archive, "first", &ok) == grftest::Slice(big, 0, 16));
  EXPECT_TRUE(grftest::ReadWhole(back.archive, "second", &ok) == grftest::Slice(big, 0, 200));
  EXPECT_TRUE(grftest::ReadWhole(back.archive, "third", &ok) == grftest::Slice(big, 0, 300));
  EXPECT_TRUE(grftest::ReadWhole(back.archive, "fourth", &ok) == grftest::Slice(big, 0, 390));
  GrfClose(&back.archive);
}

}  // namespace
