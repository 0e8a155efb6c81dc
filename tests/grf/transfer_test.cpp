// Put, copy and link: block layout, replacement, refusals, the change gate of
// old archives, the compress hook contract and the copy's own rules.

#include <zlib.h>

#include <string>
#include <vector>

#include "grf/transfer.h"
#include "tests/grf/test_stream.h"
#include "tests/grf/grf_test_util.h"

namespace {

using fixture::Bytes;
using fixture::HeaderKind;
using fixture::Storage;
using grftest::TempFile;

using grftest::Archive;
using grftest::OpenWritable;

Archive CreateNew(const TempFile& file, uint32_t flags = GRF_OPEN_NO_SEED) {
  Archive r;
  r.a = grftest::CreateArchive(file.path(), flags);
  EXPECT_NE(r.a, nullptr);
  return r;
}

fixture::BuiltArchive WriteFixture(const TempFile& file, const fixture::ArchiveSpec& spec) {
  fixture::BuiltArchive built = fixture::BuildArchive(spec);
  EXPECT_TRUE(file.Write(built.bytes));
  return built;
}

TEST(Put, BlocksArePaddedToEightAndEmptyDataWritesNothing) {
  TempFile file("put-layout");
  {
    Archive ar = CreateNew(file);
    const Bytes data = fixture::MakeContent(13, 1);
    ASSERT_TRUE(GrfPutCompressed(ar.a, "thirteen.bin", data.data(), 13, 40));
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_S_OK);
    const GrfEntry* e = grftest::Record(ar.a, "thirteen.bin");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->compressedSize, 13u);
    EXPECT_EQ(e->alignedSize, 16u);
    EXPECT_EQ(e->realSize, 40u);
    EXPECT_EQ(e->offset, 54u);
    EXPECT_EQ(e->flags, ENTRY_COMPRESSED);
    Bytes bytes = file.Read();
    ASSERT_EQ(bytes.size(), 70u);
    EXPECT_TRUE(grftest::Slice(bytes, 54, 13) == data);
    EXPECT_TRUE(grftest::Slice(bytes, 67, 3) == Bytes(3, 0));

    // Nothing to store: no block, offset 0.
    ASSERT_TRUE(GrfPutCompressed(ar.a, "nothing", nullptr, 0, 0));
    e = grftest::Record(ar.a, "nothing");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->offset, 0u);
    EXPECT_EQ(e->alignedSize, 0u);
    EXPECT_EQ(file.Read().size(), 70u);
    ASSERT_TRUE(GrfPutData(ar.a, "empty too", "ignored", 0));
    EXPECT_EQ(grftest::Record(ar.a, "empty too")->flags, 0);
    EXPECT_EQ(file.Read().size(), 70u);

    // Real size 0: stored as it is, the real size is the stored size.
    ASSERT_TRUE(GrfPutCompressed(ar.a, "plain.txt", "plain text", 10, 0));
    e = grftest::Record(ar.a, "plain.txt");
    EXPECT_EQ(e->flags, 0);
    EXPECT_EQ(e->realSize, 10u);
    EXPECT_EQ(e->offset, 70u);  // right behind the previous padded block
    bool ok = false;
    EXPECT_TRUE(grftest::ReadWhole(ar.a, "plain.txt", &ok) == fixture::ToBytes("plain text"));
    EXPECT_TRUE(ok);

    // Changes do not move the recorded file size before a finalize.
    EXPECT_EQ(GrfGetFileSize(ar.a), 54u);
    EXPECT_TRUE(ar.a->flags & GRF_STATE_DIRTY);
  }
}

