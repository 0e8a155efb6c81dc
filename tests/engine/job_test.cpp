// The consolidation job: what is linked, copied or unreadable, what the copy holds, what is left.

#include <gtest/gtest.h>
#include <zlib.h>
#include <fstream>
#include <set>
#include "engine/content_index.h"
#include "engine/copy_verification.h"
#include "engine/format.h"
#include "fake_clock.h"
#include "tests/e2e/e2e_util.h"
#include "tests/fixtures/test_codec.h"

namespace {
using fixture::Bytes;
using fixture::Entry;
using fixture::Storage;
uint32_t Crc(const Bytes& b) { return static_cast<uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size()))); }

// `data` with four bytes appended that give the whole the CRC-32 `target`.
Bytes ForceCrc(Bytes data, uint32_t target) {
  uint32_t table[256], c;
  for (uint32_t n = 0; n < 256; table[n++] = c)
    for (int k = (c = n, 0); k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  uint8_t index[4];
  for (uint32_t k = 4, s = ~target; k-- > 0; s = (s ^ table[index[k]]) << 8)
    for (index[k] = 0; (table[index[k]] >> 24) != (s >> 24);) ++index[k];
  for (uint32_t k = 0, state = ~Crc(data); k < 4; state = (state >> 8) ^ table[index[k++]])
    data.push_back(static_cast<uint8_t>((state ^ index[k]) & 0xFF));
  return data;
}
// An entry in the test codec's format: unreadable without its library.
fixture::EntrySpec CodecEntry(std::string name, const Bytes& plain) {
  fixture::EntrySpec e = Entry(std::move(name), fixture::XorZlibCompress(plain), Storage::Stored);
  e.flagByte = ENTRY_COMPRESSED;
  e.realSize = static_cast<uint32_t>(plain.size());
  return e;
}

class JobTest : public ::testing::Test {
 protected:
  void TearDown() override {
    std::remove(source_.c_str());
    std::remove(cleaned_.c_str());
  }
  JobOutcome Run(const fixture::ArchiveSpec& spec, bool best = false, uint32_t threads = 0) {
    built_ = fixture::BuildArchive(spec);
    EXPECT_TRUE(fixture::WriteBytesToFile(source_, built_.bytes));
    return RunJob(host_.get(), source_, best, threads, codec_);
  }
  fixture::WrittenArchive Cleaned() {
    EXPECT_TRUE(fixture::ReadBytesFromFile(cleaned_, &cleanedBytes_));
    return fixture::ParseWrittenArchive(cleanedBytes_);
  }
  std::string Report() const { return host_->Texts(HostCall::kShowReport).back(); }
  std::string source_ = fixture::TempPath("slimwick-job") + ".grf";
  std::string cleaned_ = source_.substr(0, source_.size() - 4) + "-cleaned.grf";
  std::string codec_;  // the codec library of the jobs, or none
  std::unique_ptr<RecordingHost> host_ = std::make_unique<RecordingHost>();
  fixture::BuiltArchive built_;
  Bytes cleanedBytes_;
};

TEST_F(JobTest, LinksOnlyProvenDuplicatesWithinTheirExtensionClass) {
  const Bytes same = fixture::MakeContent(3000, 1), first = fixture::MakeContent(60, 11, false);
  const Bytes collision = ForceCrc(fixture::MakeContent(56, 12, false), Crc(first));
  ASSERT_TRUE(Crc(collision) == Crc(first) && collision != first);
  const Bytes odd = fixture::MakeContent(2000, 5);
  // Under a zero key NH multiplies paired words (a lone last one meets padding): equal products, CRCs evened out.
  const Bytes kA = ForceCrc({2, 0, 0, 0, 6, 0, 0, 0}, 5), kB = ForceCrc({6, 0, 0, 0, 2, 0, 0, 0}, 5), kC = ForceCrc({3, 0, 0, 0, 4, 0, 0, 0}, 5);
  const DigestKey zero{};
  SetRunDigestKeyForTest(&zero);
  struct Row {
    fixture::EntrySpec entry;
    const char* linksTo;  // null: a block of its own
  } rows[] = {
      {Entry("a.txt", same, Storage::Stored), nullptr},
      {Entry("b.txt", same), "a.txt"},
      {Entry("c.gnd", same), nullptr},  // .gnd .gat .act .str link only among themselves
      {Entry("d.GAT", same), "c.gnd"},
      {Entry("e.act", same), "c.gnd"},
      {Entry("f.str", same), "c.gnd"},
      {Entry("g.acts", same), "a.txt"},
      {Entry("one.bin", first), nullptr},
      {Entry("two.bin", collision), nullptr},  // same size and checksum, other bytes
      {Entry("three.bin", collision), "two.bin"},
      {Entry("s1.bin", first, Storage::Stored), "one.bin"},  // stored: the blocks collide too
      {Entry("s2.bin", collision, Storage::Stored), "two.bin"},
      {Entry("e1.txt", ""), nullptr},  // empty entries are copied, never linked
      {Entry("e2.txt", ""), nullptr},
      {CodecEntry("odd1.bin", odd), nullptr},  // unreadable: copied as they are, counted
      {CodecEntry("odd2.bin", odd), nullptr},
      {Entry("k1.bin", kA), nullptr}, {Entry("k2.bin", kB, Storage::Stored), nullptr},  // told apart from the remembered k1
      {Entry("k3.bin", kB), "k2.bin"}, {Entry("k4.bin", kA, Storage::Stored), "k1.bin"}, {Entry("k5.bin", kC, Storage::Stored), nullptr},
  };
  fixture::ArchiveSpec spec;
  for (const Row& row : rows) spec.entries.push_back(row.entry);
  FakeClock clock;  // three minutes go by while it finalizes
  host_->onCall = [&clock](const HostCall& call) { if (call.text == "Finalizing...") clock.Advance(180000); };
  EXPECT_EQ(Run(spec, false, 1), JobOutcome::CleanedCopyKept);  // one thread: each entry meets the ones before it decoded
  SetRunDigestKeyForTest(nullptr);
  EXPECT_EQ(host_->Values(HostCall::kSetProgress).front(), 0u) << "the bar starts at 0";
  EXPECT_NE(Report().find("in just 3 minutes!"), std::string::npos) << Report();
  EXPECT_NE(Report().find("10 entries were replaced with links and 2 could not be read"), std::string::npos);
  ExpectBytes(source_, built_.bytes);
  const fixture::WrittenArchive a = Cleaned();
  ASSERT_TRUE(a.ok);
  ASSERT_EQ(a.records.size(), std::size(rows));
  std::set<uint64_t> own;  // entries with a block of their own: all apart
  for (const Row& row : rows) {
    const auto* r = a.Find(row.entry.name);
    ASSERT_TRUE(r) << row.entry.name;
    if (row.linksTo) EXPECT_EQ(r->offset, a.Find(row.linksTo)->offset) << row.entry.name;
    else EXPECT_TRUE(r->realSize ? own.insert(r->offset).second : r->offset == 0 && r->alignedSize == 0) << row.entry.name;
  }
  const Bytes block = fixture::StoredBlock(cleanedBytes_, *a.Find("odd1.bin"));
  EXPECT_EQ(Bytes(block.begin(), block.begin() + a.Find("odd1.bin")->compressedSize), fixture::XorZlibCompress(odd));
}

TEST_F(JobTest, WithTheCodecLibraryTheSameEntriesAreReadAndLinked) {
  fixture::TestCodecLibrary probe(fixture::CodecVariant::CompressAndUncompress);
  if (!probe.loaded()) GTEST_SKIP() << "test codec library not built: " << probe.path();
  codec_ = probe.path();
  const Bytes plain = fixture::MakeContent(2000, 5), noise = fixture::MakeContent(2000, 6, false);
  fixture::ArchiveSpec spec;
  spec.entries = {CodecEntry("odd1.bin", plain), CodecEntry("odd2.bin", plain), CodecEntry("noise.bin", noise)};
  spec.tableCodec = fixture::TableCodec::XorZlib;
  for (const bool best : {false, true}) {
    std::remove(cleaned_.c_str());
    EXPECT_EQ(Run(spec, best), JobOutcome::CleanedCopyKept);
    const fixture::WrittenArchive a = Cleaned();
    EXPECT_TRUE(a.records.size() == 3 && a.Find("odd1.bin")->offset == a.Find("odd2.bin")->offset);
  }
  // The copy's table promises the built-in codec: at the best level no stream of the library's is carried.
  EXPECT_EQ(grftest::ReadAll(cleaned_), (grftest::Contents{{"odd1.bin", plain}, {"odd2.bin", plain}, {"noise.bin", noise}}));
  // The library (not thread-safe) is called by one thread at a time: workers decode its entries
  // while an entry too big to be remembered is proven against its candidate, decoded again.
  spec.entries.clear();
  for (uint32_t i = 0; i < 8; ++i) {
    const Bytes big = fixture::MakeContent(1500000, i);
    spec.entries.push_back(CodecEntry(std::to_string(i) + ".c", big));
    spec.entries.push_back(Entry(std::to_string(i) + ".z", big, Storage::Stored));
  }
  std::remove(cleaned_.c_str());
  EXPECT_EQ(Run(spec, false, 4), JobOutcome::CleanedCopyKept);
  EXPECT_NE(Report().find("8 entries were replaced with links and 0 could not be read"), std::string::npos) << Report();
}

TEST_F(JobTest, VerificationComparesEveryNameSizeAndChecksum) {
  fixture::ArchiveSpec spec;
  spec.entries = {Entry("a.txt", fixture::MakeContent(700, 1)), Entry("b.txt", fixture::MakeContent(300, 2), Storage::Stored), Entry("e.txt", ""),
                  fixture::Link("a-link.txt", 0), Entry("d1.bin", fixture::MakeContent(300, 9), Storage::Stored),
                  Entry("d2.bin", fixture::MakeContent(300, 9), Storage::Stored)};  // equal records but for the offset
  ASSERT_TRUE(fixture::WriteBytesToFile(source_, (built_ = fixture::BuildArchive(spec)).bytes));
  const fixture::ExpectedEntry& a = built_.expected[0];
  const uint32_t crcA = Crc(a.content);
  const uint32_t rawA = Crc(Bytes(built_.bytes.begin() + a.offset, built_.bytes.begin() + a.offset + a.compressedSize));
  const struct { const char* name; CopyExpectation change; bool ok; } rows[] = {
      {nullptr, {}, true},
      {"a.txt", {700, rawA, a.compressedSize, true, a.flags}, true},  // checked by its stored bytes
      {"extra.txt", {1, 0, 0, false, 0}, false},
      {"a.txt", {700, crcA ^ 1, 0, false, 0}, false},
      {"a-link.txt", {700, crcA ^ 1, 0, false, 0}, false},  // a block shared by names is checked for each
      {"b.txt", {301, Crc(built_.expected[1].content), 0, false, 0}, false},
      {"a.txt", {700, crcA, a.compressedSize, true, a.flags}, false},  // raw bytes differ
      {"a.txt", {700, rawA, a.compressedSize - 1, true, a.flags}, false},
      {"a.txt", {700, rawA, a.compressedSize, true, static_cast<uint8_t>(a.flags ^ ENTRY_COMPRESSED)}, false},
  };
  for (const auto& row : rows) {
    std::unique_ptr<CopyExpectations> all = CopyExpectations::Create();
    for (const auto& e : built_.expected) all->Expect(e.name.c_str(), {e.realSize, Crc(e.content), 0, false, 0});
    EXPECT_TRUE(!row.name || all->Expect(row.name, row.change));  // a name seen before takes the new expectation
    for (const uint32_t threads : {1u, 3u}) EXPECT_EQ(VerifyCopy(source_.c_str(), *all, threads), row.ok) << row.name;
  }
  Bytes spoiled = built_.bytes;  // the block after an equal one is read, not taken as checked
  spoiled[built_.Find("d2.bin")->offset + 5] ^= 1;
  ASSERT_TRUE(fixture::WriteBytesToFile(source_, spoiled));
  std::unique_ptr<CopyExpectations> all = CopyExpectations::Create();
  for (const auto& e : built_.expected) all->Expect(e.name.c_str(), {e.realSize, Crc(e.content), 0, false, 0});
  for (const uint32_t threads : {1u, 3u}) EXPECT_FALSE(VerifyCopy(source_.c_str(), *all, threads)) << threads;
  EXPECT_FALSE(VerifyCopy((source_ + ".missing").c_str(), *CopyExpectations::Create()) ||
               VerifyCopy(source_.c_str(), *CopyExpectations::Create()));  // nothing expected
  all = CopyExpectations::Create();  // grown past its first table, with no reservation
  for (uint32_t i = 0; i < 100; ++i) all->Expect(std::to_string(i).c_str(), {i, 0, 0, false, 0});
  for (uint32_t i = 0; i < 100; ++i) EXPECT_TRUE(all->Find(std::to_string(i)) && all->Find(std::to_string(i))->realSize == i) << i;
}

TEST_F(JobTest, ACopyThatDoesNotReadBackIsRemoved) {
#ifdef _WIN32
  GTEST_SKIP() << "the writer shares the copy for reading only";
#endif
  const Bytes big = fixture::MakeContent(20000, 3, false);
  fixture::ArchiveSpec spec;
  spec.entries = {Entry("a.bin", big, Storage::Stored), Entry("b.bin", big, Storage::Stored)};
  host_->onCall = [&](const HostCall& call) {  // spoil a written block before the table
    const auto partial = PartialFilesBeside(cleaned_);
    if (call.text != "Finalizing..." || partial.size() != 1) return;
    std::fstream f(std::filesystem::path(cleaned_).parent_path() / partial[0], std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(54 + 4000).put(static_cast<char>(0x5A ^ big[4000]));
  };
  EXPECT_EQ(Run(spec), JobOutcome::VerificationFailed);
  EXPECT_EQ(host_->Texts(HostCall::kShowError), std::vector<std::string>{"The slim copy did not read back as it "
                                                 "was written, so it was removed. Your archive is untouched."});
  EXPECT_EQ(host_->Count(HostCall::kShowReport), 0u);
  EXPECT_FALSE(std::filesystem::exists(cleaned_));
}

TEST(DestinationName, ExtensionFromTheFileNameAndTooLongRefused) {
  const struct { std::string source, cleaned; } rows[] = {
      {"x.y/archive", "x.y/archive-cleaned.grf"},
      {"x.y/a.b.grf", "x.y/a.b-cleaned.grf"},
      {"dir/.hidden", "dir/-cleaned.hidden"},
      // With "-cleaned" it must stay below the path limit; a temporary name then fits too.
      {std::string(kPathCapacity - 12, 'x') + ".grf", ""},
      {std::string(100, 'd') + "/" + std::string(kPathCapacity - 114, 'x') + ".grf",
       std::string(100, 'd') + "/" + std::string(kPathCapacity - 114, 'x') + "-cleaned.grf"},
      {std::string(kPathCapacity - 12, 'x'), ""},
      {std::string(kPathCapacity - 1, 'x'), ""},
  };
  char name[kPathCapacity];
  for (const auto& row : rows) {
    EXPECT_EQ(BuildDestinationName(row.source.c_str(), name, sizeof name), !row.cleaned.empty()) << row.source;
    EXPECT_EQ(name, row.cleaned);
  }
  const std::string sep(1, static_cast<char>(std::filesystem::path::preferred_separator));
  const std::string deep(kPathCapacity - 15, 'd');
  const struct { std::string source, folder, cleaned; } in[] = {
      {"x.y/a.b.grf", "out", "out" + sep + "a.b-cleaned.grf"},
      {"archive", "out/", "out/archive-cleaned.grf"},
      {"x/a.grf", "", "a-cleaned.grf"},
      {"a", deep, deep + sep + "a-cleaned.grf"},
      {"ab", deep, ""},
  };
  for (const auto& row : in) {
    EXPECT_EQ(BuildDestinationNameIn(row.source.c_str(), row.folder.c_str(), name, sizeof name), !row.cleaned.empty());
    EXPECT_EQ(name, row.cleaned) << row.source;
  }
  // The temporary name: no longer than the cleaned name's file part where the whole would be too long.
  const std::string folder = std::string(kPathCapacity - 17, 'd') + sep;
  const struct { std::string cleaned, prefix; } temporary[] = {
      {"x/a-cleaned.grf", "x/a-cleaned.grf."},
      {folder + "b\xC7\xD1-cleaned.grf", folder + "b"},  // not within a character
      {std::string("/").append(250, 'y'), std::string("/").append(242, 'y')},  // nor past a file name's limit
      {std::string(kPathCapacity - 13, 'd') + sep + "a", ""},
  };
  for (const auto& row : temporary) {
    EXPECT_EQ(BuildTemporaryPrefix(row.cleaned.c_str(), name, sizeof name), !row.prefix.empty()) << row.cleaned;
    if (!row.prefix.empty()) { EXPECT_EQ(name, row.prefix); }
  }
}
}  // namespace
