#pragma once
// Entry transfer: storing new data, copying entries between archives, links,
// and the change gate every change passes first.

#include <cstdint>

struct GrfArchive;
struct GrfEntry;

// Runs before a change writes anything. A 0x1xx archive is rewritten in the
// 0x200 layout first (refused with GRF_OPEN_KEEP_VERSION); when that fails the
// file is cut back and the archive stays clean.
bool GrfBeginChange(GrfArchive* archive);

// Stores compressedSize bytes (zero-padded to a multiple of 8) and enters a
// record under the name, replacing an entry of the same name.
bool PutEntry(GrfArchive* archive, const char* name, const void* data, uint32_t compressedSize,
              uint32_t realSize, uint8_t flags);

// Copies one entry of the source into the target under `name` (null: the
// entry's own name). Read failures land in the source's status, write
// failures in the target's.
bool CopyEntryData(GrfArchive* target, const char* name, GrfArchive* source,
                   const GrfEntry* entry, void* work, uint32_t workCapacity);

// Compresses through the archive's compress hook into a new pool buffer.
unsigned char* CompressWithHook(GrfArchive* archive, const void* data, uint32_t size,
                                uint32_t* compressedSize);

// Picks the position for `length` new bytes: the best-fitting free range
// under gap reuse, else the end of the file (*appended true).
bool AllocateSpace(GrfArchive* archive, uint64_t length, uint64_t* position, bool* appended);

// Writes data and zero padding up to alignedSize, marks the span used.
bool WriteStoredBlock(GrfArchive* archive, const void* data, uint32_t compressedSize,
                      uint32_t alignedSize, uint64_t* position);

namespace transfer {
constexpr uint32_t kMaxLimitedName = 251;       // GRF_OPEN_LIMIT_NAMES
constexpr uint32_t kCompressRetryGrowth = 1024; // per Z_BUF_ERROR answer of the hook
constexpr uint32_t kMaxCompressRetries = 1024;  // then the hook is given up as broken
}  // namespace transfer
