// Failing and short stream operations on every write path that the put,
// finalize and gate tests do not already drive: the new-archive header,
// puts into reused gaps, copies failing on either side (LZSS sources too),
// links whose conversion of an old archive fails, the remaining finalize
// writes, the truncations of discard, of a failed conversion and of the
// finalize trim, and reads during open. Each case checks the status, that
// the index and dirty state are unchanged, that the file on disk still
// opens as the archive last finalized, and that no pool block leaks.

#include <map>
#include <string>
#include <vector>

#include "grf/stream.h"
#include "tests/grf/test_stream.h"
#include "tests/grf/grf_test_util.h"

namespace {

using teststream::Fault;
using teststream::Op;
using fixture::Bytes;
using fixture::Storage;
using grftest::TempFile;

using grftest::Contents;
using grftest::ExpectedOf;

// The file opens read-only and holds exactly these entries, byte for byte.
void ExpectOnDisk(const std::string& path, const Contents& contents) {
  EXPECT_EQ(grftest::ReadAll(path), contents);
}

const char* FaultName(Fault fault) { return fault == Fault::Fail ? "fail" : "short"; }

// ---- the new-archive header ----

TEST(FaultMatrix, NewArchiveHeaderThatCannotBeWrittenFailsTheOpen) {
  for (Fault fault : {Fault::Fail, Fault::Short}) {
    SCOPED_TRACE(FaultName(fault));
    TempFile file("fm-new");
    ASSERT_TRUE(file.Write({}));
    teststream::Plan plan;
    plan.Arm(Op::Write, 1, fault);
    uint32_t status = 0;
    GrfArchive* archive = teststream::OpenArchive(file.path(), &plan, 0, &status);
    EXPECT_EQ(archive, nullptr);
    EXPECT_EQ(status, GRF_E_IO_GROW);
    EXPECT_EQ(plan.injected, 1u);
  }
  // A size query that fails before anything is written.
  TempFile file("fm-new-size");
  ASSERT_TRUE(file.Write({}));
  teststream::Plan plan;
  plan.Arm(Op::SizeQuery, 1);
  GrfStream* stream = nullptr;
  ASSERT_TRUE(teststream::OpenFile(file.path(), &plan, &stream));
  GrfArchive* archive = nullptr;
  uint32_t status = 0, detail = 0;
  EXPECT_FALSE(GrfOpenStream(stream, 0, &status, &detail, &archive));
  StreamRelease(&stream);
  EXPECT_EQ(status, GRF_E_IO);
  EXPECT_EQ(detail, 0xA0000001u);
  EXPECT_TRUE(file.Read().empty());
}

// ---- put: appended and into a reused gap ----

TEST(FaultMatrix, PutWritesFailOrComeUpShortAppendedAndInAGap) {
  fixture::ArchiveSpec spec;
  spec.leadingGap = 40;  // [46, 86) free: a 30-byte block (32 stored) fits
  spec.entries.push_back(fixture::Entry("a.txt", fixture::MakeContent(500, 1)));
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  const Bytes data = fixture::MakeContent(30, 2, false);

  struct Case {
    uint32_t flags;
    uint32_t nth;  // 1: the data, 2: the padding
    Fault fault;
    uint32_t status;
  };
  const Case cases[] = {
      {0, 1, Fault::Fail, GRF_E_IO_GROW},
      {0, 1, Fault::Short, GRF_E_IO_GROW},
      {0, 2, Fault::Fail, GRF_E_IO_GROW},
      {0, 2, Fault::Short, GRF_E_IO_GROW},
      {GRF_OPEN_REUSE_GAPS, 1, Fault::Fail, GRF_E_IO},
      {GRF_OPEN_REUSE_GAPS, 1, Fault::Short, GRF_E_IO},
      {GRF_OPEN_REUSE_GAPS, 2, Fault::Fail, GRF_E_IO},
      {GRF_OPEN_REUSE_GAPS, 2, Fault::Short, GRF_E_IO},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.flags ? "gap " : "append ") + std::to_string(c.nth) + " " +
                 FaultName(c.fault));
    TempFile file("fm-put");
    ASSERT_TRUE(file.Write(built.bytes));
    teststream::Plan plan;
    GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, c.flags);
    ASSERT_NE(ar, nullptr);
    plan.Arm(Op::Write, c.nth, c.fault);
    EXPECT_FALSE(GrfPutCompressed(ar, "new.bin", data.data(), 30, 0));
    EXPECT_EQ(plan.injected, 1u);
    EXPECT_EQ(GrfGetLastStatus(ar), c.status);
    EXPECT_EQ(grftest::Record(ar, "new.bin"), nullptr);
    EXPECT_FALSE(ar->flags & GRF_STATE_DIRTY);
    ExpectOnDisk(file.path(), ExpectedOf(built));

    // The same put succeeds once the stream behaves: in the gap when reused,
    // else behind whatever the failed write left (cut off by a discard).
    plan.Disarm();
    ASSERT_TRUE(GrfPutCompressed(ar, "new.bin", data.data(), 30, 0));
    if (c.flags) {
      EXPECT_EQ(grftest::Record(ar, "new.bin")->offset, 46u);
    } else {
      EXPECT_GE(grftest::Record(ar, "new.bin")->offset, built.bytes.size());
    }
    ASSERT_TRUE(GrfFinalize(ar));
    GrfClose(&ar);
    Contents contents = ExpectedOf(built);
    contents["new.bin"] = data;
    ExpectOnDisk(file.path(), contents);
  }
}

