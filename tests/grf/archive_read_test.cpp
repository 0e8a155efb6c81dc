// Reading: a patcher's copy of every layout, hostile records and tables, the LZSS decoder's
// bounds, the measuring stream, the fatal event hook. Every layout is read by the job's
// invariants (e2e/clean_invariants_test).

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <zlib.h>
#include "grf/archive.h"
#include "grf/entry_index.h"
#include "grf/lzss.h"
#include "grf/stream.h"
#include "support/pool.h"
#include "support/sys_error.h"
#include "tests/grf/grf_test_util.h"
#include "tests/grf/test_stream.h"

namespace {

using fixture::Cipher;
using fixture::Layout;
using fixture::Storage;
using grftest::TempFile;

class ArchiveLayout : public testing::TestWithParam<Layout> {};

INSTANTIATE_TEST_SUITE_P(Archives, ArchiveLayout, testing::ValuesIn(fixture::AllLayouts()));

// A patcher's copy: every entry of every layout into a new archive, deciphered;
// zlib streams carried as they are, stored and LZSS data deflated.
TEST_P(ArchiveLayout, CopyEntryCarriesOrDeflatesEveryEntryAndReadsBackTheSame) {
  const fixture::BuiltArchive built = fixture::BuildArchive(fixture::LayoutSpec(GetParam()));
  TempFile file("copy-source", built.bytes), out("copy-target");
  grftest::Opened o = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(GrfGetMaxRealSize(o.archive), std::ranges::max(built.expected, {}, &fixture::ExpectedEntry::realSize).realSize);
  std::vector<std::string> order;  // listed in offset order, whatever the table's
  grftest::ReadAll(o.archive, &order);
  for (GrfBlockInfo a{}, b{}; order.size() > 1; order.erase(order.begin()))
    EXPECT_TRUE(GrfGetEntryInfo(o.archive, order[0].c_str(), &a) && GrfGetEntryInfo(o.archive, order[1].c_str(), &b) &&
                a.offset <= b.offset) << order[1];
  {
    grftest::Archive target = grftest::OpenWritable(out);
    for (const fixture::ExpectedEntry& e : built.expected) {
      unsigned char work[16];  // too small to lend: the copy allocates its own
      for (uint32_t skip = 0; PoolInjectFailures(skip, 1), !GrfCopyEntry(target.a, o.archive, e.name.c_str(), work, sizeof work); ++skip)
        ASSERT_TRUE((PoolInjectFailures(0, 0), skip < 64) && GrfGetLastStatus(target.a) == GRF_E_OUT_OF_MEMORY) << e.name << " " << skip;
      PoolInjectFailures(0, 0);  // each allocation failing in turn left the target out of memory
      EXPECT_EQ(GrfGetLastStatus(target.a), GRF_S_OK) << e.name << ": no failure left over once it copies";
      GrfBlockInfo from, to;
      ASSERT_TRUE(GrfGetEntryInfo(o.archive, e.name.c_str(), &from) && GrfGetEntryInfo(target.a, e.name.c_str(), &to));
      const bool carried = (from.flags & ENTRY_COMPRESSED) && !from.lzss;
      EXPECT_EQ(to.flags, e.content.empty() ? 0 : carried ? from.carryFlags : ENTRY_COMPRESSED) << e.name;
      EXPECT_TRUE(!carried || from.flags != from.carryFlags || to.compressedSize == from.compressedSize) << e.name;
    }
    ASSERT_TRUE(GrfFinalize(target.a));
  }
  GrfClose(&o.archive);
  EXPECT_EQ(grftest::ReadAll(out.path()), grftest::ExpectedOf(built));
}

int g_hookResult = 0;  // the hook's answer; Z_OK comes with nothing written
int HookGivingUp(unsigned char*, unsigned long* length, const unsigned char*, unsigned long) { return *length *= g_hookResult != Z_OK, g_hookResult; }

// Records no block can satisfy, at and just past each bound the reader checks before it
// decodes: every read and copy gets its status, with the detail of a decoder only where one ran.
// Then a codec library's verdicts: out of memory and its own I/O failure are not bad data.
TEST(Hostile, RecordsAtAndPastEveryBoundGetTheirStatus) {
  const struct {
    uint32_t version;
    Storage storage;
    std::optional<uint32_t> compressed, real;
    std::optional<uint64_t> offset;
    std::optional<uint8_t> flags;
    uint32_t status, detail;
  } rows[] = {{0x300, Storage::Zlib, 8, 8 * 1032, {}, {}, GRF_E_BAD_DATA, GRF_DETAIL_INFLATE},  // the zlib bound
              {0x300, Storage::Zlib, 8, 8 * 1032 + 1, {}, {}, GRF_E_BAD_DATA, 0},
              {0x300, Storage::Zlib, 4096, {}, {}, {}, GRF_E_BAD_DATA, 0},  // a stream longer than its block
              {0x300, Storage::Stored, {}, 2000, {}, {}, GRF_S_OK, 0},      // 1999 bytes in a block of 2000
              {0x300, Storage::Stored, {}, 2001, {}, {}, GRF_E_BAD_DATA, 0},
              {0x300, Storage::Zlib, {}, {}, UINT64_MAX - 7, {}, GRF_E_IO, 0},  // no file reaches the block
              {0x300, Storage::Stored, {}, {}, {}, ENTRY_COMPRESSED, GRF_E_BAD_DATA, GRF_DETAIL_INFLATE},
              {0x12, Storage::Lzss, 8, 68, {}, {}, GRF_E_BAD_DATA, GRF_DETAIL_LZSS},  // the LZSS bound
              {0x12, Storage::Lzss, 8, 69, {}, {}, GRF_E_BAD_DATA, 0},
              {0x300, Storage::Zlib, {}, {}, {}, 0x79, GRF_S_OK, 0}};  // unknown bits beside a stream
  TempFile out("hostile-target");  // of the copies, then of puts through a failing compress hook
  grftest::Archive w = grftest::OpenWritable(out);
  for (const uint32_t version : {0x300u, 0x12u}) {
    fixture::ArchiveSpec spec;
    std::tie(spec.version, spec.header) = std::pair(version, version == 0x12 ? fixture::HeaderKind::Tail : fixture::HeaderKind::Wide);
    for (size_t i = 0; i < std::size(rows); ++i) {
      if (rows[i].version != version) continue;
      fixture::EntrySpec& e = spec.entries.emplace_back(fixture::Entry(std::to_string(i), fixture::MakeContent(1999, 5), rows[i].storage));
      std::tie(e.compressedSize, e.realSize, e.offset, e.flagByte) = std::tie(rows[i].compressed, rows[i].real, rows[i].offset, rows[i].flags);
    }
    TempFile file("hostile", fixture::BuildArchiveBytes(spec));
    grftest::Opened o = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
    for (size_t i = 0; o.ok && i < std::size(rows); ++i) {
      GrfBlockInfo info{};
      bool ok = (o.archive->lastDetail = 0, false);
      const fixture::Bytes got = grftest::ReadWhole(o.archive, std::to_string(i), &ok);
      EXPECT_TRUE(rows[i].version != version || (ok == (rows[i].status == GRF_S_OK) && GrfGetLastStatus(o.archive) == rows[i].status &&
          GrfGetLastDetail(o.archive) == rows[i].detail && GrfGetEntryInfo(o.archive, std::to_string(i).c_str(), &info) &&
          info.inFile == (rows[i].status != GRF_E_IO) && (!ok || std::equal(got.begin(), got.begin() + 1999, fixture::MakeContent(1999, 5).begin())))) << i;
      EXPECT_TRUE(rows[i].version != version || rows[i].detail == GRF_DETAIL_INFLATE ||  // streams a copy carries as they are
                  ((o.archive->lastDetail = 0, GrfCopyEntry(w.a, o.archive, std::to_string(i).c_str(), nullptr, 0)) == ok &&
                   GrfGetLastStatus(o.archive) == rows[i].status && GrfGetLastDetail(o.archive) == rows[i].detail)) << i;
    }
    grftest::Opened d = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY | GRF_OPEN_DEFER_TABLE);  // and the table's inflate
    GrfSetUncompressHook(o.archive, HookGivingUp), GrfSetUncompressHook(d.archive, HookGivingUp);
    for (const auto& [result, status] : {std::pair{Z_MEM_ERROR, GRF_E_OUT_OF_MEMORY}, {Z_ERRNO, GRF_E_CODEC_IO}, {Z_BUF_ERROR, GRF_E_BAD_DATA}}) {
      bool ok = (g_hookResult = result, true);
      grftest::ReadWhole(o.archive, "9", &ok);
      EXPECT_TRUE(version == 0x12 || (!ok && GrfGetLastStatus(o.archive) == status && !GrfLoadTable(d.archive) &&
                                      GrfGetLastStatus(d.archive) == status && GrfGetLastDetail(d.archive) == GRF_DETAIL_INFLATE)) << result;
    }
    GrfClose(&o.archive), GrfClose(&d.archive);
  }
  GrfSetCompressHook(w.a, HookGivingUp);
  for (const auto& [result, status] : {std::pair{Z_MEM_ERROR, GRF_E_OUT_OF_MEMORY}, {Z_OK, GRF_E_CODEC}, {Z_ERRNO, GRF_E_CODEC_IO}, {Z_BUF_ERROR, GRF_E_CODEC}}) {
    g_hookResult = result;
    EXPECT_TRUE(!GrfPutData(w.a, "x", "abc", 3) && GrfGetLastStatus(w.a) == status) << result;
  }
  EXPECT_TRUE(GrfPutCompressed(w.a, "y", "abc", 3, 0) && GrfGetLastStatus(w.a) == GRF_S_OK);  // no failure left over
  EXPECT_TRUE(!GrfPutData(w.a, "z", "abc", 0xFF000001u) && GrfGetLastStatus(w.a) == GRF_E_OUT_OF_MEMORY);  // too large to try
  EXPECT_TRUE(!GrfPutCompressed(w.a, "z", "abc", 0xFFFFFFF9u, 1) && GrfGetLastStatus(w.a) == GRF_E_LIMIT);  // its block would wrap
}

