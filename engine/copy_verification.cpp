#include "engine/copy_verification.h"

#include <algorithm>
#include <functional>
#include <new>

#include "engine/batch_read.h"
#include "grf/grf.h"
#include "support/content_crc.h"
#include "support/pool.h"

std::unique_ptr<CopyExpectations> CopyExpectations::Create() noexcept {
  return std::unique_ptr<CopyExpectations>(new (std::nothrow) CopyExpectations());
}

namespace {

size_t HashOf(std::string_view name) { return std::hash<std::string_view>()(name); }

constexpr size_t kFewestSlots = 64;

}  // namespace

size_t CopyExpectations::Locate(std::string_view name, size_t hash) const noexcept {
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const uint32_t slot = slots_[i];
    if (slot == 0) return i;
    const Named& named = named_[slot - 1];
    if (named.hash == hash && named.name == name) return i;
  }
}

bool CopyExpectations::Rehash(size_t slotCount) noexcept {
  std::vector<uint32_t> fresh;
  try {
    fresh.assign(slotCount, 0);
  } catch (...) {
    return false;
  }
  slots_.swap(fresh);
  for (size_t k = 0; k < named_.size(); ++k)
    slots_[Locate(named_[k].name, named_[k].hash)] = static_cast<uint32_t>(k + 1);
  return true;
}

bool CopyExpectations::Expect(const char* name, const CopyExpectation& expectation) noexcept {
  const CopyExpectation want = expectation;  // may live in named_, which can move
  const std::string_view text = name ? name : "";
  const size_t hash = HashOf(text);
  if (!slots_.empty()) {
    if (const uint32_t slot = slots_[Locate(text, hash)]) {
      named_[slot - 1].want = want;
      return true;
    }
  }
  if ((named_.size() + 1) * 2 > slots_.size() &&
      !Rehash(std::max(kFewestSlots, slots_.size() * 2)))
    return false;
  std::string_view key;
  if (!names_.Copy(text, &key)) return false;
  try {
    named_.push_back(Named{key, hash, want});
  } catch (...) {
    return false;
  }
  slots_[Locate(text, hash)] = static_cast<uint32_t>(named_.size());
  return true;
}

void CopyExpectations::Reserve(size_t names) noexcept {
  size_t slots = kFewestSlots;
  while (slots / 2 < names && slots <= SIZE_MAX / 4) slots *= 2;
  if (slots > slots_.size()) Rehash(slots);
  try {
    named_.reserve(names);
  } catch (...) {
  }
}

const CopyExpectation* CopyExpectations::Find(std::string_view name) const noexcept {
  if (slots_.empty()) return nullptr;
  const uint32_t slot = slots_[Locate(name, HashOf(name))];
  return slot ? &named_[slot - 1].want : nullptr;
}

namespace {


bool SameBlock(const GrfBlockInfo& a, const GrfBlockInfo& b) {
  return a.offset == b.offset && a.compressedSize == b.compressedSize &&
         a.alignedSize == b.alignedSize && a.realSize == b.realSize && a.flags == b.flags;
}

// One entry of the copy: its block read and checked on a worker.
struct EntryCheck {
  const GrfArchive* copy = nullptr;
  CopyExpectation want{};
  GrfBlockInfo info{};
  unsigned char* block = nullptr;
  bool blockRead = false;
  bool matches = false;

  EntryCheck() = default;
  EntryCheck(const EntryCheck&) = delete;
  EntryCheck& operator=(const EntryCheck&) = delete;
  ~EntryCheck() {
    if (block) PoolFree(block);
  }
  bool WantsBlock() const { return true; }
  // Checks the block, then gives it back here rather than on the taking thread.
  void Run() noexcept {
    matches = blockRead && Check();
    if (block) PoolFree(block);
    block = nullptr;
  }
  bool Check() const noexcept {
    if (want.stored)
      return info.compressedSize == want.storedLength && info.flags == want.flags &&
             ContentCrc32(block, info.compressedSize) == want.checksum;
    PoolBuffer content;
    GrfBlockInfo decoded = info;
    return content.Allocate(info.realSize) &&
           GrfDecodeBlockShared(copy, &decoded, block, content.bytes(), info.realSize) ==
               GRF_S_OK &&
           ContentCrc32(content.bytes(), info.realSize) == want.checksum;
  }
};

// Consecutive entries checked by one worker.
struct CheckBatch final : PipelineBatch<EntryCheck> {
  void Run() noexcept override {
    if (count > 0) ReadBatchBlocks(items[0]->copy, items, count);
    PipelineBatch<EntryCheck>::Run();
  }
};

struct ReadBack;
using CheckFeeder = BatchFeeder<CheckBatch, ReadBack>;

struct ReadBack {
  GrfArchive* copy = nullptr;
  const CopyExpectations* expected = nullptr;
  CheckFeeder* feeder = nullptr;
  uint32_t matched = 0;
  // The block last read and what it was checked against: a link to it
  // reads the same bytes, and needs no other check when it expects the same.
  GrfBlockInfo last{};
  CopyExpectation lastWant{};
  bool lastValid = false;

  // A batch back from the workers: true when every entry matched.
  bool Take(std::unique_ptr<PipelineTask> task) {
    const auto* batch = static_cast<const CheckBatch*>(task.get());
    for (uint32_t i = 0; i < batch->count; ++i)
      if (!batch->items[i]->matches) return false;
    return true;
  }
};

bool CheckEntry(ReadBack* check, const char* name) {
  const CopyExpectation* want = check->expected->Find(name);
  GrfBlockInfo info;
  if (!want || !GrfGetEntryInfo(check->copy, name, &info) || info.realSize != want->realSize)
    return false;
  if (info.realSize == 0) return true;
  if (check->lastValid && SameBlock(info, check->last) && *want == check->lastWant) return true;
  const uint64_t cost = uint64_t{info.alignedSize} + (want->stored ? 0 : info.realSize);
  auto work = std::unique_ptr<EntryCheck>(new (std::nothrow) EntryCheck());
  if (!work) return false;
  work->copy = check->copy;
  work->want = *want;
  work->info = info;
  bool outOfMemory = false;
  if (!check->feeder->Add(std::move(work), cost, &outOfMemory)) return false;
  check->last = info;
  check->lastWant = *want;
  check->lastValid = true;
  return true;
}

bool VisitEntry(uint32_t, uint32_t, const EntryView* view, void* context) {
  auto* check = static_cast<ReadBack*>(context);
  if (!CheckEntry(check, view->name)) return false;
  ++check->matched;
  return true;
}

}  // namespace

bool VerifyCopy(const char* path, const CopyExpectations& expected, uint32_t threads,
                WorkerStartHook onStart, void* startContext) {
  // A read-only open shares the file with the writer that may still hold it.
  GrfArchive* copy = nullptr;
  if (!GrfOpen(path, GRF_OPEN_READ_ONLY | GRF_OPEN_SEQUENTIAL, nullptr, &copy) || !copy)
    return false;
  bool all = false;
  {
    OrderedPipeline pipeline(PipelineWorkers(threads), PipelineBudget(GrfGetMaxRealSize(copy)),
                             onStart, startContext);
    ReadBack check;
    CheckFeeder feeder(&pipeline, &check);
    check.copy = copy;
    check.expected = &expected;
    check.feeder = &feeder;
    all = GrfForEachEntry(copy, &VisitEntry, &check) && feeder.Finish() &&
          check.matched == expected.Count();
  }
  GrfClose(&copy);
  return all;
}
