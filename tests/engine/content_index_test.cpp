// The content index, the recent contents and the stream memo beside it. A
// failed insertion says so and leaves the index as it was (failing_new.cpp).

#include "engine/content_index.h"
#include "engine/recent_contents.h"
#include "engine/stream_memo.h"
#include "support/pool.h"
#include <gtest/gtest.h>
#include <new>
#include <string>
#include <vector>

extern thread_local int64_t t_allowed;  // failing_new.cpp

TEST(ContentIndex, OutOfMemoryIsReportedAndLeavesTheIndexIntact) {
  auto index = ContentIndex::Create();
  ASSERT_TRUE(index && index->Insert(1u, "first.txt"));
  std::vector<std::string> underOne = {"first.txt"}, seen;
  const std::string longName(100, 'n');
  for (int64_t allowed = 0; allowed < 8; ++allowed, seen.clear()) {  // each allocation an insertion makes
    t_allowed = allowed;
    const bool inserted = index->Insert(100u + static_cast<uint32_t>(allowed), longName), again = index->Insert(1u, longName);
    t_allowed = -1;
    if (again) underOne.push_back(longName);
    EXPECT_EQ(index->Contains(100u + static_cast<uint32_t>(allowed)), inserted) << allowed;
    index->VisitNames(1u, [](const char* name, void* out) { return static_cast<std::vector<std::string>*>(out)->push_back(name), true; }, &seen);
    EXPECT_EQ(seen, underOne) << allowed;
  }
  const auto last = static_cast<uint32_t>(underOne.size() - 1);
  EXPECT_TRUE(last > 0 && index->NameAt(1u, last) == underOne.back() && !index->NameAt(1u, last + 1));
}

// Known answers, from a separate implementation of NH and SipHash-1-3 (its round checked
// against SipHash-2-4's published digest of the empty message): none, and two chunks and a part.
TEST(ContentDigest, KnownAnswers) {
  DigestKey key{0x0706050403020100, 0x0F0E0D0C0B0A0908, {}};
  for (uint32_t i = 0; i < DigestKey::kChunkWords; ++i) key.nh[i] = 0x9E3779B9u * (i + 1);
  std::vector<unsigned char> data(2053);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + 3);
  EXPECT_EQ(ContentDigest(key, nullptr, 0), 0xABAC0158050FC4DCu);
  EXPECT_EQ(ContentDigest(key, data.data(), data.size()), 0xA4B3166FAC6B492Fu);
}

// Per stream the decode of the earliest entry is kept, while there is room.
TEST(StreamMemo, KeepsTheEarliestDecodeOfAStreamWhileThereIsRoom) {
  StreamMemo memo(2);
  for (const uint64_t sequence : {11u, 10u, 12u}) memo.File(StreamKey{1, 9}, StreamDecode{sequence});
  memo.File(StreamKey{2, 9}, StreamDecode{20}), memo.File(StreamKey{3, 9}, StreamDecode{30});  // full at the third
  StreamDecode found{};
  EXPECT_TRUE(memo.Find(StreamKey{1, 9}, &found) && found.sequence == 10 && memo.Find(StreamKey{2, 9}, &found));
  EXPECT_FALSE(memo.Find(StreamKey{3, 9}, &found) || memo.Find(StreamKey{2, 8}, &found));
}

// Owned contents are freed when let go, lent ones stay their lender's.
TEST(RecentContents, LetsTheOldestGoAndFreesOnlyWhatItOwns) {
  const auto live = [] { return GetPoolCounters().liveBlocks; };
  const auto key = [](uint32_t n) { return ContentKey(n, n == 9 ? 23 : 22, n, false); };
  unsigned char* c[6];
  for (auto& block : c) block = static_cast<unsigned char*>(PoolAlloc(22));
  const uint32_t start = live();
  {
    RecentContents recent(88);  // four contents fill it exactly
    ASSERT_TRUE(recent.Lend(key(0), c[0]) && recent.Lend(key(1), c[1]));
    EXPECT_FALSE(recent.Lend(key(1), c[1]));  // held already
    EXPECT_FALSE(recent.Lend(key(9), c[5]));  // over a quarter of the budget
    EXPECT_TRUE(recent.Adopt(key(0)));
    ASSERT_TRUE(recent.Lend(key(2), c[2]) && recent.Lend(key(3), c[3]));
    EXPECT_EQ(live(), start);
    ASSERT_TRUE(recent.Lend(key(4), c[4]));
    EXPECT_EQ(live(), start - 1);  // the owned oldest went
    EXPECT_EQ(recent.Find(key(0)), nullptr);
    EXPECT_EQ(recent.Find(key(1)), c[1]);
    ASSERT_TRUE(recent.Lend(key(5), c[5]));
    EXPECT_EQ(live(), start - 1);  // the lent one is only forgotten
    EXPECT_FALSE(recent.Adopt(key(1)));
    EXPECT_TRUE(PoolFree(c[1]));
    for (uint32_t n : {2u, 3u, 4u, 5u}) EXPECT_TRUE(recent.Adopt(key(n)));
  }
  EXPECT_EQ(live(), start - 6);
}
