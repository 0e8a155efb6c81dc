// A failed insertion says so and leaves the index as it was (failing_new.cpp).

#include "engine/content_index.h"
#include <gtest/gtest.h>
#include <new>
#include <string>
#include <vector>

extern thread_local int64_t t_allowed;  // failing_new.cpp

TEST(ContentIndex, OutOfMemoryIsReportedAndLeavesTheIndexIntact) {
  t_allowed = 0;
  EXPECT_EQ(ContentIndex::Create(), nullptr);
  t_allowed = -1;
  auto index = ContentIndex::Create();
  ASSERT_TRUE(index && index->Insert(1u, "first.txt"));
  std::vector<std::string> underOne = {"first.txt"}, seen;
  const std::string longName(100, 'n');
  // Each allocation an insertion makes can be the one that fails.
  for (int64_t allowed = 0; allowed < 8; ++allowed, seen.clear()) {
    t_allowed = allowed;
    const bool inserted = index->Insert(100u + static_cast<uint32_t>(allowed), longName);
    const bool again = index->Insert(1u, longName);
    t_allowed = -1;
    if (again) underOne.push_back(longName);
    EXPECT_EQ(index->Contains(100u + static_cast<uint32_t>(allowed)), inserted) << allowed;
    index->VisitNames(1u, [](const char* name, void* out) {
      return static_cast<std::vector<std::string>*>(out)->push_back(name), true;
    }, &seen);
    EXPECT_EQ(seen, underOne) << allowed;
  }
}
