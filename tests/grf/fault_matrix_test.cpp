// Failing and short stream operations on every write path: the new-archive
// header, puts appended and into reused gaps, copies failing on either side
// (LZSS sources too), the conversion of an old archive, every finalize write,
// the truncations of discard, of a failed conversion and of the finalize
// trim, and reads during open. Each case checks the status and that the file
// on disk still opens as the archive last finalized; a second attempt once
// the stream behaves loses nothing.

#include <map>
#include <string>
#include <utility>
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

// ---- changes: a put (appended or into a gap), the conversion of an old
// archive by its first change, and every write of a finalize ----

enum class Change { Put, Link, Finalize };

struct ChangeCase {
  Change change;
  uint32_t flags;
  Op op;
  uint32_t nth;  // put: 1 data, 2 padding; conversion, finalize: 1 prefix, 2 table, 3 header
  uint32_t status;
};

// Makes the change; `contents` becomes what the archive holds once it is committed.
bool Apply(GrfArchive* ar, Change change, Contents* contents) {
  static const Bytes data = fixture::MakeContent(30, 2, false);
  switch (change) {
    case Change::Put:
      (*contents)["new.bin"] = data;
      return GrfPutCompressed(ar, "new.bin", data.data(), 30, 0);
    case Change::Link:
      (*contents)["c.txt"] = contents->at("a.txt");
      return GrfLinkEntry(ar, "a.txt", "c.txt");
    case Change::Finalize:
      return GrfFinalize(ar);
  }
  return false;
}

TEST(FaultMatrix, EveryWriteOfAChangeFailingOrShortKeepsTheLastFinalizedArchive) {
  fixture::ArchiveSpec spec;
  spec.leadingGap = 40;  // [46, 86) free: a 30-byte block (32 stored) fits
  spec.entries.push_back(fixture::Entry("a.txt", fixture::MakeContent(2000, 8)));
  spec.garbageAfterTable = Bytes(4096, 0xEE);  // room for a new table under gap reuse
  fixture::ArchiveSpec old;
  old.version = 0x102;
  old.entries.push_back(fixture::Entry("a.txt", fixture::MakeContent(700, 6)));
  old.entries.push_back(fixture::Entry("b.gat", fixture::MakeContent(300, 7)));
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  const fixture::BuiltArchive builtOld = fixture::BuildArchive(old);
  const uint32_t gaps = GRF_OPEN_REUSE_GAPS;
  const ChangeCase cases[] = {
      {Change::Put, 0, Op::Write, 1, GRF_E_IO_GROW},
      {Change::Put, 0, Op::Write, 2, GRF_E_IO_GROW},
      {Change::Put, gaps, Op::Write, 1, GRF_E_IO},
      {Change::Put, gaps, Op::Write, 2, GRF_E_IO},
      {Change::Link, 0, Op::Write, 1, GRF_E_IO_GROW},
      {Change::Link, 0, Op::Write, 2, GRF_E_IO_GROW},
      {Change::Link, 0, Op::Write, 3, GRF_E_IO},
      {Change::Finalize, 0, Op::SizeQuery, 1, GRF_E_IO},
      {Change::Finalize, 0, Op::Write, 1, GRF_E_IO_GROW},
      {Change::Finalize, 0, Op::Write, 2, GRF_E_IO_GROW},
      {Change::Finalize, 0, Op::Write, 3, GRF_E_IO},
      {Change::Finalize, gaps, Op::Write, 1, GRF_E_IO},
      {Change::Finalize, gaps, Op::Write, 2, GRF_E_IO},
      {Change::Finalize, gaps, Op::Write, 3, GRF_E_IO},
      {Change::Finalize, 0, Op::Flush, 1, GRF_E_IO},  // before the header is written
      {Change::Finalize, 0, Op::Flush, 2, GRF_E_IO},  // after it
  };
  for (const ChangeCase& c : cases) {
    for (Fault fault : {Fault::Fail, Fault::Short}) {
      if ((c.op == Op::SizeQuery || c.op == Op::Flush) && fault == Fault::Short) continue;
      SCOPED_TRACE(std::to_string(static_cast<int>(c.change)) + (c.flags ? " gap " : " ") +
                   std::to_string(c.nth) + " " + FaultName(fault));
      const fixture::BuiltArchive& source = c.change == Change::Link ? builtOld : built;
      TempFile file("fm-change");
      ASSERT_TRUE(file.Write(source.bytes));
      teststream::Plan plan;
      GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, c.flags);
      ASSERT_NE(ar, nullptr);
      Contents contents = ExpectedOf(source);
      if (c.change == Change::Finalize) {
        ASSERT_TRUE(GrfPutData(ar, "b.txt", "beta", 4));
        ASSERT_TRUE(GrfLinkEntry(ar, "a.txt", "link.txt"));
        contents["b.txt"] = fixture::ToBytes("beta");
        contents["link.txt"] = contents["a.txt"];
      }
      plan.Arm(c.op, c.nth, fault);
      Contents after = contents;
      EXPECT_FALSE(Apply(ar, c.change, &after));
      EXPECT_EQ(plan.injected, 1u);
      EXPECT_EQ(GrfGetLastStatus(ar), c.status);
      // Another reader sees the archive as last finalized meanwhile.
      ExpectOnDisk(file.path(), ExpectedOf(source));

      // Nothing is lost: once the stream behaves the change goes through.
      plan.Disarm();
      ASSERT_TRUE(Apply(ar, c.change, &contents));
      ASSERT_TRUE(GrfFinalize(ar));
      GrfClose(&ar);
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
