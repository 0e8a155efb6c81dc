// Entry transfer: put, copy and link, the change gate, block placement and
// compression through the archive's hook.

#include "grf/transfer.h"

#include <zlib.h>

#include <cstring>

#include "grf/archive.h"
#include "grf/entry_index.h"
#include "grf/entry_reader.h"
#include "grf/format.h"
#include "grf/free_space_map.h"
#include "grf/stream.h"
#include "support/pool.h"

namespace {

constexpr uint32_t kCompressRetryGrowth = 1024; // per Z_BUF_ERROR answer of the hook
constexpr uint32_t kMaxCompressRetries = 1024;  // then the hook is given up as broken

// Changes need a writable archive, no running enumeration and a loaded
// table: without the index a finalize would write an empty table.
bool RefuseChange(GrfArchive* archive) {
  if (ChangesRefused(archive) || !archive->entries) return !Fail(archive, GRF_E_READ_ONLY);
  return false;
}

bool NameTooLong(const GrfArchive* archive, const char* name) {
  return (archive->flags & GRF_OPEN_LIMIT_NAMES) && std::strlen(name) > GRF_LIMITED_NAME_LENGTH;
}

bool UsesGaps(const GrfArchive* archive) {
  return (archive->flags & GRF_OPEN_REUSE_GAPS) && !(archive->flags & GRF_OPEN_APPEND_ONLY) &&
         archive->freeSpace != nullptr;
}

// Inputs whose zlib bound no longer fits 32 bits.
constexpr uint32_t kMaxCompressInput = 0xFF000000u;

// Runs before a change writes anything. A 0x1xx archive is rewritten in the
// 0x200 layout first (refused with GRF_OPEN_KEEP_VERSION); when that fails the
// file is cut back and the archive stays clean.
bool BeginChange(GrfArchive* archive) {
  if (IsDirty(archive) || VersionFamily(archive) >= grf::kFamily200) return true;
  if (archive->flags & GRF_OPEN_KEEP_VERSION) return Fail(archive, GRF_E_UNSUPPORTED);
  archive->flags |= GRF_STATE_DIRTY;
  if (GrfFinalize(archive)) return true;
  // Whatever the failed rewrite appended would otherwise count as table
  // bytes of the old layout; cut it off and stay clean.
  const uint32_t failure = archive->lastStatus;
  DiscardChanges(archive);
  archive->lastStatus = failure;
  return false;
}

}  // namespace

unsigned char* CompressWithHook(GrfArchive* archive, const void* data, uint32_t size,
                                uint32_t* compressedSize) {
  *compressedSize = 0;
  if (size > kMaxCompressInput) {
    Fail(archive, GRF_E_OUT_OF_MEMORY);
    return nullptr;
  }
  uint64_t capacity = compressBound(size);
  for (uint32_t attempt = 0;; ++attempt) {
    if (capacity == 0 || capacity > pool::kMaxBlock || capacity > 0xFFFFFFFFull) {
      Fail(archive, GRF_E_OUT_OF_MEMORY);
      return nullptr;
    }
    auto* output = static_cast<unsigned char*>(PoolAlloc(static_cast<size_t>(capacity)));
    if (!output) {
      Fail(archive, GRF_E_OUT_OF_MEMORY);
      return nullptr;
    }
    unsigned long length = static_cast<unsigned long>(capacity);
    const auto* input = static_cast<const unsigned char*>(data);
    const int result = archive->compress2Hook
                           ? archive->compress2Hook(output, &length, input, size, Z_DEFAULT_COMPRESSION)
                           : archive->compressHook(output, &length, input, size);
    if (result == Z_OK) {
      // A hook that claims more than the buffer, or nothing for something,
      // produced no usable stream.
      if (length > capacity || (length == 0 && size != 0)) {
        PoolFree(output);
        Fail(archive, GRF_E_CODEC);
        return nullptr;
      }
      *compressedSize = static_cast<uint32_t>(length);
      return output;
    }
    PoolFree(output);
    if (result == Z_BUF_ERROR && attempt < kMaxCompressRetries) {
      capacity = static_cast<uint64_t>(length) + kCompressRetryGrowth;
      continue;
    }
    if (result == Z_MEM_ERROR) {
      Fail(archive, GRF_E_OUT_OF_MEMORY);
    } else if (result == Z_ERRNO) {
      Fail(archive, GRF_E_CODEC_IO);
    } else {
      Fail(archive, GRF_E_CODEC);
    }
    return nullptr;
  }
}

