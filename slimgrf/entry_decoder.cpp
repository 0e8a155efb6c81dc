#include "slimgrf/entry_decoder.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "engine/batch_read.h"
#include "engine/entry_pass.h"
#include "engine/ordered_pipeline.h"
#include "support/pool.h"

namespace {

constexpr const char kOutOfMemory[] = "out of memory";

bool SameRecord(const GrfBlockInfo& a, const GrfBlockInfo& b) {
  return a.offset == b.offset && a.alignedSize == b.alignedSize &&
         a.compressedSize == b.compressedSize && a.realSize == b.realSize && a.flags == b.flags &&
         a.lzss == b.lzss && a.viaHook == b.viaHook;
}

// One entry on a worker: its block read by the batch, then decoded.
struct DecodeItem {
  const GrfArchive* archive = nullptr;
  const CatalogEntry* entry = nullptr;
  GrfBlockInfo info{};
  bool pending = false;         // to be read and decoded
  bool sameAsPrevious = false;  // takes the result of the item before it
  bool blockRead = false;
  unsigned char* block = nullptr;
  unsigned char* content = nullptr;
  const char* problem = nullptr;

  DecodeItem() = default;
  DecodeItem(const DecodeItem&) = delete;
  DecodeItem& operator=(const DecodeItem&) = delete;
  ~DecodeItem() {
    if (block) PoolFree(block);
    if (content) PoolFree(content);
  }

  bool WantsBlock() const { return pending; }

  void Run() noexcept {
    if (!pending) return;
    pending = false;
    if (!block) {
      problem = kOutOfMemory;
    } else if (!blockRead) {
      problem = "read error";
    } else if (!(content = static_cast<unsigned char*>(PoolAlloc(info.realSize)))) {
      problem = kOutOfMemory;
    } else {
      const uint32_t status =
          GrfDecodeBlockShared(archive, &info, block, content, info.realSize);
      if (status != GRF_S_OK)
        problem = status == GRF_E_OUT_OF_MEMORY ? kOutOfMemory : "undecodable stream";
    }
    if (block) PoolFree(block);
    block = nullptr;
  }
};

struct DecodeBatch final : PipelineBatch<DecodeItem> {
  void Run() noexcept override {
    if (count > 0) ReadBatchBlocks(items[0]->archive, items, count);
    PipelineBatch<DecodeItem>::Run();
  }
};

// Takes the results in order, keeping the last content for the links after it.
struct Taker {
  DecodedEntryCallback callback;
  void* context;
  DecodedEntry last{nullptr, nullptr, nullptr};
  unsigned char* lastContent = nullptr;

  ~Taker() {
    if (lastContent) PoolFree(lastContent);
  }
  bool Take(DecodeBatch* batch) {
    for (uint32_t i = 0; i < batch->count; ++i) {
      DecodeItem* item = batch->items[i];
      if (!item->sameAsPrevious) {
        if (lastContent) PoolFree(lastContent);
        lastContent = std::exchange(item->content, nullptr);
        last = DecodedEntry{item->entry, item->problem, lastContent};
      }
      if (!callback(DecodedEntry{item->entry, last.problem, last.content}, context)) return false;
    }
    return true;
  }
};

}  // namespace

void SortInBlockOrder(std::vector<const CatalogEntry*>* order) {
  std::stable_sort(order->begin(), order->end(), [](const CatalogEntry* a, const CatalogEntry* b) {
    if (a->info.offset != b->info.offset) return a->info.offset < b->info.offset;
    return a->info.alignedSize < b->info.alignedSize;
  });
}

bool DecodeEntries(const GrfArchive* archive, const std::vector<const CatalogEntry*>& order,
                   unsigned threads, DecodedEntryCallback callback, void* context) {
  OrderedPipeline pipeline(PipelineWorkers(threads), PipelineBudget(GrfGetMaxRealSize(archive)));
  Taker taker{callback, context};
  std::unique_ptr<DecodeBatch> filling;
  const auto takeOne = [&] {
    std::unique_ptr<PipelineTask> task = pipeline.Next();
    return !task || taker.Take(static_cast<DecodeBatch*>(task.get()));
  };
  const auto handOver = [&] {
    if (!filling || filling->count == 0) return;
    const uint64_t cost = filling->cost;
    pipeline.Submit(std::move(filling), cost);
  };
  const GrfBlockInfo* previous = nullptr;
  for (const CatalogEntry* entry : order) {
    auto item = std::unique_ptr<DecodeItem>(new (std::nothrow) DecodeItem());
    if (!filling) filling.reset(new (std::nothrow) DecodeBatch());
    if (!item || !filling) {
      // Without room for bookkeeping the entry cannot be read either.
      DecodedEntry failed{entry, kOutOfMemory, nullptr};
      handOver();
      while (pipeline.InFlight() > 0)
        if (!takeOne()) return false;
      if (!callback(failed, context)) return false;
      previous = nullptr;
      continue;
    }
    item->archive = archive;
    item->entry = entry;
    item->info = entry->info;
    const GrfBlockInfo& info = item->info;
    item->problem = RecordProblem(info);
    item->sameAsPrevious = previous && info.realSize != 0 && SameRecord(info, *previous);
    item->pending = info.realSize != 0 && !item->problem && !item->sameAsPrevious;
    previous = &entry->info;
    const uint64_t cost = item->pending ? uint64_t{info.alignedSize} + info.realSize : 0;
    while (!pipeline.HasRoom(filling->cost + cost))
      if (!takeOne()) return false;
    filling->items[filling->count++] = item.release();
    filling->cost += cost;
    if (filling->Full()) handOver();
  }
  handOver();
  while (pipeline.InFlight() > 0)
    if (!takeOne()) return false;
  return true;
}
