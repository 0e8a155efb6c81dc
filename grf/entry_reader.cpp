// Entry data reading: stored block, cipher removal, decompression through the
// uncompress hook or LZSS, size checks on the way.

#include "grf/entry_reader.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "grf/archive.h"
#include "grf/cipher.h"
#include "grf/codec.h"
#include "grf/entry_index.h"
#include "grf/format.h"
#include "grf/lzss.h"
#include "grf/stream.h"
#include "support/pool.h"
#include "support/zlib_pool.h"

namespace {

bool UsesLzss(const GrfArchive* archive) {
  return (archive->version & grf::kFamilyMask) == grf::kFamily12;
}

constexpr uint8_t kCipherBits = ENTRY_CIPHER_MIXED | ENTRY_CIPHER_HEADER;

// Most output one input byte can give: deflate codes a 258-byte match in two
// bits (1032:1); an LZSS reference of two bytes gives at most 17.
constexpr uint64_t kZlibMaxExpansion = 1032;
constexpr uint64_t kLzssMaxExpansionTwice = 17;

bool BlockInFile(GrfArchive* archive, const GrfEntry* entry) {
  if (entry->alignedSize == 0) return true;
  uint64_t size = archive->fileSize;
  if (!(archive->flags & GRF_OPEN_READ_ONLY) && !StreamGetSize(archive->stream, &size))
    return true;  // unknown: let the read tell
  return entry->offset <= size && entry->alignedSize <= size - entry->offset;
}

bool SizesPlausible(const GrfEntry* entry, bool lzss, bool viaHook) {
  if (entry->realSize == 0) return true;
  if (entry->alignedSize == 0) return false;
  if (!(entry->flags & ENTRY_COMPRESSED)) return entry->alignedSize >= entry->realSize;
  const bool enciphered = (entry->flags & kCipherBits) != 0;
  if ((lzss || !enciphered) && entry->compressedSize > entry->alignedSize) return false;
  if (lzss) return entry->realSize <= entry->compressedSize * kLzssMaxExpansionTwice / 2;
  const uint64_t span = enciphered ? entry->alignedSize : entry->compressedSize;
  return viaHook || entry->realSize <= span * kZlibMaxExpansion;
}


}  // namespace

namespace {

void RemoveCipher(uint8_t flags, uint32_t compressedSize, void* block, uint32_t alignedSize) {
  if (flags & ENTRY_CIPHER_MIXED) {
    DecipherMixed(block, alignedSize, CipherCycle(compressedSize));
  } else if (flags & ENTRY_CIPHER_HEADER) {
    DecipherHeader(block, alignedSize);
  }
}

// The block read of GrfReadBlock and GrfReadBlockShared, by the stream read
// given; returns the status.
template <typename Read>
uint32_t ReadBlockWith(const GrfBlockInfo* info, void* block, uint32_t capacity, Read read) {
  if (!info->inFile) return GRF_E_IO;
  if (info->alignedSize == 0) return GRF_S_OK;
  if (capacity < info->alignedSize) return GRF_E_BUFFER_TOO_SMALL;
  if (!read(info->offset, block, info->alignedSize)) return GRF_E_IO;
  RemoveCipher(info->flags, info->compressedSize, block, info->alignedSize);
  return GRF_S_OK;
}

}  // namespace

namespace {

// The leading bytes of the deciphered block a decode reads: an enciphered
// zlib stream is handed its whole block.
uint32_t DecodeSpan(const GrfEntry* entry, bool lzss) {
  uint32_t span = entry->compressedSize;
  if (!(entry->flags & ENTRY_COMPRESSED)) span = entry->realSize;
  else if (!lzss && (entry->flags & kCipherBits)) span = entry->alignedSize;
  return std::min(span, entry->alignedSize);
}

// What a copy carries of a block before a decode tells more: the recorded
// compressed size as far as the block holds it (compressed data), or the
// whole block (stored data).
uint32_t RecordedCarryLength(uint8_t flags, uint32_t compressedSize, uint32_t alignedSize) {
  if (!(flags & ENTRY_COMPRESSED)) return alignedSize;
  return std::min(compressedSize, alignedSize);
}

}  // namespace