TEST(Put, SameNameInAnyCaseReplacesButLinksKeepTheOldBlock) {
  TempFile file("put-replace");
  Archive ar = CreateNew(file);
  ASSERT_TRUE(GrfPutData(ar.a, "Data\\Old.txt", "first version", 13));
  ASSERT_TRUE(GrfLinkEntry(ar.a, "Data\\Old.txt", "link.txt"));
  const uint64_t oldOffset = grftest::Record(ar.a, "link.txt")->offset;
  ASSERT_TRUE(GrfPutData(ar.a, "data\\OLD.TXT", "second", 6));
  EXPECT_EQ(grftest::ListEntries(ar.a).size(), 2u);
  const GrfEntry* e = grftest::Record(ar.a, "data\\old.txt");
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->name, "data\\OLD.TXT");  // the new spelling
  EXPECT_NE(e->offset, oldOffset);
  bool ok = false;
  EXPECT_TRUE(grftest::ReadWhole(ar.a, "Data\\Old.txt", &ok) == fixture::ToBytes("second"));
  EXPECT_TRUE(grftest::ReadWhole(ar.a, "link.txt", &ok) == fixture::ToBytes("first version"));
  EXPECT_EQ(grftest::Record(ar.a, "link.txt")->offset, oldOffset);
}

TEST(Link, SharesTheFiveValuesAndWritesNothing) {
  TempFile file("link");
  {
    Archive ar = CreateNew(file);
    const Bytes content = fixture::MakeContent(500, 3);
    ASSERT_TRUE(GrfPutData(ar.a, "target.bmp", content.data(), 500));
    const uint64_t size = file.Read().size();
    ar.a->lastStatus = 0x12345678;  // success leaves the status alone
    ASSERT_TRUE(GrfLinkEntry(ar.a, "TARGET.BMP", "copy\\one.bmp"));
    EXPECT_EQ(GrfGetLastStatus(ar.a), 0x12345678u);
    ASSERT_TRUE(GrfLinkEntry(ar.a, "copy\\one.bmp", "copy\\two.bmp"));
    EXPECT_EQ(file.Read().size(), size);
    const GrfEntry* t = grftest::Record(ar.a, "target.bmp");
    for (const char* name : {"copy\\one.bmp", "copy\\two.bmp"}) {
      const GrfEntry* l = grftest::Record(ar.a, name);
      ASSERT_NE(l, nullptr);
      EXPECT_EQ(l->compressedSize, t->compressedSize);
      EXPECT_EQ(l->alignedSize, t->alignedSize);
      EXPECT_EQ(l->realSize, t->realSize);
      EXPECT_EQ(l->offset, t->offset);
      EXPECT_EQ(l->flags, t->flags);
    }
    // A link to itself is an equal copy.
    ASSERT_TRUE(GrfLinkEntry(ar.a, "target.bmp", "Target.BMP"));
    EXPECT_EQ(grftest::ListEntries(ar.a).size(), 3u);
    EXPECT_STREQ(grftest::Record(ar.a, "target.bmp")->name, "Target.BMP");
    bool ok = false;
    EXPECT_TRUE(grftest::ReadWhole(ar.a, "target.bmp", &ok) == content);

    EXPECT_FALSE(GrfLinkEntry(ar.a, "missing", "new"));
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_E_NOT_FOUND);
    EXPECT_EQ(grftest::Record(ar.a, "new"), nullptr);
  }
}

TEST(Change, NameLimitOnlyWithTheOpenFlag) {
  TempFile file("names");
  const std::string name251(251, 'n');
  const std::string name252(252, 'n');
  {
    Archive ar = CreateNew(file, GRF_OPEN_LIMIT_NAMES);
    EXPECT_TRUE(GrfPutData(ar.a, name251.c_str(), "x", 1));
    EXPECT_FALSE(GrfPutData(ar.a, name252.c_str(), "x", 1));
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_E_LIMIT);
    EXPECT_FALSE(GrfPutCompressed(ar.a, name252.c_str(), "x", 1, 0));
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_E_LIMIT);
    EXPECT_FALSE(GrfLinkEntry(ar.a, name251.c_str(), name252.c_str()));
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_E_LIMIT);
    EXPECT_EQ(grftest::ListEntries(ar.a).size(), 1u);
    // The existing name of a link is not checked.
    ASSERT_TRUE(GrfLinkEntry(ar.a, name251.c_str(), "short"));
  }
  Archive ar = CreateNew(file);
  const std::string long300(300, 'L');
  EXPECT_TRUE(GrfPutData(ar.a, long300.c_str(), "x", 1));
  ASSERT_TRUE(GrfFinalize(ar.a));
  GrfClose(&ar.a);
  grftest::Opened back = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(back.ok);
  EXPECT_NE(grftest::Record(back.archive, long300), nullptr);
  GrfClose(&back.archive);
}