// Each allocation of an open failing in turn: the open fails with a status, or holds every entry.
TEST(Hostile, EveryAllocationOfAnOpenFailingInTurn) {
  for (const uint32_t version : {0x12u, 0x102u, 0x300u}) {
    fixture::ArchiveSpec spec;
    spec.version = version;
    spec.header = version == 0x12 ? fixture::HeaderKind::Tail : fixture::HeaderKind::Classic;
    spec.entries = {fixture::Entry("a.txt", "alpha", version == 0x12 ? Storage::Lzss : Storage::Zlib), fixture::Entry("b.gat", "")};
    TempFile file("open-oom", fixture::BuildArchiveBytes(spec));
    // skip < 0: a clean open, which counts the allocations to fail.
    for (int64_t skip = -1, allocations = 0; skip < allocations; ++skip) {
      const uint32_t before = GetPoolCounters().allocations;
      if (skip >= 0) PoolInjectFailures(static_cast<uint32_t>(skip), 1);
      grftest::Opened o = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY | GRF_OPEN_TRACK_SPACE);
      PoolInjectFailures(0, 0);
      if (skip < 0) allocations = GetPoolCounters().allocations - before;
      EXPECT_TRUE(o.ok ? grftest::ReadAll(o.archive).size() == 2 : GrfFailed(o.status)) << std::hex << version << " " << skip;
      GrfClose(&o.archive);
    }
  }
}

