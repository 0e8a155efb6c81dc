// The consolidation job end to end on fixture archives, through a recording
// host: which entries are linked, copied or counted unreadable, the report,
// and what is left on disk.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>

#include "engine/codec_library.h"
#include "engine/consolidation_job.h"
#include "engine/entry_pass.h"
#include "support/pool.h"
#include "tests/e2e/leftovers.h"
#include "tests/engine/recording_host.h"
#include "tests/fixtures/archive_builder.h"
#include "tests/fixtures/archive_inspect.h"
#include "tests/fixtures/test_codec.h"

namespace {

using fixture::Bytes;

// Four bytes appended to `data` that give the whole the CRC-32 `target`
// (zlib's reflected CRC), found by running the table backwards.
Bytes ForceCrc(Bytes data, uint32_t target) {
  uint32_t table[256];
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  uint8_t index[4];
  uint32_t s = ~target;
  for (int k = 3; k >= 0; --k) {
    uint32_t i = 0;
    while ((table[i] >> 24) != (s >> 24)) ++i;
    index[k] = static_cast<uint8_t>(i);
    s = (s ^ table[i]) << 8;
  }
  uint32_t state = ~static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
  for (int k = 0; k < 4; ++k) {
    data.push_back(static_cast<uint8_t>((state ^ index[k]) & 0xFF));
    state = (state >> 8) ^ table[index[k]];
  }
  return data;
}

uint32_t Crc(const Bytes& b) { return static_cast<uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size()))); }

class JobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::TempPath("slimwick-job");
    source_ = dir_ + "-src.grf";
    cleaned_ = dir_ + "-src-cleaned.grf";
    std::remove(cleaned_.c_str());
    ClearCodecLibraryPath();
    live_ = GetPoolCounters().liveBlocks;
  }
  void TearDown() override {
    std::remove(source_.c_str());
    std::remove(cleaned_.c_str());
    ClearCodecLibraryPath();
    // The loaded codec library is process-wide; unload it between tests.
    ReloadCodecLibrary();
    EXPECT_EQ(GetPoolCounters().liveBlocks, live_) << "pool blocks leaked";
  }

  JobOutcome Run(const fixture::ArchiveSpec& spec, bool best = false) {
    built_ = fixture::BuildArchive(spec);
    EXPECT_TRUE(fixture::WriteBytesToFile(source_, built_.bytes));
    return RunOnSource(best);
  }
  JobOutcome RunOnSource(bool best = false) {
    ConsolidationJob* job = CreateConsolidationJob(&host_, source_.c_str(), best, nullptr);
    EXPECT_NE(job, nullptr);
    job->threads = threads_;
    return ExecuteConsolidationJob(job);
  }
  fixture::WrittenArchive Cleaned() {
    Bytes bytes;
    EXPECT_TRUE(fixture::ReadBytesFromFile(cleaned_, &bytes));
    fixture::WrittenArchive a = fixture::ParseWrittenArchive(bytes);
    EXPECT_TRUE(a.ok);
    cleanedBytes_ = bytes;
    return a;
  }
  static bool Exists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
  }

  RecordingHost host_;
  uint32_t threads_ = 0;  // the job's thread count (0: hardware threads)
  std::string dir_, source_, cleaned_;
  fixture::BuiltArchive built_;
  Bytes cleanedBytes_;
  uint32_t live_ = 0;
};

TEST(EntryPassHelpers, ExtensionClassAndComparison) {
  EXPECT_TRUE(IsIsolatedExtension("map\\prontera.gnd"));
  EXPECT_TRUE(IsIsolatedExtension("p.GAT"));
  EXPECT_TRUE(IsIsolatedExtension("a.b.ACT"));
  EXPECT_TRUE(IsIsolatedExtension("x.str"));
  EXPECT_FALSE(IsIsolatedExtension("a.acts"));
  EXPECT_FALSE(IsIsolatedExtension("gnd"));
  EXPECT_FALSE(IsIsolatedExtension("name."));
  EXPECT_FALSE(IsIsolatedExtension("a.txt"));
  EXPECT_EQ(CompareBuffers("ab", 2, "abc", 3), -1);
  EXPECT_EQ(CompareBuffers("abc", 3, "ab", 2), 1);
  EXPECT_EQ(CompareBuffers("\x80", 1, "\x7f", 1), 1);
  EXPECT_EQ(CompareBuffers("abc", 3, "abc", 3), 0);
}

