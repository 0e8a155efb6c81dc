// Writing: finalize and puts refused while enumerating, a failed size query after the header,
// placement in free ranges, the tail trim and discards (on close) after both.

#include "grf/entry_index.h"
#include "support/pool.h"
#include "tests/grf/test_stream.h"
#include "tests/grf/grf_test_util.h"

namespace {

using fixture::Bytes;
using grftest::Archive;
using grftest::TempFile;

int g_refusals = 0;
bool FinalizeInside(uint32_t, uint32_t, const EntryView*, void* user) {
  auto* archive = static_cast<GrfArchive*>(user);
  const auto refused = [archive](bool done) { g_refusals += !done && GrfGetLastStatus(archive) == GRF_E_READ_ONLY; };
  refused(GrfFinalize(archive));
  refused(GrfPutData(archive, "b", "b", 1)), refused(GrfPutData(archive, "e", "", 0)), refused(GrfLinkEntry(archive, "a", "d"));
  refused(GrfCopyEntry(archive, archive, "absent", nullptr, 0));  // before the name is looked for
  GrfBlockInfo overlong{};
  std::tie(overlong.realSize, overlong.carryLength, overlong.flags) = std::tuple(1, 9, ENTRY_COMPRESSED);
  refused(GrfPutBlock(archive, "c", &overlong, nullptr, nullptr));  // before the block is judged
  return true;
}

TEST(Finalize, RefusedWhileEnumeratingADirtyArchive) {
  TempFile file("fin-enum", fixture::Bytes{});
  Archive ar = grftest::OpenWritable(file);
  ASSERT_TRUE(GrfPutData(ar.a, "a", "a", 1));
  EXPECT_TRUE(GrfLoadTable(ar.a) && GrfForEachEntry(ar.a, FinalizeInside, ar.a) && g_refusals == 6) << "a loaded table is kept";
  bool read = false;
  EXPECT_TRUE(grftest::ReadWhole(ar.a, "a", &read) == fixture::ToBytes("a") && read) << "read back before the finalize";
  GrfSetCompressHook(ar.a, [](unsigned char*, unsigned long*, const unsigned char*, unsigned long) { return -3; });
  EXPECT_TRUE(!GrfPutData(ar.a, "c", "c", 1) && GrfGetLastStatus(ar.a) == GRF_E_CODEC) << "a failed compression";
  GrfSetCompressHook(ar.a, nullptr);
  EXPECT_TRUE(GrfFinalize(ar.a));
}

TEST(Finalize, FlushesTwiceUnlessTheCallerMakesTheFileDurableAndNamesKeepTheirLimit) {
  for (const uint32_t flags : {0u, GRF_OPEN_CALLER_FLUSHES | GRF_OPEN_LIMIT_NAMES | GRF_OPEN_NO_SEED}) {
    TempFile file("fin-flush", fixture::Bytes{});
    teststream::Plan plan;
    GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, flags);
    ASSERT_TRUE(ar && GrfPutData(ar, "a", "alpha", 5) && GrfFinalize(ar));
    EXPECT_EQ(plan.calls[static_cast<uint32_t>(teststream::Op::Flush)], flags ? 0u : 2u);
    const Bytes b = file.Read();  // the table at 46 + 16: a seed of 1 and up, unless there is to be none
    EXPECT_EQ(b[34] + b[35] + b[36] + b[37] > 0, flags == 0);
    EXPECT_EQ(GrfPutData(ar, std::string(252, 'n').c_str(), "x", 1), flags == 0) << "a name past 251 under the limit";
    PoolInjectFailures(0, 1);  // a name too long to fold on the stack, and no memory to fold it in
    EXPECT_TRUE(!GrfGetEntryInfo(ar, std::string(300, 'n').c_str(), nullptr) && GrfGetLastStatus(ar) == GRF_E_OUT_OF_MEMORY);
    PoolInjectFailures(0, 0);
    EXPECT_TRUE(!GrfGetEntryInfo(ar, std::string(300, 'n').c_str(), nullptr) && GrfGetLastStatus(ar) == GRF_E_NOT_FOUND);
    EXPECT_TRUE(GrfLinkEntry(ar, "a", std::string(251, 'n').c_str()));  // changes after the finalize: discarded
    GrfClose(&ar);
    EXPECT_EQ(grftest::ReadAll(file.path()).size(), 1u);
  }
}

TEST(Finalize, FailedFileSizeQueryAfterTheHeaderStillProtectsTheNewTable) {
  TempFile file("fin-size", fixture::Bytes{});
  teststream::Plan plan;
  GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, 0);
  ASSERT_NE(ar, nullptr);
  ASSERT_TRUE(GrfPutData(ar, "a", "alpha", 5));
  plan.Arm(teststream::Op::SizeQuery, 2);  // the first query places the table
  ASSERT_TRUE(GrfFinalize(ar));
  EXPECT_EQ(plan.injected, 1u);
  const uint64_t size = file.Read().size();
  ASSERT_TRUE(GrfPutData(ar, "b", "beta", 4));
  GrfClose(&ar);  // the discard cuts nothing the header refers to
  EXPECT_EQ(file.Read().size(), size);
  EXPECT_EQ(grftest::ReadAll(file.path()).size(), 1u);
}

TEST(Gaps, BlocksAndTablesGoIntoFreeRangesAndTheFreeTailIsTrimmed) {
  fixture::ArchiveSpec spec;
  spec.leadingGap = 40;  // [46, 86) free
  spec.entries.push_back(fixture::Entry("a.txt", fixture::MakeContent(3000, 8)));
  spec.garbageAfterTable = Bytes(8192, 0xAB);  // a free tail
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  const uint64_t tableEnd = built.bytes.size() - spec.garbageAfterTable.size();
  TempFile file("gaps", built.bytes);
  uint64_t end = 0;
  {
    Archive ar = grftest::OpenWritable(file, GRF_OPEN_REUSE_GAPS);
    ASSERT_TRUE(GrfPutCompressed(ar.a, "small", fixture::MakeContent(30, 9).data(), 30, 0));
    EXPECT_EQ(FindEntry(ar.a, "small")->offset, 46u);  // the smaller range that fits
    ASSERT_TRUE(GrfPutCompressed(ar.a, "larger", fixture::MakeContent(100, 10).data(), 100, 0));
    EXPECT_EQ(FindEntry(ar.a, "larger")->offset, tableEnd);
    EXPECT_EQ(file.Read().size(), built.bytes.size());
    ASSERT_TRUE(GrfFinalize(ar.a));
    end = file.Read().size();
    EXPECT_LT(end, built.bytes.size());  // the rest of the tail was cut off
    EXPECT_EQ(GrfGetFileSize(ar.a), end);
    ASSERT_TRUE(GrfPutData(ar.a, "discarded", fixture::MakeContent(5000, 11, false).data(), 5000));
  }
  EXPECT_EQ(file.Read().size(), end);  // a discard after the trim cuts nothing finalized
  grftest::Contents want = grftest::ExpectedOf(built);
  want["small"] = fixture::MakeContent(30, 9);
  want["larger"] = fixture::MakeContent(100, 10);
  EXPECT_EQ(grftest::ReadAll(file.path()), want);
}

}  // namespace
