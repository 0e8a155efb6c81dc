// What the job's copy holds: entries that decode in the source decode in the
// copy, hostile sizes cost no memory, equal checksums cost no quadratic time,
// and a copy that does not read back is removed.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "engine/consolidation_job.h"
#include "engine/content_index.h"
#include "engine/copy_verification.h"
#include "engine/entry_pass.h"
#include "support/pool.h"
#include "tests/e2e/leftovers.h"
#include "tests/engine/recording_host.h"
#include "tests/fixtures/archive_builder.h"

namespace {

using fixture::Bytes;
using fixture::Storage;

uint32_t Crc(const Bytes& b) {
  return static_cast<uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size())));
}

// Appends four bytes that give the whole the CRC-32 `target`.
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
  uint32_t state = ~Crc(data);
  for (int k = 0; k < 4; ++k) {
    data.push_back(static_cast<uint8_t>((state ^ index[k]) & 0xFF));
    state = (state >> 8) ^ table[index[k]];
  }
  return data;
}

class FaithfulCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = fixture::TempPath("slimwick-faithful") + ".grf";
    cleaned_ = source_.substr(0, source_.size() - 4) + "-cleaned.grf";
    live_ = GetPoolCounters().liveBlocks;
  }
  void TearDown() override {
    std::remove(source_.c_str());
    std::remove(cleaned_.c_str());
    EXPECT_EQ(GetPoolCounters().liveBlocks, live_) << "pool blocks leaked";
  }
  JobOutcome Run(const fixture::ArchiveSpec& spec) {
    built_ = fixture::BuildArchive(spec);
    EXPECT_TRUE(fixture::WriteBytesToFile(source_, built_.bytes));
    std::remove(cleaned_.c_str());
    ConsolidationJob* job = CreateConsolidationJob(host_.get(), source_.c_str(), false, nullptr);
    return ExecuteConsolidationJob(job);
  }
  // Every expected entry of the source reads back from the copy unchanged.
  void ExpectCopyReadsLikeSource() {
    GrfArchive* copy = nullptr;
    ASSERT_TRUE(GrfOpen(cleaned_.c_str(), GRF_OPEN_READ_ONLY, nullptr, &copy));
    for (const fixture::ExpectedEntry& e : built_.expected) {
      Bytes back(e.content.size() + 1);
      uint32_t size = 0;
      EXPECT_TRUE(GrfReadEntry(copy, e.name.c_str(), back.data(),
                               static_cast<uint32_t>(back.size()), &size))
          << e.name;
      back.resize(size);
      EXPECT_EQ(back, e.content) << e.name;
    }
    GrfClose(&copy);
  }
  bool CleanedExists() const {
    FILE* f = std::fopen(cleaned_.c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
  }
  std::string Report() const {
    const auto texts = host_->Texts(HostCall::kShowReport);
    return texts.empty() ? std::string() : texts[0];
  }

  std::unique_ptr<RecordingHost> host_ = std::make_unique<RecordingHost>();
  std::string source_, cleaned_;
  fixture::BuiltArchive built_;
  uint32_t live_ = 0;
};

// An enciphered zlib entry whose record understates (or overstates past its
// block) the length of its stream, keeping the cipher cycle.
fixture::EntrySpec Misrecorded(std::string name, uint32_t seed, int32_t delta,
                               fixture::Cipher cipher) {
  Bytes content = fixture::MakeContent(900, seed, false);
  const uint32_t stream = static_cast<uint32_t>(fixture::ZlibCompress(content).size());
  fixture::EntrySpec e = fixture::Entry(std::move(name), content, Storage::Zlib, cipher);
  e.compressedSize = stream + delta;
  // The cipher cycle follows the decimal digits of the recorded size.
  EXPECT_EQ(std::to_string(stream).size(), std::to_string(*e.compressedSize).size());
  return e;
}

