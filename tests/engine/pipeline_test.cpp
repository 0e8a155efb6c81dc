// The ordered pipeline: results in submission order and within the budget
// for any number of workers, tasks marked done kept in their place, every
// worker started through the hook. (A stop with tasks in flight: job_test.)

#include "engine/ordered_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace {

std::atomic<int> g_live{0};
std::atomic<int> g_started{0};

struct Square : PipelineTask {
  explicit Square(uint64_t n) : input(n) { ++g_live; }
  ~Square() override { --g_live; }
  void Run() noexcept override {
    for (int i = 0; i < 200; ++i) output = output * 31 + input;
    ran = true;
  }
  uint64_t input;
  uint64_t output = 0;
  bool ran = false;
};

uint64_t Expected(uint64_t n) {
  uint64_t v = 0;
  for (int i = 0; i < 200; ++i) v = v * 31 + n;
  return v;
}

TEST(OrderedPipeline, KeepsOrderAndBudgetForAnyWorkerCount) {
  for (unsigned workers : {0u, 1u, 3u, 8u}) {
    g_started = 0;
    OrderedPipeline pipeline(workers, 1000, [](void*) { ++g_started; });
    uint64_t inFlightCost = 0, peak = 0, next = 0;
    const uint64_t total = 5000;
    const auto cost = [](uint64_t n) -> uint64_t { return n % 7 == 0 ? 1500 : 40; };
    for (uint64_t n = 0; n < total || pipeline.InFlight() > 0;) {
      if (n < total && pipeline.HasRoom(cost(n))) {
        // Every fifth task needs no run: it only keeps its place.
        pipeline.Submit(std::make_unique<Square>(n), cost(n), n % 5 != 0);
        inFlightCost += cost(n);
        if (pipeline.InFlight() > 1) peak = std::max(peak, inFlightCost);
        ++n;
        continue;
      }
      auto task = pipeline.Next();
      ASSERT_TRUE(task) << workers;
      auto* square = static_cast<Square*>(task.get());
      ASSERT_EQ(square->input, next) << workers;
      ASSERT_EQ(square->ran, next % 5 != 0);
      if (square->ran) {
        ASSERT_EQ(square->output, Expected(next));
      }
      inFlightCost -= cost(next);
      ++next;
    }
    EXPECT_EQ(next, total);
    EXPECT_LE(peak, 1000u) << workers;
    EXPECT_EQ(pipeline.Next(), nullptr);
    EXPECT_EQ(g_started.load(), static_cast<int>(workers));
  }
  EXPECT_EQ(g_live.load(), 0);
}

}  // namespace