TEST(EntryPassHelpers, RecompressionIsLevelNine) {
  Bytes data = fixture::MakeContent(5000, 7);
  unsigned char* packed = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(CompressToNewBuffer(data.data(), static_cast<uint32_t>(data.size()), 9, &length,
                                &packed), Z_OK);
  ASSERT_GT(length, 2u);
  EXPECT_EQ(packed[0], 0x78);
  EXPECT_EQ(packed[1], 0xDA);  // FLEVEL 3: maximum compression
  Bytes back(data.size());
  uLongf n = back.size();
  EXPECT_EQ(uncompress(back.data(), &n, packed, length), Z_OK);
  EXPECT_EQ(back, data);
  PoolFree(packed);
}

TEST_F(JobTest, EmptyArchiveIsJustFineAndLeavesNoCopy) {
  fixture::ArchiveSpec spec;
  EXPECT_EQ(Run(spec), JobOutcome::NothingSaved);
  ASSERT_EQ(host_.Count(HostCall::kShowReport), 1u);
  EXPECT_EQ(host_.Texts(HostCall::kShowReport)[0],
            "Congratulations!\r\n\r\nYour archive is just fine the way it is, do not force it to "
            "lose any more weight!");
  EXPECT_FALSE(Exists(cleaned_));
  EXPECT_EQ(host_.Count(HostCall::kShowError), 0u);
}

TEST_F(JobTest, IdenticalContentsAreLinkedWithinTheirExtensionClass) {
  const Bytes same = fixture::MakeContent(3000, 1);
  fixture::ArchiveSpec spec;
  spec.entries = {fixture::Entry("a.txt", same, fixture::Storage::Stored),
                  fixture::Entry("b.txt", same, fixture::Storage::Stored),
                  fixture::Entry("x.gnd", same, fixture::Storage::Stored),
                  fixture::Entry("p.GAT", same, fixture::Storage::Stored),
                  fixture::Entry("q.gat", same, fixture::Storage::Stored)};
  const Bytes before = fixture::BuildArchiveBytes(spec);
  EXPECT_EQ(Run(spec), JobOutcome::CleanedCopyKept);
  fixture::WrittenArchive a = Cleaned();
  ASSERT_EQ(a.records.size(), 5u);
  const auto* ra = a.Find("a.txt");
  const auto* rb = a.Find("b.txt");
  const auto* rx = a.Find("x.gnd");
  const auto* rp = a.Find("p.GAT");
  const auto* rq = a.Find("q.gat");
  ASSERT_TRUE(ra && rb && rx && rp && rq);
  EXPECT_EQ(ra->offset, rb->offset);   // b.txt links to a.txt
  EXPECT_NE(rx->offset, ra->offset);   // .gnd is matched only among its class
  EXPECT_EQ(rp->offset, rx->offset);   // p.GAT links to x.gnd, the first of its class
  EXPECT_EQ(rq->offset, rx->offset);
  for (const auto& r : a.records) EXPECT_EQ(r.flags, ENTRY_COMPRESSED) << r.name;
  const std::string report = host_.Texts(HostCall::kShowReport).at(0);
  EXPECT_NE(report.find("3 entries were replaced with links and 0 could not be read"),
            std::string::npos) << report;

  Bytes after;
  ASSERT_TRUE(fixture::ReadBytesFromFile(source_, &after));
  EXPECT_EQ(after, before);  // the source is never touched
}

TEST_F(JobTest, EqualChecksumsWithDifferentContentAreBothWritten) {
  const Bytes first = fixture::MakeContent(60, 11, false);
  Bytes second = fixture::MakeContent(56, 12, false);
  second = ForceCrc(second, Crc(first));
  ASSERT_EQ(second.size(), first.size());
  ASSERT_EQ(Crc(second), Crc(first));
  ASSERT_NE(second, first);
  fixture::ArchiveSpec spec;
  spec.entries = {fixture::Entry("one.bin", first), fixture::Entry("two.bin", second),
                  fixture::Entry("three.bin", second)};
  Run(spec);
  fixture::WrittenArchive a = Cleaned();
  ASSERT_EQ(a.records.size(), 3u);
  EXPECT_NE(a.Find("one.bin")->offset, a.Find("two.bin")->offset);
  EXPECT_EQ(a.Find("three.bin")->offset, a.Find("two.bin")->offset);
}