// ---- copy: the source's reads, the target's writes ----

struct CopyCase {
  const char* what;
  bool sourceSide;
  Op op;
  uint32_t nth;
  Fault fault;
  uint32_t status;  // in the archive of the failing side
};

void RunCopyCases(const fixture::ArchiveSpec& sourceSpec, const std::vector<CopyCase>& cases) {
  const fixture::BuiltArchive built = fixture::BuildArchive(sourceSpec);
  TempFile sourceFile("fm-copy-src");
  ASSERT_TRUE(sourceFile.Write(built.bytes));
  for (const CopyCase& c : cases) {
    for (const fixture::ExpectedEntry& entry : built.expected) {
      SCOPED_TRACE(std::string(c.what) + " " + FaultName(c.fault) + " " + entry.name);
      teststream::Plan sourcePlan, targetPlan;
      GrfArchive* source = teststream::OpenArchive(sourceFile.path(), &sourcePlan, GRF_OPEN_READ_ONLY);
      ASSERT_NE(source, nullptr);
      TempFile targetFile("fm-copy-dst");
      ASSERT_TRUE(targetFile.Write({}));
      GrfArchive* target = teststream::OpenArchive(targetFile.path(), &targetPlan, 0);
      ASSERT_NE(target, nullptr);
      const Bytes fresh = targetFile.Read();

      (c.sourceSide ? sourcePlan : targetPlan).Arm(c.op, c.nth, c.fault);
      EXPECT_FALSE(GrfCopyEntry(target, source, entry.name.c_str(), nullptr, 0));
      EXPECT_EQ(sourcePlan.injected + targetPlan.injected, 1u);
      if (c.sourceSide) {
        EXPECT_EQ(GrfGetLastStatus(source), c.status);
        EXPECT_EQ(GrfGetLastStatus(target), GRF_S_OK);  // read failures belong to the source
      } else {
        EXPECT_EQ(GrfGetLastStatus(target), c.status);
      }
      EXPECT_EQ(grftest::Record(target, entry.name), nullptr);
      EXPECT_FALSE(target->flags & GRF_STATE_DIRTY);

      sourcePlan.Disarm();
      targetPlan.Disarm();
      ASSERT_TRUE(GrfCopyEntry(target, source, entry.name.c_str(), nullptr, 0));
      ASSERT_TRUE(GrfFinalize(target));
      GrfClose(&target);
      GrfClose(&source);
      ExpectOnDisk(targetFile.path(), {{entry.name, entry.content}});
      EXPECT_TRUE(sourceFile.Read() == built.bytes);
    }
  }
}

