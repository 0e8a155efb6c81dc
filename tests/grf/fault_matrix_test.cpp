// Failing and short writes, size queries and flushes of every write path: the file keeps
// the archive last finalized, and once the stream behaves a second attempt loses nothing.

#include "grf/archive.h"
#include "grf/stream.h"
#include "tests/grf/test_stream.h"
#include "tests/grf/grf_test_util.h"

namespace {

using fixture::Bytes;
using grftest::Contents;
using grftest::ExpectedOf;
using grftest::TempFile;
using teststream::Fault;
using teststream::Op;

TEST(FaultMatrix, NewArchiveWhoseHeaderCannotBeWrittenOrSizedFailsTheOpen) {
  const struct { Op op; Fault fault; uint32_t status; } rows[] = {
      {Op::Write, Fault::Fail, GRF_E_IO_GROW}, {Op::Write, Fault::Short, GRF_E_IO_GROW}, {Op::SizeQuery, Fault::Fail, GRF_E_IO}};
  for (const auto& r : rows) {
    TempFile file("fm-new", fixture::Bytes{});
    teststream::Plan plan;
    plan.Arm(r.op, 1, r.fault);
    uint32_t status = 0;
    EXPECT_EQ(teststream::OpenArchive(file.path(), &plan, 0, &status), nullptr);
    EXPECT_EQ(status, r.status);
    EXPECT_EQ(plan.injected, 1u);
  }
}

enum class Change { Put, PutLarge, Link, Finalize };

bool Apply(GrfArchive* ar, Change change, Contents* contents) {
  static const Bytes data = fixture::MakeContent(30, 2, false), large = fixture::MakeContent(20001, 3, false);
  if (change == Change::Put) return (*contents)["new.bin"] = data, GrfPutCompressed(ar, "new.bin", data.data(), 30, 0);
  if (change == Change::PutLarge)
    return (*contents)["new.bin"] = large, GrfPutCompressed(ar, "new.bin", large.data(), 20001, 0);
  if (change == Change::Finalize) return GrfFinalize(ar);
  if (GrfLinkEntry(ar, "a.txt", "c.gnd") || GrfGetLastStatus(ar) != GRF_E_NAME_CLASS) return false;  // 0x1xx: names pick ciphers
  (*contents)["c.txt"] = contents->at("a.txt");  // the first change of an old archive converts it
  return GrfLinkEntry(ar, "a.txt", "c.txt");
}

TEST(FaultMatrix, EveryWriteOfAChangeFailingOrShortKeepsTheLastFinalizedArchive) {
  fixture::ArchiveSpec spec;
  spec.leadingGap = 40;  // [46, 86) free: a 30-byte block fits
  spec.entries.push_back(fixture::Entry("a.txt", fixture::MakeContent(2000, 8)));
  spec.garbageAfterTable = Bytes(4096, 0xEE);  // room for a new table under gap reuse
  fixture::ArchiveSpec old;
  old.version = 0x102;
  old.entries.push_back(fixture::Entry("a.txt", fixture::MakeContent(700, 6)));
  old.entries.push_back(fixture::Entry("b.gat", fixture::MakeContent(300, 7)));
  const fixture::BuiltArchive built = fixture::BuildArchive(spec), builtOld = fixture::BuildArchive(old);
  const uint32_t gaps = GRF_OPEN_REUSE_GAPS;
  // nth write: a small put's block and padding go in 1, a large one's in 1 data, 2 padding;
  // conversion and finalize 1 prefix, 2 table, 3 header.
  const struct { Change change; uint32_t flags; Op op; uint32_t nth; uint32_t status; } rows[] = {
      {Change::Put, 0, Op::Write, 1, GRF_E_IO_GROW},       {Change::Put, gaps, Op::Write, 1, GRF_E_IO},
      {Change::PutLarge, 0, Op::Write, 1, GRF_E_IO_GROW},  {Change::PutLarge, 0, Op::Write, 2, GRF_E_IO_GROW},
      {Change::Link, 0, Op::Write, 1, GRF_E_IO_GROW},      {Change::Link, 0, Op::Write, 2, GRF_E_IO_GROW},
      {Change::Link, 0, Op::Write, 3, GRF_E_IO},           {Change::Link, gaps, Op::Write, 3, GRF_E_IO},
      {Change::Finalize, 0, Op::SizeQuery, 1, GRF_E_IO},
      {Change::Finalize, 0, Op::Write, 1, GRF_E_IO_GROW},  {Change::Finalize, 0, Op::Write, 2, GRF_E_IO_GROW},
      {Change::Finalize, 0, Op::Write, 3, GRF_E_IO},       {Change::Finalize, gaps, Op::Write, 1, GRF_E_IO},
      {Change::Finalize, gaps, Op::Write, 2, GRF_E_IO},    {Change::Finalize, gaps, Op::Write, 3, GRF_E_IO},
      {Change::Finalize, 0, Op::Flush, 1, GRF_E_IO},  // before the header is written
      {Change::Finalize, 0, Op::Flush, 2, GRF_E_IO},  // after it
  };
  for (const auto& c : rows) {
    for (Fault fault : {Fault::Fail, Fault::Short}) {
      if ((c.op == Op::SizeQuery || c.op == Op::Flush) && fault == Fault::Short) continue;
      const fixture::BuiltArchive& source = c.change == Change::Link ? builtOld : built;
      TempFile file("fm-change", source.bytes);
      teststream::Plan plan;
      plan.narrow = fault == Fault::Short;  // and a stream type of 32-bit positions only
      GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, c.flags);
      ASSERT_NE(ar, nullptr);
      uint32_t moved = 0;  // a narrow type cannot reach past 4 GiB
      EXPECT_FALSE(plan.narrow && (StreamReadAt(ar->stream, 1ull << 32, &moved, 1, &moved) || StreamWriteAt(ar->stream, 1ull << 32, "x", 1, &moved)));
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
      EXPECT_TRUE(plan.injected == 1 && GrfGetLastStatus(ar) == c.status)
          << static_cast<int>(c.change) << " " << c.flags << " " << c.nth << " " << static_cast<int>(fault);
      EXPECT_EQ(grftest::ReadAll(file.path()), ExpectedOf(source));  // another reader, meanwhile
      EXPECT_TRUE(c.change != Change::Link || file.Read() == source.bytes);  // a failed conversion is cut off
      plan.Disarm();
      ASSERT_TRUE(Apply(ar, c.change, &contents));
      ASSERT_TRUE(GrfFinalize(ar));
      GrfClose(&ar);
      EXPECT_EQ(grftest::ReadAll(file.path()), contents);
    }
  }
}

