// Every status and detail code of header detection and table loading that a
// file can provoke.

#include <filesystem>

#include "tests/grf/grf_test_util.h"

namespace {

using fixture::ArchiveSpec;
using fixture::Bytes;
using fixture::HeaderKind;
using grftest::TempFile;

struct Outcome {
  uint32_t status;
  uint32_t detail;
};

Outcome OpenBytes(const Bytes& bytes, uint32_t flags = GRF_OPEN_READ_ONLY) {
  TempFile file("detail");
  EXPECT_TRUE(file.Write(bytes));
  grftest::Opened o = grftest::OpenPath(file.path(), flags);
  EXPECT_EQ(o.ok, !GrfFailed(o.status));
  if (o.ok) GrfClose(&o.archive);
  EXPECT_EQ(o.archive, nullptr);
  return {o.status, o.detail};
}

Outcome OpenSpec(const ArchiveSpec& spec) { return OpenBytes(fixture::BuildArchiveBytes(spec)); }

#define EXPECT_OUTCOME(outcome, s, d)             \
  do {                                            \
    const Outcome got_ = (outcome);               \
    EXPECT_EQ(got_.status, s) << std::hex << got_.detail; \
    EXPECT_EQ(got_.detail, d) << std::hex << got_.detail; \
  } while (0)

ArchiveSpec OneEntry(uint32_t version, HeaderKind header = HeaderKind::Classic) {
  ArchiveSpec spec;
  spec.version = version;
  spec.header = header;
  spec.entries.push_back(fixture::Entry("only.txt", "the only entry",
                                        version == 0x12 ? fixture::Storage::Stored
                                                        : fixture::Storage::Zlib));
  return spec;
}

TEST(TableDetail, FilesThatAreNoArchive) {
  EXPECT_OUTCOME(OpenBytes(Bytes(40, 'x')), GRF_E_UNSUPPORTED, 0xA0000021u);
  EXPECT_OUTCOME(OpenBytes(Bytes(5, 'x')), GRF_E_UNSUPPORTED, 0xA0000020u);
  // "Master of Magic" without its NUL is not a classic header.
  Bytes bytes = fixture::BuildArchiveBytes(OneEntry(0x200));
  bytes[15] = ' ';
  EXPECT_OUTCOME(OpenBytes(bytes), GRF_E_UNSUPPORTED, 0xA0000021u);
}

TEST(TableDetail, TablePositionAtTheEndStopsDetection) {
  ArchiveSpec spec = OneEntry(0x200);
  spec.garbageAfterTable = {0x12};  // a trailer reader would take this file
  const size_t size = fixture::BuildArchiveBytes(spec).size();
  spec.tablePositionField = size - 46;
  EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, 0xA0000030u);
  spec.header = HeaderKind::Wide;
  EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, 0xA0000030u);
}

TEST(TableDetail, Versions) {
  const struct {
    uint32_t version;
    uint32_t detail;
  } cases[] = {{0x400, 0xA0000022}, {0x104, 0xA0000023}, {0x201, 0xA0000024},
               {0x13, 0xA0000025},  {0x301, 0xA0000026}, {0xFF00, 0xA0000022}};
  for (const auto& c : cases) {
    ArchiveSpec spec = OneEntry(0x200);
    spec.versionField = c.version;
    EXPECT_OUTCOME(OpenSpec(spec), GRF_E_UNSUPPORTED, c.detail);
  }
}

TEST(TableDetail, CompressedTablePrefixAndBody) {
  for (uint32_t version : {0x200u, 0x300u}) {
    SCOPED_TRACE(version);
    const uint32_t unreadable = version == 0x200 ? 0xA0000050 : 0xA0000090;
    ArchiveSpec spec = OneEntry(version);
    spec.compressedTableLength = 0;
    EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, 0xA0000031u);

    spec = OneEntry(version);
    const fixture::BuiltArchive built = fixture::BuildArchive(spec);
    spec.compressedTableLength =
        static_cast<uint32_t>(built.bytes.size() - built.tablePosition) + 100;
    EXPECT_OUTCOME(OpenSpec(spec), GRF_E_IO, unreadable);

    spec = OneEntry(version);
    spec.tablePositionField = built.bytes.size() - 46 - 4;
    EXPECT_OUTCOME(OpenSpec(spec), GRF_E_IO, 0xA0000032u);

    spec = OneEntry(version);
    spec.rawCompressedTable = fixture::ToBytes("this is not zlib data at all");
    EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, 0xA0000060u);

    spec = OneEntry(version);
    spec.uncompressedTableLength = static_cast<uint32_t>(built.uncompressedTable.size() + 1);
    EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, 0xA0000060u);

    // An uncompressed length of 4 GiB cannot be had from the pool.
    spec = OneEntry(version);
    spec.uncompressedTableLength = 0xFFFFFFFF;
    EXPECT_OUTCOME(OpenSpec(spec), GRF_E_OUT_OF_MEMORY, 0xA0000018u);
  }
}