bool AllocateSpace(GrfArchive* archive, uint64_t length, uint64_t* position, bool* appended) {
  if (UsesGaps(archive) && FreeSpaceBestFit(archive->freeSpace, length, position)) {
    *appended = false;
    return true;
  }
  *appended = true;
  if (!StreamGetSize(archive->stream, position)) return Fail(archive, GRF_E_IO);
  return true;
}

namespace {

// Small blocks go out with their padding in one write.
constexpr uint32_t kJoinedWrite = 16u << 10;

// Writes data and zero padding up to alignedSize, marks the span used.
bool WriteStoredBlock(GrfArchive* archive, const void* data, uint32_t compressedSize,
                      uint32_t alignedSize, uint64_t* position) {
  bool appended = true;
  if (!AllocateSpace(archive, alignedSize, position, &appended)) return false;
  const uint32_t failure = appended ? GRF_E_IO_GROW : GRF_E_IO;
  if (alignedSize > compressedSize && alignedSize <= kJoinedWrite) {
    unsigned char joined[kJoinedWrite];
    std::memcpy(joined, data, compressedSize);
    std::memset(joined + compressedSize, 0, alignedSize - compressedSize);
    if (!StreamWriteAtExact(archive->stream, *position, joined, alignedSize))
      return Fail(archive, failure);
  } else if (!StreamWriteAtExact(archive->stream, *position, data, compressedSize)) {
    return Fail(archive, failure);
  } else if (alignedSize > compressedSize) {
    static const unsigned char kZeros[8] = {};
    if (!StreamWriteAtExact(archive->stream, *position + compressedSize, kZeros,
                            alignedSize - compressedSize))
      return Fail(archive, failure);
  }
  // Left free, the span could be handed out again and overwritten; nothing
  // refers to it yet, so failing here loses nothing.
  if (!MarkSpaceUsed(archive, *position, alignedSize)) return Fail(archive, GRF_E_OUT_OF_MEMORY);
  return true;
}

// Stores compressedSize bytes (zero-padded to a multiple of 8) and enters a
// record under the name, replacing an entry of the same name.
bool PutEntry(GrfArchive* archive, const char* name, const void* data, uint32_t compressedSize,
              uint32_t realSize, uint8_t flags) {
  if (RefuseChange(archive)) return false;
  if (NameTooLong(archive, name)) return Fail(archive, GRF_E_LIMIT);
  if (!BeginChange(archive)) return false;
  // The aligned size would wrap to a small number.
  if (compressedSize > 0xFFFFFFF8u) return Fail(archive, GRF_E_LIMIT);
  const uint32_t alignedSize = grf::AlignBlock(compressedSize);

  uint64_t position = 0;
  if (alignedSize > 0 && !WriteStoredBlock(archive, data, compressedSize, alignedSize, &position))
    return false;

  GrfEntry* entry = NewEntry(name, EntryRecord{compressedSize, alignedSize, realSize, position, flags});
  if (!entry) return Fail(archive, GRF_E_OUT_OF_MEMORY);
  if (!InsertEntry(archive, entry)) return Fail(archive, GRF_E_OUT_OF_MEMORY);
  archive->flags |= GRF_STATE_DIRTY;
  return true;
}

}  // namespace

bool GrfPutCompressed(GrfArchive* archive, const char* name, const void* data,
                      uint32_t compressedSize, uint32_t realSize) {
  archive->lastStatus = GRF_S_OK;
  if (realSize == 0) return PutEntry(archive, name, data, compressedSize, compressedSize, 0);
  return PutEntry(archive, name, data, compressedSize, realSize, ENTRY_COMPRESSED);
}

bool GrfPutData(GrfArchive* archive, const char* name, const void* data, uint32_t size) {
  if (size == 0) return PutEntry(archive, name, nullptr, 0, 0, 0);
  // Refused changes are told before the work of compressing.
  if (RefuseChange(archive)) return false;
  uint32_t compressedSize = 0;
  PoolBuffer compressed;
  compressed.Adopt(CompressWithHook(archive, data, size, &compressedSize));
  if (!compressed) return false;
  return PutEntry(archive, name, compressed.bytes(), compressedSize, size, ENTRY_COMPRESSED);
}

