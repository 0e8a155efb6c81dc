// The entry index and the enumeration over it.

#include <cstring>
#include <string>

#include "grf/archive.h"
#include "grf/entry_index.h"
#include "tests/grf/grf_test_util.h"

namespace {

GrfEntry* Make(const char* name, uint64_t offset = 0) {
  EntryRecord record{1, 8, 1, offset, 0};
  return NewEntry(name, record);
}

class Index : public testing::Test {
 protected:
  void SetUp() override {
    table_ = IndexCreate(entryindex::kEntryBuckets, entryindex::kEntryOptions);
    ASSERT_NE(table_, nullptr);
  }
  void TearDown() override {
    IndexDestroy(table_);
  }
  EntryIndex* table_ = nullptr;
};

TEST_F(Index, FindsWithoutRegardToAsciiCaseAndKeepsTheStoredName) {
  ASSERT_TRUE(IndexInsert(table_, "data\\Texture\\A.BMP", Make("data\\Texture\\A.BMP")));
  GrfEntry* found = IndexFind(table_, "DATA\\texture\\a.bmp");
  ASSERT_NE(found, nullptr);
  EXPECT_STREQ(found->name, "data\\Texture\\A.BMP");
  // Only ASCII letters fold; high bytes and separators stay distinct.
  EXPECT_EQ(IndexFind(table_, "data/Texture/A.BMP"), nullptr);
  ASSERT_TRUE(IndexInsert(table_, "\xC0.txt", Make("\xC0.txt")));
  EXPECT_EQ(IndexFind(table_, "\xE0.txt"), nullptr);
  EXPECT_EQ(IndexCount(table_), 2u);
}

TEST_F(Index, LaterInsertReplacesAndReleasesTheEarlier) {
  ASSERT_TRUE(IndexInsert(table_, "a.txt", Make("a.txt")));
  ASSERT_TRUE(IndexInsert(table_, "A.TXT", Make("A.TXT")));
  EXPECT_EQ(IndexCount(table_), 1u);
  EXPECT_STREQ(IndexFind(table_, "a.txt")->name, "A.TXT");
  ASSERT_TRUE(IndexInsert(table_, "data/a.txt", Make("data/a.txt")));
  ASSERT_TRUE(IndexInsert(table_, "data\\a.txt", Make("data\\a.txt")));
  EXPECT_EQ(IndexCount(table_), 3u);
}

TEST_F(Index, LongNamesFoldThroughThePoolAndFailCleanly) {
  const std::string longName(1000, 'X');
  std::string lower(1000, 'x');
  ASSERT_TRUE(IndexInsert(table_, longName.c_str(), Make(longName.c_str())));
  ASSERT_NE(IndexFind(table_, lower.c_str()), nullptr);
  bool outOfMemory = false;
  lower.back() = 'y';  // not found, so no cache hit can answer first
  PoolInjectFailures(0, 1);
  EXPECT_EQ(IndexFind(table_, lower.c_str(), &outOfMemory), nullptr);
  PoolInjectFailures(0, 0);
  EXPECT_TRUE(outOfMemory);
  // A failed node allocation leaves the table as it was; the caller keeps the entry.
  GrfEntry* entry = Make("new.txt");
  PoolInjectFailures(0, 1);
  EXPECT_FALSE(IndexInsert(table_, "new.txt", entry));
  PoolInjectFailures(0, 0);
  EXPECT_EQ(IndexCount(table_), 1u);
  ReleaseEntry(entry);
}

// ---- enumeration ----

struct Walk {
  int calls = 0;
  int stopAt = 0;
  std::vector<uint64_t> offsets;
  bool sawEnumerating = true;
  GrfArchive* archive = nullptr;
};

bool Visit(uint32_t position, uint32_t total, GrfEntry* entry, void* user) {
  auto* walk = static_cast<Walk*>(user);
  ++walk->calls;
  EXPECT_EQ(position, static_cast<uint32_t>(walk->calls));
  EXPECT_EQ(total, IndexCount(walk->archive->entries));
  walk->offsets.push_back(entry->offset);
  walk->sawEnumerating &= (walk->archive->flags & GRF_STATE_ENUMERATING) != 0;
  return walk->calls != walk->stopAt;
}

class Enumeration : public testing::Test {
 protected:
  void SetUp() override {
    archive_ = GrfArchive{};
    ASSERT_TRUE(CreateArchiveIndex(&archive_));
    const uint64_t offsets[] = {900, 46, 500, 46, 0x100000000ull};
    const char* names[] = {"e", "a", "c", "b", "z"};
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(InsertEntry(&archive_, Make(names[i], offsets[i])));
  }
  void TearDown() override {
    DestroyArchiveIndex(&archive_);
  }
  GrfArchive archive_{};
};

TEST_F(Enumeration, AStopIsReportedAsAborted) {
  for (int stopAt : {3, 5}) {
    Walk walk;
    walk.archive = &archive_;
    walk.stopAt = stopAt;
    archive_.lastStatus = GRF_S_OK;
    EXPECT_FALSE(EnumerateEntries(&archive_, Visit, &walk, enumerate::kMode));
    EXPECT_EQ(walk.calls, stopAt);
    EXPECT_EQ(archive_.lastStatus, GRF_E_ABORTED);
    EXPECT_EQ(archive_.flags & GRF_STATE_ENUMERATING, 0u);
  }
  // Without mode 0x2 a stop is no failure.
  Walk walk;
  walk.archive = &archive_;
  walk.stopAt = 2;
  EXPECT_TRUE(EnumerateEntries(&archive_, Visit, &walk, enumerate::kByOffset));
}

TEST_F(Enumeration, OutOfMemoryBeforeAnyCall) {
  Walk walk;
  walk.archive = &archive_;
  PoolInjectFailures(0, 1);
  EXPECT_FALSE(EnumerateEntries(&archive_, Visit, &walk, enumerate::kMode));
  PoolInjectFailures(0, 0);
  EXPECT_EQ(walk.calls, 0);
  EXPECT_EQ(archive_.lastStatus, GRF_E_OUT_OF_MEMORY);
}

}  // namespace