TEST(TableDetail, CompressedTableRecords) {
  for (uint32_t version : {0x200u, 0x300u}) {
    SCOPED_TRACE(version);
    const bool wide = version == 0x300;
    ArchiveSpec spec = OneEntry(version);
    fixture::EntrySpec bad = fixture::Entry("x", "x");
    bad.rawNameField = fixture::ToBytes("no terminator");
    bad.notExpected = true;
    spec.entries.push_back(bad);
    // The name runs on into the record's own fields up to their first zero byte.
    EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, wide ? 0xA0000092u : 0xA0000052u);
    // With nothing behind the unterminated name, the name runs off the table.
    spec.entries.back().rawRecord = fixture::ToBytes("no terminator");
    EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, wide ? 0xA0000091u : 0xA0000051u);

    // A count one higher than the records, with a name and a few bytes behind.
    spec = OneEntry(version);
    spec.countField = spec.seed + 2 + 7;
    spec.extraTableBytes = {'z', 0, 1, 2, 3};
    EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, wide ? 0xA0000092u : 0xA0000052u);

    // A count field below seed + 7 wraps to a huge count.
    spec = OneEntry(version);
    spec.seed = 9;
    spec.countField = 12;
    EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, wide ? 0xA0000091u : 0xA0000051u);
  }
}

TEST(TableDetail, RawTable1xx) {
  ArchiveSpec spec = OneEntry(0x101);
  spec.countField = spec.seed + 2 + 7;
  EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, 0xA0000043u);

  fixture::EntrySpec bad = fixture::Entry("bad.txt", "x");
  bad.notExpected = true;
  bad.rawRecord = Bytes{0xE8, 0x03, 0, 0, 'a', 'b'};  // a name field of 1000 bytes
  spec = OneEntry(0x101);
  spec.entries.push_back(bad);
  EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, 0xA0000044u);

  const struct {
    uint32_t version;
    Bytes field;
    uint32_t detail;
  } names[] = {
      {0x101, Bytes(4, 'a'), 0xA0000046},
      {0x102, Bytes(13, 'a'), 0xA0000047},
      {0x103, Bytes(6, 'a'), 0xA0000048},    // n = 0: no room for a NUL
      {0x100, Bytes(5, 'a'), 0xA0000048},
  };
  for (const auto& c : names) {
    SCOPED_TRACE(c.version);
    spec = OneEntry(c.version);
    fixture::EntrySpec raw = fixture::Entry("raw.txt", "raw");
    raw.rawNameField = c.field;
    raw.notExpected = true;
    spec.entries.push_back(raw);
    EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, c.detail);
  }

  // A record cut 7 bytes short after a valid 0x100 name.
  spec = OneEntry(0x100);
  bad.rawRecord = Bytes{2, 0, 0, 0, 0x16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  spec.entries.push_back(bad);
  EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, 0xA0000049u);
}

TEST(TableDetail, RawTable12) {
  ArchiveSpec spec = OneEntry(0x12, HeaderKind::Tail);
  spec.countField = 2u << 16;
  EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, 0xA0000076u);

  fixture::EntrySpec bad = fixture::Entry("bad.txt", "x", fixture::Storage::Stored);
  bad.notExpected = true;
  // Name length 5, but only 5 name bytes follow: the terminator is missing.
  bad.rawRecord = Bytes{5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x16, 0x16, 0x16, 0x16, 0x16};
  spec = OneEntry(0x12, HeaderKind::Tail);
  spec.entries.push_back(bad);
  EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, 0xA0000073u);

  bad.rawRecord.reset();
  bad.rawNameField = fixture::ToBytes("abcd");
  spec = OneEntry(0x12, HeaderKind::Tail);
  spec.entries.push_back(bad);
  EXPECT_OUTCOME(OpenSpec(spec), GRF_E_BAD_DATA, 0xA0000075u);

  spec = OneEntry(0x12, HeaderKind::Tail);
  spec.tablePositionField = 0xFFFFFF00;
  EXPECT_OUTCOME(OpenSpec(spec), GRF_E_UNSUPPORTED, 0xA0000070u);
}

TEST(TableDetail, Table1xxOfFourGigabytes) {
  // A sparse file: header at 0, table from byte 46 to beyond 4 GiB.
  ArchiveSpec spec = OneEntry(0x100);
  spec.tablePositionField = 0;
  TempFile file("huge1xx");
  ASSERT_TRUE(file.Write(fixture::BuildArchiveBytes(spec)));
  std::error_code error;
  std::filesystem::resize_file(file.path(), (uint64_t{1} << 32) + 4096, error);
  if (error) GTEST_SKIP() << "no sparse file: " << error.message();
  grftest::Opened o = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.status, GRF_E_UNSUPPORTED);
  EXPECT_EQ(o.detail, 0xA0000040u);
}

}  // namespace
