#include "grf/lzss.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Stream = std::vector<unsigned char>;

struct Result {
  int code;
  uint32_t length;
  std::string output;
};

Result Decode(const Stream& input, uint32_t capacity) {
  std::string out(capacity, '\xEE');
  uint32_t length = capacity;
  int code = LzssDecode(out.empty() ? nullptr : out.data(), &length, input.data(),
                        static_cast<uint32_t>(input.size()));
  return {code, length, out.substr(0, code == lzss::kOk || code == lzss::kTruncated ? length : 0)};
}

// Control byte bits (least significant first): 0 literal, 1 reference word
// (distance low 12 bits, length - 2 high 4).
TEST(Lzss, KnownStreams) {
  struct Case {
    const char* what;
    Stream input;
    uint32_t capacity;
    int code;
    uint32_t length;
    std::string output;
  } cases[] = {
      {"literals and a reference", {0x04, 'a', 'b', 0x02, 0x00, 'c'}, 16, lzss::kOk, 5, "ababc"},
      {"distance equal to length", {0x08, 'a', 'b', 'c', 0x03, 0x10}, 64, lzss::kOk, 6, "abcabc"},
      {"nothing", {}, 8, lzss::kOk, 0, ""},
      {"a control byte without items", {0xFF}, 8, lzss::kOk, 0, ""},
      {"input ends inside a group", {0x00, 'x', 'y'}, 8, lzss::kOk, 2, "xy"},
      {"exactly the capacity", {0x04, 'a', 'b', 0x02, 0x00}, 4, lzss::kOk, 4, "abab"},
      {"literal past the capacity", {0x00, 'a', 'b', 'c'}, 2, lzss::kOutputFull, 0, ""},
      {"reference past the capacity", {0x04, 'a', 'b', 0x02, 0x00}, 3, lzss::kOutputFull, 0, ""},
      {"no room at all", {0x00, 'a'}, 0, lzss::kOutputFull, 0, ""},
      {"reference cut after one byte", {0x04, 'a', 'b', 0x02}, 8, lzss::kTruncated, 2, "ab"},
      {"distance 0", {0x01, 0x00, 0x00}, 64, lzss::kBadReference, 0, ""},
      {"distance beyond the output", {0x04, 'a', 'b', 0x03, 0x00}, 64, lzss::kBadReference, 0, ""},
      {"distance 1 below length 2", {0x04, 'a', 'b', 0x01, 0x00}, 64, lzss::kBadReference, 0, ""},
      {"distance 2 below length 3", {0x08, 'a', 'b', 'c', 0x02, 0x10}, 64, lzss::kBadReference, 0, ""},
  };
  for (const Case& c : cases) {
    const Result r = Decode(c.input, c.capacity);
    EXPECT_EQ(r.code, c.code) << c.what;
    EXPECT_EQ(r.length, c.length) << c.what;
    EXPECT_EQ(r.output, c.output) << c.what;
  }
}

TEST(Lzss, LongestAndFarthestReferences) {
  Stream in;
  std::string expected;
  for (int i = 0; i < 4095; ++i) {
    if (i % 8 == 0) in.push_back(0);
    const auto c = static_cast<unsigned char>(i * 7 + i / 256);
    in.push_back(c);
    expected += static_cast<char>(c);
  }
  // 4095 = 511 groups of 8 and 7 literals: the last group has one slot left.
  in[in.size() - 8] |= 0x80;
  in.insert(in.end(), {0xFF, 0xFF});  // distance 4095, length 17
  expected += expected.substr(0, 17);
  in.insert(in.end(), {0x01, 0x11, 0xF0});  // distance 17, length 17
  expected += expected.substr(expected.size() - 17, 17);
  const auto size = static_cast<uint32_t>(expected.size());
  const Result r = Decode(in, 5000);
  EXPECT_EQ(r.code, lzss::kOk);
  EXPECT_EQ(r.output, expected);
  EXPECT_EQ(Decode(in, size).code, lzss::kOk);
  EXPECT_EQ(Decode(in, size - 1).code, lzss::kOutputFull);
}

}  // namespace
