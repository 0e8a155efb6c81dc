#include "engine/content_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "alloc_failure.h"

namespace {

std::vector<std::string> NamesUnder(const ContentIndex& index, uint32_t checksum) {
  std::vector<std::string> names;
  index.VisitNames(
      checksum,
      [](const char* name, void* context) {
        static_cast<std::vector<std::string>*>(context)->push_back(name);
        return true;
      },
      &names);
  return names;
}

}  // namespace

TEST(ContentIndex, NewIndexHoldsNothing) {
  auto index = ContentIndex::Create();
  ASSERT_NE(index, nullptr);
  for (uint32_t checksum : {0u, 1u, 0x80000000u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(index->Contains(checksum)) << checksum;
    EXPECT_TRUE(NamesUnder(*index, checksum).empty());
  }
}

TEST(ContentIndex, GroupsNamesByChecksumInInsertionOrder) {
  auto index = ContentIndex::Create();
  ASSERT_NE(index, nullptr);
  ASSERT_TRUE(index->Insert(0u, "a.txt"));
  ASSERT_TRUE(index->Insert(0xFFFFFFFFu, "data\\z.gat"));
  ASSERT_TRUE(index->Insert(0u, "b.txt"));
  ASSERT_TRUE(index->Insert(7u, ""));
  ASSERT_TRUE(index->Insert(0u, "a.txt"));  // not checked for repeats
  ASSERT_TRUE(index->Insert(8u, static_cast<const char*>(nullptr)));

  EXPECT_EQ(NamesUnder(*index, 0u), (std::vector<std::string>{"a.txt", "b.txt", "a.txt"}));
  EXPECT_EQ(NamesUnder(*index, 0xFFFFFFFFu), std::vector<std::string>{"data\\z.gat"});
  EXPECT_TRUE(index->Contains(7u));
  EXPECT_EQ(NamesUnder(*index, 7u), std::vector<std::string>{""});
  EXPECT_EQ(NamesUnder(*index, 8u), std::vector<std::string>{""});
  EXPECT_FALSE(index->Contains(1u));
  EXPECT_FALSE(index->Contains(0xFFFFFFFEu));
}

TEST(ContentIndex, VisitorThatDeclinesStopsTheWalk) {
  auto index = ContentIndex::Create();
  ASSERT_NE(index, nullptr);
  index->Insert(42u, "a.txt");
  index->Insert(42u, "b.txt");
  index->Insert(42u, "c.txt");
  struct Walk {
    std::vector<std::string> seen;
    std::string stopAt;
  };
  auto visitor = [](const char* name, void* context) {
    auto* walk = static_cast<Walk*>(context);
    walk->seen.push_back(name);
    return walk->stopAt != name;
  };
  Walk first{{}, "a.txt"};
  index->VisitNames(42u, visitor, &first);
  EXPECT_EQ(first.seen, std::vector<std::string>{"a.txt"});
  Walk second{{}, "b.txt"};
  index->VisitNames(42u, visitor, &second);
  EXPECT_EQ(second.seen, (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST(ContentIndex, KeepsItsOwnCopyOfEachName) {
  auto index = ContentIndex::Create();
  ASSERT_NE(index, nullptr);
  char name[64];
  std::strcpy(name, "texture\\a very long name that does not fit inline.bmp");
  ASSERT_TRUE(index->Insert(5u, name));
  std::memset(name, 'x', sizeof name - 1);
  name[sizeof name - 1] = '\0';
  EXPECT_EQ(NamesUnder(*index, 5u),
            std::vector<std::string>{"texture\\a very long name that does not fit inline.bmp"});
}

TEST(ContentIndex, OutOfMemoryIsReportedAndLeavesTheIndexIntact) {
  {
    ScopedAllocationLimit limit(0);
    EXPECT_EQ(ContentIndex::Create(), nullptr);
  }
  auto index = ContentIndex::Create();
  ASSERT_NE(index, nullptr);
  const std::string longName(100, 'n');
  ASSERT_TRUE(index->Insert(1u, "first.txt"));

  bool newChecksum = true;
  bool existingChecksum = true;
  int64_t refused = 0;
  {
    ScopedAllocationLimit limit(0);
    newChecksum = index->Insert(2u, longName.c_str());
    existingChecksum = index->Insert(1u, longName.c_str());
    refused = limit.failures();
  }
  EXPECT_FALSE(newChecksum);
  EXPECT_FALSE(existingChecksum);
  EXPECT_GE(refused, 2);
  // A checksum whose first name failed is not left behind as seen.
  EXPECT_FALSE(index->Contains(2u));
  EXPECT_TRUE(NamesUnder(*index, 2u).empty());
  EXPECT_EQ(NamesUnder(*index, 1u), std::vector<std::string>{"first.txt"});

  // Each allocation an insertion makes can be the one that fails.
  for (int64_t allowed = 0; allowed < 8; ++allowed) {
    bool inserted = false;
    {
      ScopedAllocationLimit limit(allowed);
      inserted = index->Insert(100u + static_cast<uint32_t>(allowed), longName);
    }
    EXPECT_EQ(index->Contains(100u + static_cast<uint32_t>(allowed)), inserted) << allowed;
  }

  ASSERT_TRUE(index->Insert(2u, longName));
  EXPECT_EQ(NamesUnder(*index, 2u), std::vector<std::string>{longName});
}
