// The test codec libraries must really differ from zlib and keep its
// result codes, or the hook tests built on them prove nothing.

#include "tests/fixtures/archive_builder.h"
#include "tests/fixtures/test_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

namespace {

using fixture::Bytes;
using fixture::CodecVariant;

TEST(TestCodecLibrary, VariantsExportTheirFunctions) {
  fixture::TestCodecLibrary a(CodecVariant::CompressAndUncompress);
  ASSERT_TRUE(a.loaded()) << a.path();
  EXPECT_NE(a.compress(), nullptr);
  EXPECT_EQ(a.compress2(), nullptr);
  EXPECT_NE(a.uncompress(), nullptr);
  fixture::TestCodecLibrary b(CodecVariant::Compress2AndUncompress);
  ASSERT_TRUE(b.loaded()) << b.path();
  EXPECT_EQ(b.compress(), nullptr);
  EXPECT_NE(b.compress2(), nullptr);
  EXPECT_NE(b.uncompress(), nullptr);
}

TEST(TestCodecLibrary, FormatIsXoredZlib) {
  fixture::TestCodecLibrary a(CodecVariant::CompressAndUncompress);
  fixture::TestCodecLibrary b(CodecVariant::Compress2AndUncompress);
  ASSERT_TRUE(a.loaded() && b.loaded());
  const Bytes plain = fixture::MakeContent(300000, 4);

  Bytes packed(compressBound(static_cast<uLong>(plain.size())));
  unsigned long packedLength = static_cast<unsigned long>(packed.size());
  ASSERT_EQ(a.compress()(packed.data(), &packedLength, plain.data(), static_cast<unsigned long>(plain.size())), Z_OK);
  packed.resize(packedLength);
  Bytes packed9(compressBound(static_cast<uLong>(plain.size())));
  unsigned long packed9Length = static_cast<unsigned long>(packed9.size());
  ASSERT_EQ(b.compress2()(packed9.data(), &packed9Length, plain.data(), static_cast<unsigned long>(plain.size()), 9),
            Z_OK);
  packed9.resize(packed9Length);

  Bytes out(plain.size());
  uLongf outLength = static_cast<uLongf>(out.size());
  // Plain zlib cannot read it; XOR 0x5A turns it into zlib data.
  EXPECT_NE(uncompress(out.data(), &outLength, packed.data(), static_cast<uLong>(packed.size())), Z_OK);
  Bytes unmasked = packed;
  for (uint8_t& x : unmasked) x ^= 0x5A;
  outLength = static_cast<uLongf>(out.size());
  ASSERT_EQ(uncompress(out.data(), &outLength, unmasked.data(), static_cast<uLong>(unmasked.size())), Z_OK);
  EXPECT_EQ(out, plain);

  // The library reads its own output, the builder's, and both variants agree.
  for (const Bytes* source : {&packed, &packed9}) {
    for (const fixture::TestCodecLibrary* lib : {&a, &b}) {
      Bytes got(plain.size());
      unsigned long n = static_cast<unsigned long>(got.size());
      ASSERT_EQ(lib->uncompress()(got.data(), &n, source->data(), static_cast<unsigned long>(source->size())), Z_OK);
      EXPECT_EQ(n, plain.size());
      EXPECT_EQ(got, plain);
    }
  }
  const Bytes table = fixture::MakeContent(5000, 9, false);
  const Bytes built = fixture::XorZlibCompress(table);
  Bytes got(table.size());
  unsigned long n = static_cast<unsigned long>(got.size());
  ASSERT_EQ(a.uncompress()(got.data(), &n, built.data(), static_cast<unsigned long>(built.size())), Z_OK);
  EXPECT_EQ(got, table);
}

// The same answers as zlib's uncompress gives for the unmasked input.
TEST(TestCodecLibrary, ZlibResultCodes) {
  fixture::TestCodecLibrary a(CodecVariant::CompressAndUncompress);
  ASSERT_TRUE(a.loaded());
  const Bytes plain = fixture::MakeContent(20000, 5, false);
  const Bytes zlibData = fixture::ZlibCompress(plain);
  struct Case {
    const char* what;
    Bytes zlibInput;
    size_t capacity;
    int expected;
  } cases[] = {
      {"exact", zlibData, plain.size(), Z_OK},
      {"roomy", zlibData, plain.size() + 100, Z_OK},
      {"one short", zlibData, plain.size() - 1, Z_BUF_ERROR},
      {"no room", zlibData, 0, Z_DATA_ERROR},  // zlib's answer for a zero-length destination
      {"cut in the data", Bytes(zlibData.begin(), zlibData.begin() + zlibData.size() / 2), plain.size(),
       Z_DATA_ERROR},
      {"cut in the check", Bytes(zlibData.begin(), zlibData.end() - 3), plain.size(), 0},
      {"empty input", Bytes{}, plain.size(), 0},
      {"bad header", Bytes{0x12, 0x34, 0x56, 0x78}, plain.size(), Z_DATA_ERROR},
      {"empty stream", fixture::ZlibCompress(Bytes{}), 0, Z_OK},
  };
  for (const Case& c : cases) {
    Bytes masked = c.zlibInput;
    for (uint8_t& x : masked) x ^= 0x5A;
    Bytes mine(c.capacity + 1), zlibs(c.capacity + 1);
    unsigned long mineLength = static_cast<unsigned long>(c.capacity);
    uLongf zlibLength = static_cast<uLongf>(c.capacity);
    int rc = a.uncompress()(mine.data(), &mineLength, masked.data(), static_cast<unsigned long>(masked.size()));
    int zrc = uncompress(zlibs.data(), &zlibLength, c.zlibInput.data(), static_cast<uLong>(c.zlibInput.size()));
    EXPECT_EQ(rc, zrc) << c.what;
    if (c.expected != 0) {
      EXPECT_EQ(rc, c.expected) << c.what;
    }
    if (rc == Z_OK) {
      EXPECT_EQ(mineLength, zlibLength) << c.what;
      EXPECT_TRUE(std::equal(mine.begin(), mine.begin() + mineLength, plain.begin())) << c.what;
    }
  }
  // Plain zlib data is not this library's format.
  Bytes out(plain.size());
  unsigned long length = static_cast<unsigned long>(out.size());
  EXPECT_NE(a.uncompress()(out.data(), &length, zlibData.data(), static_cast<unsigned long>(zlibData.size())), Z_OK);

  Bytes small(10);
  unsigned long smallLength = static_cast<unsigned long>(small.size());
  EXPECT_EQ(a.compress()(small.data(), &smallLength, plain.data(), static_cast<unsigned long>(plain.size())),
            Z_BUF_ERROR);
}

}  // namespace