struct PutDuringEnumeration {
  GrfArchive* archive;
  uint32_t statuses[3];
};

bool TryChanges(uint32_t, uint32_t, const EntryView*, void* user) {
  auto* p = static_cast<PutDuringEnumeration*>(user);
  GrfPutData(p->archive, "inside", "x", 1);
  p->statuses[0] = GrfGetLastStatus(p->archive);
  GrfLinkEntry(p->archive, "a", "b");
  p->statuses[1] = GrfGetLastStatus(p->archive);
  GrfFinalize(p->archive);  // not dirty: nothing to refuse
  p->statuses[2] = GrfGetLastStatus(p->archive);
  return true;
}

TEST(Change, RefusedOnReadOnlyWhileEnumeratingAndBeforeTheTableIsLoaded) {
  TempFile file("refuse");
  TempFile other("refuse-other");
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("a", "alpha"));
  const fixture::BuiltArchive built = WriteFixture(file, spec);
  WriteFixture(other, spec);
  {
    grftest::Opened ro = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
    ASSERT_TRUE(ro.ok);
    Archive target = OpenWritable(other);
    EXPECT_FALSE(GrfPutData(ro.archive, "x", "x", 1));
    EXPECT_EQ(GrfGetLastStatus(ro.archive), GRF_E_READ_ONLY);
    EXPECT_FALSE(GrfPutCompressed(ro.archive, "x", "x", 1, 0));
    EXPECT_EQ(GrfGetLastStatus(ro.archive), GRF_E_READ_ONLY);
    EXPECT_FALSE(GrfLinkEntry(ro.archive, "a", "b"));
    EXPECT_EQ(GrfGetLastStatus(ro.archive), GRF_E_READ_ONLY);
    EXPECT_FALSE(GrfCopyEntry(ro.archive, target.a, "a", nullptr, 0));
    EXPECT_EQ(GrfGetLastStatus(ro.archive), GRF_E_READ_ONLY);
    GrfClose(&ro.archive);

    PutDuringEnumeration p{target.a, {}};
    ASSERT_TRUE(GrfForEachEntry(target.a, TryChanges, &p));
    EXPECT_EQ(p.statuses[0], GRF_E_READ_ONLY);
    EXPECT_EQ(p.statuses[1], GRF_E_READ_ONLY);
    EXPECT_EQ(p.statuses[2], GRF_S_UNCHANGED);
    EXPECT_FALSE(target.a->flags & GRF_STATE_DIRTY);
  }
  // A deferred table: a finalize would otherwise write an empty table over
  // entries it never loaded.
  Archive deferred = OpenWritable(file, GRF_OPEN_DEFER_TABLE);
  EXPECT_FALSE(GrfPutData(deferred.a, "x", "x", 1));
  EXPECT_EQ(GrfGetLastStatus(deferred.a), GRF_E_READ_ONLY);
  EXPECT_FALSE(GrfLinkEntry(deferred.a, "a", "b"));
  EXPECT_EQ(GrfGetLastStatus(deferred.a), GRF_E_READ_ONLY);
  GrfClose(&deferred.a);
  EXPECT_TRUE(file.Read() == built.bytes);
}

fixture::ArchiveSpec OldSpec(uint32_t version) {
  fixture::ArchiveSpec spec;
  spec.version = version;
  spec.entries.push_back(fixture::Entry("a.gat", fixture::MakeContent(700, 4)));
  spec.entries.push_back(fixture::Entry("b.txt", fixture::MakeContent(900, 5)));
  return spec;
}

