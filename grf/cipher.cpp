#include "grf/cipher.h"

#include <cstring>

// The block transform is DES cut down to one round with an all-zero round
// key and without the final swap of the halves. It runs on precomputed
// tables: the two permutations as one 64-bit mask per input byte value, and
// each S-box fused with the P permutation.

namespace {

// FIPS 46-3 tables, bit 1 being the most significant bit of byte 0.
constexpr unsigned char kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
constexpr unsigned char kFinalPermutation[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
constexpr unsigned char kRoundPermutation[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr unsigned char kSBoxes[8][64] = {
    // Rows of 16, row chosen by the outer bits of the 6-bit group.
    {14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7,
     0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8,
     4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0,
     15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13},
    {15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10,
     3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5,
     0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15,
     13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9},
    {10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8,
     13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1,
     13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7,
     1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12},
    {7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15,
     13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9,
     10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4,
     3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14},
    {2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9,
     14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6,
     4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14,
     11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3},
    {12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11,
     10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8,
     9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6,
     4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13},
    {4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1,
     13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6,
     1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2,
     6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12},
    {13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7,
     1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2,
     7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8,
     2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}};

constexpr int kHeaderBlocks = 20;

struct Tables {
  // Permutation of a 64-bit value (bit 1 = bit 63) as the OR of one mask per
  // input byte.
  uint64_t initial[8][256];
  uint64_t final[8][256];
  // S-box k followed by P, indexed by the 6-bit group.
  uint32_t sp[8][64];

  Tables() {
    BuildPermutation(kInitialPermutation, initial);
    BuildPermutation(kFinalPermutation, final);
    for (int box = 0; box < 8; ++box) {
      for (int group = 0; group < 64; ++group) {
        int row = ((group >> 4) & 2) | (group & 1);
        int column = (group >> 1) & 15;
        uint32_t value = kSBoxes[box][row * 16 + column];
        // The S-box output occupies bits 4*box+1 .. 4*box+4 before P.
        uint32_t before = value << (28 - 4 * box);
        uint32_t after = 0;
        for (int i = 0; i < 32; ++i) {
          if (before & (0x80000000u >> (kRoundPermutation[i] - 1))) after |= 0x80000000u >> i;
        }
        sp[box][group] = after;
      }
    }
  }

  static void BuildPermutation(const unsigned char* table, uint64_t (&out)[8][256]) {
    std::memset(out, 0, sizeof out);
    for (int o = 0; o < 64; ++o) {
      int in = table[o] - 1;
      int byte = in / 8;
      unsigned bit = 0x80u >> (in % 8);
      for (unsigned v = 0; v < 256; ++v) {
        if (v & bit) out[byte][v] |= uint64_t{1} << (63 - o);
      }
    }
  }
};

const Tables& GetTables() {
  static const Tables tables;
  return tables;
}

inline uint64_t Permute(const uint64_t (&table)[8][256], const unsigned char* bytes) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= table[i][bytes[i]];
  return v;
}

inline uint32_t RoundFunction(const Tables& t, uint32_t right) {
  // E takes, for group k, bits 4k .. 4k+5 of R (1-based, wrapping 0 -> 32 and
  // 33 -> 1). Extend R by one bit on each side to read them as a window.
  uint64_t wide = (uint64_t{right & 1} << 33) | (uint64_t{right} << 1) | (right >> 31);
  uint32_t f = 0;
  for (int k = 0; k < 8; ++k) f |= t.sp[k][(wide >> (28 - 4 * k)) & 0x3F];
  return f;
}

inline void TransformBlock(const Tables& t, unsigned char* block) {
  uint64_t v = Permute(t.initial, block);
  uint32_t left = static_cast<uint32_t>(v >> 32);
  uint32_t right = static_cast<uint32_t>(v);
  left ^= RoundFunction(t, right);
  unsigned char mixed[8];
  for (int i = 0; i < 4; ++i) {
    mixed[i] = static_cast<unsigned char>(left >> (24 - 8 * i));
    mixed[4 + i] = static_cast<unsigned char>(right >> (24 - 8 * i));
  }
  uint64_t out = Permute(t.final, mixed);
  for (int i = 0; i < 8; ++i) block[i] = static_cast<unsigned char>(out >> (56 - 8 * i));
}

constexpr unsigned char ShuffleSubstitute(unsigned char b) {
  switch (b) {
    case 0x00: return 0x2B;
    case 0x2B: return 0x00;
    case 0x01: return 0x68;
    case 0x68: return 0x01;
    case 0x48: return 0x77;
    case 0x77: return 0x48;
    case 0x60: return 0xFF;
    case 0xFF: return 0x60;
    case 0x6C: return 0x80;
    case 0x80: return 0x6C;
    case 0xB9: return 0xC0;
    case 0xC0: return 0xB9;
    case 0xEB: return 0xFE;
    case 0xFE: return 0xEB;
    default: return b;
  }
}

// b0..b7 -> b3, b4, b6, b0, b1, b2, b5, S(b7).
void ShuffleBlock(unsigned char* block) {
  unsigned char b[8];
  std::memcpy(b, block, 8);
  block[0] = b[3];
  block[1] = b[4];
  block[2] = b[6];
  block[3] = b[0];
  block[4] = b[1];
  block[5] = b[2];
  block[6] = b[5];
  block[7] = ShuffleSubstitute(b[7]);
}

}  // namespace

void GrfDesTransform(void* buffer, size_t length) {
  const Tables& t = GetTables();
  unsigned char* p = static_cast<unsigned char*>(buffer);
  for (size_t blocks = length / 8; blocks > 0; --blocks, p += 8) TransformBlock(t, p);
}

uint32_t CipherCycle(uint32_t compressedSize) {
  uint32_t digits = 1;
  while (compressedSize >= 10) {
    compressedSize /= 10;
    ++digits;
  }
  if (digits <= 2) return 1;
  if (digits <= 4) return digits + 1;
  if (digits <= 6) return digits + 9;
  return digits + 15;
}

void DecipherHeader(void* buffer, size_t storedLength) {
  size_t blocks = storedLength / 8;
  if (blocks > kHeaderBlocks) blocks = kHeaderBlocks;
  GrfDesTransform(buffer, blocks * 8);
}

void DecipherMixed(void* buffer, size_t storedLength, uint32_t cycle) {
  const Tables& t = GetTables();
  unsigned char* p = static_cast<unsigned char*>(buffer);
  size_t blocks = storedLength / 8;
  DecipherHeader(buffer, storedLength);
  if (cycle == 0) cycle = 1;  // CipherCycle never yields 0; keep the modulo defined
  uint32_t counter = 0;
  for (size_t j = kHeaderBlocks; j < blocks; ++j) {
    unsigned char* block = p + 8 * j;
    if (j % cycle == 0) {
      TransformBlock(t, block);
      continue;
    }
    if (counter == 7) {
      ShuffleBlock(block);
      counter = 0;
    }
    ++counter;
  }
}