// Headers, tables and records each refused by their own check: a field patched (at < 0: from the end), a table of the
// row's own compressed behind the prefix, a read failing. The stored entry "a" and the table start at 0 (trailer) or 46.
TEST(Hostile, HeadersTablesAndRecordsEachRefusedByTheirOwnCheck) {
  const struct { uint32_t version; std::optional<std::string> entry; std::string plain; int at; uint32_t value, failRead, status, detail; } rows[] = {
      {0x12, std::string("Master of Magic", 16), "", -9, 16, 0, GRF_S_OK, GRF_S_OK},  // shorter than a header
      {0x12, std::string("Master of Magic", 16), "", -9, 16, 3, GRF_E_UNSUPPORTED, GRF_DETAIL_HEADER_UNREADABLE},  // the trailer's read
      {0x12, {}, "", -9, 1, 0, GRF_E_UNSUPPORTED, GRF_DETAIL_TRAILER_TABLE}, {0x12, "", "", 0, 2, 0, GRF_E_BAD_DATA, GRF_DETAIL_RECORD_12_NAME_PAST_END},
      {0x12, "", "", 15, 0x11, 0, GRF_E_BAD_DATA, GRF_DETAIL_NAME_12_NO_NUL},  // the name's terminator
      {0x12, "", "", -5, 0x20000, 0, GRF_E_BAD_DATA, GRF_DETAIL_RECORD_12_SHORT},  // a count of 2
      {0x200, "", "", 42, 0x12, 0, GRF_E_BAD_DATA, GRF_DETAIL_EMPTY_12_TABLE},  // no size behind a header
      {0x200, {}, "", 30, 8, 0, GRF_E_BAD_DATA, GRF_DETAIL_TABLE_PAST_END}, {0x300, {}, "", 30, 12, 0, GRF_E_BAD_DATA, GRF_DETAIL_TABLE_PAST_END},
      {0x300, {}, "", 30, 11, 0, GRF_E_IO, GRF_DETAIL_PREFIX_UNREADABLE}, {0x200, {}, "", 42, 0x11, 0, GRF_E_UNSUPPORTED, GRF_DETAIL_VERSION_NOT_12},
      {0x200, {}, "", 42, 0x104, 0, GRF_E_UNSUPPORTED, GRF_DETAIL_VERSION_ABOVE_103},
      {0x200, {}, "", 42, 0x201, 0, GRF_E_UNSUPPORTED, GRF_DETAIL_VERSION_ABOVE_200},
      {0x300, {}, "", 42, 0x301, 0, GRF_E_UNSUPPORTED, GRF_DETAIL_VERSION_ABOVE_300},
      {0x200, {}, "", 42, 0x400, 0, GRF_E_UNSUPPORTED, GRF_DETAIL_UNKNOWN_FAMILY},
      {0x200, {}, "", 38, 8, 0, GRF_E_BAD_DATA, GRF_DETAIL_EMPTY_200_TABLE},  // a count of 1
      {0x100, "", "", 50, 0x1616, 0, GRF_E_BAD_DATA, GRF_DETAIL_NAME_1XX_NO_NUL},
      {0x101, "", "", 38, 9, 0, GRF_E_BAD_DATA, GRF_DETAIL_RECORD_1XX_NO_LENGTH},  // a count of 2
      {0x101, "", "", 46, 5, 0, GRF_E_BAD_DATA, GRF_DETAIL_NAME_1XX_TOO_SHORT}, {0x101, "", "", 46, 6, 0, GRF_E_BAD_DATA, GRF_DETAIL_NAME_1XX_NO_NUL},
      {0x101, "", "", 46, 22, 0, GRF_E_BAD_DATA, GRF_DETAIL_RECORD_1XX_SHORT}, {0x101, "", "", 46, 31, 0, GRF_E_BAD_DATA, GRF_DETAIL_NAME_1XX_NOT_BLOCKS},
      {0x101, "", "", 46, 32, 0, GRF_E_BAD_DATA, GRF_DETAIL_RECORD_1XX_NAME_PAST_END},
      {0x200, {}, "a", 38, 8, 0, GRF_E_BAD_DATA, GRF_DETAIL_RECORD_200_NO_NUL}, {0x200, {}, std::string("a").append(18, 0), 38, 8, 0, GRF_S_OK, GRF_S_OK},
      {0x200, {}, std::string("a").append(17, 0), 38, 8, 0, GRF_E_BAD_DATA, GRF_DETAIL_RECORD_200_SHORT},  // a tail byte short
      {0x300, {}, std::string("a").append(21, 0), 38, 1, 0, GRF_E_BAD_DATA, GRF_DETAIL_RECORD_300_SHORT}};
  for (const auto& r : rows) {
    fixture::ArchiveSpec spec;
    using enum fixture::HeaderKind;
    std::tie(spec.version, spec.header) = std::pair(r.version, r.version == 0x12 ? Tail : r.version == 0x300 ? Wide : Classic);
    if (r.entry) spec.entries = {fixture::Entry("a", *r.entry, Storage::Stored)};
    fixture::Bytes bytes = fixture::BuildArchiveBytes(spec), packed = fixture::ZlibCompress(fixture::ToBytes(r.plain));
    const auto put = [&bytes](int at, size_t v) { for (size_t k = 0; k < 4; ++k) bytes[(at < 0 ? bytes.size() : 0) + at + k] = uint8_t(v >> 8 * k); };
    if (!r.plain.empty()) put(-8, packed.size()), put(-4, r.plain.size()), bytes.insert(bytes.end(), packed.begin(), packed.end());
    put(r.at, r.value);
    TempFile file("refused", bytes);
    teststream::Plan plan;
    uint32_t status = 0, detail = (plan.Arm(teststream::Op::Read, r.failRead), 0);
    GrfArchive* ar = teststream::OpenArchive(file.path(), &plan, GRF_OPEN_READ_ONLY, &status, &detail);
    EXPECT_TRUE((ar != nullptr) == (r.status == GRF_S_OK) && status == r.status && detail == r.detail)
        << std::hex << r.version << " " << r.detail << ": " << status << " " << detail;
    GrfClose(&ar);
  }
}

