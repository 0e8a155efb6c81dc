// The free-space map of an archive file.

#include "grf/free_space_map.h"

#include <algorithm>
#include <cstring>

#include "grf/archive.h"
#include "grf/entry_index.h"
#include "grf/format.h"
#include "support/pool.h"

namespace {

// End of [start, start + length), saturated at 2^64 - 1.
uint64_t SpanEnd(uint64_t start, uint64_t length) {
  const uint64_t end = start + length;
  return end < start ? UINT64_MAX : end;
}

// The array grows by a fixed step; builds reserve their expected size first.
constexpr uint32_t kGrowStep = 32;

// Grows the array to hold at least `capacity` ranges.
bool FreeSpaceReserve(FreeSpaceMap* map, uint32_t capacity);

bool GrowFor(FreeSpaceMap* map, uint32_t extra) {
  if (map->count + extra <= map->capacity) return true;
  if (map->capacity > UINT32_MAX - kGrowStep) return false;
  return FreeSpaceReserve(map, std::max(map->capacity + kGrowStep, map->count + extra));
}

// Index of the first range whose end is at or beyond `position` (ranges are
// disjoint and sorted, so their ends are sorted too). `touching` counts a
// range that ends exactly at `position`.
uint32_t FirstEndingFrom(const FreeSpaceMap* map, uint64_t position, bool touching) {
  const FreeRange* begin = map->ranges;
  const FreeRange* end = map->ranges + map->count;
  const FreeRange* found =
      std::partition_point(begin, end, [position, touching](const FreeRange& r) {
        return touching ? r.end < position : r.end <= position;
      });
  return static_cast<uint32_t>(found - begin);
}

}  // namespace

FreeSpaceMap* FreeSpaceCreate() {
  return static_cast<FreeSpaceMap*>(PoolAllocZeroed(sizeof(FreeSpaceMap)));
}

void DestroyFreeSpaceMap(FreeSpaceMap* map) {
  if (!map) return;
  if (map->ranges) PoolFree(map->ranges);
  PoolFree(map);
}

namespace {

bool FreeSpaceReserve(FreeSpaceMap* map, uint32_t capacity) {
  if (capacity <= map->capacity) return true;
  const uint64_t bytes = static_cast<uint64_t>(capacity) * sizeof(FreeRange);
  if (bytes > pool::kMaxBlock) return false;
  auto* ranges = static_cast<FreeRange*>(PoolRealloc(map->ranges, static_cast<size_t>(bytes)));
  if (!ranges) return false;
  map->ranges = ranges;
  map->capacity = capacity;
  return true;
}

}  // namespace

namespace {

void FreeSpaceShrink(FreeSpaceMap* map) {
  if (map->count == map->capacity) return;
  if (map->count == 0) {
    if (map->ranges) PoolFree(map->ranges);
    map->ranges = nullptr;
    map->capacity = 0;
    return;
  }
  auto* ranges = static_cast<FreeRange*>(PoolRealloc(map->ranges, map->count * sizeof(FreeRange)));
  if (ranges) {
    map->ranges = ranges;
    map->capacity = map->count;
  }
}

}  // namespace

bool FreeSpaceAdd(FreeSpaceMap* map, uint64_t start, uint64_t length) {
  if (length == 0) return true;
  uint64_t end = SpanEnd(start, length);
  // First range that ends at or after start (may touch), last one that starts at or before end.
  uint32_t first = map->count ? FirstEndingFrom(map, start, true) : 0;
  uint32_t last = first;
  while (last < map->count && map->ranges[last].start <= end) {
    start = std::min(start, map->ranges[last].start);
    end = std::max(end, map->ranges[last].end);
    ++last;
  }
  const uint32_t absorbed = last - first;
  if (absorbed == 0) {
    if (!GrowFor(map, 1)) return false;
    std::memmove(map->ranges + first + 1, map->ranges + first,
                 (map->count - first) * sizeof(FreeRange));
    ++map->count;
  } else if (absorbed > 1) {
    std::memmove(map->ranges + first + 1, map->ranges + last,
                 (map->count - last) * sizeof(FreeRange));
    map->count -= absorbed - 1;
  }
  map->ranges[first] = {start, end};
  return true;
}

