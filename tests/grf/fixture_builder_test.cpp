// The fixture builder checks the reader; these tests check the builder: its
// own codecs against the library's decoders, and the archives it writes
// against a hand reading of their bytes.

#include "grf/cipher.h"
#include "grf/lzss.h"
#include "tests/fixtures/archive_builder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using fixture::Bytes;

uint32_t U32(const Bytes& b, uint64_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | b.at(static_cast<size_t>(at) + i);
  return v;
}
uint64_t U64(const Bytes& b, uint64_t at) {
  return U32(b, at) | (static_cast<uint64_t>(U32(b, at + 4)) << 32);
}

Bytes Inflate(const Bytes& packed, size_t expected) {
  Bytes out(expected ? expected : 1);
  uLongf length = static_cast<uLongf>(expected);
  int rc = uncompress(out.data(), &length, packed.data(), static_cast<uLong>(packed.size()));
  if (rc != Z_OK || length != expected) return Bytes{0xBA, 0xD0};
  out.resize(expected);
  return out;
}

// Decodes an entry's stored block the way a reader of the format does.
Bytes DecodeEntry(const Bytes& archive, const fixture::ExpectedEntry& e, uint32_t version) {
  if (e.realSize == 0) return {};
  Bytes block(archive.begin() + static_cast<ptrdiff_t>(e.offset),
              archive.begin() + static_cast<ptrdiff_t>(e.offset + e.alignedSize));
  if (e.flags & fixture::kFlagCipherMixed)
    DecipherMixed(block.data(), block.size(), CipherCycle(e.compressedSize));
  else if (e.flags & fixture::kFlagCipherHeader)
    DecipherHeader(block.data(), block.size());
  if (!(e.flags & fixture::kFlagCompressed)) return Bytes(block.begin(), block.begin() + e.realSize);
  if (version == 0x12) {
    Bytes out(e.realSize);
    uint32_t length = e.realSize;
    if (LzssDecode(out.data(), &length, block.data(), e.compressedSize) != lzss::kOk || length != e.realSize)
      return Bytes{0xBA, 0xD1};
    return out;
  }
  bool ciphered = e.flags & (fixture::kFlagCipherMixed | fixture::kFlagCipherHeader);
  block.resize(ciphered ? e.alignedSize : e.compressedSize);
  return Inflate(block, e.realSize);
}