TEST(FaultMatrix, CopyFailsCleanlyOnEitherSide) {
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("zlib.txt", fixture::MakeContent(900, 3), Storage::Zlib,
                                        fixture::Cipher::Mixed));
  spec.entries.push_back(
      fixture::Entry("stored.bin", fixture::MakeContent(300, 4, false), Storage::Stored));
  RunCopyCases(spec, {
                         {"source read", true, Op::Read, 1, Fault::Fail, GRF_E_IO},
                         {"source read", true, Op::Read, 1, Fault::Short, GRF_E_IO},
                         {"target data", false, Op::Write, 1, Fault::Fail, GRF_E_IO_GROW},
                         {"target data", false, Op::Write, 1, Fault::Short, GRF_E_IO_GROW},
                         {"target padding", false, Op::Write, 2, Fault::Fail, GRF_E_IO_GROW},
                         {"target padding", false, Op::Write, 2, Fault::Short, GRF_E_IO_GROW},
                         {"target size", false, Op::SizeQuery, 1, Fault::Fail, GRF_E_IO},
                     });
}

TEST(FaultMatrix, CopyOfLzssEntriesFailsCleanlyOnEitherSide) {
  fixture::ArchiveSpec spec;
  spec.version = 0x12;
  spec.header = fixture::HeaderKind::Tail;
  spec.entries.push_back(fixture::Entry("packed.txt", fixture::MakeContent(2000, 5), Storage::Lzss));
  RunCopyCases(spec, {
                         {"source read", true, Op::Read, 1, Fault::Fail, GRF_E_IO},
                         {"source read", true, Op::Read, 1, Fault::Short, GRF_E_IO},
                         {"target data", false, Op::Write, 1, Fault::Fail, GRF_E_IO_GROW},
                         {"target data", false, Op::Write, 1, Fault::Short, GRF_E_IO_GROW},
                         {"target padding", false, Op::Write, 2, Fault::Fail, GRF_E_IO_GROW},
                     });
}

// ---- link: its conversion of an old archive ----

TEST(FaultMatrix, LinkWhoseConversionFailsLeavesTheOldArchive) {
  fixture::ArchiveSpec spec;
  spec.version = 0x102;
  spec.entries.push_back(fixture::Entry("a.txt", fixture::MakeContent(700, 6)));
  spec.entries.push_back(fixture::Entry("b.gat", fixture::MakeContent(300, 7)));
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  // The conversion writes the table prefix, the table, then the header.
  for (uint32_t nth : {1u, 2u, 3u}) {
    for (Fault fault : {Fault::Fail, Fault::Short}) {
      SCOPED_TRACE(std::to_string(nth) + " " + FaultName(fault));
      TempFile file("fm-link");
      ASSERT_TRUE(file.Write(built.bytes));
      teststream::Plan plan;
      GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, 0);
      ASSERT_NE(ar, nullptr);
      plan.Arm(Op::Write, nth, fault);
      EXPECT_FALSE(GrfLinkEntry(ar, "a.txt", "c.txt"));
      EXPECT_EQ(plan.injected, 1u);
      EXPECT_EQ(GrfGetLastStatus(ar), nth == 3 ? GRF_E_IO : GRF_E_IO_GROW);
      EXPECT_EQ(ar->version, 0x102u);
      EXPECT_FALSE(ar->flags & GRF_STATE_DIRTY);
      EXPECT_EQ(grftest::Record(ar, "c.txt"), nullptr);
      EXPECT_TRUE(file.Read() == built.bytes);

      plan.Disarm();
      ASSERT_TRUE(GrfLinkEntry(ar, "a.txt", "c.txt"));
      ASSERT_TRUE(GrfFinalize(ar));
      GrfClose(&ar);
      Contents contents = ExpectedOf(built);
      contents["c.txt"] = contents["a.txt"];
      ExpectOnDisk(file.path(), contents);
    }
  }
}

// ---- finalize: the cells the finalize tests leave out ----

