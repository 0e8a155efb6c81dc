// The progress bar and the estimate of the finish.

#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "engine/eta.h"
#include "engine/format.h"
#include "engine/progress.h"
#include "fake_clock.h"
#include "recording_host.h"

namespace {
constexpr uint64_t kMs = kHundredNsPerMillisecond;

struct Estimate { uint32_t done, rate; uint64_t finish; };  // finish in 100 ns units

void Record(uint32_t done, uint32_t, uint32_t rate, const LocalTime& finish, void* context) {
  uint64_t count = 0;
  EXPECT_TRUE(EncodeCalendarTime(finish, &count));
  static_cast<std::vector<Estimate>*>(context)->push_back({done, rate, count});
}
}  // namespace

// From an ordinary tick count, and from one that wraps 2.5 s in.
TEST(Eta, FirstAfterFiveSecondsThenRecentRateAloneOrBlendedAcrossATickWrap) {
  EtaEstimator eta{};  // started again for each
  for (const uint32_t blend : {0u, 1u, 2u, 3u}) {
    FakeClock clock(FakeClock::kDefaultStart, blend & 2 ? 0xFFFFFFFFu - 2499u : 1000u);
    const uint64_t start = clock.localCount();
    std::vector<Estimate> seen;
    EtaStart(&eta, 1000, blend & 1, Record, &seen);
    clock.Advance(4999);
    EtaAdvanceTo(&eta, 90);
    EXPECT_TRUE(seen.empty());
    clock.Advance(1);
    EtaAdvanceTo(&eta, 100);  // 900 left at 20 per second
    clock.Advance(5000);
    EtaAdvanceTo(&eta, 150);  // 850 left: 85 s at the recent pace, 850 * 10000 / 150 ms overall
    ASSERT_EQ(seen.size(), 2u) << blend;
    EXPECT_TRUE(seen[0].rate == 20 && seen[0].finish == start + 50000 * kMs);
    const uint64_t recent = 85000 * kMs, overall = 850ull * 10000 * kMs / 150;
    const uint64_t finish = start + 10000 * kMs + (blend & 1 ? (recent + overall) / 2 : recent);
    EXPECT_TRUE(seen[1].rate == 10 && seen[1].finish == finish / kMs * kMs) << blend;
    EtaAdvanceTo(&eta, 160);  // not yet measured when it starts again
  }
}

TEST(EntryProgress, BarMovesOnlyOnChangeAndTheEstimateIsShownAsLocalTime) {
  FakeClock clock(LocalTime{2024, 12, 2, 31, 23, 59, 50, 0});
  RecordingHost host, many;
  JobProgress progress, big;
  progress.host = &host;
  big.host = &many;
  for (uint32_t entry = 1; entry <= 20; ++entry, clock.Advance(1000)) OnEntryProgress(entry, 20, &progress);
  // Entry 6: 14 left at 6 per 5 s, 00:00:06.67; entry 11: (9 + 8.18) / 2 s; entry 16.
  EXPECT_EQ(host.Texts(HostCall::kSetEstimateText),
            (std::vector<std::string>{"ETA: 2025-01-01 00:00:06", "ETA: 2025-01-01 00:00:08",
                                      "ETA: 2025-01-01 00:00:08"}));
  for (uint32_t entry = 1; entry <= 200000; ++entry) OnEntryProgress(entry, 200000, &big);
  const std::vector<uint32_t> sent = many.Values(HostCall::kSetProgress);
  ASSERT_EQ(sent.size(), 101u);
  for (uint32_t i = 0; i < sent.size(); ++i) EXPECT_EQ(sent[i], i);
}
