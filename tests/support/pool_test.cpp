#include "support/pool.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <vector>
#include "support/diag.h"

namespace {
int g_asserts = 0;
void CountAssert(const char*, const char*, int) { ++g_asserts; }
std::vector<uint64_t> Fields(const PoolCounters& c) {
  return {c.liveBytes, c.liveBytesWithFrames, c.liveBlocks, c.allocations, c.moves, c.zeroFilled, c.zeroSizeRequests,
          c.nullReleases, c.damagedHeads, c.damagedTails, c.totalAllocated, c.totalAllocatedWithFrames, c.totalReleased};
}

// Every counter, the guards on free and resize, and a failed resize keeping the old block.
TEST(Pool, CountersGuardsAndFailedResizesThatKeepTheOldBlock) {
  const DebugAssertHandler previous = SetDebugAssertHandler(&CountAssert);
  SetPoolOptions(pool::kAssertNullFree | pool::kAssertZeroSize | pool::kAssertBadGuard);
  const PoolCounters before = GetPoolCounters();
  auto* p = static_cast<unsigned char*>(PoolAlloc(40));
  auto* z = static_cast<unsigned char*>(PoolAllocZeroed(8));
  EXPECT_TRUE(z && std::count(z, z + 8, 0) == 8 && GetPoolCounters().peakLiveBlocks >= before.liveBlocks + 2 &&
              GetPoolCounters().peakLiveBytes >= std::max<uint64_t>(before.peakLiveBytes, before.liveBytes + 48));
  EXPECT_FALSE(PoolAlloc(0) || PoolFree(nullptr));
  for (int i = 0; i < 40; ++i) p[i] = static_cast<unsigned char>(i);
  for (const int guard : {40, -4}) {  // one byte into the tail guard, then the head guard
    p[guard] ^= 1;
    EXPECT_FALSE(PoolFree(p)) << "a damaged block is kept";
    EXPECT_EQ(PoolRealloc(p, 100), nullptr) << "a damaged block is not resized";
    p[guard] ^= 1;
  }
  EXPECT_EQ(g_asserts, 6);  // a zero size, a null release, each damaged guard met
  PoolInjectFailures(0, 1);
  EXPECT_EQ(PoolRealloc(p, 4000), nullptr);
  auto* r = static_cast<unsigned char*>(PoolRealloc(p, 400));
  for (int i = 0; i < 40; ++i) ASSERT_EQ(r[i], i);
  EXPECT_TRUE(PoolFree(r) && PoolFree(z));
  std::vector<uint64_t> delta = Fields(GetPoolCounters()), start = Fields(before);
  for (size_t i = 0; i < delta.size(); ++i) delta[i] -= start[i];
  // Blocks of 40, 8, 100 twice (made, then dropped with the damaged one) and 400.
  EXPECT_EQ(delta, (std::vector<uint64_t>{0, 0, 0, 5, 1, 1, 1, 1, 2, 2, 648, 648 + 5 * pool::kFrameBytes, 648}));
  ClearPoolOptions(pool::kAssertNullFree | pool::kAssertZeroSize | pool::kAssertBadGuard);
  auto* q = static_cast<unsigned char*>(PoolAlloc(8));  // damaged, then resized to nothing
  EXPECT_FALSE(PoolAlloc(0) || PoolFree(nullptr) || (q[8] ^= 1, PoolFree(q)) || (q[8] ^= 1, PoolRealloc(q, 0)) || g_asserts != 6)
      << "no assertion once the options are off";
  SetDebugAssertHandler(previous);
}
}  // namespace
