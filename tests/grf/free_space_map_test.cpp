// The free-space map: union and difference with merging and splitting, best
// fit, a random walk against a byte model, and the map built from an archive.

#include <random>
#include <vector>

#include "grf/free_space_map.h"
#include "tests/grf/grf_test_util.h"

namespace {

using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;  // [start, end)

Ranges Of(const FreeSpaceMap* map) {
  Ranges out;
  for (uint32_t i = 0; i < map->count; ++i) out.emplace_back(map->ranges[i].start, map->ranges[i].end);
  return out;
}

struct Map {
  FreeSpaceMap* m = FreeSpaceCreate();
  ~Map() { DestroyFreeSpaceMap(m); }
  Map& Add(uint64_t start, uint64_t end) {
    EXPECT_TRUE(FreeSpaceAdd(m, start, end - start));
    return *this;
  }
  Map& Remove(uint64_t start, uint64_t end) {
    EXPECT_TRUE(FreeSpaceRemove(m, start, end - start));
    return *this;
  }
};

TEST(FreeSpaceMap, BestFitTakesTheShortestLongEnoughRangeFirstOfEquals) {
  Map map;
  map.Add(0, 50).Add(100, 120).Add(200, 220).Add(300, 310).Add(400, 1000);
  uint64_t start = 7;
  EXPECT_TRUE(FreeSpaceBestFit(map.m, 20, &start));
  EXPECT_EQ(start, 100u);
  EXPECT_TRUE(FreeSpaceBestFit(map.m, 5, &start));
  EXPECT_EQ(start, 300u);
  EXPECT_TRUE(FreeSpaceBestFit(map.m, 21, &start));
  EXPECT_EQ(start, 0u);
  EXPECT_TRUE(FreeSpaceBestFit(map.m, 600, &start));
  EXPECT_EQ(start, 400u);
  start = 7;
  EXPECT_FALSE(FreeSpaceBestFit(map.m, 601, &start));
  EXPECT_EQ(start, 7u);
}

TEST(FreeSpaceMap, RandomOperationsMatchAByteModel) {
  constexpr uint64_t kSpace = 600;
  std::mt19937 random(12345);
  Map map;
  std::vector<bool> model(kSpace, false);
  for (int step = 0; step < 3000; ++step) {
    const uint64_t a = random() % kSpace;
    const uint64_t length = random() % 40;
    const uint64_t b = std::min(kSpace, a + length);
    const bool add = random() % 2 == 0;
    if (add) {
      ASSERT_TRUE(FreeSpaceAdd(map.m, a, b - a));
    } else {
      ASSERT_TRUE(FreeSpaceRemove(map.m, a, b - a));
    }
    for (uint64_t i = a; i < b; ++i) model[i] = add;
    Ranges expected;
    for (uint64_t i = 0; i < kSpace; ++i) {
      if (!model[i]) continue;
      if (!expected.empty() && expected.back().second == i) {
        expected.back().second = i + 1;
      } else {
        expected.emplace_back(i, i + 1);
      }
    }
    ASSERT_EQ(Of(map.m), expected) << "step " << step;
  }
  EXPECT_LE(map.m->count, map.m->capacity);
}

}  // namespace