bool GrfPutBlock(GrfArchive* target, const char* name, const GrfBlockInfo* info,
                 const void* block, const void* content) {
  target->lastStatus = GRF_S_OK;
  if (RefuseChange(target)) return false;
  if (info->realSize == 0) return PutEntry(target, name, nullptr, 0, 0, 0);
  const bool compressed = (info->flags & ENTRY_COMPRESSED) != 0;
  if (content && (!compressed || info->lzss))
    return GrfPutData(target, name, content, info->realSize);
  if (info->carryLength > info->alignedSize) return Fail(target, GRF_E_BAD_DATA);
  return PutEntry(target, name, block, info->carryLength, info->realSize, info->carryFlags);
}

namespace {

// Copies one entry of the source into the target. Read failures land in the
// source's status, write failures in the target's.
bool CopyEntryData(GrfArchive* target, GrfArchive* source, const GrfEntry* entry, void* work,
                   uint32_t workCapacity) {
  const char* name = entry->name;
  GrfBlockInfo info;
  DescribeEntry(source, entry, &info);
  if (info.realSize == 0) return PutEntry(target, name, nullptr, 0, 0, 0);

  const bool compressed = (info.flags & ENTRY_COMPRESSED) != 0;
  const bool enciphered = info.flags != info.carryFlags;
  // Stored and LZSS data are put from their content; an enciphered zlib
  // stream is inflated to learn where it really ends.
  const bool fromContent = !compressed || info.lzss;
  const bool needsContent = fromContent || (enciphered && !info.viaHook);
  // Sizes the reader refuses are refused here too.
  if (!info.decodable) return Fail(source, GRF_E_BAD_DATA);
  if (!info.inFile) return Fail(source, GRF_E_IO);

  PoolBuffer scratch;
  if (!scratch.LendOrAllocate(work, workCapacity, info.alignedSize))
    return Fail(target, GRF_E_OUT_OF_MEMORY);
  if (!GrfReadBlock(source, &info, scratch.bytes(), info.alignedSize)) return false;

  PoolBuffer plain;
  const unsigned char* content = nullptr;
  if (needsContent) {
    if (!plain.Allocate(info.realSize)) return Fail(target, GRF_E_OUT_OF_MEMORY);
    if (GrfDecodeBlock(source, &info, scratch.bytes(), plain.bytes(), info.realSize))
      content = plain.bytes();
    else if (fromContent)
      return false;
  }
  return GrfPutBlock(target, name, &info, scratch.bytes(), content);
}

}  // namespace

bool GrfCopyEntry(GrfArchive* target, GrfArchive* source, const char* name, void* work,
                  uint32_t workCapacity) {
  target->lastStatus = GRF_S_OK;
  if (RefuseChange(target)) return false;
  bool outOfMemory = false;
  const GrfEntry* entry =
      source->entries ? IndexFind(source->entries, name, &outOfMemory) : nullptr;
  if (!entry) return Fail(target, outOfMemory ? GRF_E_OUT_OF_MEMORY : GRF_E_NOT_FOUND);
  return CopyEntryData(target, source, entry, work, workCapacity);
}

bool GrfLinkEntry(GrfArchive* archive, const char* existingName, const char* newName) {
  if (RefuseChange(archive)) return false;
  if (NameTooLong(archive, newName)) return Fail(archive, GRF_E_LIMIT);
  if (VersionFamily(archive) == grf::kFamily1xx &&
      GrfIsHeaderCipherName(existingName) != GrfIsHeaderCipherName(newName))
    return Fail(archive, GRF_E_NAME_CLASS);
  if (!BeginChange(archive)) return false;

  bool outOfMemory = false;
  const GrfEntry* existing = IndexFind(archive->entries, existingName, &outOfMemory);
  if (!existing) return Fail(archive, outOfMemory ? GRF_E_OUT_OF_MEMORY : GRF_E_NOT_FOUND);
  // The values are copied before the insertion may release `existing` (a
  // link to itself).
  const EntryRecord record{existing->compressedSize, existing->alignedSize, existing->realSize,
                           existing->offset, existing->flags};
  GrfEntry* link = NewEntry(newName, record);
  if (!link) return Fail(archive, GRF_E_OUT_OF_MEMORY);
  if (!InsertEntry(archive, link)) return Fail(archive, GRF_E_OUT_OF_MEMORY);
  archive->flags |= GRF_STATE_DIRTY;
  return true;
}
