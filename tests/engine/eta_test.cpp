#include "engine/eta.h"

#include <gtest/gtest.h>

#include <vector>

#include "fake_clock.h"

namespace {

struct Estimate {
  uint32_t done;
  uint32_t total;
  uint32_t rate;
  uint64_t finish;  // 100 ns units, millisecond resolution
};

struct Recorder {
  std::vector<Estimate> estimates;

  static void Record(uint32_t done, uint32_t total, uint32_t rate, const LocalTime& finish,
                     void* context) {
    uint64_t count = 0;
    EXPECT_TRUE(EncodeCalendarTime(finish, &count));
    static_cast<Recorder*>(context)->estimates.push_back({done, total, rate, count});
  }
};

constexpr uint64_t kMs = kHundredNsPerMillisecond;
constexpr uint64_t kSecond = kHundredNsPerSecond;

// Drops the part below a millisecond, as the local time handed out does.
uint64_t ToMs(uint64_t count) { return count / kMs * kMs; }

}  // namespace

TEST(Eta, NothingIsEstimatedBeforeFiveSeconds) {
  FakeClock clock;
  Recorder recorder;
  EtaEstimator eta{};
  EtaStart(&eta, 1000, 1, Recorder::Record, &recorder);
  for (int i = 0; i < 5; ++i) {
    clock.Advance(999);
    EtaAdvanceBy(&eta, 1);
  }
  clock.Advance(4);  // 4999 ms
  EtaAdvanceBy(&eta, 1);
  EXPECT_TRUE(recorder.estimates.empty());
  EXPECT_EQ(eta.done, 6u);

  clock.Advance(1);  // 5000 ms
  EtaAdvanceBy(&eta, 1);
  ASSERT_EQ(recorder.estimates.size(), 1u);
  EXPECT_EQ(recorder.estimates[0].done, 7u);
  EXPECT_EQ(recorder.estimates[0].total, 1000u);
  EXPECT_EQ(recorder.estimates[0].rate, 1u);  // 7 units in 5 s

  // The next one comes 5 s after this one, not after the start.
  clock.Advance(4999);
  EtaAdvanceBy(&eta, 1);
  EXPECT_EQ(recorder.estimates.size(), 1u);
  clock.Advance(1);
  EtaAdvanceBy(&eta, 1);
  ASSERT_EQ(recorder.estimates.size(), 2u);
  EXPECT_EQ(recorder.estimates[1].done, 9u);
}

TEST(Eta, NoProgressMeansNoEstimate) {
  FakeClock clock;
  Recorder recorder;
  EtaEstimator eta{};
  EtaStart(&eta, 100, 1, Recorder::Record, &recorder);
  EtaAdvanceTo(&eta, 10);
  clock.Advance(60000);
  EtaAdvanceBy(&eta, 0);
  EtaAdvanceTo(&eta, 10);
  EtaAdvanceTo(&eta, 4);  // below what was reported: ignored
  EXPECT_TRUE(recorder.estimates.empty());
  EXPECT_EQ(eta.done, 10u);
  EtaAdvanceTo(&eta, 11);
  ASSERT_EQ(recorder.estimates.size(), 1u);
  EXPECT_EQ(recorder.estimates[0].done, 11u);
}

TEST(Eta, RecentRateAloneOrBlendedWithTheOverallRate) {
  for (uint8_t blend : {0, 1}) {
    SCOPED_TRACE(blend);
    FakeClock clock;
    const uint64_t start = clock.localCount();
    Recorder recorder;
    EtaEstimator eta{};
    EtaStart(&eta, 1000, blend, Recorder::Record, &recorder);

    // 100 units in the first 5 s: 900 left at 20 per second is 45 s. Both
    // rates are the same so far.
    clock.Advance(5000);
    EtaAdvanceTo(&eta, 100);
    ASSERT_EQ(recorder.estimates.size(), 1u);
    EXPECT_EQ(recorder.estimates[0].rate, 20u);
    EXPECT_EQ(recorder.estimates[0].finish, start + 50 * kSecond);

    // Only 50 units in the next 5 s: 850 left at 10 per second is 85 s; at
    // the overall pace (150 in 10 s) 850 * 10000 / 150 ms.
    clock.Advance(5000);
    EtaAdvanceTo(&eta, 150);
    ASSERT_EQ(recorder.estimates.size(), 2u);
    EXPECT_EQ(recorder.estimates[1].rate, 10u);
    const uint64_t recentEstimate = 85 * kSecond;
    const uint64_t overallEstimate = 850ull * 10000 * kMs / 150;
    const uint64_t expected =
        blend ? (recentEstimate + overallEstimate) / 2 : recentEstimate;
    EXPECT_EQ(recorder.estimates[1].finish, ToMs(start + 10 * kSecond + expected));
  }
}

TEST(Eta, SteadyPaceGivesASteadyFinishEvenAcrossATickWrap) {
  // Once from an ordinary tick count, once from one that wraps 2.5 s in.
  for (uint32_t startTick : {1000u, 0xFFFFFFFFu - 2499u}) {
    SCOPED_TRACE(startTick);
    FakeClock clock(FakeClock::kDefaultStart, startTick);
    const uint64_t start = clock.localCount();
    Recorder recorder;
    EtaEstimator eta{};
    EtaStart(&eta, 600, 1, Recorder::Record, &recorder);
    // One unit every 100 ms: 600 units take 60 s.
    for (int i = 0; i < 600; ++i) {
      clock.Advance(100);
      EtaAdvanceBy(&eta, 1);
    }
    ASSERT_EQ(recorder.estimates.size(), 12u);
    for (size_t i = 0; i < recorder.estimates.size(); ++i) {
      EXPECT_EQ(recorder.estimates[i].done, 50 * (i + 1));
      EXPECT_EQ(recorder.estimates[i].rate, 10u);
      EXPECT_EQ(recorder.estimates[i].finish, start + 60 * kSecond) << i;
    }
  }
}

TEST(Eta, FinishBeyondTheCalendarIsNotShown) {
  FakeClock clock;
  Recorder recorder;
  EtaEstimator eta{};
  EtaStart(&eta, 0xFFFFFFFFu, 0, Recorder::Record, &recorder);
  // One unit in almost 50 days, billions to go: the product overflows 64 bits.
  clock.Advance(0xFFFFFFFFu);
  EtaAdvanceBy(&eta, 1);
  EXPECT_TRUE(recorder.estimates.empty());

  // 10^7 left at one unit per 10^8 ms is 10^19 * 100 ns: fits 64 bits but
  // lies far beyond the year 30828.
  EtaEstimator slow{};
  EtaStart(&slow, 10000001u, 0, Recorder::Record, &recorder);
  clock.Advance(100000000);
  EtaAdvanceBy(&slow, 1);
  EXPECT_TRUE(recorder.estimates.empty());
}

TEST(Eta, WorkBeyondTheTotalFinishesNow) {
  FakeClock clock;
  Recorder recorder;
  EtaEstimator eta{};
  EtaStart(&eta, 10, 1, Recorder::Record, &recorder);
  clock.Advance(6000);
  EtaAdvanceTo(&eta, 25);
  ASSERT_EQ(recorder.estimates.size(), 1u);
  EXPECT_EQ(recorder.estimates[0].finish, clock.localCount());
}