// The open's own failures, and an 0x12 archive's '/' in names turned into '\\' on request.
TEST(Open, FailuresHaveTheirStatusAndOld12NamesTheirBackslashes) {
  TempFile file("names12");
  const std::string missing = file.path() + ".absent/x.grf";
  EXPECT_EQ(grftest::OpenPath(missing, GRF_OPEN_READ_ONLY).status, GRF_E_OPEN_FAILED);
  EXPECT_EQ(grftest::OpenPath(missing, 0).status, GRF_E_CREATE_FAILED);
  fixture::ArchiveSpec spec;
  spec.header = fixture::HeaderKind::Tail;
  spec.entries = {fixture::Entry("data/a.txt", "alpha", fixture::Storage::Lzss)};
  ASSERT_TRUE(file.Write(fixture::BuildArchiveBytes(spec)));
  for (const uint32_t flags : {0u, GRF_OPEN_BACKSLASH_NAMES}) {
    grftest::Opened o = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY | flags);
    ASSERT_TRUE(o.ok) << std::hex << o.status << " " << o.detail;
    EXPECT_EQ(grftest::ReadAll(o.archive).begin()->first, flags ? "data\\a.txt" : "data/a.txt");
    GrfClose(&o.archive);
  }
  for (const fixture::Layout& layout : fixture::AllLayouts()) {  // no entries (a 0x1xx table at the end: no table)
    if (layout.version / 0x100 == 1) continue;
    fixture::ArchiveSpec none;
    std::tie(none.version, none.header) = std::tie(layout.version, layout.header);
    ASSERT_TRUE(file.Write(fixture::BuildArchiveBytes(none)));
    EXPECT_TRUE(grftest::ReadAll(file.path()).empty()) << layout.version;
  }
}

