#pragma once
// The entry index: a chained hash table of GrfEntry records keyed by name
// without regard to ASCII letter case, and the archive-level enumeration.

#include "grf/internal.h"

#include <cstdint>

struct GrfArchive;

// One table entry in memory. The record, its name and its place in the index
// are one pool allocation (NewEntry); `name` points into it and keeps the case
// as stored.
struct GrfEntry {
  char* name;
  uint32_t compressedSize;
  uint32_t alignedSize;
  uint32_t realSize;
  uint64_t offset;  // absolute
  uint8_t flags;
};

// The values of a record, without the name.
struct EntryRecord {
  uint32_t compressedSize;
  uint32_t alignedSize;
  uint32_t realSize;
  uint64_t offset;
  uint8_t flags;
};

// One allocation for record, name (copied as given) and index node; null when
// out of memory. Released by the index that takes it, or by a failed insert.
GrfEntry* NewEntry(const char* name, const EntryRecord& record);

struct EntryIndex;

// Null when absent. When the folded copy of a long name cannot be allocated,
// *outOfMemory (if given) becomes true and the result is null.
GrfEntry* IndexFind(EntryIndex* table, const char* name, bool* outOfMemory = nullptr);
uint32_t IndexCount(const EntryIndex* table);
// The entries in ascending offset order (unsigned 64-bit); returns the count
// written (at most length). Equal offsets keep an order fixed by the index.
uint32_t IndexCollectByOffset(const EntryIndex* table, GrfEntry** array, uint32_t length);

// ---- archive level ----

// A fresh entry index for the archive (65536 buckets, folding, owning, FNV).
// Any previous index is destroyed. False when out of memory (no status set).
bool CreateArchiveIndex(GrfArchive* archive);
void DestroyArchiveIndex(GrfArchive* archive);

// Looks a name up. Not found leaves the status alone, except that a failed
// fold allocation sets GRF_E_OUT_OF_MEMORY in the archive.
GrfEntry* FindEntry(GrfArchive* archive, const char* name);

// Raises maxRealSize and inserts, replacing an entry of the
// same name. Without an index the entry is released and false returned (no
// status set).
bool InsertEntry(GrfArchive* archive, GrfEntry* entry);

namespace enumerate {
constexpr uint32_t kStopIsFailure = 0x2;
constexpr uint32_t kByOffset = 0x4;
constexpr uint32_t kMode = kStopIsFailure | kByOffset;
}  // namespace enumerate

using EnumerateCallback = bool (*)(uint32_t position, uint32_t total, GrfEntry* entry,
                                   void* user);

// Walks a snapshot of the entries; sets GRF_STATE_ENUMERATING meanwhile.
// Out of memory: GRF_E_OUT_OF_MEMORY. A stop with kStopIsFailure: GRF_E_ABORTED.
bool EnumerateEntries(GrfArchive* archive, EnumerateCallback callback, void* user,
                      uint32_t mode);