bool FreeSpaceRemove(FreeSpaceMap* map, uint64_t start, uint64_t length) {
  if (length == 0) return true;
  const uint64_t end = SpanEnd(start, length);
  uint32_t i = map->count ? FirstEndingFrom(map, start, false) : 0;
  while (i < map->count && map->ranges[i].start < end) {
    FreeRange& r = map->ranges[i];
    if (r.start < start && r.end > end) {
      if (!GrowFor(map, 1)) return false;
      FreeRange* ranges = map->ranges;  // may have moved
      std::memmove(ranges + i + 2, ranges + i + 1, (map->count - i - 1) * sizeof(FreeRange));
      ranges[i + 1] = {end, ranges[i].end};
      ranges[i].end = start;
      ++map->count;
      return true;
    }
    if (r.start < start) {
      r.end = start;
      ++i;
    } else if (r.end > end) {
      r.start = end;
      ++i;
    } else {
      std::memmove(map->ranges + i, map->ranges + i + 1, (map->count - i - 1) * sizeof(FreeRange));
      --map->count;
    }
  }
  return true;
}

bool FreeSpaceBestFit(const FreeSpaceMap* map, uint64_t length, uint64_t* start) {
  bool found = false;
  uint64_t best = 0;
  for (uint32_t i = 0; i < map->count; ++i) {
    const uint64_t size = map->ranges[i].end - map->ranges[i].start;
    if (size >= length && (!found || size < best)) {
      found = true;
      best = size;
      *start = map->ranges[i].start;
    }
  }
  return found;
}

bool MarkSpaceUsed(GrfArchive* archive, uint64_t start, uint64_t length) {
  if (!archive->freeSpace || !(archive->flags & GRF_OPEN_REUSE_GAPS)) return true;
  return FreeSpaceRemove(archive->freeSpace, start, length);
}

namespace {

bool RemoveEntryBlock(uint32_t, uint32_t, GrfEntry* entry, void* user) {
  auto* map = static_cast<FreeSpaceMap*>(user);
  return FreeSpaceRemove(map, entry->offset, entry->alignedSize);
}

}  // namespace

bool BuildFreeSpaceMap(GrfArchive* archive) {
  DestroyFreeSpaceMap(archive->freeSpace);
  archive->freeSpace = nullptr;
  FreeSpaceMap* map = FreeSpaceCreate();
  if (!map || !FreeSpaceReserve(map, IndexCount(archive->entries) + 3)) {
    DestroyFreeSpaceMap(map);
    return FailDetail(archive, GRF_E_OUT_OF_MEMORY, GRF_DETAIL_SPACE_MAP_CREATE);
  }
  if (!FreeSpaceAdd(map, 0, archive->fileSize)) {
    DestroyFreeSpaceMap(map);
    return FailDetail(archive, GRF_E_OUT_OF_MEMORY, GRF_DETAIL_SPACE_MAP_ADD);
  }
  bool ok;
  if (archive->headerKind == HEADER_TAIL) {
    ok = archive->fileSize < grf::kTrailerSize ||
         FreeSpaceRemove(map, archive->fileSize - grf::kTrailerSize, grf::kTrailerSize);
  } else {
    ok = FreeSpaceRemove(map, 0, grf::kHeaderSize);
  }
  uint64_t tableLength = archive->tableSize;
  const uint32_t family = archive->version & grf::kFamilyMask;
  if (family == grf::kFamily200) tableLength += grf::kPrefix200Size;
  if (family == grf::kFamily300) tableLength += grf::kPrefix300Size;
  ok = ok && FreeSpaceRemove(map, archive->tablePosition, tableLength);
  ok = ok && EnumerateEntries(archive, RemoveEntryBlock, map, enumerate::kMode);
  if (!ok) {
    DestroyFreeSpaceMap(map);
    return FailDetail(archive, GRF_E_OUT_OF_MEMORY, GRF_DETAIL_SPACE_MAP_FILL);
  }
  FreeSpaceShrink(map);
  archive->freeSpace = map;
  return true;
}
