#pragma once
// Guarded memory pool.
//
// Every block is one runtime allocation framed by a size word, a head guard
// and a tail guard; the guards are checked on release and resize. Usage
// counters are kept under a spin lock. Blocks must be returned here.

#include <cstddef>
#include <cstdint>

namespace pool {
constexpr uint32_t kZeroFill = 0x01;        // per call only, never stored
constexpr uint32_t kAssertNullFree = 0x02;  // releasing null raises a debug assertion
constexpr uint32_t kAssertZeroSize = 0x04;  // asking for 0 bytes raises a debug assertion
constexpr uint32_t kAssertBadGuard = 0x08;  // a damaged guard raises a debug assertion
constexpr uint32_t kHeadGuard = 0xBEBAADDE;
constexpr uint32_t kTailGuard = 0xADDEBEBA;
constexpr uint32_t kDeadGuard = 0x0DF0ADBA;
constexpr size_t kFrameBytes = 12;
constexpr size_t kMaxBlock = 0xFFFFFFFFu - kFrameBytes;  // the size word is 32 bits
}  // namespace pool

struct PoolCounters {
  uint32_t liveBytes;
  uint32_t liveBytesWithFrames;
  uint32_t liveBlocks;
  uint32_t peakLiveBytes;
  uint32_t peakLiveBlocks;
  uint32_t allocations;
  uint32_t moves;
  uint32_t zeroFilled;
  uint32_t zeroSizeRequests;
  uint32_t nullReleases;
  uint32_t damagedHeads;
  uint32_t damagedTails;
  uint64_t totalAllocated;
  uint64_t totalAllocatedWithFrames;
  uint64_t totalReleased;
};

void* PoolAlloc(size_t size);
void* PoolAllocZeroed(size_t size);
// Null allocates; size 0 releases and returns null; on failure returns null and
// leaves the old block valid. A block with damaged guards is kept (not moved).
void* PoolRealloc(void* block, size_t size);
bool PoolFree(void* block);

void SetPoolOptions(uint32_t bits);
void ClearPoolOptions(uint32_t bits);
uint32_t GetPoolOptions();

PoolCounters GetPoolCounters();

// A pool block freed when the buffer goes out of scope, or a buffer the
// caller lent, which is only used.
class PoolBuffer {
 public:
  PoolBuffer() = default;
  PoolBuffer(const PoolBuffer&) = delete;
  PoolBuffer& operator=(const PoolBuffer&) = delete;
  ~PoolBuffer() { Free(); }

  // False, leaving the buffer empty, when the pool has no block of that size.
  bool Allocate(size_t size) {
    Free();
    bytes_ = PoolAlloc(size);
    owned_ = bytes_ != nullptr;
    return owned_;
  }
  // Uses `lent` when it holds `size` bytes, else allocates.
  bool LendOrAllocate(void* lent, size_t lentCapacity, size_t size) {
    if (!lent || lentCapacity < size) return Allocate(size);
    Free();
    bytes_ = lent;
    return true;
  }
  // Takes over a block from the pool; null leaves the buffer empty.
  void Adopt(void* block) {
    Free();
    bytes_ = block;
    owned_ = block != nullptr;
  }

  unsigned char* bytes() const { return static_cast<unsigned char*>(bytes_); }
  template <typename T>
  T* As() const { return static_cast<T*>(bytes_); }
  explicit operator bool() const { return bytes_ != nullptr; }

 private:
  void Free() {
    if (owned_) PoolFree(bytes_);
    bytes_ = nullptr;
    owned_ = false;
  }

  void* bytes_ = nullptr;
  bool owned_ = false;
};

// Allocator hooks in the shape zlib expects for zalloc/zfree.
void* PoolZlibAlloc(void* opaque, unsigned items, unsigned size);
void PoolZlibFree(void* opaque, void* block);

// Test seam for out-of-memory paths: after `skip` more runtime allocations
// succeed, the following `count` fail as if the heap were exhausted.
// PoolInjectFailures(0, 0) turns it off.
void PoolInjectFailures(uint32_t skip, uint32_t count);