TEST(FaultMatrix, AConversionWhoseCutFailsTooKeepsTheFirstFailure) {
  fixture::ArchiveSpec old;
  old.version = 0x102, old.entries = {fixture::Entry("a.txt", "alpha")};
  TempFile file("fm-cut", fixture::BuildArchiveBytes(old));
  teststream::Plan plan;
  GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, 0);
  plan.Arm(Op::Write, 1), plan.Arm(Op::SizeChange, 1);
  EXPECT_TRUE(ar && !GrfLinkEntry(ar, "a.txt", "b.txt") && plan.injected == 2 && GrfGetLastStatus(ar) == GRF_E_IO_GROW);
  GrfClose(&ar);
}

// Each read in turn failing or moving half: the open, an entry read, a copy or a block read fails
// with a status, or gives the right bytes; a batch read that comes up short reads its blocks alone.
TEST(FaultMatrix, EveryReadFailingOrShortIsAStatusNeverWrongBytes) {
  fixture::ArchiveSpec spec;
  spec.header = fixture::HeaderKind::Wide;
  for (uint32_t i = 0; i < 4; ++i)
    spec.entries.push_back(fixture::Entry(std::to_string(i) + ".txt", fixture::MakeContent(3000 + i, i, i % 2),
                                          i < 2 ? fixture::Storage::Zlib : fixture::Storage::Stored, fixture::Cipher::Mixed));
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  TempFile file("fm-read", built.bytes);
  for (const Fault fault : {Fault::Fail, Fault::Short}) {
    for (uint32_t nth = 1, injected = 1; injected; ++nth) {
      teststream::Plan plan;
      plan.Arm(Op::Read, nth, fault);
      uint32_t status = 0;
      GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, GRF_OPEN_READ_ONLY, &status);
      const std::string what = std::to_string(nth) + (fault == Fault::Short ? " short" : " failing");
      EXPECT_TRUE(ar || GrfFailed(status)) << what;
      uint32_t failures = ar ? 0 : 1;
      grftest::Archive target;
      ASSERT_TRUE(GrfOpenMeasuring(0, nullptr, &target.a));
      std::vector<GrfBlockInfo> infos(built.expected.size());
      std::vector<Bytes> blocks;
      std::vector<const GrfBlockInfo*> each;
      std::vector<void*> into;
      for (size_t i = 0; ar && i < infos.size(); ++i) {
        const fixture::ExpectedEntry& e = built.expected[i];
        bool ok = false;
        const Bytes content = grftest::ReadWhole(ar, e.name, &ok);
        EXPECT_TRUE(ok ? content == e.content : GrfGetLastStatus(ar) == GRF_E_IO) << what << e.name;
        const bool copied = GrfCopyEntry(target.a, ar, e.name.c_str(), nullptr, 0);  // a read of its own
        EXPECT_TRUE(copied || GrfGetLastStatus(ar) == GRF_E_IO) << what << e.name;
        failures += !ok + !copied;
        ASSERT_TRUE(GrfGetEntryInfo(ar, e.name.c_str(), &infos[i]));
        blocks.emplace_back(infos[i].alignedSize);
        each.push_back(&infos[i]);
        into.push_back(blocks.back().data());
      }
      const uint32_t beforeBatch = plan.calls[static_cast<uint32_t>(Op::Read)];
      std::vector<uint32_t> statuses(infos.size(), 0);
      if (ar) GrfReadBlocksShared(ar, each.data(), into.data(), static_cast<uint32_t>(infos.size()), statuses.data());
      for (size_t i = 0; ar && i < infos.size(); ++i) {
        Bytes content(infos[i].realSize);
        const bool ok = statuses[i] == GRF_S_OK;
        EXPECT_TRUE(ok ? GrfDecodeBlock(ar, &infos[i], blocks[i].data(), content.data(), infos[i].realSize) &&
                             content == built.expected[i].content
                       : statuses[i] == GRF_E_IO) << what << " block " << i;
        failures += !ok;
      }
      GrfClose(&ar);
      injected = plan.injected;
      EXPECT_EQ(failures, injected && nth <= beforeBatch ? 1u : 0u) << what;  // the batch falls back
    }
  }
}

}  // namespace