// The probes on bytes a caller has read: a signature with its terminator, the trailer's last byte.
TEST(Probe, SignaturesAndTheTrailerMarker) {
  const std::pair<std::string, bool> heads[] = {{std::string("Master of Magic\0x", 17), true}, {std::string("Master of Magic\0", 16), true},
                                                {"Master of Magic", false}, {"Master of Magix", false},
                                                {std::string("Event Horizon\0", 14), true}, {"Event Horizon", false}, {"", false}};
  for (const auto& [bytes, is] : heads) EXPECT_EQ(GrfProbeHead(bytes.data(), static_cast<uint32_t>(bytes.size())), is) << bytes;
  const std::pair<std::string, bool> tails[] = {{"ab\x12", true}, {"\x12", true}, {"\x12" "b", false}, {"", false}};
  for (const auto& [bytes, is] : tails) EXPECT_EQ(GrfProbeTail(bytes.data(), static_cast<uint32_t>(bytes.size())), is) << bytes;
}

TEST(Lzss, KnownStreamsAndBadReferences) {
  struct Row {
    std::vector<uint8_t> in;
    uint32_t capacity;
    int result;
    std::string out;
  } rows[] = {
      {{0x04, 'a', 'b', 0x02, 0x00, 'c'}, 16, lzss::kOk, "ababc"},
      {{0x08, 'a', 'b', 'c', 0x03, 0x10}, 64, lzss::kOk, "abcabc"},  // distance equal to length
      {{0x00, 'a', 'b', 'c'}, 2, lzss::kOutputFull, ""},
      {{0x04, 'a', 'b', 0x02}, 8, lzss::kTruncated, "ab"},
      {{0x01, 0x00, 0x00}, 64, lzss::kBadReference, ""},            // distance 0
      {{0x04, 'a', 'b', 0x03, 0x00}, 64, lzss::kBadReference, ""},  // beyond the output
      {{0x08, 'a', 'b', 'c', 0x02, 0x10}, 64, lzss::kBadReference, ""},  // distance 2 below length 3
  };
  for (const Row& r : rows) {
    std::vector<uint8_t> out(r.capacity);
    uint32_t length = r.capacity;
    EXPECT_EQ(LzssDecode(out.data(), &length, r.in.data(), static_cast<uint32_t>(r.in.size())), r.result);
    EXPECT_EQ(std::string(out.begin(), out.begin() + length), r.out);  // cut short: what came before
  }
}

