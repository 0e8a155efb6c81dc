#include "support/pool.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/diag.h"

namespace {

int g_asserts = 0;
void CountAssert(const char*, const char*, int) { ++g_asserts; }

class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_asserts = 0;
    previous_ = SetDebugAssertHandler(&CountAssert);
    SetPoolOptions(0x0E);
    before_ = GetPoolCounters();
  }
  void TearDown() override {
    ClearPoolOptions(0x0E);
    SetDebugAssertHandler(previous_);
    PoolInjectFailures(0, 0);
  }
  DebugAssertHandler previous_ = nullptr;
  PoolCounters before_{};
};

TEST_F(PoolTest, DamagedGuardsAreDetectedAndTheBlockIsKept) {
  auto* p = static_cast<unsigned char*>(PoolAlloc(10));
  ASSERT_NE(p, nullptr);
  p[10] ^= 1;  // one byte past the end, into the tail guard
  EXPECT_FALSE(PoolFree(p));
  EXPECT_EQ(GetPoolCounters().damagedTails - before_.damagedTails, 1u);
  EXPECT_EQ(g_asserts, 1);
  // A resize of a damaged block fails, keeps the old block and leaks no new one.
  EXPECT_EQ(PoolRealloc(p, 100), nullptr);
  EXPECT_EQ(GetPoolCounters().liveBlocks - before_.liveBlocks, 1u);
  p[10] ^= 1;
  EXPECT_TRUE(PoolFree(p));

  auto* q = static_cast<unsigned char*>(PoolAlloc(8));
  q[-4] ^= 1;
  EXPECT_FALSE(PoolFree(q));
  EXPECT_EQ(GetPoolCounters().damagedHeads - before_.damagedHeads, 1u);
  q[-4] ^= 1;
  EXPECT_TRUE(PoolFree(q));
  alignas(8) unsigned char foreign[32] = {};
  EXPECT_FALSE(PoolFree(foreign + 8));
  EXPECT_EQ(GetPoolCounters().liveBlocks, before_.liveBlocks);
}

TEST_F(PoolTest, FailedResizeKeepsTheOldBlock) {
  auto* p = static_cast<unsigned char*>(PoolAlloc(40));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 40; ++i) p[i] = static_cast<unsigned char>(i);
  PoolInjectFailures(0, 1);
  EXPECT_EQ(PoolRealloc(p, 4000), nullptr);
  auto* r = static_cast<unsigned char*>(PoolRealloc(p, 400));
  ASSERT_NE(r, nullptr);
  for (int i = 0; i < 40; ++i) ASSERT_EQ(r[i], i);
  EXPECT_TRUE(PoolFree(r));
  EXPECT_EQ(GetPoolCounters().liveBlocks, before_.liveBlocks);
}

TEST_F(PoolTest, CountersStayConsistentUnderTwoThreads) {
  auto hammer = [] {
    std::vector<void*> blocks;
    for (int round = 0; round < 20000; ++round) {
      blocks.push_back(PoolAlloc(1 + round % 97));
      if (blocks.size() > 16) {
        PoolFree(blocks.front());
        blocks.erase(blocks.begin());
      }
    }
    for (void* b : blocks) PoolFree(b);
  };
  std::thread a(hammer), b(hammer);
  a.join();
  b.join();
  const PoolCounters c = GetPoolCounters();
  EXPECT_EQ(c.liveBlocks, before_.liveBlocks);
  EXPECT_EQ(c.liveBytes, before_.liveBytes);
  EXPECT_EQ(c.allocations - before_.allocations, 40000u);
}

}  // namespace