TEST(FaultMatrix, EveryFinalizeWriteFailingOrShortKeepsThePreviousTable) {
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("a.txt", fixture::MakeContent(2000, 8)));
  spec.garbageAfterTable = Bytes(4096, 0xEE);  // room for a new table under gap reuse
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  struct Case {
    uint32_t flags;
    Op op;
    uint32_t nth;  // writes: 1 prefix, 2 table, 3 header
    uint32_t status;
  } cases[] = {
      {0, Op::SizeQuery, 1, GRF_E_IO},
      {0, Op::Write, 1, GRF_E_IO_GROW},
      {0, Op::Write, 2, GRF_E_IO_GROW},
      {0, Op::Write, 3, GRF_E_IO},
      {GRF_OPEN_REUSE_GAPS, Op::Write, 1, GRF_E_IO},
      {GRF_OPEN_REUSE_GAPS, Op::Write, 2, GRF_E_IO},
      {GRF_OPEN_REUSE_GAPS, Op::Write, 3, GRF_E_IO},
  };
  for (const Case& c : cases) {
    for (Fault fault : {Fault::Fail, Fault::Short}) {
      if (c.op == Op::SizeQuery && fault == Fault::Short) continue;
      SCOPED_TRACE(std::string(c.flags ? "gap " : "append ") + std::to_string(c.nth) + " " +
                   FaultName(fault));
      TempFile file("fm-fin");
      ASSERT_TRUE(file.Write(built.bytes));
      teststream::Plan plan;
      GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, c.flags);
      ASSERT_NE(ar, nullptr);
      ASSERT_TRUE(GrfPutData(ar, "b.txt", "beta", 4));
      ASSERT_TRUE(GrfLinkEntry(ar, "a.txt", "link.txt"));
      plan.Arm(c.op, c.nth, fault);
      EXPECT_FALSE(GrfFinalize(ar));
      EXPECT_EQ(plan.injected, 1u);
      EXPECT_EQ(GrfGetLastStatus(ar), c.status);
      // Another reader sees the archive as last finalized meanwhile.
      ExpectOnDisk(file.path(), ExpectedOf(built));

      // Still dirty with every change: a second attempt commits them all.
      plan.Disarm();
      ASSERT_TRUE(GrfFinalize(ar));
      GrfClose(&ar);
      Contents contents = ExpectedOf(built);
      contents["b.txt"] = fixture::ToBytes("beta");
      contents["link.txt"] = contents["a.txt"];
      ExpectOnDisk(file.path(), contents);
    }
  }
}

// ---- truncations ----

TEST(FaultMatrix, FailedDiscardLeavesTheLastFinalizedArchiveReadable) {
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("a.txt", fixture::MakeContent(1500, 9)));
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  for (Fault fault : {Fault::Fail, Fault::Short}) {
    SCOPED_TRACE(FaultName(fault));
    TempFile file("fm-discard");
    ASSERT_TRUE(file.Write(built.bytes));
    teststream::Plan plan;
    GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, 0);
    ASSERT_NE(ar, nullptr);
    ASSERT_TRUE(GrfPutData(ar, "b.txt", fixture::MakeContent(3000, 10, false).data(), 3000));
    const uint64_t grown = file.Read().size();
    plan.Arm(Op::Truncate, 1, fault);
    GrfClose(&ar);
    EXPECT_EQ(plan.injected, 1u);
    // Failed: the appended block stays; short: one byte more than asked.
    EXPECT_EQ(file.Read().size(), fault == Fault::Fail ? grown : built.bytes.size() + 1);
    ExpectOnDisk(file.path(), ExpectedOf(built));
  }
}

TEST(FaultMatrix, FailedConversionWhoseCutBackFailsStillReadsAsBefore) {
  fixture::ArchiveSpec spec;
  spec.version = 0x101;
  spec.entries.push_back(fixture::Entry("a.txt", fixture::MakeContent(800, 11)));
  spec.entries.push_back(fixture::Entry("b.str", fixture::MakeContent(90, 12)));
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  for (Fault fault : {Fault::Fail, Fault::Short}) {
    SCOPED_TRACE(FaultName(fault));
    TempFile file("fm-gate-cut");
    ASSERT_TRUE(file.Write(built.bytes));
    teststream::Plan plan;
    GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, 0);
    ASSERT_NE(ar, nullptr);
    plan.Arm(Op::Write, 3);  // the header of the new layout
    plan.Arm(Op::Truncate, 1, fault);
    EXPECT_FALSE(GrfPutData(ar, "c.txt", "gamma", 5));
    EXPECT_EQ(GrfGetLastStatus(ar), GRF_E_IO);
    EXPECT_EQ(plan.injected, 2u);
    // The old table now has bytes behind it, which its reader ignores.
    EXPECT_GT(file.Read().size(), built.bytes.size());
    ExpectOnDisk(file.path(), ExpectedOf(built));
    // Once the stream behaves the archive converts and takes the change.
    plan.Disarm();
    ASSERT_TRUE(GrfPutData(ar, "c.txt", "gamma", 5));
    ASSERT_TRUE(GrfFinalize(ar));
    EXPECT_EQ(ar->version, 0x200u);
    GrfClose(&ar);
    Contents contents = ExpectedOf(built);
    contents["c.txt"] = fixture::ToBytes("gamma");
    ExpectOnDisk(file.path(), contents);
  }
}