// A size asked for with no room, or too little, for its 64 bits.
bool RefusesShortSize(GrfStream* s) {
  uint64_t size = 0;
  return !s->ops->control(StreamState(s), stream::kGet, stream::kSize, &size, 4, nullptr) && !s->ops->control(StreamState(s), stream::kGet, stream::kSize, nullptr, 8, nullptr);
}

// The measuring stream: sizes and positions beyond 4 GiB for nothing, the header's bytes kept,
// reads past its end empty, past the header refused, a cut end read back as zeros.
TEST(Stream, MeasuringKeepsTheHeadAndOnlyTheSizeOfTheRest) {
  GrfArchive* ar = nullptr;
  uint32_t moved = 9, size32 = 7, status = 0;
  EXPECT_TRUE((PoolInjectFailures(0, 1), !GrfOpenMeasuring(0, &status, &ar)) && (PoolInjectFailures(0, 0), status == GRF_E_OUT_OF_MEMORY));
  ASSERT_TRUE(GrfOpenMeasuring(0, nullptr, &ar));
  GrfStream* s = ar->stream;
  const uint64_t far = (uint64_t{1} << 32) + 3;
  uint64_t size = 0;
  unsigned char head[60] = {}, back[60];
  for (int i = 0; i < 60; ++i) head[i] = static_cast<unsigned char>(i + 1);
  EXPECT_TRUE(StreamWriteAt(s, far, head, 10, &moved) && moved == 10 && StreamGetSize(s, &size) && size == far + 10);
  for (const uint64_t at : {uint64_t{INT64_MAX} - 4, UINT64_MAX - 4}) {
    SetSystemError(0);  // with the error a file gives
    EXPECT_FALSE(StreamWriteAt(s, at, head, 10, &moved) || moved || GetSystemError() != syserr::kNegativeSeek);
  }
  EXPECT_FALSE(s->ops->getSize32(StreamState(s), &size32) || size32 != 7) << "beyond 4 GiB";
  EXPECT_TRUE(StreamReadAt(s, far + 10, back, 8, &moved) && moved == 0) << "past the end";
  EXPECT_FALSE(StreamReadAt(s, far, back, 8, &moved)) << "past the kept head";
  EXPECT_TRUE(StreamWriteAtExact(s, 0, head, 60) && StreamReadAtExact(s, 0, back, 54) && !std::memcmp(back, head, 54));
  EXPECT_TRUE(StreamReadAtExact(s, 2, back, 2) && StreamReadExact(s, back, 1) && back[0] == head[4]) << "on where the last ended";
  EXPECT_FALSE(StreamReadAtExact(s, 0, back, 55));
  SetSystemError(0);
  EXPECT_TRUE(StreamSetSize(s, INT64_MAX) && !StreamSetSize(s, uint64_t{INT64_MAX} + 1) && GetSystemError() == syserr::kNegativeSeek &&
              StreamWriteAt(s, INT64_MAX - 10, head, 10, &moved) && moved == 10 && RefusesShortSize(s)) << "a write that ends at the limit";
  EXPECT_TRUE(StreamSetSize(s, 20) && StreamGetSize(s, &size) && size == 20 && StreamSetSize(s, 54));
  EXPECT_TRUE(StreamReadAt(s, 10, back, 45, &moved) && moved == 44 && !std::memcmp(back, head + 10, 10) &&
              std::count(back + 10, back + 44, 0) == 34) << "a cut end comes back as zeros";
  EXPECT_TRUE(s->ops->getSize32(StreamState(s), &size32) && size32 == 54);
  GrfClose(&ar);
}

