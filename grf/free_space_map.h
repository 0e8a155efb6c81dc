#pragma once
// The free-space map: a sorted array of disjoint, non-touching free byte
// ranges [start, end) of an archive file.

#include "grf/internal.h"

#include <cstdint>

struct GrfArchive;

struct FreeRange {
  uint64_t start;
  uint64_t end;  // exclusive
};

struct FreeSpaceMap {
  FreeRange* ranges;  // pool array
  uint32_t count;
  uint32_t capacity;
};

FreeSpaceMap* FreeSpaceCreate();
// Accepts null.
void DestroyFreeSpaceMap(FreeSpaceMap* map);
// Union: absorbs every range that overlaps or touches [start, start + length).
bool FreeSpaceAdd(FreeSpaceMap* map, uint64_t start, uint64_t length);
// Difference; a range that contains the span in its middle splits in two.
bool FreeSpaceRemove(FreeSpaceMap* map, uint64_t start, uint64_t length);
// Start of the shortest range of at least `length` bytes (lowest of equals).
bool FreeSpaceBestFit(const FreeSpaceMap* map, uint64_t length, uint64_t* start);

// Builds archive->freeSpace from the header, the table and every entry's
// stored block. On failure leaves its status and detail (0xA0000015,
// 0xA0000016, 0xA0000017) and no map.
bool BuildFreeSpaceMap(GrfArchive* archive);

// With a map and GRF_OPEN_REUSE_GAPS: removes the span from the map.
bool MarkSpaceUsed(GrfArchive* archive, uint64_t start, uint64_t length);