TEST(Gate, FirstChangeOfAnOldArchiveRewritesItAsVersion200) {
  TempFile file("gate");
  const fixture::BuiltArchive built = WriteFixture(file, OldSpec(0x102));
  {
    Archive ar = OpenWritable(file);
    ASSERT_TRUE(GrfPutData(ar.a, "c.txt", "new entry", 9));
    // Before any explicit finalize the file already is a 0x200 archive of
    // the old entries, with the new block behind its table.
    const fixture::Bytes bytes = file.Read();
    const fixture::WrittenArchive raw = fixture::ParseWrittenArchive(bytes);
    ASSERT_TRUE(raw.ok);
    EXPECT_EQ(raw.version, 0x200u);
    ASSERT_EQ(raw.records.size(), 2u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 30, built.bytes.begin()));
    for (const fixture::WrittenRecord& r : raw.records) {
      // The cipher the old layout implied is kept as flags.
      EXPECT_EQ(r.flags, r.name == "a.gat" ? ENTRY_COMPRESSED | ENTRY_CIPHER_HEADER
                                           : ENTRY_COMPRESSED | ENTRY_CIPHER_MIXED);
    }
    EXPECT_EQ(ar.a->version, 0x200u);
    EXPECT_TRUE(GrfLinkEntry(ar.a, "a.gat", "linked.txt"));  // any names in 0x200
    ASSERT_TRUE(GrfFinalize(ar.a));
  }
  grftest::Opened back = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(grftest::ListEntries(back.archive).size(), 4u);
  for (const fixture::ExpectedEntry& e : built.expected) {
    bool ok = false;
    EXPECT_TRUE(grftest::ReadWhole(back.archive, e.name, &ok) == e.content) << e.name;
  }
  bool ok = false;
  EXPECT_TRUE(grftest::ReadWhole(back.archive, "linked.txt", &ok) == built.Find("a.gat")->content);
  GrfClose(&back.archive);
}

TEST(Gate, OldArchivesLinkOnlyWithinANameClassAndKeepVersionRefuses) {
  TempFile file("gate-class");
  const fixture::BuiltArchive built = WriteFixture(file, OldSpec(0x101));
  {
    Archive ar = OpenWritable(file);
    EXPECT_FALSE(GrfLinkEntry(ar.a, "a.gat", "b.txt"));
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_E_NAME_CLASS);
    EXPECT_FALSE(GrfLinkEntry(ar.a, "a.gat", "noextension"));
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_E_NAME_CLASS);
    EXPECT_EQ(ar.a->version, 0x101u);
  }
  EXPECT_TRUE(file.Read() == built.bytes);  // refused before anything was written
  {
    Archive ar = OpenWritable(file, GRF_OPEN_KEEP_VERSION);
    EXPECT_FALSE(GrfPutData(ar.a, "c.txt", "c", 1));
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_E_UNSUPPORTED);
    EXPECT_FALSE(GrfLinkEntry(ar.a, "a.gat", "c.str"));
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_E_UNSUPPORTED);
    EXPECT_FALSE(ar.a->flags & GRF_STATE_DIRTY);
  }
  EXPECT_TRUE(file.Read() == built.bytes);
  {
    Archive ar = OpenWritable(file);
    EXPECT_TRUE(GrfLinkEntry(ar.a, "a.gat", "b.GAT"));
    EXPECT_EQ(ar.a->version, 0x200u);
  }
  // The conversion is committed; the link itself went with the close.
  grftest::Opened back = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(back.archive->version, 0x200u);
  EXPECT_EQ(grftest::ListEntries(back.archive).size(), 2u);
  GrfClose(&back.archive);

  WriteFixture(file, OldSpec(0x100));
  {
    Archive ar = OpenWritable(file);
    EXPECT_TRUE(GrfLinkEntry(ar.a, "b.txt", "trailing."));  // both class 0
  }
}

TEST(Gate, Version12BehindAClassicHeaderCannotBeWritten) {
  TempFile file("gate-12");
  fixture::ArchiveSpec spec;
  spec.versionField = 0x12;
  const fixture::BuiltArchive built = WriteFixture(file, spec);
  {
    Archive ar = OpenWritable(file);
    EXPECT_FALSE(GrfPutData(ar.a, "x", "x", 1));
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_E_UNSUPPORTED);
    EXPECT_FALSE(ar.a->flags & GRF_STATE_DIRTY);
  }
  EXPECT_TRUE(file.Read() == built.bytes);
}