void DescribeEntry(GrfArchive* archive, const GrfEntry* entry, GrfBlockInfo* info) {
  const bool compressed = (entry->flags & ENTRY_COMPRESSED) != 0;
  const bool lzss = compressed && UsesLzss(archive);
  const bool viaHook = compressed && !lzss && archive->uncompressHook != &DefaultUncompressHook;
  *info = GrfBlockInfo{entry->compressedSize,
                       entry->alignedSize,
                       entry->realSize,
                       entry->offset,
                       DecodeSpan(entry, lzss),
                       RecordedCarryLength(entry->flags, entry->compressedSize, entry->alignedSize),
                       entry->flags,
                       static_cast<uint8_t>(entry->flags & ~kCipherBits),
                       static_cast<uint8_t>(lzss),
                       static_cast<uint8_t>(viaHook),
                       static_cast<uint8_t>(BlockInFile(archive, entry)),
                       static_cast<uint8_t>(SizesPlausible(entry, lzss, viaHook))};
}

bool GrfGetEntryInfo(GrfArchive* archive, const char* name, GrfBlockInfo* info) {
  archive->lastStatus = GRF_S_OK;
  const GrfEntry* entry = FindEntry(archive, name);
  if (!entry) {
    if (archive->lastStatus == GRF_E_OUT_OF_MEMORY) return false;
    return Fail(archive, GRF_E_NOT_FOUND);
  }
  DescribeEntry(archive, entry, info);
  return true;
}

bool GrfReadBlock(GrfArchive* archive, const GrfBlockInfo* info, void* block, uint32_t capacity) {
  archive->lastStatus = ReadBlockWith(info, block, capacity, [archive](uint64_t at, void* to, uint32_t n) {
    return StreamReadAtExact(archive->stream, at, to, n);
  });
  return archive->lastStatus == GRF_S_OK;
}

uint32_t GrfReadBlockShared(const GrfArchive* archive, const GrfBlockInfo* info, void* block,
                            uint32_t capacity) {
  return ReadBlockWith(info, block, capacity, [archive](uint64_t at, void* to, uint32_t n) {
    return StreamReadSharedExact(archive->stream, at, to, n);
  });
}

namespace {

// Blocks are read in one go when the read spans at most this much, and at
// most twice their bytes plus the slack.
constexpr uint64_t kMostJoinedRead = 4u << 20;
constexpr uint64_t kJoinedReadSlack = 64u << 10;

}  // namespace

void GrfReadBlocksShared(const GrfArchive* archive, const GrfBlockInfo* const* infos,
                         void* const* blocks, uint32_t count, uint32_t* statuses) {
  uint64_t start = UINT64_MAX, end = 0, bytes = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const GrfBlockInfo& info = *infos[i];
    if (!info.inFile || info.alignedSize == 0) continue;
    start = std::min(start, info.offset);
    end = std::max(end, info.offset + info.alignedSize);
    bytes += info.alignedSize;
  }
  const uint64_t span = end > start ? end - start : 0;
  PoolBuffer joined;
  const bool together = span > 0 && span <= kMostJoinedRead && span <= 2 * bytes + kJoinedReadSlack &&
                        joined.Allocate(static_cast<size_t>(span)) &&
                        StreamReadSharedExact(archive->stream, start, joined.bytes(),
                                              static_cast<uint32_t>(span));
  for (uint32_t i = 0; i < count; ++i) {
    const GrfBlockInfo& info = *infos[i];
    if (!together || !info.inFile || info.alignedSize == 0) {
      statuses[i] = GrfReadBlockShared(archive, &info, blocks[i], info.alignedSize);
      continue;
    }
    std::memcpy(blocks[i], joined.bytes() + (info.offset - start), info.alignedSize);
    RemoveCipher(info.flags, info.compressedSize, blocks[i], info.alignedSize);
    statuses[i] = GRF_S_OK;
  }
}

