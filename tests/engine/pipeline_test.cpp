// Order, cost budget, tasks marked done and the start hook, for any worker count.

#include "engine/ordered_pipeline.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>

namespace {
std::atomic<int> g_started{0};

struct Square : PipelineTask {
  explicit Square(uint64_t n) : input(n) {}
  void Run() noexcept override { output = input * input + 1; }
  uint64_t input, output = 0;
};

TEST(OrderedPipeline, KeepsOrderAndBudgetForAnyWorkerCount) {
  for (unsigned workers : {0u, 1u, 3u, 8u}) {
    g_started = 0;
    OrderedPipeline pipeline(workers, 1000, [](void*) { ++g_started; });
    uint64_t inFlightCost = 0, peak = 0, next = 0, shared = 0;  // shared: submitted beside others
    const auto cost = [](uint64_t n) -> uint64_t { return n % 7 == 0 ? 1500 : 40; };
    for (uint64_t n = 0; n < 5000 || pipeline.InFlight() > 0;) {
      if (n < 5000 && pipeline.HasRoom(cost(n))) {  // every fifth task only keeps its place
        pipeline.Submit(std::make_unique<Square>(n), cost(n), n % 5 != 0);
        inFlightCost += cost(n);
        if (pipeline.InFlight() > 1) peak = std::max(peak, inFlightCost), ++shared;
        ++n;
        continue;
      }
      auto task = pipeline.Next();
      ASSERT_TRUE(task) << workers;
      auto* square = static_cast<Square*>(task.get());
      ASSERT_EQ(square->input, next) << workers;
      ASSERT_EQ(square->output, next % 5 ? next * next + 1 : 0) << workers;
      inFlightCost -= cost(next++);
    }
    EXPECT_EQ(next, 5000u);
    EXPECT_TRUE(peak <= 1000u && shared > 3000) << workers << " " << shared;
    EXPECT_EQ(pipeline.Next(), nullptr);
    EXPECT_EQ(g_started.load(), static_cast<int>(workers));
  }
  OrderedPipeline full(0, ~uint64_t{0});  // a full ring stops the program
  for (size_t n = 0; n < OrderedPipeline::kMaxTasksInFlight; ++n) full.Submit(std::make_unique<Square>(n), 0);
  EXPECT_DEATH(full.Submit(std::make_unique<Square>(0), 0), "fatal assertion");
}
}  // namespace