TEST_F(JobTest, MissingOrForeignSourceFailsToOpen) {
  EXPECT_EQ(RunOnSource(), JobOutcome::SourceNotOpened);
  ASSERT_TRUE(fixture::WriteBytesToFile(source_, fixture::ToBytes("not an archive at all")));
  EXPECT_EQ(RunOnSource(), JobOutcome::SourceNotOpened);
  EXPECT_EQ(host_.Texts(HostCall::kShowError),
            (std::vector<std::string>{"Failed to open source archive.",
                                      "Failed to open source archive."}));
  EXPECT_FALSE(Exists(cleaned_));
}

TEST_F(JobTest, EmptyEntriesAreCopiedNeverLinked) {
  fixture::ArchiveSpec spec;
  spec.entries = {fixture::Entry("e1.txt", ""), fixture::Entry("e2.txt", ""),
                  fixture::Entry("big.txt", fixture::MakeContent(4000, 3), fixture::Storage::Stored)};
  EXPECT_EQ(Run(spec), JobOutcome::CleanedCopyKept);
  fixture::WrittenArchive a = Cleaned();
  ASSERT_EQ(a.records.size(), 3u);
  for (const char* n : {"e1.txt", "e2.txt"}) {
    const auto* r = a.Find(n);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->realSize, 0u);
    EXPECT_EQ(r->alignedSize, 0u);
    EXPECT_EQ(r->offset, 0u);
  }
  EXPECT_NE(host_.Texts(HostCall::kShowReport).at(0).find("repacked and 0 entries"),
            std::string::npos);
}

// An entry compressed with the test codec's format: unreadable with zlib.
fixture::EntrySpec CodecEntry(std::string name, const Bytes& plain) {
  fixture::EntrySpec e =
      fixture::Entry(std::move(name), fixture::XorZlibCompress(plain), fixture::Storage::Stored);
  e.flagByte = ENTRY_COMPRESSED;
  e.realSize = static_cast<uint32_t>(plain.size());
  return e;
}

TEST_F(JobTest, UnreadableEntriesAreCopiedAsTheyAreAndCounted) {
  const Bytes plain = fixture::MakeContent(2000, 5);
  fixture::ArchiveSpec spec;
  spec.entries = {CodecEntry("odd1.bin", plain), CodecEntry("odd2.bin", plain),
                  fixture::Entry("pad.txt", fixture::MakeContent(9000, 6), fixture::Storage::Stored)};
  EXPECT_EQ(Run(spec), JobOutcome::CleanedCopyKept);
  fixture::WrittenArchive a = Cleaned();
  const auto* r1 = a.Find("odd1.bin");
  const auto* r2 = a.Find("odd2.bin");
  ASSERT_TRUE(r1 && r2);
  EXPECT_NE(r1->offset, r2->offset);  // never a link target
  const Bytes expectBlock = fixture::XorZlibCompress(plain);
  Bytes block = fixture::StoredBlock(cleanedBytes_, *r1);
  block.resize(r1->compressedSize);
  EXPECT_EQ(block, expectBlock);  // bytes unchanged
  EXPECT_NE(host_.Texts(HostCall::kShowReport).at(0).find("2 entries could not be read"),
            std::string::npos);
}

TEST_F(JobTest, WithTheCodecLibraryTheSameEntriesAreReadAndDeduplicated) {
  fixture::TestCodecLibrary probe(fixture::CodecVariant::CompressAndUncompress);
  if (!probe.loaded()) GTEST_SKIP() << "test codec library not built: " << probe.path();
  SetCodecLibraryPath(probe.path().c_str());
  const Bytes plain = fixture::MakeContent(2000, 5);
  fixture::ArchiveSpec spec;
  spec.entries = {CodecEntry("odd1.bin", plain), CodecEntry("odd2.bin", plain)};
  spec.tableCodec = fixture::TableCodec::XorZlib;  // the library reads the whole archive
  Run(spec);
  fixture::WrittenArchive a = Cleaned();
  ASSERT_EQ(a.records.size(), 2u);
  EXPECT_EQ(a.Find("odd1.bin")->offset, a.Find("odd2.bin")->offset);
  EXPECT_EQ(host_.Count(HostCall::kShowError), 0u);
}