TEST_F(FaithfulCopy, EnciphericEntriesKeepTheirWholeStreamInEveryVersion) {
  const Bytes big = fixture::MakeContent(30000, 4);
  for (uint32_t version : {0x100u, 0x101u, 0x102u, 0x103u, 0x200u}) {
    SCOPED_TRACE(version);
    fixture::ArchiveSpec spec;
    spec.version = version;
    // 0x1xx archives take the cipher from the extension: .txt mixed, .gnd header.
    spec.entries = {Misrecorded("short.txt", 1, -7, fixture::Cipher::Mixed),
                    fixture::Link("short-link.txt", 0),
                    Misrecorded("long.gnd", 2, +40, fixture::Cipher::Header),
                    fixture::Entry("same-as-short.txt", fixture::MakeContent(900, 1, false)),
                    fixture::Entry("big1.bin", big, Storage::Stored),
                    fixture::Entry("big2.bin", big, Storage::Stored)};
    fixture::EntrySpec empty = fixture::Entry("void.txt", "");
    empty.alignedSize = 16;
    empty.compressedSize = 10;
    empty.offset = 1ull << 30;  // far past the end of the file
    spec.entries.push_back(empty);
    host_ = std::make_unique<RecordingHost>();
    ASSERT_EQ(Run(spec), JobOutcome::CleanedCopyKept) << Report();
    EXPECT_NE(Report().find("and 0 could not be read"), std::string::npos) << Report();
    EXPECT_EQ(host_->Count(HostCall::kShowError), 0u);
    ExpectCopyReadsLikeSource();
  }
}

TEST_F(FaithfulCopy, HugeDeclaredSizesCostNoMemory) {
  const Bytes big = fixture::MakeContent(30000, 4);
  struct Case {
    uint32_t version;
    Storage compressed;
  };
  for (const Case c : {Case{0x200, Storage::Zlib}, Case{0x12, Storage::Lzss}}) {
    SCOPED_TRACE(c.version);
    fixture::ArchiveSpec spec;
    spec.version = c.version;
    if (c.version == 0x12) spec.header = fixture::HeaderKind::Tail;
    fixture::EntrySpec packed = fixture::Entry("huge.bin", fixture::MakeContent(500, 1), c.compressed);
    packed.realSize = 0xF0000000u;
    fixture::EntrySpec stored = fixture::Entry("huge.raw", fixture::MakeContent(500, 2), Storage::Stored);
    stored.realSize = 0x80000000u;
    spec.entries = {packed, stored, fixture::Entry("big1.bin", big, Storage::Stored),
                    fixture::Entry("big2.bin", big, Storage::Stored)};
    host_ = std::make_unique<RecordingHost>();
    const uint32_t peakBefore = GetPoolCounters().peakLiveBytes;
    EXPECT_EQ(Run(spec), JobOutcome::CleanedCopyKept);
    EXPECT_EQ(host_->Count(HostCall::kShowError), 0u);
    EXPECT_NE(Report().find("2 could not be read"), std::string::npos) << Report();
    EXPECT_LT(GetPoolCounters().peakLiveBytes, std::max<uint32_t>(peakBefore, 16u << 20));
  }
}

TEST_F(FaithfulCopy, AFloodOfEqualChecksumsIsNotComparedPairwise) {
  constexpr uint32_t kCount = 3000;
  fixture::ArchiveSpec spec;
  for (uint32_t i = 0; i < kCount; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%u.bin", i);
    spec.entries.push_back(fixture::Entry(name,
                                          ForceCrc(fixture::MakeContent(60, i, false), 0x5EED5EED),
                                          Storage::Stored));
  }
  spec.entries.push_back(fixture::Entry("again.bin", spec.entries[7].content, Storage::Stored));
  ASSERT_EQ(Crc(spec.entries[kCount - 1].content), Crc(spec.entries[0].content));
  ASSERT_NE(spec.entries[kCount - 1].content, spec.entries[0].content);
  built_ = fixture::BuildArchive(spec);
  ASSERT_TRUE(fixture::WriteBytesToFile(source_, built_.bytes));

  GrfArchive* source = nullptr;
  GrfArchive* destination = nullptr;
  ASSERT_TRUE(OpenSourceArchive(source_.c_str(), &source));
  ASSERT_TRUE(GrfOpen(cleaned_.c_str(), 0, nullptr, &destination));
  ConsolidationJob* job = CreateConsolidationJob(host_.get(), source_.c_str(), false, nullptr);
  std::unique_ptr<CopyExpectations> expectations = CopyExpectations::Create();
  PassLedger ledger{expectations.get()};
  EXPECT_TRUE(ConsolidateEntries(destination, source, nullptr, nullptr, job, &ledger));
  EXPECT_EQ(job->linkedCount, 1u);
  EXPECT_EQ(ledger.candidateComparisons, 1u);  // only the true duplicate is proven
  EXPECT_EQ(expectations->Count(), kCount + 1);
  ASSERT_TRUE(GrfFinalize(destination));
  EXPECT_TRUE(VerifyCopy(cleaned_.c_str(), *expectations));
  job->~ConsolidationJob();
  PoolFree(job);
  GrfClose(&destination);
  GrfClose(&source);
}

