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

TEST(Cipher, BlockTransformRunsOnWholeBlocksOnly) {
  std::vector<unsigned char> buf(8 * 3 + 5);
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<unsigned char>(i * 37 + 11);
  std::vector<unsigned char> original = buf;
  GrfDesTransform(buf.data(), buf.size());
  for (size_t j = 0; j < 3; ++j) {
    Block b;
    std::memcpy(b.data(), &original[8 * j], 8);
    EXPECT_EQ(std::memcmp(&buf[8 * j], Transformed(b).data(), 8), 0) << "block " << j;
  }
  EXPECT_TRUE(std::equal(buf.end() - 5, buf.end(), original.end() - 5));
  GrfDesTransform(buf.data(), buf.size());
  EXPECT_EQ(buf, original);
}

TEST(Cipher, CycleByDigitCount) {
  EXPECT_EQ(CipherCycle(0), 1u);
  EXPECT_EQ(CipherCycle(99), 1u);
  EXPECT_EQ(CipherCycle(100), 4u);
  EXPECT_EQ(CipherCycle(9999), 5u);
  EXPECT_EQ(CipherCycle(10000), 14u);
  EXPECT_EQ(CipherCycle(999999), 15u);
  EXPECT_EQ(CipherCycle(1000000), 22u);
  EXPECT_EQ(CipherCycle(99999999), 23u);
  EXPECT_EQ(CipherCycle(100000000), 24u);
  EXPECT_EQ(CipherCycle(0xFFFFFFFFu), 25u);
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

TEST(Cipher, MixedBlockMapForty) {
  std::vector<unsigned char> buf = DistinctBlocks(40), original = buf;
  DecipherMixed(buf.data(), buf.size(), 4);
  std::vector<Fate> fates = Classify(original, buf);
  std::set<size_t> transformed;
  for (size_t j = 0; j <= 20; ++j) transformed.insert(j);
  for (size_t j : {24, 28, 32, 36}) transformed.insert(j);
  EXPECT_EQ(Indices(fates, Fate::Transformed), transformed);
  EXPECT_EQ(Indices(fates, Fate::Shuffled), (std::set<size_t>{30, 39}));
  EXPECT_TRUE(Indices(fates, Fate::Other).empty());
}

TEST(Cipher, MixedBlockMapSixty) {
  std::vector<unsigned char> buf = DistinctBlocks(60), original = buf;
  DecipherMixed(buf.data(), buf.size(), 14);
  std::vector<Fate> fates = Classify(original, buf);
  std::set<size_t> transformed;
  for (size_t j = 0; j < 20; ++j) transformed.insert(j);
  for (size_t j : {28, 42, 56}) transformed.insert(j);
  EXPECT_EQ(Indices(fates, Fate::Transformed), transformed);
  EXPECT_EQ(Indices(fates, Fate::Shuffled), (std::set<size_t>{27, 35, 43, 50, 58}));
  EXPECT_TRUE(Indices(fates, Fate::Other).empty());
}

TEST(Cipher, HeaderAndCycleOneBlockCounts) {
  struct Case {
    size_t length, header, mixed;
  } cases[] = {{0, 0, 0}, {8, 1, 1}, {160, 20, 20}, {168, 20, 21}};
  for (const Case& c : cases) {
    // One guard block after the stored length must stay untouched.
    std::vector<unsigned char> original = DistinctBlocks(c.length / 8 + 1);
    std::vector<unsigned char> buf = original;
    DecipherHeader(buf.data(), c.length);
    std::vector<Fate> fates = Classify(original, buf);
    EXPECT_EQ(Indices(fates, Fate::Transformed).size(), c.header) << c.length;
    EXPECT_EQ(Indices(fates, Fate::Unchanged).size(), fates.size() - c.header) << c.length;

    buf = original;
    DecipherMixed(buf.data(), c.length, 1);
    fates = Classify(original, buf);
    EXPECT_EQ(Indices(fates, Fate::Transformed).size(), c.mixed) << c.length;
    EXPECT_EQ(Indices(fates, Fate::Unchanged).size(), fates.size() - c.mixed) << c.length;
  }
}

TEST(Cipher, MixedLeavesPartialTail) {
  std::vector<unsigned char> buf = DistinctBlocks(30);
  buf.resize(buf.size() - 3);
  std::vector<unsigned char> original = buf;
  DecipherMixed(buf.data(), buf.size(), 4);
  EXPECT_TRUE(std::equal(buf.end() - 5, buf.end(), original.end() - 5));
  // Block 28 is the last whole one and a cycle-4 block.
  EXPECT_EQ(Classify(original, buf)[28], Fate::Transformed);
}

TEST(Cipher, ShuffleTable) {
  const std::set<std::pair<int, int>> pairs = {{0x00, 0x2B}, {0x01, 0x68}, {0x48, 0x77}, {0x60, 0xFF},
                                               {0x6C, 0x80}, {0xB9, 0xC0}, {0xEB, 0xFE}};
  for (int v = 0; v < 256; ++v) {
    unsigned char block[8] = {10, 11, 12, 13, 14, 15, 16, static_cast<unsigned char>(v)};
    ShuffleBlock(block);
    const unsigned char head[7] = {13, 14, 16, 10, 11, 12, 15};
    EXPECT_EQ(std::memcmp(block, head, 7), 0);
    int expected = v;
    for (auto [a, b] : pairs) {
      if (v == a) expected = b;
      if (v == b) expected = a;
    }
    EXPECT_EQ(block[7], expected) << "byte " << v;
  }
  // Not its own inverse.
  unsigned char block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ShuffleBlock(block);
  ShuffleBlock(block);
  const unsigned char original[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_NE(std::memcmp(block, original, 8), 0);
}

}  // namespace
