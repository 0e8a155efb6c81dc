#include "support/pool.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "support/diag.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define SLIM_SPIN_HINT() _mm_pause()
#else
#define SLIM_SPIN_HINT() std::this_thread::yield()
#endif

namespace {

std::atomic<uint32_t> g_options{0};
std::atomic<uint32_t> g_lock{0};
PoolCounters g_counters{};

std::atomic<uint32_t> g_injectSkip{0};
std::atomic<uint32_t> g_injectCount{0};

class SpinGuard {
 public:
  SpinGuard() {
    while (g_lock.exchange(1, std::memory_order_acquire) != 0) SLIM_SPIN_HINT();
  }
  ~SpinGuard() { g_lock.exchange(0, std::memory_order_release); }
  SpinGuard(const SpinGuard&) = delete;
  SpinGuard& operator=(const SpinGuard&) = delete;
};

uint32_t LoadWord(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void StoreWord(unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); }

bool InjectedFailure() {
  if (g_injectCount.load(std::memory_order_relaxed) == 0) return false;
  uint32_t skip = g_injectSkip.load();
  while (skip > 0) {
    if (g_injectSkip.compare_exchange_weak(skip, skip - 1)) return false;
  }
  uint32_t count = g_injectCount.load();
  while (count > 0) {
    if (g_injectCount.compare_exchange_weak(count, count - 1)) return true;
  }
  return false;
}

// The core step shared by all four operations: allocate `size` bytes (when
// not 0), move and release the block in *io (when not null).
bool PoolCore(size_t size, uint32_t options, void** io) {
  unsigned char* fresh = nullptr;
  if (size != 0) {
    if (size > pool::kMaxBlock || InjectedFailure()) return false;
    // calloc only when asked: a malloc followed by a memset that is only
    // sometimes run is folded by the optimizer into a calloc every time.
    auto* raw = static_cast<unsigned char*>((options & pool::kZeroFill)
                                                ? std::calloc(1, size + pool::kFrameBytes)
                                                : std::malloc(size + pool::kFrameBytes));
    if (!raw) return false;
    StoreWord(raw, static_cast<uint32_t>(size));
    StoreWord(raw + 4, pool::kHeadGuard);
    StoreWord(raw + 8 + size, pool::kTailGuard);
    fresh = raw + 8;
    SpinGuard lock;
    PoolCounters& c = g_counters;
    c.liveBytes += static_cast<uint32_t>(size);
    c.liveBytesWithFrames += static_cast<uint32_t>(size + pool::kFrameBytes);
    c.liveBlocks += 1;
    c.allocations += 1;
    if (options & pool::kZeroFill) c.zeroFilled += 1;
    c.totalAllocated += size;
    c.totalAllocatedWithFrames += size + pool::kFrameBytes;
    if (c.liveBytes > c.peakLiveBytes) c.peakLiveBytes = c.liveBytes;
    if (c.liveBlocks > c.peakLiveBlocks) c.peakLiveBlocks = c.liveBlocks;
  }

  if (*io != nullptr) {
    auto* old = static_cast<unsigned char*>(*io);
    const bool assertGuards = (g_options.load() & pool::kAssertBadGuard) != 0;
    if (LoadWord(old - 4) != pool::kHeadGuard) {
      { SpinGuard lock; g_counters.damagedHeads += 1; }
      if (assertGuards) SLIM_DEBUG_ASSERT(!"damaged head guard");
      *io = fresh;
      return false;
    }
    const uint32_t oldSize = LoadWord(old - 8);
    if (LoadWord(old + oldSize) != pool::kTailGuard) {
      { SpinGuard lock; g_counters.damagedTails += 1; }
      if (assertGuards) SLIM_DEBUG_ASSERT(!"damaged tail guard");
      *io = fresh;
      return false;
    }
    if (fresh) {
      std::memcpy(fresh, old, oldSize < size ? oldSize : size);
      SpinGuard lock;
      g_counters.moves += 1;
    }
    StoreWord(old - 4, pool::kDeadGuard);
    StoreWord(old + oldSize, pool::kDeadGuard);
    std::free(old - 8);
    SpinGuard lock;
    PoolCounters& c = g_counters;
    SLIM_DEBUG_ASSERT(c.liveBytes >= oldSize);
    SLIM_DEBUG_ASSERT(c.liveBlocks > 0);
    c.liveBytes -= oldSize;
    c.liveBytesWithFrames -= oldSize + static_cast<uint32_t>(pool::kFrameBytes);
    c.liveBlocks -= 1;
    c.totalReleased += oldSize;
  }
  *io = fresh;
  return true;
}

void* AllocWith(size_t size, uint32_t options) {
  if (size == 0) {
    { SpinGuard lock; g_counters.zeroSizeRequests += 1; }
    if (g_options.load() & pool::kAssertZeroSize) SLIM_DEBUG_ASSERT(!"zero-size allocation");
    return nullptr;
  }
  void* block = nullptr;
  PoolCore(size, options, &block);
  return block;
}

}  // namespace

void* PoolAlloc(size_t size) { return AllocWith(size, 0); }

void* PoolAllocZeroed(size_t size) { return AllocWith(size, pool::kZeroFill); }

void* PoolRealloc(void* block, size_t size) {
  if (block == nullptr) return size ? PoolAlloc(size) : nullptr;
  if (size == 0) {
    PoolFree(block);
    return nullptr;
  }
  void* io = block;
  if (!PoolCore(size, 0, &io)) {
    // Either no new block could be made, or the old block's guards are
    // damaged: then the fresh block is released again and the old one kept.
    if (io != nullptr && io != block) {
      void* fresh = io;
      PoolCore(0, 0, &fresh);
    }
    return nullptr;
  }
  return io;
}

bool PoolFree(void* block) {
  if (block == nullptr) {
    { SpinGuard lock; g_counters.nullReleases += 1; }
    if (g_options.load() & pool::kAssertNullFree) SLIM_DEBUG_ASSERT(!"release of a null pointer");
    return false;
  }
  return PoolCore(0, 0, &block);
}

void SetPoolOptions(uint32_t bits) { g_options.fetch_or(bits & ~pool::kZeroFill); }
void ClearPoolOptions(uint32_t bits) { g_options.fetch_and(~bits); }
uint32_t GetPoolOptions() { return g_options.load(); }

PoolCounters GetPoolCounters() {
  SpinGuard lock;
  return g_counters;
}

void* PoolZlibAlloc(void*, unsigned items, unsigned size) {
  const uint64_t bytes = static_cast<uint64_t>(items) * size;
  if (bytes == 0 || bytes > pool::kMaxBlock) return nullptr;
  return PoolAlloc(static_cast<size_t>(bytes));
}

void PoolZlibFree(void*, void* block) { PoolFree(block); }

void PoolInjectFailures(uint32_t skip, uint32_t count) {
  g_injectCount.store(0);
  g_injectSkip.store(skip);
  g_injectCount.store(count);
}
