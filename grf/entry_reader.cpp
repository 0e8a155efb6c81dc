// Entry data reading: stored block, cipher removal, decompression through the
// uncompress hook or LZSS, size checks on the way.

#include "grf/entry_reader.h"

#include <algorithm>
#include <cstring>

#include "grf/archive.h"
#include "grf/cipher.h"
#include "grf/codec.h"
#include "grf/entry_index.h"
#include "grf/format.h"
#include "grf/lzss.h"
#include "grf/stream.h"
#include "support/pool.h"

namespace {

// A pool buffer released when the scope ends, unless it was lent.
struct ScopedBuffer {
  unsigned char* bytes = nullptr;
  bool owned = false;
  ~ScopedBuffer() {
    if (owned && bytes) PoolFree(bytes);
  }
};

bool UsesLzss(const GrfArchive* archive) {
  return (archive->version & grf::kFamilyMask) == grf::kFamily12;
}

}  // namespace

bool CheckCompressedSize(GrfArchive* archive, const GrfEntry* entry) {
  if (entry->compressedSize > entry->alignedSize) return Fail(archive, GRF_E_BAD_DATA);
  return true;
}

bool ReadStoredBlock(GrfArchive* archive, const GrfEntry* entry, void* buffer,
                     uint32_t capacity, uint32_t* alignedSize) {
  if (alignedSize) *alignedSize = entry->alignedSize;
  if (entry->alignedSize == 0) return true;
  if (capacity < entry->alignedSize) return Fail(archive, GRF_E_BUFFER_TOO_SMALL);
  if (!StreamReadAtExact(archive->stream, entry->offset, buffer, entry->alignedSize))
    return Fail(archive, GRF_E_IO);
  if (entry->flags & ENTRY_CIPHER_MIXED) {
    DecipherMixed(buffer, entry->alignedSize, CipherCycle(entry->compressedSize));
  } else if (entry->flags & ENTRY_CIPHER_HEADER) {
    DecipherHeader(buffer, entry->alignedSize);
  }
  return true;
}

unsigned char* LzssDecodeEntry(GrfArchive* archive, const unsigned char* source,
                               uint32_t compressedSize, uint32_t realSize) {
  auto* output = static_cast<unsigned char*>(PoolAlloc(std::max<uint32_t>(realSize, 1)));
  if (!output) {
    FailDetail(archive, GRF_E_OUT_OF_MEMORY, grf::detail::kLzssAlloc);
    return nullptr;
  }
  uint32_t produced = realSize;
  if (LzssDecode(output, &produced, source, compressedSize) != lzss::kOk ||
      produced != realSize) {
    PoolFree(output);
    FailDetail(archive, GRF_E_BAD_DATA, grf::detail::kLzss);
    return nullptr;
  }
  return output;
}

bool ReadEntryData(GrfArchive* archive, const GrfEntry* entry, void* buffer, uint32_t capacity,
                   uint32_t* realSize, void* work, uint32_t workCapacity) {
  if (realSize) *realSize = entry->realSize;
  if (capacity < entry->realSize) return Fail(archive, GRF_E_BUFFER_TOO_SMALL);
  if (entry->realSize == 0) return true;
  if (entry->alignedSize == 0) return Fail(archive, GRF_E_BAD_DATA);

  const bool compressed = (entry->flags & ENTRY_COMPRESSED) != 0;
  const bool enciphered = (entry->flags & (ENTRY_CIPHER_MIXED | ENTRY_CIPHER_HEADER)) != 0;
  const bool lzss = compressed && UsesLzss(archive);
  // Checks that need no data come first, so hostile records cost no I/O.
  if (!compressed && entry->alignedSize < entry->realSize) return Fail(archive, GRF_E_BAD_DATA);
  if (compressed && (lzss || !enciphered) && !CheckCompressedSize(archive, entry)) return false;

  ScopedBuffer scratch;
  if (work && workCapacity >= entry->alignedSize) {
    scratch.bytes = static_cast<unsigned char*>(work);
  } else {
    scratch.bytes = static_cast<unsigned char*>(PoolAlloc(entry->alignedSize));
    if (!scratch.bytes) return Fail(archive, GRF_E_OUT_OF_MEMORY);
    scratch.owned = true;
  }
  if (!ReadStoredBlock(archive, entry, scratch.bytes, entry->alignedSize, nullptr)) return false;

  if (!compressed) {
    std::memcpy(buffer, scratch.bytes, entry->realSize);
    return true;
  }
  ScopedBuffer decoded;
  decoded.owned = true;
  if (lzss) {
    decoded.bytes = LzssDecodeEntry(archive, scratch.bytes, entry->compressedSize, entry->realSize);
  } else {
    const uint32_t span = enciphered ? entry->alignedSize : entry->compressedSize;
    decoded.bytes = InflateTable(archive, scratch.bytes, span, entry->realSize);
  }
  if (!decoded.bytes) return false;
  std::memcpy(buffer, decoded.bytes, entry->realSize);
  return true;
}

bool GrfReadEntry(GrfArchive* archive, const char* name, void* buffer, uint32_t capacity,
                  uint32_t* realSize) {
  archive->lastStatus = GRF_S_OK;
  const GrfEntry* entry = FindEntry(archive, name);
  if (!entry) {
    if (archive->lastStatus == GRF_E_OUT_OF_MEMORY) return false;
    return Fail(archive, GRF_E_NOT_FOUND);
  }
  return ReadEntryData(archive, entry, buffer, capacity, realSize, nullptr, 0);
}
