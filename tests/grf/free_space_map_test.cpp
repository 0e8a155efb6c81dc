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

TEST(FreeSpaceMap, BuiltFromAnArchiveLeavesHeaderTableAndBlocksOut) {
  fixture::ArchiveSpec spec;
  spec.leadingGap = 16;
  spec.entries.push_back(fixture::Entry("a", fixture::MakeContent(100, 1)));
  spec.entries.push_back(fixture::Link("b", 0));
  spec.entries.push_back(fixture::Entry("empty", ""));
  spec.entries.push_back(fixture::Entry("c", fixture::MakeContent(50, 2, false)));
  spec.garbageAfterTable = fixture::Bytes(24, 0);
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  grftest::TempFile file("map-build");
  ASSERT_TRUE(file.Write(built.bytes));
  for (uint32_t flags : {GRF_OPEN_TRACK_SPACE | GRF_OPEN_READ_ONLY, GRF_OPEN_REUSE_GAPS | 0u}) {
    grftest::Opened o = grftest::OpenPath(file.path(), flags);
    ASSERT_TRUE(o.ok);
    ASSERT_NE(o.archive->freeSpace, nullptr);
    const uint64_t size = built.bytes.size();
    // Blocks are back to back from 62; the table runs to tableEnd.
    Ranges expected = {{46, 62}};
    uint64_t blocksEnd = 62;
    for (const fixture::ExpectedEntry& e : built.expected)
      blocksEnd = std::max(blocksEnd, e.offset + e.alignedSize);
    if (blocksEnd < built.tablePosition) expected.emplace_back(blocksEnd, built.tablePosition);
    expected.emplace_back(built.tableEnd, size);
    EXPECT_EQ(Of(o.archive->freeSpace), expected);
    EXPECT_EQ(o.archive->freeSpace->capacity, o.archive->freeSpace->count);  // shrunk
    GrfClose(&o.archive);
  }
  // A trailer archive keeps its last 9 bytes.
  fixture::ArchiveSpec tail;
  tail.version = 0x12;
  tail.header = fixture::HeaderKind::Tail;
  tail.entries.push_back(fixture::Entry("x", "stored", fixture::Storage::Stored));
  const fixture::BuiltArchive builtTail = fixture::BuildArchive(tail);
  ASSERT_TRUE(file.Write(builtTail.bytes));
  grftest::Opened o = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY | GRF_OPEN_TRACK_SPACE);
  ASSERT_TRUE(o.ok);
  const uint64_t size = builtTail.bytes.size();
  const fixture::ExpectedEntry& x = builtTail.expected[0];
  const std::pair<uint64_t, uint64_t> used[] = {
      {size - 9, size}, {x.offset, x.offset + x.alignedSize},
      {builtTail.tablePosition, builtTail.tableEnd}};
  uint64_t freeBytes = 0;
  for (uint32_t i = 0; i < o.archive->freeSpace->count; ++i) {
    const FreeRange& r = o.archive->freeSpace->ranges[i];
    freeBytes += r.end - r.start;
    for (const auto& [from, to] : used) EXPECT_TRUE(r.end <= from || r.start >= to) << from;
  }
  EXPECT_EQ(freeBytes, size - 9 - x.alignedSize - (builtTail.tableEnd - builtTail.tablePosition));
  GrfClose(&o.archive);
}

}  // namespace
