#include "support/pool.h"

#include <gtest/gtest.h>

#include <cstring>
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

TEST_F(PoolTest, BlockIsFramedByGuardsAndCounted) {
  auto* p = static_cast<unsigned char*>(PoolAlloc(13));
  ASSERT_NE(p, nullptr);
  uint32_t size, head, tail;
  std::memcpy(&size, p - 8, 4);
  std::memcpy(&head, p - 4, 4);
  std::memcpy(&tail, p + 13, 4);
  EXPECT_EQ(size, 13u);
  EXPECT_EQ(head, 0xBEBAADDEu);
  EXPECT_EQ(tail, 0xADDEBEBAu);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
  PoolCounters mid = GetPoolCounters();
  EXPECT_EQ(mid.liveBytes - before_.liveBytes, 13u);
  EXPECT_EQ(mid.liveBytesWithFrames - before_.liveBytesWithFrames, 25u);
  EXPECT_EQ(mid.liveBlocks - before_.liveBlocks, 1u);
  EXPECT_TRUE(PoolFree(p));
  PoolCounters after = GetPoolCounters();
  EXPECT_EQ(after.liveBytes, before_.liveBytes);
  EXPECT_EQ(after.liveBlocks, before_.liveBlocks);
  EXPECT_EQ(after.totalReleased - before_.totalReleased, 13u);
  EXPECT_EQ(g_asserts, 0);
}

TEST_F(PoolTest, ZeroSizeAndNullAreCountedAndAsserted) {
  EXPECT_EQ(PoolAlloc(0), nullptr);
  EXPECT_EQ(PoolAllocZeroed(0), nullptr);
  EXPECT_FALSE(PoolFree(nullptr));
  PoolCounters c = GetPoolCounters();
  EXPECT_EQ(c.zeroSizeRequests - before_.zeroSizeRequests, 2u);
  EXPECT_EQ(c.nullReleases - before_.nullReleases, 1u);
  EXPECT_EQ(g_asserts, 3);
  ClearPoolOptions(0x0E);
  EXPECT_EQ(PoolAlloc(0), nullptr);
  EXPECT_FALSE(PoolFree(nullptr));
  EXPECT_EQ(g_asserts, 3);
}

TEST_F(PoolTest, ZeroedBlockIsZeroAndCounted) {
  auto* p = static_cast<unsigned char*>(PoolAllocZeroed(64));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
  EXPECT_EQ(GetPoolCounters().zeroFilled - before_.zeroFilled, 1u);
  PoolFree(p);
}

TEST_F(PoolTest, DamagedGuardsAreDetectedAndTheBlockIsKept) {
  auto* p = static_cast<unsigned char*>(PoolAlloc(10));
  ASSERT_NE(p, nullptr);
  p[10] = 0;  // write one byte past the end, into the tail guard
  EXPECT_FALSE(PoolFree(p));
  PoolCounters c = GetPoolCounters();
  EXPECT_EQ(c.damagedTails - before_.damagedTails, 1u);
  EXPECT_EQ(c.liveBlocks - before_.liveBlocks, 1u);  // not released
  EXPECT_EQ(g_asserts, 1);

  // A resize of a damaged block returns null, keeps the old block and does not
  // leak the new one it made.
  EXPECT_EQ(PoolRealloc(p, 100), nullptr);
  c = GetPoolCounters();
  EXPECT_EQ(c.liveBlocks - before_.liveBlocks, 1u);
  EXPECT_EQ(c.liveBytes - before_.liveBytes, 10u);

  p[10] = 0xBA;  // repair, then the block releases normally
  EXPECT_TRUE(PoolFree(p));

  auto* q = static_cast<unsigned char*>(PoolAlloc(8));
  q[-4] ^= 1;
  EXPECT_FALSE(PoolFree(q));
  EXPECT_EQ(GetPoolCounters().damagedHeads - before_.damagedHeads, 1u);
  q[-4] ^= 1;
  EXPECT_TRUE(PoolFree(q));
}

TEST_F(PoolTest, ForeignBlockIsNotReleased) {
  alignas(8) unsigned char buffer[32] = {};
  EXPECT_FALSE(PoolFree(buffer + 8));
  EXPECT_EQ(GetPoolCounters().damagedHeads - before_.damagedHeads, 1u);
}

TEST_F(PoolTest, ResizeKeepsContentAndSurvivesFailure) {
  auto* p = static_cast<unsigned char*>(PoolAlloc(100));
  for (int i = 0; i < 100; ++i) p[i] = static_cast<unsigned char>(i);
  auto* q = static_cast<unsigned char*>(PoolRealloc(p, 40));
  ASSERT_NE(q, nullptr);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(q[i], i);
  EXPECT_EQ(GetPoolCounters().moves - before_.moves, 1u);

  PoolInjectFailures(0, 1);
  EXPECT_EQ(PoolRealloc(q, 4000), nullptr);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(q[i], i);  // old block intact

  auto* r = static_cast<unsigned char*>(PoolRealloc(q, 400));
  ASSERT_NE(r, nullptr);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(r[i], i);
  EXPECT_EQ(PoolRealloc(r, 0), nullptr);
  EXPECT_EQ(GetPoolCounters().liveBlocks, before_.liveBlocks);

  void* fresh = PoolRealloc(nullptr, 16);
  ASSERT_NE(fresh, nullptr);
  PoolFree(fresh);
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
  PoolCounters c = GetPoolCounters();
  EXPECT_EQ(c.liveBlocks, before_.liveBlocks);
  EXPECT_EQ(c.liveBytes, before_.liveBytes);
  EXPECT_EQ(c.allocations - before_.allocations, 40000u);
  EXPECT_EQ(c.totalAllocated - before_.totalAllocated, c.totalReleased - before_.totalReleased);
}

}  // namespace