namespace {

// The decode itself: nothing of the archive but its uncompress hook is used,
// nothing of it is changed. Returns the status; *detail is set with it.
uint32_t DecodeBlock(const GrfArchive* archive, GrfBlockInfo* info, const void* block,
                     void* content, uint32_t capacity, uint32_t* detail) {
  const uint32_t recorded = RecordedCarryLength(info->flags, info->compressedSize, info->alignedSize);
  info->carryLength = recorded;
  if (capacity < info->realSize) return GRF_E_BUFFER_TOO_SMALL;
  if (info->realSize == 0) return GRF_S_OK;
  if (!info->decodable) return GRF_E_BAD_DATA;
  const auto* bytes = static_cast<const unsigned char*>(block);
  auto* output = static_cast<unsigned char*>(content);
  if (!(info->flags & ENTRY_COMPRESSED)) {
    std::memcpy(output, bytes, info->realSize);
    return GRF_S_OK;
  }
  if (info->lzss) {
    uint32_t produced = info->realSize;
    if (LzssDecode(output, &produced, bytes, info->decodeSpan) != lzss::kOk ||
        produced != info->realSize) {
      *detail = GRF_DETAIL_LZSS;
      return GRF_E_BAD_DATA;
    }
    return GRF_S_OK;
  }
  unsigned long produced = info->realSize;
  unsigned long consumed = 0;
  const int result = info->viaHook
                         ? archive->uncompressHook(output, &produced, bytes, info->decodeSpan)
                         : ZlibUncompressCounted(output, &produced, bytes, info->decodeSpan, &consumed);
  if (result != 0 || produced != info->realSize) {
    *detail = GRF_DETAIL_INFLATE;
    if (result == Z_MEM_ERROR) return GRF_E_OUT_OF_MEMORY;
    if (result == Z_ERRNO) return GRF_E_CODEC_IO;
    return GRF_E_BAD_DATA;
  }
  // An enciphered entry hands its whole block to inflate, so its stream may
  // run past the recorded compressed size; the copy carries all of it.
  if ((info->flags & kCipherBits) && !info->viaHook)
    info->carryLength = std::max(recorded, static_cast<uint32_t>(consumed));
  return GRF_S_OK;
}

}  // namespace

bool GrfDecodeBlock(GrfArchive* archive, GrfBlockInfo* info, const void* block, void* content,
                    uint32_t capacity) {
  uint32_t detail = 0;
  const uint32_t status = DecodeBlock(archive, info, block, content, capacity, &detail);
  archive->lastStatus = status;
  if (detail) archive->lastDetail = detail;
  return status == GRF_S_OK;
}

uint32_t GrfDecodeBlockShared(const GrfArchive* archive, GrfBlockInfo* info, const void* block,
                              void* content, uint32_t capacity) {
  uint32_t detail = 0;
  return DecodeBlock(archive, info, block, content, capacity, &detail);
}

bool GrfReadEntry(GrfArchive* archive, const char* name, void* buffer, uint32_t capacity,
                  uint32_t* realSize) {
  archive->lastStatus = GRF_S_OK;
  const GrfEntry* entry = FindEntry(archive, name);
  if (!entry) {
    if (archive->lastStatus == GRF_E_OUT_OF_MEMORY) return false;
    return Fail(archive, GRF_E_NOT_FOUND);
  }
  GrfBlockInfo info;
  DescribeEntry(archive, entry, &info);
  if (realSize) *realSize = info.realSize;
  if (capacity < info.realSize) return Fail(archive, GRF_E_BUFFER_TOO_SMALL);
  if (info.realSize == 0) return true;
  // Checks that need no data come first, so hostile records cost no I/O and
  // no allocation.
  if (!info.decodable) return Fail(archive, GRF_E_BAD_DATA);
  PoolBuffer block;
  if (info.inFile && !block.Allocate(info.alignedSize)) return Fail(archive, GRF_E_OUT_OF_MEMORY);
  return GrfReadBlock(archive, &info, block.bytes(), info.alignedSize) &&
         GrfDecodeBlock(archive, &info, block.bytes(), buffer, capacity);
}