// Level 9 packs what the source stores plainly; a source stream level 9
// does not beat is kept, so no entry comes out bigger than the default mode's.
TEST_F(JobTest, BestCompressionNeverWritesMoreThanTheDefault) {
  fixture::ArchiveSpec spec;
  spec.entries = {fixture::Entry("a.txt", fixture::MakeContent(20000, 9), fixture::Storage::Zlib),
                  fixture::Entry("b.txt", fixture::MakeContent(7000, 10), fixture::Storage::Stored),
                  fixture::Entry("c.bin", fixture::MakeContent(9000, 11), fixture::Storage::Zlib,
                                 fixture::Cipher::Mixed)};
  EXPECT_EQ(Run(spec), JobOutcome::CleanedCopyKept);
  const fixture::WrittenArchive plain = Cleaned();
  std::remove(cleaned_.c_str());
  EXPECT_EQ(RunOnSource(true), JobOutcome::CleanedCopyKept);
  const fixture::WrittenArchive best = Cleaned();
  ASSERT_EQ(best.records.size(), 3u);
  for (const auto& r : best.records) {
    EXPECT_LE(r.compressedSize, plain.Find(r.name)->compressedSize) << r.name;
  }
  const Bytes packed = fixture::StoredBlock(cleanedBytes_, *best.Find("b.txt"));
  ASSERT_GE(packed.size(), 2u);
  EXPECT_EQ(packed[1], 0xDA);
}

TEST_F(JobTest, ExistingCleanedCopyIsKeptOnNoAndReplacedOnYes) {
  const Bytes mine = fixture::ToBytes("my own file");
  ASSERT_TRUE(fixture::WriteBytesToFile(cleaned_, mine));
  fixture::ArchiveSpec spec;
  spec.entries = {fixture::Entry("a.txt", fixture::MakeContent(5000, 1), fixture::Storage::Stored)};
  host_.QueueAnswers({false});
  EXPECT_EQ(Run(spec), JobOutcome::OverwriteDeclined);
  Bytes now;
  ASSERT_TRUE(fixture::ReadBytesFromFile(cleaned_, &now));
  EXPECT_EQ(now, mine);
  EXPECT_EQ(host_.Count(HostCall::kShowReport), 0u);
  EXPECT_EQ(host_.Count(HostCall::kShowError), 0u);
  EXPECT_EQ(host_.Texts(HostCall::kAskYesNo).at(0),
            "There already seems to be slim version of this archive around. Do you want to "
            "discard it?");

  host_.QueueAnswers({true});
  EXPECT_EQ(RunOnSource(), JobOutcome::CleanedCopyKept);
  Cleaned();
  EXPECT_NE(cleanedBytes_, mine);
}

TEST_F(JobTest, StopRequestEndsThePassSilentlyAndDeletesTheCopy) {
  fixture::ArchiveSpec spec;
  for (char c = '0'; c < 'z'; ++c) {
    const std::string name = std::string("f") + c + ".txt";
    spec.entries.push_back(
        fixture::Entry(name, fixture::MakeContent(30000, static_cast<uint32_t>(c)), fixture::Storage::Stored));
  }
  // Workers hold entries in flight when the stop comes (the pool's count of
  // live blocks is checked after the test).
  threads_ = 4;
  host_.RequestStopAtCheck(40);
  EXPECT_EQ(Run(spec), JobOutcome::PassFailed);
  EXPECT_FALSE(Exists(cleaned_));
  EXPECT_TRUE(PartialFilesBeside(cleaned_).empty());
  EXPECT_TRUE(host_.Texts(HostCall::kShowError).empty());
  EXPECT_EQ(host_.Count(HostCall::kShowReport), 0u);
}

TEST_F(JobTest, WindowStateFollowsTheJob) {
  fixture::ArchiveSpec spec;
  spec.entries = {fixture::Entry("a.txt", "x"), fixture::Entry("b.txt", "y"),
                  fixture::Entry("c.txt", "z")};
  Run(spec);
  EXPECT_EQ(host_.Texts(HostCall::kSetStatusText),
            (std::vector<std::string>{"Preparing...", "Consolidating...", "Finalizing...", ""}));
  EXPECT_EQ(host_.Values(HostCall::kSetProgress),
            (std::vector<uint32_t>{0, 33, 66, 100, 100, 0}));
  EXPECT_EQ(host_.Values(HostCall::kSetDropAcceptance), (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(host_.Count(HostCall::kReleaseDrop), 1u);
  EXPECT_EQ(host_.Calls().back().kind, HostCall::kSetDropAcceptance);
}

}  // namespace
