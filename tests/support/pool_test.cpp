#include "support/pool.h"
#include <gtest/gtest.h>
#include "support/diag.h"

namespace {
int g_asserts = 0;
void CountAssert(const char*, const char*, int) { ++g_asserts; }

TEST(Pool, DamagedGuardsAreDetectedAndFailedResizesKeepTheOldBlock) {
  const DebugAssertHandler previous = SetDebugAssertHandler(&CountAssert);
  SetPoolOptions(0x0E);
  const PoolCounters before = GetPoolCounters();
  auto* p = static_cast<unsigned char*>(PoolAlloc(40));
  const PoolCounters one = GetPoolCounters();
  EXPECT_TRUE(one.allocations - before.allocations == 1 && one.liveBytes - before.liveBytes == 40 &&
              one.totalAllocated - before.totalAllocated == 40 &&
              one.liveBytesWithFrames - before.liveBytesWithFrames == 40 + pool::kFrameBytes &&
              one.totalAllocatedWithFrames - before.totalAllocatedWithFrames == 40 + pool::kFrameBytes);
  for (int i = 0; i < 40; ++i) p[i] = static_cast<unsigned char>(i);
  p[40] ^= 1;  // one byte past the end, into the tail guard
  ASSERT_FALSE(PoolFree(p)) << "a damaged block is kept";
  EXPECT_EQ(GetPoolCounters().damagedTails - before.damagedTails, 1u);
  EXPECT_EQ(g_asserts, 1);
  EXPECT_EQ(PoolRealloc(p, 100), nullptr) << "a damaged block is not resized";
  p[40] ^= 1;
  p[-4] ^= 1;  // the head guard
  EXPECT_TRUE(!PoolFree(p) && !PoolRealloc(p, 100) && GetPoolCounters().damagedHeads - before.damagedHeads == 2);
  EXPECT_EQ(g_asserts, 4);  // each damaged guard met on free or resize
  p[-4] ^= 1;
  PoolInjectFailures(0, 1);
  EXPECT_EQ(PoolRealloc(p, 4000), nullptr);
  auto* r = static_cast<unsigned char*>(PoolRealloc(p, 400));
  for (int i = 0; i < 40; ++i) ASSERT_EQ(r[i], i);
  EXPECT_TRUE(PoolFree(r));
  const PoolCounters after = GetPoolCounters();
  EXPECT_TRUE(after.liveBlocks == before.liveBlocks && after.zeroFilled == before.zeroFilled) << "none asked to be zeroed";
  ClearPoolOptions(0x0E);
  SetDebugAssertHandler(previous);
}
}  // namespace
