// The pooled codec against zlib itself: every stream where libdeflate and
// zlib disagree gets zlib's verdict, output and consumed count; the
// recompression levels and the content CRC.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "support/content_crc.h"
#include "support/pool.h"
#include "support/zlib_pool.h"
#include "tests/fixtures/archive_builder.h"

namespace {

using fixture::Bytes;

// Writes a zlib stream bit by bit (header 78 01 first).
struct BitWriter {
  Bytes bytes{0x78, 0x01};
  uint32_t pending = 0;
  int count = 0;
  void Put(uint32_t value, int bits) {
    pending |= value << count;
    for (count += bits; count >= 8; count -= 8, pending >>= 8) bytes.push_back(pending & 0xFF);
  }
  void Code(uint32_t code, int bits) {  // Huffman codes go most significant bit first
    for (int i = bits - 1; i >= 0; --i) Put((code >> i) & 1, 1);
  }
  Bytes Finish(const Bytes& plain) {
    if (count) bytes.push_back(pending & 0xFF);
    const uint32_t sum = adler32(1, plain.data(), static_cast<uInt>(plain.size()));
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back((sum >> shift) & 0xFF);
    return bytes;
  }
};

// A fixed-Huffman block: 'a', then a match of length symbol `lengthSymbol`
// with distance code `distanceCode`, then the end of the block; the trailer
// is for the run of 'a' a distance of 1 gives.
Bytes FixedMatch(int lengthSymbol, size_t matchLength, int distanceCode = 0) {
  BitWriter w;
  w.Put(1, 1);
  w.Put(1, 2);
  w.Code(0x30 + 'a', 8);
  w.Code(0xC0 + (lengthSymbol - 280), 8);
  w.Code(distanceCode, 5);
  w.Code(0, 7);
  return w.Finish(Bytes(1 + matchLength, 'a'));
}

// A dynamic block that codes "a" with `litLenCodes` length codes declared
// (zlib allows at most 286): 'a' and end-of-block 1 bit each, one distance code.
Bytes DynamicA(int litLenCodes) {
  BitWriter w;
  w.Put(1, 1);
  w.Put(2, 2);
  w.Put(litLenCodes - 257, 5);  // HLIT
  w.Put(0, 5);                  // HDIST: one distance code
  w.Put(15, 4);                 // HCLEN: all 19 code length codes
  for (int i = 0; i < 19; ++i) w.Put(i == 3 || i == 17 ? 1 : 0, 3);  // lengths 0 and 1
  for (int symbol = 0; symbol < litLenCodes; ++symbol) w.Code(symbol == 'a' || symbol == 256, 1);
  w.Code(1, 1);  // the distance code
  w.Code(0, 1);  // 'a'
  w.Code(1, 1);  // end of block
  return w.Finish({'a'});
}

Bytes Deflate(const Bytes& plain, const Bytes& dictionary = {}) {
  z_stream s{};
  deflateInit(&s, 6);
  if (!dictionary.empty()) deflateSetDictionary(&s, dictionary.data(), static_cast<uInt>(dictionary.size()));
  Bytes out(deflateBound(&s, plain.size()));
  s.next_in = const_cast<Bytef*>(plain.data());
  s.avail_in = static_cast<uInt>(plain.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

struct Outcome {
  int code;
  unsigned long produced;
  unsigned long consumed;
  Bytes output;
};

Outcome Ours(const Bytes& stream, unsigned long capacity) {
  Outcome o{0, capacity, 0, Bytes(capacity + 1, 0xEE)};
  o.code = ZlibUncompressCounted(o.output.data(), &o.produced, stream.data(),
                                 static_cast<unsigned long>(stream.size()), &o.consumed);
  return o;
}

Outcome Zlibs(const Bytes& stream, unsigned long capacity) {
  Outcome o{0, capacity, 0, Bytes(capacity + 1, 0xEE)};
  uLongf produced = capacity;
  uLong consumed = static_cast<uLong>(stream.size());
  o.code = uncompress2(capacity ? o.output.data() : nullptr, &produced, stream.data(), &consumed);
  o.produced = produced;
  o.consumed = consumed;
  return o;
}

TEST(CodecParity, StreamsLibdeflateAndZlibJudgeDifferentlyGetZlibsVerdict) {
  const Bytes plain = fixture::MakeContent(5000, 3);
  const Bytes good = Deflate(plain);
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
      {"preset dictionary", Deflate(plain, Bytes(300, 'd')), 5000},
      {"distance beyond the output", FixedMatch(257, 3, 1), 4},
      {"length code 285 (258)", FixedMatch(285, 258), 259},
      {"dynamic block, 286 length codes", DynamicA(286), 1},
  };
  const uint32_t liveBlocks = GetPoolCounters().liveBlocks;
  for (const Case& c : cases) {
    const Outcome want = Zlibs(c.stream, c.capacity);
    const Outcome got = Ours(c.stream, c.capacity);
    EXPECT_EQ(got.code, want.code) << c.what;
    EXPECT_EQ(got.produced, want.produced) << c.what;
    if (want.code == Z_OK) {
      EXPECT_EQ(got.consumed, want.consumed) << c.what;
    }
    if (c.capacity) {
      EXPECT_EQ(got.output, want.output) << c.what;
    }
  }
  EXPECT_EQ(GetPoolCounters().liveBlocks, liveBlocks);

  // zlib's state comes from the pool: running out of it is zlib's Z_MEM_ERROR
  // wherever zlib judges the stream.
  PoolInjectFailures(0, 1);
  EXPECT_EQ(Ours(cases[3].stream, 5000).code, Z_MEM_ERROR);
  PoolInjectFailures(0, 0);
}

// The differences kept: the reserved length symbols 286/287 (and distance
// codes 30/31), and dynamic headers declaring more than 286 length or 30
// distance codes. zlib refuses them, libdeflate reads them. No encoder writes
// them, and telling them apart would mean decoding every stream twice.
TEST(CodecParity, ReservedCodesAreTheKnownDifference) {
  const struct {
    Bytes stream;
    unsigned long capacity;
  } cases[] = {{FixedMatch(286, 258), 259}, {DynamicA(287), 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(Zlibs(c.stream, c.capacity).code, Z_DATA_ERROR);
#ifndef SLIMWICK_CODEC_ZLIB_ONLY
    EXPECT_EQ(Ours(c.stream, c.capacity).code, Z_OK);
#endif
  }
}

TEST(CodecParity, CompressionKeepsZlibsContractAndLevels) {
  const Bytes plain = fixture::MakeContent(20000, 5);
  for (int level : {Z_DEFAULT_COMPRESSION, 0, 1, 9}) {
    Bytes packed(compressBound(plain.size()));
    unsigned long length = packed.size();
    ASSERT_EQ(ZlibCompressPooled(packed.data(), &length, plain.data(), plain.size(), level), Z_OK);
    Bytes back(plain.size());
    uLongf backLength = back.size();
    EXPECT_EQ(uncompress(back.data(), &backLength, packed.data(), length), Z_OK) << level;
    EXPECT_EQ(back, plain) << level;
  }
  Bytes small(8);
  unsigned long smallLength = small.size();
  EXPECT_EQ(ZlibCompressPooled(small.data(), &smallLength, plain.data(), plain.size(), 6), Z_BUF_ERROR);
  smallLength = small.size();
  EXPECT_EQ(ZlibCompressPooled(small.data(), &smallLength, plain.data(), plain.size(), 10), Z_STREAM_ERROR);

  uint32_t sizes[kMaxDeflateLevel + 1] = {};
  for (int level = 0; level <= kMaxDeflateLevel + 1; ++level) {
    unsigned char* out = nullptr;
    uint32_t length = 0;
    const int status = DeflateToNewBuffer(plain.data(), static_cast<uint32_t>(plain.size()), level, &length, &out);
    if (level < kMinDeflateLevel || level > kMaxDeflateLevel) {
      EXPECT_EQ(status, Z_STREAM_ERROR) << level;
      EXPECT_EQ(out, nullptr);
      continue;
    }
    ASSERT_EQ(status, Z_OK) << level;
    Bytes back(plain.size());
    uLongf backLength = back.size();
    EXPECT_EQ(uncompress(back.data(), &backLength, out, length), Z_OK) << level;
    EXPECT_EQ(back, plain) << level;
    sizes[level] = length;
    PoolFree(out);
  }
#ifndef SLIMWICK_CODEC_ZLIB_ONLY
  EXPECT_LT(sizes[12], sizes[1]);
#endif
}

TEST(CodecParity, ContentCrcIsZlibsCrc32) {
  const Bytes data = fixture::MakeContent(100000, 9, false);
  for (size_t length : {size_t{0}, size_t{1}, size_t{15}, size_t{4096}, data.size()}) {
    EXPECT_EQ(ContentCrc32(data.data(), length), crc32(0, data.data(), static_cast<uInt>(length))) << length;
  }
  EXPECT_EQ(ContentCrc32Update(ContentCrc32(data.data(), 777), data.data() + 777, data.size() - 777),
            ContentCrc32(data.data(), data.size()));
}

TEST(CodecParity, ThreadsShareNothingAndLeaveThePoolBalanced) {
  const Bytes plain = fixture::MakeContent(30000, 11);
  const Bytes packed = Deflate(plain);
  const uint32_t liveBlocks = GetPoolCounters().liveBlocks;
  int failures[2] = {};
  auto work = [&](int* failed) {
    for (int i = 0; i < 50; ++i) {
      const Outcome o = Ours(packed, static_cast<unsigned long>(plain.size()));
      unsigned char* out = nullptr;
      uint32_t length = 0;
      if (o.code != Z_OK || !std::equal(plain.begin(), plain.end(), o.output.begin())) ++*failed;
      if (DeflateToNewBuffer(plain.data(), static_cast<uint32_t>(plain.size()), 1 + i % 12, &length, &out) != Z_OK) ++*failed;
      if (out) PoolFree(out);
    }
  };
  std::thread a(work, &failures[0]);
  std::thread b(work, &failures[1]);
  a.join();
  b.join();
  EXPECT_EQ(failures[0] + failures[1], 0);
  EXPECT_EQ(GetPoolCounters().liveBlocks, liveBlocks);
}

}  // namespace
