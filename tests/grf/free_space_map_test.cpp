// The free-space map: best fit, and a random walk against a byte model.

#include <random>
#include <vector>

#include "grf/free_space_map.h"
#include "support/pool.h"
#include "tests/grf/grf_test_util.h"

namespace {

struct Map {
  FreeSpaceMap* m = FreeSpaceCreate();
  ~Map() { DestroyFreeSpaceMap(m); }
};

TEST(FreeSpaceMap, BestFitTakesTheShortestLongEnoughRangeFirstOfEquals) {
  Map map;
  for (auto [start, end] : {std::pair{0, 50}, {100, 120}, {200, 220}, {300, 310}, {400, 1000}})
    ASSERT_TRUE(FreeSpaceAdd(map.m, start, end - start));
  for (auto [length, want] : {std::pair{20, 100}, {5, 300}, {21, 0}, {600, 400}, {601, 7}}) {
    uint64_t start = 7;
    EXPECT_EQ(FreeSpaceBestFit(map.m, length, &start), length != 601);
    EXPECT_EQ(start, static_cast<uint64_t>(want)) << length;
  }
}

TEST(FreeSpaceMap, RandomOperationsMatchAByteModel) {
  constexpr uint64_t kSpace = 3000;
  std::mt19937 random(12345);
  Map map;
  std::vector<bool> model(kSpace, false);
  const auto apply = [&](bool add, uint64_t a, uint64_t b, bool starved = false) {  // starved: no memory to grow
    PoolInjectFailures(0, starved);
    const bool done = add ? FreeSpaceAdd(map.m, a, b - a) : FreeSpaceRemove(map.m, a, b - a);
    PoolInjectFailures(0, 0);
    ASSERT_TRUE(done || starved);
    for (uint64_t i = a; i < b && done; ++i) model[i] = add;  // a refused change leaves the map as it was
    std::vector<std::pair<uint64_t, uint64_t>> expected, got;
    for (uint64_t i = 0; i < kSpace; ++i) {
      if (model[i] && !expected.empty() && expected.back().second == i) expected.back().second = i + 1;
      else if (model[i]) expected.emplace_back(i, i + 1);
    }
    for (uint32_t i = 0; i < map.m->count; ++i) got.emplace_back(map.m->ranges[i].start, map.m->ranges[i].end);
    ASSERT_EQ(got, expected) << "seed 12345, " << (add ? "add " : "remove ") << a << "-" << b;
    ASSERT_LE(map.m->count, map.m->capacity);
  };
  for (uint64_t k = 0; k < 32; ++k) apply(true, 10 * k, 10 * k + 5);
  apply(false, 1, 2);  // splits a range of the full array
  for (int step = 0; step < 3000; ++step) {
    const uint64_t a = random() % kSpace, b = std::min(kSpace, a + random() % 40);
    apply(random() % 2 == 0, a, b, step % 2 == 1);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
