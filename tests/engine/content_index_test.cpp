// The content index under memory pressure: a failed insertion says so and
// leaves the index as it was (operator new of this binary fails on demand).

#include "engine/content_index.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

namespace {

thread_local int64_t t_allowed = -1;  // allocations left on this thread; negative: no limit

void* Allocate(std::size_t size) noexcept {
  if (t_allowed == 0) return nullptr;
  if (t_allowed > 0) --t_allowed;
  return std::malloc(size ? size : 1);
}

std::vector<std::string> NamesUnder(const ContentIndex& index, uint32_t checksum) {
  std::vector<std::string> names;
  const auto add = [](const char* name, void* out) {
    return static_cast<std::vector<std::string>*>(out)->push_back(name), true;
  };
  index.VisitNames(checksum, add, &names);
  return names;
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* block = Allocate(size)) return block;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

TEST(ContentIndex, OutOfMemoryIsReportedAndLeavesTheIndexIntact) {
  t_allowed = 0;
  EXPECT_EQ(ContentIndex::Create(), nullptr);
  t_allowed = -1;
  auto index = ContentIndex::Create();
  ASSERT_NE(index, nullptr);
  const std::string longName(100, 'n');
  ASSERT_TRUE(index->Insert(1u, "first.txt"));
  size_t underOne = 1;
  // Each allocation an insertion makes can be the one that fails.
  for (int64_t allowed = 0; allowed < 8; ++allowed) {
    t_allowed = allowed;
    const bool inserted = index->Insert(100u + static_cast<uint32_t>(allowed), longName);
    const bool again = index->Insert(1u, longName);
    t_allowed = -1;
    EXPECT_EQ(index->Contains(100u + static_cast<uint32_t>(allowed)), inserted) << allowed;
    underOne += again;
    const std::vector<std::string> names = NamesUnder(*index, 1u);
    EXPECT_TRUE(names.size() == underOne && names[0] == "first.txt") << allowed;
  }
}
