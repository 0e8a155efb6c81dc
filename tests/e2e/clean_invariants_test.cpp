// Whole-run invariants over generated archives of every layout and size class, cleaned in
// both modes on one thread and on several: every entry of the copy decodes with plain zlib
// to the content the fixture builder put in, the copy is the same byte for byte whatever
// the thread count, a dry run predicts its size, the source stays as it was, and nothing
// is left open or allocated.

#include <zlib.h>
#include <algorithm>
#include <fstream>
#include <tuple>
#include "tests/e2e/e2e_util.h"
#include "tests/support/file_util_scratch.h"

namespace {
using fixture::Bytes;
using fixture::Cipher;
using fixture::Entry;
using fixture::Storage;

// The record's content as a plain zlib reader finds it in the copy: no cipher, no codec library.
bool PlainRead(const Bytes& copy, const fixture::WrittenRecord& r, Bytes* content) {
  const Bytes block = fixture::StoredBlock(copy, r);
  if ((r.flags & ~ENTRY_COMPRESSED) || block.size() != r.alignedSize || r.compressedSize > r.alignedSize ||
      (!(r.flags & ENTRY_COMPRESSED) && r.realSize > block.size()))
    return false;
  if (!(r.flags & ENTRY_COMPRESSED)) return *content = Bytes(block.begin(), block.begin() + r.realSize), true;
  uLongf length = r.realSize;
  content->assign(r.realSize, 0);
  return uncompress(content->data(), &length, block.data(), r.compressedSize) == Z_OK && length == r.realSize;
}

// The copy's table, with every expected entry decoding plainly to its content.
fixture::WrittenArchive ExpectPlainContents(const Bytes& copy, const grftest::Contents& want, const std::string& what) {
  const fixture::WrittenArchive written = fixture::ParseWrittenArchive(copy);
  EXPECT_TRUE(written.ok && written.version == 0x200 && written.seedDraw < 6 && std::equal(copy.begin(), copy.begin() + 16, "Master of Magic"))
      << what << ": a copy below 4 GiB keeps the classic header";
  for (const auto& [name, content] : want) {
    const fixture::WrittenRecord* r = written.Find(name);
    Bytes got;
    EXPECT_TRUE(r && PlainRead(copy, *r, &got) && got == content) << what << " " << name;
  }
  return written;
}

// An enciphered zlib entry whose record misstates the length of its stream by `delta`.
fixture::EntrySpec Misrecorded(std::string name, uint32_t seed, int32_t delta, Cipher cipher) {
  const Bytes content = fixture::MakeContent(900, seed, false);
  fixture::EntrySpec e = Entry(std::move(name), content, Storage::Zlib, cipher);
  e.compressedSize = static_cast<uint32_t>(fixture::ZlibCompress(content).size()) + delta;
  return e;
}

struct Case {
  std::string what;
  fixture::ArchiveSpec spec;
  uint32_t linked, unreadable;
  size_t records;  // in the copy
  std::vector<std::pair<std::string, std::string>> sameBlock;  // names that must share a block
};

// Declared sizes no block can give (huge, at no memory cost), links, a replaced name, empty
// entries, streams shorter and longer than recorded, the placeholder record; gaps before the
// data and after the table.
Case LayoutCase(const fixture::Layout& layout) {
  const bool old = layout.version == 0x12;
  const Storage packing = old ? Storage::Lzss : Storage::Zlib;
  const Cipher mixed = layout.version >= 0x200 ? Cipher::Mixed : Cipher::None;
  Case c{std::to_string(layout.version) + "/" + std::to_string(static_cast<int>(layout.header)) +
             (layout.tableFirst ? " table first" : "") + (layout.reverseData ? " reversed" : ""),
         {}, old ? 2u : 4u, 2u, old ? 8u : 13u, {{"big1.spr", "big2.spr"}}};
  std::tie(c.spec.version, c.spec.header, c.spec.tableFirst, c.spec.reverseDataOrder) =
      std::tie(layout.version, layout.header, layout.tableFirst, layout.reverseData);
  std::tie(c.spec.seed, c.spec.leadingGap, c.spec.garbageAfterTable) = std::tuple(3, 5, fixture::ToBytes("after the table"));
  const Bytes big = fixture::MakeContent(30000, 4);
  fixture::EntrySpec packed = Entry("huge.bin", fixture::MakeContent(500, 1), packing);
  fixture::EntrySpec stored = Entry("huge.raw", fixture::MakeContent(500, 2), Storage::Stored);
  std::tie(packed.realSize, stored.realSize, packed.notExpected, stored.notExpected) = std::tuple(0xF0000000u, 0x80000000u, true, true);
  c.spec.entries = {packed, stored, Entry("big1.spr", big, Storage::Stored), Entry("big2.spr", big, packing, mixed),
                    Entry("empty.txt", ""), Entry("data\\\xC7\xD1\xB1\xDB.bmp", fixture::MakeContent(4000, 23, false), packing),
                    Entry("CASE.txt", "replaced", packing), Entry("case.TXT", "replacement", packing), fixture::Link("alias.bmp", 5)};
  if (old) return c;
  c.sameBlock.push_back({"short.txt", "same-as-short.txt"});
  // 0x1xx archives take the cipher from the extension: .txt mixed, .gnd header.
  fixture::EntrySpec placeholder = Entry("placeholder", "");
  std::tie(placeholder.compressedSize, placeholder.alignedSize, placeholder.realSize, placeholder.offset,
           placeholder.notExpected) = std::tuple(1097u, 1812u, 1372u, uint64_t{1418}, true);
  fixture::EntrySpec near = placeholder;  // one field off: an entry, and an unreadable one
  std::tie(near.name, near.offset, c.unreadable, c.records) = std::tuple("near placeholder", uint64_t{1419}, 3u, 14u);
  for (auto e : {Misrecorded("short.txt", 1, -7, Cipher::Mixed), fixture::Link("short-link.txt", 9),
                 Misrecorded("long.gnd", 2, +40, Cipher::Header), Entry("same-as-short.txt", fixture::MakeContent(900, 1, false)),
                 Entry("clip.STR", fixture::MakeContent(700, 3, false), packing, Cipher::Header), placeholder, near})
    c.spec.entries.push_back(e);
  return c;
}

// Mixed-cipher streams of every digit count of their length (the cipher cycle follows it, up
// to a stream over 10 MB), and sizes exactly at the plausibility bounds. The duplicate is too
// large to be remembered: the earlier entry is read again to prove it.
Case SizeClassCase() {
  Case c{"size classes", {}, 1, 0, 11, {{"5000000.mixed", "5000000.copy"}}};
  for (const size_t size : {5u, 50u, 500u, 5000u, 50000u, 500000u, 5000000u, 10200000u})
    c.spec.entries.push_back(Entry(std::to_string(size) + ".mixed", fixture::MakeContent(size, 7, false),
                                   Storage::Zlib, Cipher::Mixed));
  c.spec.entries.insert(c.spec.entries.end(), {Entry("5000000.copy", fixture::MakeContent(5000000, 7, false)),
                                               Entry("aligned.raw", fixture::MakeContent(4096, 8, false), Storage::Stored, Cipher::Mixed)});
  for (uint32_t seed = 1;; ++seed) {  // a stream that fills its block exactly
    const Bytes content = fixture::MakeContent(3000, seed);
    if (fixture::ZlibCompress(content).size() % 8 == 0)
      return c.spec.entries.push_back(Entry("exact.txt", content, Storage::Zlib, Cipher::Header)), c;
  }
}

TEST(CleanInvariants, EveryCopyDecodesPlainlyToTheSourceWhateverTheModeAndThreads) {
  const std::string source = fixture::TempPath("invariants") + ".grf";
  const std::string cleaned = source.substr(0, source.size() - 4) + "-cleaned.grf";
  std::vector<Case> cases;
  for (const fixture::Layout& layout : fixture::AllLayouts()) cases.push_back(LayoutCase(layout));
  cases.push_back(SizeClassCase());
  for (const Case& c : cases) {
    const fixture::BuiltArchive built = fixture::BuildArchive(c.spec);
    ASSERT_TRUE(fixture::WriteBytesToFile(source, built.bytes));
    const uint32_t peakBefore = GetPoolCounters().peakLiveBytes;
    size_t largest = 0;
    for (const auto& e : c.spec.entries) largest = std::max(largest, e.content.size());
    for (const bool best : {false, true}) {
      Bytes single;
      for (const uint32_t threads : {1u, 4u, 0u}) {  // 0: a dry run on four threads
        const std::string what = c.what + (best ? " best " : " ") + std::to_string(threads);
        const size_t files = OpenFiles();
        RecordingHost host;
        JobSummary summary{};
        ConsolidationJob* job = CreateConsolidationJob(&host, source.c_str(), best, nullptr);
        ASSERT_NE(job, nullptr);
        std::tie(job->threads, job->dryRun, job->summary) = std::make_tuple(threads ? threads : 4u, threads == 0, &summary);
        std::srand(static_cast<unsigned>(&c - cases.data()) * 2 + best);  // the header's seed, whatever the threads
        const JobOutcome outcome = ExecuteConsolidationJob(job);
        EXPECT_EQ(OpenFiles(), files) << what;
        ExpectBytes(source, built.bytes);
        EXPECT_TRUE(summary.linked == c.linked && summary.unreadable == c.unreadable) << what;
        const std::vector<uint32_t> bar = host.Values(HostCall::kSetProgress);  // 0 up to 100, then idle at 0
        EXPECT_TRUE(bar.size() > 3 && std::is_sorted(bar.begin(), bar.end() - 1) && bar.end()[-2] == 100 && bar.back() == 0) << what;
        if (threads == 0) {
          EXPECT_EQ(outcome, JobOutcome::WouldSave) << what;
          EXPECT_EQ(summary.destinationBytes, single.size()) << what;
          EXPECT_TRUE(!std::filesystem::exists(cleaned) && PartialFilesBeside(cleaned).empty()) << what;
          continue;
        }
        ASSERT_EQ(outcome, JobOutcome::CleanedCopyKept) << what;
        Bytes copy;
        EXPECT_TRUE(fixture::ReadBytesFromFile(cleaned, &copy) && std::remove(cleaned.c_str()) == 0);
        if (threads == 1) single = copy;
        EXPECT_TRUE(copy == single) << what;
        const fixture::WrittenArchive written = ExpectPlainContents(copy, grftest::ExpectedOf(built), what);
        EXPECT_EQ(written.records.size(), c.records) << what;
        const fixture::WrittenRecord* packed = written.Find(c.what == "size classes" ? "5000000.copy" : "big1.spr");
        EXPECT_EQ(fixture::StoredBlock(copy, *packed).at(1), best ? 0xDA : 0x9C) << what;  // the level's mark
        for (const auto& [a, b] : c.sameBlock) EXPECT_EQ(written.Find(a)->offset, written.Find(b)->offset) << what;
      }
    }
    EXPECT_LE(GetPoolCounters().peakLiveBytes, std::max<uint64_t>(peakBefore, (16u << 20) + 8 * largest)) << c.what;
  }
  std::remove(source.c_str());
}

// An archive grown past 4 GiB (a sparse file) takes the wide table and header, and a clean
// reads its blocks from beyond 4 GiB into a copy that decodes plainly.
TEST(CleanInvariants, PastFourGibTheTableGoesWideAndACleanReadsFromThere) {
  fixture::ArchiveSpec spec;
  spec.entries = {Entry("near.txt", fixture::MakeContent(3000, 8)), Entry("near.gat", fixture::MakeContent(3000, 8))};
  const grftest::TempFile file("wide", fixture::BuildArchiveBytes(spec));
  std::error_code error;
  std::filesystem::resize_file(file.path(), (uint64_t{1} << 32) + 13, error);
  if (error) GTEST_SKIP() << "no sparse file of 4 GiB here: " << error.message();
  const Bytes far = fixture::MakeContent(5000, 9);
  {  // told to keep the version, a classic header cannot point at a table there: refused, nothing stays
    grftest::Archive kept = grftest::OpenWritable(file, GRF_OPEN_KEEP_VERSION);
    EXPECT_TRUE(GrfLinkEntry(kept.a, "near.txt", "link.txt") && !GrfFinalize(kept.a) && GrfGetLastStatus(kept.a) == GRF_E_LIMIT);
  }
  EXPECT_EQ(std::filesystem::file_size(file.path()), (uint64_t{1} << 32) + 13);
  {
    grftest::Archive ar = grftest::OpenWritable(file);
    ASSERT_TRUE(GrfPutData(ar.a, "far.bin", far.data(), 5000) && GrfLinkEntry(ar.a, "far.bin", "far.gnd"));
    ASSERT_TRUE(GrfFinalize(ar.a));
  }
  Bytes head(46);
  std::ifstream(file.path(), std::ios::binary).read(reinterpret_cast<char*>(head.data()), 46);
  uint64_t table = 0;
  for (int i = 7; i >= 0; --i) table = table << 8 | head[30 + i];
  EXPECT_TRUE(std::equal(head.begin(), head.begin() + 14, "Event Horizon") && head[42] == 0 && head[43] == 3);
  EXPECT_GT(table, 0xFFFFFFFFu);
  grftest::Contents want{{"near.txt", spec.entries[0].content}, {"near.gat", spec.entries[1].content}, {"far.bin", far}, {"far.gnd", far}};
  EXPECT_EQ(grftest::ReadAll(file.path()), want);
  RecordingHost host;
  ASSERT_EQ(RunJob(&host, file.path(), false, 2), JobOutcome::CleanedCopyKept);
  const std::string cleaned = file.path().substr(0, file.path().size() - 4) + "-cleaned.grf";
  Bytes copy;
  ASSERT_TRUE(fixture::ReadBytesFromFile(cleaned, &copy) && std::remove(cleaned.c_str()) == 0);
  EXPECT_EQ(ExpectPlainContents(copy, want, "past 4 GiB").records.size(), 4u);
}
}  // namespace