// The file stream: positions and sizes past INT64_MAX refused with the seek error (so is the
// sequential read after such a positioned one), a size past 4 GiB refused by the 32-bit query,
// and a file that cannot be created gives no stream.
TEST(Stream, FileRefusesWhatItCannotHold) {
  TempFile file("file-stream", fixture::ToBytes("0123456789"));
  GrfStream* s = nullptr;
  FileHandle handle = kInvalidFile, copy = kInvalidFile;
  ASSERT_TRUE(FileStreamCreate(file.c_str(), fileio::kGenericRead | fileio::kGenericWrite, 0, nullptr, fileio::kOpenExisting, 0, kInvalidFile, &handle, &s));
  char byte = 0;
  uint32_t moved = 0, size32 = 0;
  SetSystemError(0);
  EXPECT_TRUE(!StreamReadAt(s, UINT64_MAX - 4, &byte, 1, &moved) && (SetSystemError(0), !StreamReadExact(s, &byte, 1)) &&
              GetSystemError() == syserr::kNegativeSeek);
  SetSystemError(0);
  EXPECT_TRUE(!StreamSetSize(s, uint64_t{INT64_MAX} + 1) && GetSystemError() == syserr::kNegativeSeek);
  EXPECT_FALSE(StreamSetSize(s, uint64_t{1} << 32) && s->ops->getSize32(StreamState(s), &size32)) << "4 GiB (sparse)";
  EXPECT_TRUE(RefusesShortSize(s));
  EXPECT_TRUE(StreamFlush(s) && CloseFileHandle(&(copy = handle)) && !CloseFileHandle(&handle) && !StreamFlush(s)) << "failing, says so";
  StreamRelease(&s);
  GrfStream* const set = reinterpret_cast<GrfStream*>(&byte);  // the out value is cleared on failure
  EXPECT_FALSE(FileStreamCreate((file.path() + "/x").c_str(), fileio::kGenericWrite, 0, nullptr, fileio::kCreateNew, 0, kInvalidFile, nullptr, &(s = set)) ||
               s || FileStreamOpenRead((file.path() + "/x").c_str(), 0, nullptr, &(s = set)) || s);
}

// Misuse ends the process: reference counts at 0 or about to wrap, a stream type that is not
// registered or not given its creation data, an event hook that does not answer 0.
TEST(ArchiveDeathTest, MisuseEndsTheProcess) {
  GrfArchive* ar = nullptr;
  ASSERT_TRUE(GrfOpenMeasuring(0, nullptr, &ar));
  GrfStream *s = ar->stream, *none = nullptr;
  const std::function<void()> misuses[] = {
      [&] { s->refCount = 0, StreamRetain(s, nullptr); }, [&] { s->refCount = UINT32_MAX, StreamRetain(s, nullptr); },
      [&] { s->refCount = 0, StreamRelease(&s); }, [&] { StreamCreate(0x454E4F4E, nullptr, 0, &none); },
      [&] { StreamCreate(stream::kFileTag, nullptr, 0, &none); }, [&] { ar->refCount = 0, GrfRetain(ar, nullptr); },
      [&] { ar->refCount = INT32_MAX, GrfRetain(ar, nullptr); }, [&] { ar->refCount = 0, GrfClose(&ar); },
      [&] { ar->eventCookie = 0, GrfClose(&ar); }, [&] { ar->eventHook = [](GrfArchive*, uint32_t, void*, uint32_t) { return 1; }, GrfClose(&ar); }};
  for (const auto& misuse : misuses) EXPECT_DEATH(misuse(), "fatal assertion");
  GrfClose(&ar);
}

}  // namespace
