#pragma once
// On-disk constants of GRF archives and little-endian load/store helpers.

#include "grf/internal.h"

#include <cstddef>
#include <cstdint>

namespace grf {

constexpr uint32_t kHeaderSize = 46;        // classic and wide headers
constexpr uint32_t kTrailerSize = 9;
constexpr uint32_t kNewArchiveSize = 54;    // classic header + empty 0x200 table prefix
constexpr uint32_t kHeaderTableOffset = 30; // start of the rewritable header fields
constexpr uint32_t kTrailerMarker = 0x12;

constexpr char kClassicSignature[16] = "Master of Magic";  // 15 characters + NUL
constexpr char kWideSignature[14] = "Event Horizon";      // 13 characters + NUL
constexpr unsigned char kWideSignatureTail[2] = {0x52, 0x4C};

// Table versions and families (version & 0xFF00).
constexpr uint32_t kVersion12 = 0x12;
constexpr uint32_t kVersion100 = 0x100;
constexpr uint32_t kVersion103 = 0x103;
constexpr uint32_t kVersion200 = 0x200;
constexpr uint32_t kVersion300 = 0x300;
constexpr uint32_t kFamilyMask = 0xFF00;
constexpr uint32_t kFamily12 = 0x0000;
constexpr uint32_t kFamily1xx = 0x0100;
constexpr uint32_t kFamily200 = 0x0200;
constexpr uint32_t kFamily300 = 0x0300;

constexpr uint32_t kPrefix200Size = 8;
constexpr uint32_t kPrefix300Size = 12;

// Fixed record parts after the name.
constexpr uint32_t kRecord12Fixed = 14;      // length, type, position, stored, real
constexpr uint32_t kRecord1xxTail = 17;
constexpr uint32_t kRecord200Tail = 17;
constexpr uint32_t kRecord300Tail = 21;
constexpr uint8_t kType12Compressed = 1;
constexpr uint8_t kType12Skip = 2;
constexpr uint32_t kOffset1xxCompressedBias = 715;  // compressedSize + realSize + 715
constexpr uint32_t kOffset1xxAlignedBias = 37579;   // alignedSize + 37579
constexpr uint32_t kName1xxOverhead = 6;             // 2 bytes before the name, 4 after

// The placeholder record that tables of versions 0x100-0x300 may carry.
constexpr uint32_t kPlaceholderCompressed = 1097;
constexpr uint32_t kPlaceholderAligned = 1812;
constexpr uint32_t kPlaceholderReal = 1372;
constexpr uint64_t kPlaceholderOffset = 1418;  // absolute; stored 1372

constexpr uint32_t kEventCookie = 0x40047A11;
constexpr uint32_t kEventDiscard = 4;
constexpr uint32_t kEventRecord = 5;


inline uint32_t LoadU32(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}
inline uint64_t LoadU64(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint64_t>(LoadU32(b)) | (static_cast<uint64_t>(LoadU32(b + 4)) << 32);
}
inline void StoreU32(void* p, uint32_t v) {
  auto* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void StoreU64(void* p, uint64_t v) {
  auto* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}

// The rewritable fields of the 46-byte headers, from kHeaderTableOffset on:
// the table position less the header size (32 bits classic, 64 bits wide), the
// classic seed, the entry count (classic: seed + count + 7) and the version.
constexpr uint32_t kHeaderSeedOffset = 34;
constexpr uint32_t kHeaderCountOffset = 38;
constexpr uint32_t kHeaderVersionOffset = 42;
constexpr uint32_t kClassicCountBias = 7;

struct HeaderFields {
  uint64_t storedTablePosition;
  uint32_t entryCount;
  uint32_t version;
};

inline HeaderFields LoadHeaderFields(const unsigned char* header, bool wide) {
  if (wide)
    return {LoadU64(header + kHeaderTableOffset), LoadU32(header + kHeaderCountOffset),
            LoadU32(header + kHeaderVersionOffset)};
  return {LoadU32(header + kHeaderTableOffset),
          LoadU32(header + kHeaderCountOffset) - LoadU32(header + kHeaderSeedOffset) - kClassicCountBias,
          LoadU32(header + kHeaderVersionOffset)};
}
// A classic header takes the seed and the low 32 bits of the position.
inline void StoreHeaderFields(unsigned char* header, bool wide, const HeaderFields& fields,
                              uint32_t seed) {
  if (wide) {
    StoreU64(header + kHeaderTableOffset, fields.storedTablePosition);
    StoreU32(header + kHeaderCountOffset, fields.entryCount);
  } else {
    StoreU32(header + kHeaderTableOffset, static_cast<uint32_t>(fields.storedTablePosition));
    StoreU32(header + kHeaderSeedOffset, seed);
    StoreU32(header + kHeaderCountOffset, seed + fields.entryCount + kClassicCountBias);
  }
  StoreU32(header + kHeaderVersionOffset, fields.version);
}

// alignedSize for a compressed size: rounded up to a multiple of 8 (0 stays 0).
// The result wraps for sizes within 7 of 2^32; callers check for that.
inline uint32_t AlignBlock(uint32_t size) { return (size + 7u) & ~7u; }

}  // namespace grf
