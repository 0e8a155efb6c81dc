// The pooled codec against zlib: where libdeflate and zlib disagree, zlib's verdict, output and count.
// (Not held here, as no encoder writes them: reserved codes, which libdeflate reads and zlib refuses.)

#include <gtest/gtest.h>
#include <zlib.h>
#include <string>
#include <thread>
#include <vector>
#include "support/content_crc.h"
#include "support/pool.h"
#include "support/zlib_pool.h"
#include "tests/fixtures/archive_builder.h"

namespace {
using fixture::Bytes;

struct Outcome {
  int code;
  unsigned long produced, consumed;
  Bytes output;
};
Outcome Decode(const Bytes& stream, unsigned long capacity, bool zlib = false) {
  Outcome o{0, capacity, static_cast<unsigned long>(stream.size()), Bytes(capacity + 1, 0xEE)};
  o.code = zlib ? uncompress2(capacity ? o.output.data() : nullptr, &o.produced, stream.data(), &o.consumed)
                : ZlibUncompressCounted(o.output.data(), &o.produced, stream.data(), o.consumed, &o.consumed);
  return o;
}

TEST(CodecParity, StreamsLibdeflateAndZlibJudgeDifferentlyGetZlibsVerdict) {
  const Bytes plain = fixture::MakeContent(5000, 3);
  const Bytes good = fixture::ZlibCompress(plain);
  auto edit = [&](auto change) {
    Bytes b = good;
    change(b);
    return b;
  };
  struct Case {
    const char* what;
    Bytes stream;
    unsigned long capacity;
  } cases[] = {
      {"exact buffer", good, 5000},
      {"room to spare (short output)", good, 6000},
      {"trailing bytes after the stream", edit([](Bytes& b) { b.insert(b.end(), 7, 0x55); }), 5000},
      {"stream ends early", edit([](Bytes& b) { b.resize(b.size() - 30); }), 5000},
      {"Adler-32 missing", edit([](Bytes& b) { b.resize(b.size() - 4); }), 5000},
      {"Adler-32 cut short, buffer full", edit([](Bytes& b) { b.resize(b.size() - 2); }), 5000},
      {"bad Adler-32", edit([](Bytes& b) { b.back() ^= 1; }), 5000},
      {"output exceeds the buffer", good, 4999},
      {"zero capacity", good, 0},
      {"bad header check", edit([](Bytes& b) { b[1] ^= 1; }), 5000},
      {"window larger than 32K", edit([](Bytes& b) { b[0] = 0x88, b[1] = 0x1C; }), 5000},
      {"not zlib at all", Bytes{'n', 'o', 't', ' ', 'z'}, 5000},
      {"empty input", Bytes{}, 5000},
      {"preset dictionary", edit([](Bytes& b) { b[1] = 0x20, b.insert(b.begin() + 2, 4, 0); }), 5000},
  };
  for (const Case& c : cases) {
    const Outcome want = Decode(c.stream, c.capacity, true);
    const Outcome got = Decode(c.stream, c.capacity);
    EXPECT_EQ(got.code, want.code) << c.what;
    EXPECT_EQ(got.produced, want.produced) << c.what;
    EXPECT_TRUE(want.code != Z_OK || got.consumed == want.consumed) << c.what;
    EXPECT_TRUE(!c.capacity || got.output == want.output) << c.what;
  }
  // zlib's state comes from the pool: running out of it is zlib's Z_MEM_ERROR
  // wherever zlib judges the stream.
  PoolInjectFailures(0, 1);
  const Outcome starved = Decode(cases[3].stream, 5000);
  EXPECT_TRUE(starved.code == Z_MEM_ERROR && starved.produced == 0 && starved.consumed == 0);
  PoolInjectFailures(0, 0);
}

// Levels round-trip through zlib on two threads (TSan); out of range or too small: zlib's error.
TEST(CodecParity, CompressionKeepsZlibsContractAndCrcIsZlibs) {
  const Bytes plain = fixture::MakeContent(20000, 5);
  Bytes six;
  for (int level : {6, Z_DEFAULT_COMPRESSION, 0, 9}) {  // zlib's levels through the pooled call, 6 its default
    Bytes packed(compressBound(plain.size())), back(plain.size());
    unsigned long length = packed.size(), backLength = back.size();
    EXPECT_EQ(ZlibCompressPooled(packed.data(), &length, plain.data(), plain.size(), level), Z_OK);
    EXPECT_TRUE(uncompress(back.data(), &backLength, packed.data(), length) == Z_OK && back == plain) << level;
    packed.resize(length);
    EXPECT_TRUE(level != Z_DEFAULT_COMPRESSION || packed == six) << "the default is level 6";
    if (level == 6) six = packed;
  }
  Bytes small(8);
  unsigned long smallLength = small.size();
  EXPECT_EQ(ZlibCompressPooled(small.data(), &smallLength, plain.data(), plain.size(), 10), Z_STREAM_ERROR);
  EXPECT_EQ(ZlibCompressPooled(small.data(), &smallLength, plain.data(), plain.size(), 6), Z_BUF_ERROR);
  // One byte short of an incompressible stream (one stored block, whichever codec): no room for it.
  const Bytes noise = fixture::MakeContent(10000, 6, false);
  Bytes packed(compressBound(noise.size()));
  unsigned long exact = packed.size(), tight = 0;
  ASSERT_EQ(compress2(packed.data(), &exact, noise.data(), noise.size(), 6), Z_OK);
  EXPECT_EQ(ZlibCompressPooled(packed.data(), &(tight = exact - 1), noise.data(), noise.size(), 6), Z_BUF_ERROR);
  EXPECT_EQ(ZlibCompressPooled(packed.data(), &(tight = exact), noise.data(), noise.size(), 6), Z_OK);
  uint32_t sizes[kMaxDeflateLevel + 2] = {};
  auto levels = [&](int first) {
    for (int level = first; level <= kMaxDeflateLevel + 1; level += 2) {
      Bytes back(plain.size());
      unsigned char* out = back.data();  // on failure both outs are cleared
      const int status = DeflateToNewBuffer(plain.data(), static_cast<uint32_t>(plain.size()), level, &(sizes[level] = 1), &out);
      uLongf backLength = back.size();
      const bool valid = level >= kMinDeflateLevel && level <= kMaxDeflateLevel;
      EXPECT_EQ(status, valid ? Z_OK : Z_STREAM_ERROR) << level;
      EXPECT_TRUE(valid ? uncompress(back.data(), &backLength, out, sizes[level]) == Z_OK && back == plain : !out && !sizes[level]) << level;
      if (out) PoolFree(out);
    }
  };
  std::thread odd(levels, 1);
  levels(0);
  odd.join();
#ifndef SLIMWICK_CODEC_ZLIB_ONLY
  Bytes zlibBest(compressBound(plain.size()));
  uLongf zlibLength = zlibBest.size();
  ASSERT_EQ(compress2(zlibBest.data(), &zlibLength, plain.data(), plain.size(), 9), Z_OK);
  EXPECT_LT(sizes[12], zlibLength);  // libdeflate at work: below zlib's best
  EXPECT_LT(sizes[12], sizes[1]);
#endif
  for (size_t length : {size_t{0}, size_t{15}, plain.size()})
    EXPECT_EQ(ContentCrc32(plain.data(), length), crc32(0, plain.data(), static_cast<uInt>(length))) << length;
  EXPECT_EQ(ContentCrc32Update(ContentCrc32(plain.data(), 777), plain.data() + 777, plain.size() - 777),
            ContentCrc32(plain.data(), plain.size()));
}
}  // namespace