TEST_F(FaithfulCopy, VerificationComparesEveryNameSizeAndChecksum) {
  fixture::ArchiveSpec spec;
  spec.entries = {fixture::Entry("a.txt", fixture::MakeContent(700, 1)),
                  fixture::Entry("b.txt", fixture::MakeContent(300, 2), Storage::Stored),
                  fixture::Entry("e.txt", "")};
  built_ = fixture::BuildArchive(spec);
  ASSERT_TRUE(fixture::WriteBytesToFile(source_, built_.bytes));
  auto expect = [&](auto change) {
    std::unique_ptr<CopyExpectations> all = CopyExpectations::Create();
    for (const auto& e : built_.expected)
      all->Expect(e.name.c_str(), CopyExpectation{e.realSize, Crc(e.content), 0, false});
    change(*all);
    return VerifyCopy(source_.c_str(), *all);
  };
  EXPECT_TRUE(expect([](CopyExpectations&) {}));
  EXPECT_FALSE(expect([](CopyExpectations& x) { x.Expect("extra.txt", {1, 0, 0, false}); }));
  EXPECT_FALSE(expect([&](CopyExpectations& x) {
    x.Expect("a.txt", {700, Crc(built_.expected[0].content) ^ 1, 0, false});
  }));
  EXPECT_FALSE(expect([](CopyExpectations& x) { x.Expect("b.txt", {301, 0, 0, false}); }));
  EXPECT_FALSE(expect([&](CopyExpectations& x) {
    x.Expect("a.txt", {700, 0, built_.expected[0].compressedSize, true});  // raw bytes differ
  }));
  EXPECT_FALSE(VerifyCopy((source_ + ".missing").c_str(), *CopyExpectations::Create()));
}

TEST_F(FaithfulCopy, ACopyThatDoesNotReadBackIsRemoved) {
#ifdef _WIN32
  GTEST_SKIP() << "the writer shares the copy for reading only";
#endif
  fixture::ArchiveSpec spec;
  const Bytes big = fixture::MakeContent(20000, 3, false);
  spec.entries = {fixture::Entry("a.bin", big, Storage::Stored),
                  fixture::Entry("b.bin", big, Storage::Stored)};
  // The blocks are all written when finalizing starts: spoil the first one.
  host_->onCall = [&](const HostCall& call) {
    if (call.kind != HostCall::kSetStatusText || call.text != "Finalizing...") return;
    const auto partial = PartialFilesBeside(cleaned_);
    ASSERT_EQ(partial.size(), 1u);
    const std::string written =
        (std::filesystem::path(cleaned_).parent_path() / partial[0]).string();
    FILE* f = std::fopen(written.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 54 + 4000, SEEK_SET);
    const int byte = std::fgetc(f);
    std::fseek(f, 54 + 4000, SEEK_SET);
    std::fputc(byte ^ 0x5A, f);
    std::fclose(f);
  };
  EXPECT_EQ(Run(spec), JobOutcome::VerificationFailed);
  EXPECT_EQ(host_->Texts(HostCall::kShowError),
            std::vector<std::string>{"The slim copy did not read back as it was written, so it "
                                     "was removed. Your archive is untouched."});
  EXPECT_EQ(host_->Count(HostCall::kShowReport), 0u);
  EXPECT_FALSE(CleanedExists());
}

}  // namespace

TEST(ContentDigest, IsSipHash24) {
  const DigestKey key{0x0706050403020100ull, 0x0F0E0D0C0B0A0908ull};
  uint8_t message[15];
  for (uint8_t i = 0; i < 15; ++i) message[i] = i;
  const std::pair<size_t, uint64_t> vectors[] = {
      {0, 0x726FDB47DD0E0E31ull}, {8, 0x93F5F5799A932462ull}, {15, 0xA129CA6149BE45E5ull}};
  for (const auto& [length, digest] : vectors) EXPECT_EQ(ContentDigest(key, message, length), digest) << length;
}
