#pragma once
// Reads the stored blocks of a batch of pipeline items with one call to the
// library, so that neighbouring blocks come in one read. An item says whether
// it wants its block (WantsBlock) and has `info`, `block` (allocated here,
// freed by the item; still null when memory ran out) and `blockRead`.

#include <cstdint>

#include "engine/ordered_pipeline.h"
#include "grf/grf.h"
#include "support/pool.h"

template <typename Item>
void ReadBatchBlocks(const GrfArchive* archive, Item* const* items, uint32_t count) noexcept {
  constexpr uint32_t kMost = PipelineBatch<Item>::kMostItems;
  const GrfBlockInfo* infos[kMost];
  void* blocks[kMost];
  uint32_t statuses[kMost];
  Item* reading[kMost];
  uint32_t n = 0;
  for (uint32_t i = 0; i < count && n < kMost; ++i) {
    Item* item = items[i];
    if (!item->WantsBlock()) continue;
    const uint32_t size = item->info.alignedSize;
    item->block = static_cast<unsigned char*>(PoolAlloc(size ? size : 1));
    if (!item->block) continue;
    infos[n] = &item->info;
    blocks[n] = item->block;
    reading[n++] = item;
  }
  if (n == 0) return;
  GrfReadBlocksShared(archive, infos, blocks, n, statuses);
  for (uint32_t k = 0; k < n; ++k) reading[k]->blockRead = statuses[k] == GRF_S_OK;
}