TEST(FixtureBuilder, BlockTransformAgreesWithTheLibrary) {
  Bytes data = fixture::MakeContent(8 * 4096, 7, false);
  Bytes mine = data, theirs = data;
  fixture::DesTransform(mine.data(), mine.size());
  GrfDesTransform(theirs.data(), theirs.size());
  EXPECT_EQ(mine, theirs);
  uint8_t block[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  fixture::DesTransformBlock(block);
  const uint8_t expected[8] = {0x04, 0x05, 0x07, 0x17, 0x41, 0x14, 0x52, 0x52};
  EXPECT_EQ(std::memcmp(block, expected, 8), 0);
}

TEST(FixtureBuilder, EncipherIsUndoneByDecipher) {
  for (uint32_t cycle : {1u, 4u, 5u, 14u, 15u, 22u}) {
    for (size_t length : {0, 8, 160, 168, 333 * 8, 333 * 8 + 5}) {
      Bytes plain = fixture::MakeContent(length, static_cast<uint32_t>(length + cycle), false);
      Bytes mixed = plain, header = plain;
      fixture::EncipherMixed(mixed.data(), mixed.size(), cycle);
      fixture::EncipherHeader(header.data(), header.size());
      if (length >= 8) {
        EXPECT_NE(mixed, plain);
      }
      DecipherMixed(mixed.data(), mixed.size(), cycle);
      DecipherHeader(header.data(), header.size());
      EXPECT_EQ(mixed, plain) << "cycle " << cycle << " length " << length;
      EXPECT_EQ(header, plain) << "length " << length;
    }
  }
  for (int v = 0; v < 256; ++v) {
    uint8_t block[8] = {9, 8, 7, 6, 5, 4, 3, static_cast<uint8_t>(v)};
    uint8_t original[8];
    std::memcpy(original, block, 8);
    fixture::UnshuffleBlock(block);
    ShuffleBlock(block);
    EXPECT_EQ(std::memcmp(block, original, 8), 0) << v;
  }
  for (uint32_t size : {0u, 9u, 10u, 99u, 100u, 9999u, 10000u, 999999u, 1000000u, 0xFFFFFFFFu})
    EXPECT_EQ(fixture::Cycle(size), CipherCycle(size)) << size;
}

TEST(FixtureBuilder, LzssStreamsDecode) {
  const Bytes inputs[] = {
      {},
      {42},
      fixture::MakeContent(10000, 1, false),
      fixture::MakeContent(100000, 2, true),
      Bytes(70000, 0),  // long runs need distance >= length
      fixture::ToBytes("abababababababababababababababababab"),
  };
  for (const Bytes& in : inputs) {
    Bytes stream = fixture::LzssEncode(in);
    Bytes out(in.size() + 1);
    uint32_t length = static_cast<uint32_t>(in.size());
    ASSERT_EQ(LzssDecode(out.data(), &length, stream.data(), static_cast<uint32_t>(stream.size())), lzss::kOk);
    ASSERT_EQ(length, in.size());
    out.resize(length);
    EXPECT_EQ(out, in);
  }
  EXPECT_LT(fixture::LzssEncode(Bytes(70000, 0)).size(), 70000u / 5);
}

TEST(FixtureBuilder, NameEncodings) {
  const std::string name = "data\\\xC5\xD7\xBD\xBA\xC6\xAE.bmp";  // high bytes
  Bytes field = fixture::EncodeName101(name);
  ASSERT_EQ(field.size(), 6 + ((name.size() + 1 + 7) / 8) * 8);
  Bytes inner(field.begin() + 2, field.end() - 4);
  for (uint8_t& b : inner) b = static_cast<uint8_t>((b << 4) | (b >> 4));
  GrfDesTransform(inner.data(), inner.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(inner.data())), name);

  Bytes n12 = fixture::EncodeName12(name);
  ASSERT_EQ(n12.size(), name.size() + 1);
  EXPECT_EQ(n12.back(), 0);
  EXPECT_EQ(n12[0], 0x46);  // 'd' = 0x64
  EXPECT_TRUE(fixture::HasHeaderCipherExtension("a\\b.GaT"));
  EXPECT_FALSE(fixture::HasHeaderCipherExtension("a.gat.bmp"));
  EXPECT_FALSE(fixture::HasHeaderCipherExtension("noext"));
}

struct Layout {
  uint32_t version;
  fixture::HeaderKind header;
};

class EveryLayout : public ::testing::TestWithParam<Layout> {};

fixture::ArchiveSpec RichSpec(const Layout& layout) {
  using fixture::Cipher;
  using fixture::Storage;
  fixture::ArchiveSpec spec;
  spec.version = layout.version;
  spec.header = layout.header;
  spec.seed = 5;
  const bool v12 = layout.version == 0x12;
  const Storage packed = v12 ? Storage::Lzss : Storage::Zlib;
  spec.entries.push_back(fixture::Entry("data\\texture\\\xB9\xE8\xB0\xE6.bmp",
                                        fixture::MakeContent(5000, 1), packed, Cipher::Mixed));
  spec.entries.push_back(fixture::Entry("data\\map.gat", fixture::MakeContent(3000, 2, false),
                                        packed, Cipher::Header));
  spec.entries.push_back(fixture::Entry("raw.txt", "stored content", Storage::Stored));
  spec.entries.push_back(fixture::Entry("big.bin", fixture::MakeContent(200000, 3, false),
                                        Storage::Stored, Cipher::Mixed));
  spec.entries.push_back(fixture::Entry("empty.txt", ""));
  spec.entries.push_back(fixture::Link("link-to-first.bmp", 0));
  if (!v12) spec.entries.push_back(fixture::Placeholder());
  fixture::EntrySpec skipped = fixture::Entry("skip.me", "x");
  skipped.recordType = 2;
  if (v12) spec.entries.push_back(skipped);
  spec.entries.push_back(fixture::Entry("RAW.TXT", "the later record wins", Storage::Stored));
  spec.garbageAfterTable = fixture::ToBytes("trailing garbage");
  return spec;
}