// ---- compress hook contract ----

std::vector<unsigned long> g_offered;
int g_bufferErrors = 0;
int g_answer = Z_OK;

int RecordingHook(unsigned char* destination, unsigned long* length, const unsigned char* source,
                  unsigned long sourceLength) {
  g_offered.push_back(*length);
  if (g_bufferErrors > 0) {
    --g_bufferErrors;
    return Z_BUF_ERROR;  // *length left as offered, as zlib does
  }
  if (g_answer != Z_OK) return g_answer;
  return compress(destination, length, source, sourceLength);
}

int EmptyOutputHook(unsigned char*, unsigned long* length, const unsigned char*, unsigned long) {
  *length = 0;
  return Z_OK;
}

TEST(CompressHook, BufferErrorsGrowTheOutputBy1024AndOtherCodesMapToStatuses) {
  TempFile file("hook");
  {
    Archive ar = CreateNew(file);
    GrfSetCompressHook(ar.a, RecordingHook);
    const Bytes content = fixture::MakeContent(3000, 6);
    g_offered.clear();
    g_bufferErrors = 3;
    g_answer = Z_OK;
    ASSERT_TRUE(GrfPutData(ar.a, "grown", content.data(), 3000));
    ASSERT_EQ(g_offered.size(), 4u);
    EXPECT_EQ(g_offered[0], compressBound(3000));
    for (size_t i = 1; i < g_offered.size(); ++i) EXPECT_EQ(g_offered[i], g_offered[i - 1] + 1024);

    const std::pair<int, uint32_t> cases[] = {
        {Z_MEM_ERROR, GRF_E_OUT_OF_MEMORY}, {Z_ERRNO, GRF_E_CODEC_IO},
        {Z_DATA_ERROR, GRF_E_CODEC}, {Z_STREAM_ERROR, GRF_E_CODEC}, {7, GRF_E_CODEC}};
    for (const auto& [answer, status] : cases) {
      g_answer = answer;
      EXPECT_FALSE(GrfPutData(ar.a, "failed", content.data(), 3000));
      EXPECT_EQ(GrfGetLastStatus(ar.a), status) << answer;
    }
    EXPECT_EQ(grftest::Record(ar.a, "failed"), nullptr);

    // A hook that never stops asking for room is given up, not followed forever.
    g_answer = Z_OK;
    g_bufferErrors = 1 << 30;
    g_offered.clear();
    EXPECT_FALSE(GrfPutData(ar.a, "endless", "abc", 3));
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_E_CODEC);
    EXPECT_EQ(g_offered.size(), transfer::kMaxCompressRetries + 1);
    g_bufferErrors = 0;

    GrfSetCompressHook(ar.a, EmptyOutputHook);
    EXPECT_FALSE(GrfPutData(ar.a, "nothing out", "abc", 3));
    EXPECT_EQ(GrfGetLastStatus(ar.a), GRF_E_CODEC);
    GrfSetCompressHook(ar.a, nullptr);
    EXPECT_TRUE(GrfPutData(ar.a, "default again", "abc", 3));
  }
}

// ---- copy ----

