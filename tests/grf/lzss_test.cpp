#include "grf/lzss.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Result {
  int code;
  uint32_t length;
  std::string output;
};

Result Decode(const std::vector<unsigned char>& input, uint32_t capacity) {
  std::string out(capacity, '\xEE');
  uint32_t length = capacity;
  int code = LzssDecode(out.empty() ? nullptr : out.data(), &length, input.data(),
                        static_cast<uint32_t>(input.size()));
  return {code, length, out.substr(0, code == lzss::kOk || code == lzss::kTruncated ? length : 0)};
}

// Writes items of the decoder's format by hand.
struct StreamWriter {
  std::vector<unsigned char> bytes;
  size_t control = 0;
  int bit = 8;
  void Next(bool reference) {
    if (bit == 8) {
      control = bytes.size();
      bytes.push_back(0);
      bit = 0;
    }
    if (reference) bytes[control] |= static_cast<unsigned char>(1u << bit);
    ++bit;
  }
  void Literal(unsigned char c) {
    Next(false);
    bytes.push_back(c);
  }
  void Reference(uint32_t distance, uint32_t length) {
    Next(true);
    uint32_t w = distance | ((length - 2) << 12);
    bytes.push_back(static_cast<unsigned char>(w));
    bytes.push_back(static_cast<unsigned char>(w >> 8));
  }
};

TEST(Lzss, LiteralsAndReferences) {
  // literal a, literal b, reference distance 2 length 2, literal c
  Result r = Decode({0x04, 'a', 'b', 0x02, 0x00, 'c'}, 16);
  EXPECT_EQ(r.code, lzss::kOk);
  EXPECT_EQ(r.length, 5u);
  EXPECT_EQ(r.output, "ababc");
}

TEST(Lzss, LongestAndFarthestReferences) {
  StreamWriter w;
  std::string expected;
  for (int i = 0; i < 4095; ++i) {
    unsigned char c = static_cast<unsigned char>(i * 7 + i / 256);
    w.Literal(c);
    expected += static_cast<char>(c);
  }
  w.Reference(4095, 17);  // farthest distance, longest length
  expected += expected.substr(0, 17);
  w.Reference(17, 17);    // the tightest allowed: distance == length
  expected += expected.substr(expected.size() - 17, 17);
  Result r = Decode(w.bytes, 5000);
  EXPECT_EQ(r.code, lzss::kOk);
  EXPECT_EQ(r.output, expected);
  // Exactly the produced size as capacity is enough; one less is not.
  EXPECT_EQ(Decode(w.bytes, static_cast<uint32_t>(expected.size())).code, lzss::kOk);
  EXPECT_EQ(Decode(w.bytes, static_cast<uint32_t>(expected.size() - 1)).code, lzss::kOutputFull);
}

TEST(Lzss, EndOfInputInsideAGroupIsSuccess) {
  EXPECT_EQ(Decode({}, 8).code, lzss::kOk);
  EXPECT_EQ(Decode({}, 8).length, 0u);
  Result r = Decode({0xFF}, 8);  // control byte, no items
  EXPECT_EQ(r.code, lzss::kOk);
  EXPECT_EQ(r.length, 0u);
  r = Decode({0x00, 'x', 'y'}, 8);
  EXPECT_EQ(r.code, lzss::kOk);
  EXPECT_EQ(r.output, "xy");
}

TEST(Lzss, OutputFullIsResultOne) {
  Result r = Decode({0x00, 'a', 'b', 'c'}, 2);
  EXPECT_EQ(r.code, lzss::kOutputFull);
  EXPECT_EQ(r.length, 0u);
  r = Decode({0x04, 'a', 'b', 0x02, 0x00}, 3);
  EXPECT_EQ(r.code, lzss::kOutputFull);
  EXPECT_EQ(r.length, 0u);
  EXPECT_EQ(Decode({0x04, 'a', 'b', 0x02, 0x00}, 4).code, lzss::kOk);
  // A size query with no room at all.
  EXPECT_EQ(Decode({0x00, 'a'}, 0).code, lzss::kOutputFull);
}

TEST(Lzss, CutReferenceIsResultTwo) {
  Result r = Decode({0x04, 'a', 'b', 0x02}, 8);
  EXPECT_EQ(r.code, lzss::kTruncated);
  EXPECT_EQ(r.length, 2u);  // what was produced before the cut
  EXPECT_EQ(r.output, "ab");
}

TEST(Lzss, BadReferencesAreResultThree) {
  const std::vector<std::vector<unsigned char>> bad = {
      {0x01, 0x00, 0x00},                // distance 0
      {0x04, 'a', 'b', 0x03, 0x00},      // distance beyond the output
      {0x04, 'a', 'b', 0x01, 0x00},      // distance 1 below length 2
      {0x08, 'a', 'b', 'c', 0x02, 0x10}, // distance 2 below length 3
  };
  for (const auto& in : bad) {
    Result r = Decode(in, 64);
    EXPECT_EQ(r.code, lzss::kBadReference);
    EXPECT_EQ(r.length, 0u);
  }
  // distance == length is the boundary that is allowed.
  EXPECT_EQ(Decode({0x08, 'a', 'b', 'c', 0x03, 0x10}, 64).output, "abcabc");
}

}  // namespace

namespace {

// Random streams into buffers of exactly the capacity: the decoder must never
// write past it, and every result must be one of the four.
TEST(Lzss, RandomInputStaysInBounds) {
  uint32_t x = 12345;
  auto next = [&] { return x = x * 1664525u + 1013904223u; };
  for (int round = 0; round < 3000; ++round) {
    std::vector<unsigned char> in(next() % 64);
    for (unsigned char& b : in) b = static_cast<unsigned char>(next() >> 24);
    if (!in.empty() && round % 2) in[0] = 0;  // mostly literals: gives references something to copy
    uint32_t capacity = next() % 48;
    std::vector<unsigned char> out(capacity);
    uint32_t length = capacity;
    int rc = LzssDecode(out.data(), &length, in.data(), static_cast<uint32_t>(in.size()));
    ASSERT_GE(rc, lzss::kOk);
    ASSERT_LE(rc, lzss::kBadReference);
    ASSERT_LE(length, capacity);
    if (rc == lzss::kOutputFull || rc == lzss::kBadReference) {
      ASSERT_EQ(length, 0u);
    }
  }
}

}  // namespace