TEST_P(EveryLayout, HeaderTableAndBlocksReadBack) {
  const Layout layout = GetParam();
  fixture::ArchiveSpec spec = RichSpec(layout);
  fixture::BuiltArchive built = fixture::BuildArchive(spec);
  const Bytes& b = built.bytes;
  const uint32_t count = static_cast<uint32_t>(spec.entries.size());

  uint64_t tablePos = 0;
  switch (layout.header) {
    case fixture::HeaderKind::Classic:
      EXPECT_EQ(std::memcmp(b.data(), "Master of Magic", 16), 0);
      tablePos = U32(b, 30) + 46;
      EXPECT_EQ(U32(b, 34), 5u);
      EXPECT_EQ(U32(b, 38) - U32(b, 34) - 7, count);
      EXPECT_EQ(U32(b, 42), layout.version);
      break;
    case fixture::HeaderKind::Wide:
      EXPECT_EQ(std::memcmp(b.data(), "Event Horizon", 14), 0);
      EXPECT_EQ(b[14], 0x52);
      tablePos = U64(b, 30) + 46;
      EXPECT_EQ(U32(b, 38), count);
      EXPECT_EQ(U32(b, 42), layout.version);
      break;
    case fixture::HeaderKind::Tail: {
      uint64_t t = b.size() - 9;
      tablePos = U32(b, t);
      uint32_t v = U32(b, t + 4);
      EXPECT_EQ((v >> 16) | (v << 16), count);
      EXPECT_EQ(b.back(), 0x12);
      break;
    }
  }
  EXPECT_EQ(tablePos, built.tablePosition);

  if (layout.version == 0x200 || layout.version == 0x300) {
    uint64_t prefix = layout.version == 0x300 ? 12 : 8;
    uint64_t lengths = tablePos + prefix - 8;
    uint32_t packedLength = U32(b, lengths), plainLength = U32(b, lengths + 4);
    Bytes packed(b.begin() + static_cast<ptrdiff_t>(tablePos + prefix),
                 b.begin() + static_cast<ptrdiff_t>(tablePos + prefix + packedLength));
    EXPECT_EQ(Inflate(packed, plainLength), built.uncompressedTable);
  } else {
    EXPECT_TRUE(std::equal(built.uncompressedTable.begin(), built.uncompressedTable.end(),
                           b.begin() + static_cast<ptrdiff_t>(tablePos)));
  }

  // The index should hold every entry but the skipped ones, "raw.txt" once.
  const size_t expectedCount = count - 1 - 1;  // placeholder or type 2; duplicate name
  ASSERT_EQ(built.expected.size(), expectedCount);
  const fixture::ExpectedEntry* raw = built.Find("raw.TXT");
  ASSERT_NE(raw, nullptr);
  EXPECT_EQ(raw->name, "RAW.TXT");
  EXPECT_EQ(raw->content, fixture::ToBytes("the later record wins"));
  for (const fixture::ExpectedEntry& e : built.expected) {
    EXPECT_EQ(e.realSize, e.content.size()) << e.name;
    EXPECT_EQ(DecodeEntry(b, e, layout.version), e.content) << e.name;
  }

  const fixture::ExpectedEntry* first = built.Find(spec.entries[0].name);
  const fixture::ExpectedEntry* link = built.Find("link-to-first.bmp");
  ASSERT_TRUE(first && link);
  EXPECT_EQ(link->offset, first->offset);
  EXPECT_EQ(link->flags, first->flags);
  EXPECT_EQ(link->compressedSize, first->compressedSize);

  const fixture::ExpectedEntry* empty = built.Find("empty.txt");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->alignedSize, 0u);
  EXPECT_EQ(empty->offset, 0u);
  if (layout.version != 0x12) {
    const fixture::BuiltRecord& r = built.records[4];
    const Bytes& t = built.uncompressedTable;
    size_t at = r.recordPosition - (layout.version >= 0x200 ? 0 : static_cast<size_t>(tablePos));
    if (layout.version == 0x300)
      EXPECT_EQ(U64(t, at + r.recordLength - 8), 0xFFFFFFFFFFFFFFD2ull);
    else
      EXPECT_EQ(U32(t, at + r.recordLength - 4), 0xFFFFFFD2u);
  }

  // 0x1xx tables carry the cipher by extension; enciphered blocks differ from plain.
  if ((layout.version & 0xFF00) == 0x100) {
    EXPECT_EQ(built.Find("data\\map.gat")->flags & 0x06, fixture::kFlagCipherHeader);
    EXPECT_EQ(built.Find("big.bin")->flags & 0x06, fixture::kFlagCipherMixed);
  }
  if (layout.version != 0x12) {
    const fixture::ExpectedEntry* big = built.Find("big.bin");
    EXPECT_NE(big->flags & fixture::kFlagCipherMixed, 0);
    EXPECT_FALSE(std::equal(big->content.begin(), big->content.begin() + 8,
                            b.begin() + static_cast<ptrdiff_t>(big->offset)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fixture, EveryLayout,
    ::testing::Values(Layout{0x12, fixture::HeaderKind::Tail}, Layout{0x100, fixture::HeaderKind::Classic},
                      Layout{0x101, fixture::HeaderKind::Classic}, Layout{0x103, fixture::HeaderKind::Wide},
                      Layout{0x200, fixture::HeaderKind::Classic}, Layout{0x200, fixture::HeaderKind::Wide},
                      Layout{0x300, fixture::HeaderKind::Classic}, Layout{0x300, fixture::HeaderKind::Wide}));

TEST(FixtureBuilder, PlacementOptionsKeepBlocksReadable) {
  for (bool tableFirst : {false, true}) {
    fixture::ArchiveSpec spec;
    spec.tableFirst = tableFirst;
    spec.reverseDataOrder = true;
    spec.leadingGap = 13;
    for (int i = 0; i < 40; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "e%d", i);
      spec.entries.push_back(fixture::Entry(name, fixture::MakeContent(100 + i * 37, i)));
    }
    fixture::BuiltArchive built = fixture::BuildArchive(spec);
    ASSERT_EQ(built.expected.size(), 40u);
    for (size_t i = 1; i < built.expected.size(); ++i)
      EXPECT_LT(built.expected[i].offset, built.expected[i - 1].offset);
    for (const fixture::ExpectedEntry& e : built.expected) {
      EXPECT_EQ(DecodeEntry(built.bytes, e, 0x200), e.content);
      if (tableFirst) {
        EXPECT_GE(e.offset, built.tableEnd);
      }
    }
    EXPECT_EQ(U32(built.bytes, 30) + 46u, built.tablePosition);
    if (tableFirst) {
      EXPECT_EQ(built.tablePosition, 46u + 13u);
    } else {
      EXPECT_EQ(built.expected.back().offset, 46u + 13u);  // the last record's block comes first
    }
  }
}

TEST(FixtureBuilder, OverridesAndCodecTable) {
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("a", "alpha"));
  spec.tableCodec = fixture::TableCodec::XorZlib;
  spec.countField = 1;  // below seed + 7: wraps
  spec.uncompressedTableLength = 0xFFFFFFFFu;
  fixture::BuiltArchive built = fixture::BuildArchive(spec);
  const Bytes& b = built.bytes;
  EXPECT_EQ(U32(b, 38), 1u);
  uint64_t t = built.tablePosition;
  EXPECT_EQ(U32(b, t + 4), 0xFFFFFFFFu);
  Bytes packed(b.begin() + static_cast<ptrdiff_t>(t + 8), b.begin() + static_cast<ptrdiff_t>(built.tableEnd));
  EXPECT_EQ(packed.size(), U32(b, t));
  Bytes plain = Inflate(packed, built.uncompressedTable.size());
  EXPECT_NE(plain, built.uncompressedTable);  // not plain zlib
  for (uint8_t& x : packed) x ^= 0x5A;
  EXPECT_EQ(Inflate(packed, built.uncompressedTable.size()), built.uncompressedTable);

  // A record replaced by raw bytes is written as given and not expected.
  fixture::ArchiveSpec raw;
  raw.version = 0x100;
  raw.entries.push_back(fixture::Entry("a.txt", "alpha"));
  raw.entries.back().rawRecord = Bytes{1, 2, 3};
  fixture::BuiltArchive rb = fixture::BuildArchive(raw);
  EXPECT_TRUE(rb.expected.empty());
  EXPECT_EQ(Bytes(rb.bytes.begin() + static_cast<ptrdiff_t>(rb.tablePosition), rb.bytes.end()), (Bytes{1, 2, 3}));

  // An empty 46-byte 0x12 archive keeps its table position before the end.
  fixture::ArchiveSpec empty12;
  empty12.version = 0x12;
  Bytes e = fixture::BuildArchiveBytes(empty12);
  EXPECT_EQ(U32(e, 42), 0x12u);
  EXPECT_EQ(U32(e, 38), 7u);
  EXPECT_LT(U32(e, 30) + 46u, e.size());
}

}  // namespace