TEST(FaultMatrix, FailedTrimAtFinalizeDoesNotFailIt) {
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("a.txt", fixture::MakeContent(1000, 13)));
  spec.garbageAfterTable = Bytes(8192, 0xAB);  // a free tail, trimmed at finalize
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  for (Fault fault : {Fault::Fail, Fault::Short}) {
    SCOPED_TRACE(FaultName(fault));
    TempFile file("fm-trim");
    ASSERT_TRUE(file.Write(built.bytes));
    teststream::Plan plan;
    GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, GRF_OPEN_REUSE_GAPS);
    ASSERT_NE(ar, nullptr);
    ASSERT_TRUE(GrfPutData(ar, "b.txt", "beta", 4));
    plan.Arm(Op::Truncate, 1, fault);
    EXPECT_TRUE(GrfFinalize(ar));
    EXPECT_EQ(plan.injected, 1u);
    EXPECT_FALSE(ar->flags & GRF_STATE_DIRTY);
    const uint64_t tableEnd = ar->tablePosition + 8 + ar->tableSize;
    GrfClose(&ar);
    EXPECT_EQ(file.Read().size(), fault == Fault::Fail ? built.bytes.size() : tableEnd + 1);
    Contents contents = ExpectedOf(built);
    contents["b.txt"] = fixture::ToBytes("beta");
    ExpectOnDisk(file.path(), contents);
  }
}

// ---- reads during open and entry reads ----

// A header read that fails only rules out that header kind (the next reader
// reads again), so an open either fails or opens the right archive.
TEST(FaultMatrix, EveryReadOfAnOpenAndAnEntryCanFail) {
  for (const fixture::HeaderKind header :
       {fixture::HeaderKind::Classic, fixture::HeaderKind::Wide, fixture::HeaderKind::Tail}) {
    fixture::ArchiveSpec spec;
    spec.header = header;
    const bool tail = header == fixture::HeaderKind::Tail;
    if (tail) spec.version = 0x12;
    spec.entries.push_back(
        fixture::Entry("a.txt", fixture::MakeContent(400, 14), tail ? Storage::Lzss : Storage::Zlib));
    const fixture::BuiltArchive built = fixture::BuildArchive(spec);
    const Contents contents = ExpectedOf(built);
    TempFile file("fm-read");
    ASSERT_TRUE(file.Write(built.bytes));
    uint32_t readsOfOpen = 0, failedOpens = 0;
    for (uint32_t nth = 1; readsOfOpen == 0; ++nth) {
      for (Fault fault : {Fault::Fail, Fault::Short}) {
        SCOPED_TRACE(std::to_string(nth) + " " + FaultName(fault));
        teststream::Plan plan;
        plan.Arm(Op::Read, nth, fault);
        uint32_t status = 0;
        GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, GRF_OPEN_READ_ONLY, &status);
        EXPECT_EQ(ar != nullptr, !GrfFailed(status));
        if (!ar) {
          ++failedOpens;
          continue;
        }
        bool ok = false;
        if (plan.injected == 0) {
          // The open needs fewer reads: the entry read gets the fault.
          readsOfOpen = nth - 1;
          plan.Arm(Op::Read, 1, fault);
          grftest::ReadWhole(ar, "a.txt", &ok);
          EXPECT_FALSE(ok);
          EXPECT_EQ(GrfGetLastStatus(ar), GRF_E_IO);
          plan.Disarm();
        }
        EXPECT_EQ(grftest::ListEntries(ar).size(), 1u);
        EXPECT_TRUE(grftest::ReadWhole(ar, "a.txt", &ok) == contents.at("a.txt"));
        EXPECT_TRUE(ok);
        GrfClose(&ar);
      }
    }
    EXPECT_GT(readsOfOpen, 0u);
    EXPECT_GT(failedOpens, 0u);
  }
}

}  // namespace