TEST(Copy, RefusesBlocksWhoseSizesDisagree) {
  TempFile source("copy-bad-src");
  TempFile target("copy-bad-dst");
  fixture::ArchiveSpec spec;
  fixture::EntrySpec over = fixture::Entry("over.bin", fixture::MakeContent(100, 7));
  over.compressedSize = 200;  // more than the 8-aligned block holds
  spec.entries.push_back(over);
  fixture::EntrySpec stored =
      fixture::Entry("stored.bin", fixture::MakeContent(64, 8, false), Storage::Stored);
  stored.realSize = 65;  // larger than the block
  spec.entries.push_back(stored);
  fixture::EntrySpec away = fixture::Entry("away.bin", fixture::MakeContent(64, 9));
  away.offset = 1u << 20;  // past the end of the file
  spec.entries.push_back(away);
  WriteFixture(source, spec);
  {
    grftest::Opened src = grftest::OpenPath(source.path(), GRF_OPEN_READ_ONLY);
    ASSERT_TRUE(src.ok);
    Archive dst = CreateNew(target);
    const uint64_t sizeBefore = target.Read().size();
    const std::pair<const char*, uint32_t> cases[] = {
        {"over.bin", GRF_E_BAD_DATA}, {"stored.bin", GRF_E_BAD_DATA}, {"away.bin", GRF_E_IO}};
    for (const auto& [name, status] : cases) {
      src.archive->lastStatus = GRF_S_OK;
      EXPECT_FALSE(GrfCopyEntry(dst.a, src.archive, name, nullptr, 0)) << name;
      EXPECT_EQ(GrfGetLastStatus(src.archive), status) << name;
      EXPECT_EQ(GrfGetLastStatus(dst.a), GRF_S_OK) << name;  // reading failed, not writing
    }
    EXPECT_FALSE(GrfCopyEntry(dst.a, src.archive, "absent", nullptr, 0));
    EXPECT_EQ(GrfGetLastStatus(dst.a), GRF_E_NOT_FOUND);
    EXPECT_TRUE(grftest::ListEntries(dst.a).empty());
    EXPECT_EQ(target.Read().size(), sizeBefore);
    EXPECT_FALSE(dst.a->flags & GRF_STATE_DIRTY);
    GrfClose(&src.archive);
  }
}

TEST(Copy, LzssEntryWithoutContentBecomesAnEmptyEntry) {
  TempFile source("copy-lz0-src");
  TempFile target("copy-lz0-dst");
  fixture::ArchiveSpec spec;
  spec.version = 0x12;
  spec.header = HeaderKind::Tail;
  fixture::EntrySpec zero = fixture::Entry("zero.txt", fixture::MakeContent(40, 10), Storage::Lzss);
  zero.realSize = 0;
  spec.entries.push_back(zero);
  spec.entries.push_back(fixture::Entry("stored.txt", "as it is", Storage::Stored));
  WriteFixture(source, spec);
  grftest::Opened src = grftest::OpenPath(source.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(src.ok);
  ASSERT_GT(grftest::Record(src.archive, "zero.txt")->alignedSize, 0u);
  Archive dst = CreateNew(target);
  ASSERT_TRUE(GrfCopyEntry(dst.a, src.archive, "zero.txt", nullptr, 0))
      << std::hex << GrfGetLastStatus(dst.a) << " " << GrfGetLastStatus(src.archive);
  const GrfEntry* e = grftest::Record(dst.a, "zero.txt");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->alignedSize, 0u);
  EXPECT_EQ(e->realSize, 0u);
  EXPECT_EQ(e->flags, 0);
  ASSERT_TRUE(GrfCopyEntry(dst.a, src.archive, "stored.txt", nullptr, 0));
  EXPECT_EQ(grftest::Record(dst.a, "stored.txt")->flags, ENTRY_COMPRESSED);
  GrfClose(&src.archive);
}

TEST(Copy, WithinOneArchiveReplacesTheEntryItReads) {
  TempFile file("copy-self");
  {
    Archive ar = CreateNew(file);
    const Bytes stored = fixture::MakeContent(300, 11, false);
    ASSERT_TRUE(GrfPutCompressed(ar.a, "stored.bin", stored.data(), 300, 0));
    ASSERT_TRUE(GrfPutData(ar.a, "packed.txt", "packed content", 14));
    for (const char* name : {"stored.bin", "packed.txt"}) {
      ASSERT_TRUE(GrfCopyEntry(ar.a, ar.a, name, nullptr, 0)) << name;
    }
    EXPECT_EQ(grftest::ListEntries(ar.a).size(), 2u);
    EXPECT_EQ(grftest::Record(ar.a, "stored.bin")->flags, ENTRY_COMPRESSED);
    bool ok = false;
    EXPECT_TRUE(grftest::ReadWhole(ar.a, "stored.bin", &ok) == stored);
    EXPECT_TRUE(grftest::ReadWhole(ar.a, "packed.txt", &ok) == fixture::ToBytes("packed content"));
  }
}

// ---- failures while storing ----

}  // namespace
