#include "grf/cipher.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <set>
#include <vector>

namespace {

using Block = std::array<unsigned char, 8>;

Block Transformed(Block b) {
  GrfDesTransform(b.data(), b.size());
  return b;
}

TEST(Cipher, BlockTransformWorkedValues) {
  struct Case {
    Block in, out;
  } cases[] = {
      {{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}, {0x04, 0x05, 0x07, 0x17, 0x41, 0x14, 0x52, 0x52}},
      {{0, 0, 0, 0, 0, 0, 0, 0}, {0x04, 0x04, 0x01, 0x55, 0x55, 0x01, 0x54, 0x55}},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0xEA, 0xEE, 0xFF, 0xAA, 0xAB, 0xBB, 0xEA, 0xEA}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Transformed(c.in), c.out);
    EXPECT_EQ(Transformed(c.out), c.in);  // its own inverse
  }
}

// What a cipher did to each block of a buffer of distinct blocks.
enum class Fate { Unchanged, Transformed, Shuffled, Other };

std::vector<Fate> Classify(const std::vector<unsigned char>& before, const std::vector<unsigned char>& after) {
  std::vector<Fate> fates;
  for (size_t j = 0; j + 8 <= before.size(); j += 8) {
    Block b, a;
    std::memcpy(b.data(), &before[j], 8);
    std::memcpy(a.data(), &after[j], 8);
    Block s = b;
    ShuffleBlock(s.data());
    if (a == b)
      fates.push_back(Fate::Unchanged);
    else if (a == Transformed(b))
      fates.push_back(Fate::Transformed);
    else if (a == s)
      fates.push_back(Fate::Shuffled);
    else
      fates.push_back(Fate::Other);
  }
  return fates;
}

std::vector<unsigned char> DistinctBlocks(size_t blocks) {
  std::vector<unsigned char> buf(blocks * 8);
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<unsigned char>((i * 131 + i / 8 * 7 + 3) & 0xFF);
  return buf;
}

std::set<size_t> Indices(const std::vector<Fate>& fates, Fate wanted) {
  std::set<size_t> out;
  for (size_t i = 0; i < fates.size(); ++i)
    if (fates[i] == wanted) out.insert(i);
  return out;
}

// Which blocks the mixed decipher transforms (the first 20 and every
// cycle-th) and which it shuffles, block by block.
TEST(Cipher, MixedBlockMaps) {
  struct Case {
    size_t blocks;
    uint32_t cycle;
    std::set<size_t> transformed, shuffled;
  } cases[] = {
      {40, 4, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 24, 28, 32, 36},
       {30, 39}},
      {60, 14, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 28, 42, 56},
       {27, 35, 43, 50, 58}},
  };
  for (const Case& c : cases) {
    std::vector<unsigned char> buf = DistinctBlocks(c.blocks), original = buf;
    DecipherMixed(buf.data(), buf.size(), c.cycle);
    std::vector<Fate> fates = Classify(original, buf);
    EXPECT_EQ(Indices(fates, Fate::Transformed), c.transformed) << c.blocks;
    EXPECT_EQ(Indices(fates, Fate::Shuffled), c.shuffled) << c.blocks;
    EXPECT_TRUE(Indices(fates, Fate::Other).empty()) << c.blocks;
  }
}

}  // namespace
