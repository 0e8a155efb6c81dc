#include "support/clock.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "fake_clock.h"

namespace {

LocalTime Make(uint16_t year, uint16_t month, uint16_t day, uint16_t hour = 0,
               uint16_t minute = 0, uint16_t second = 0, uint16_t ms = 0) {
  return LocalTime{year, month, 0, day, hour, minute, second, ms};
}

bool SameMoment(const LocalTime& a, const LocalTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second && a.milliseconds == b.milliseconds;
}

}  // namespace

TEST(CalendarTime, KnownMoments) {
  const struct {
    LocalTime time;
    uint64_t count;
    uint16_t dayOfWeek;
  } cases[] = {
      {Make(1601, 1, 1), 0, 1},  // a Monday
      {Make(1970, 1, 1), 116444736000000000ull, 4},
      {Make(2000, 2, 29, 12, 34, 56, 789), 125963012967890000ull, 2},
      {Make(2024, 5, 17, 14, 3, 9), 133604281890000000ull, 5},
      {Make(9999, 12, 31, 23, 59, 59, 999), 2650467743999990000ull, 5},
  };
  for (const auto& c : cases) {
    uint64_t count = 0;
    ASSERT_TRUE(EncodeCalendarTime(c.time, &count)) << c.count;
    EXPECT_EQ(count, c.count);
    LocalTime back{};
    ASSERT_TRUE(DecodeCalendarTime(c.count, &back));
    EXPECT_TRUE(SameMoment(back, c.time)) << c.count;
    EXPECT_EQ(back.dayOfWeek, c.dayOfWeek) << c.count;
  }
}

TEST(CalendarTime, RoundTripsAcrossTheWholeRange) {
  // Days spaced by a prime, with a time of day that moves too.
  const uint64_t day = 86400ull * kHundredNsPerSecond;
  LocalTime previous{};
  ASSERT_TRUE(DecodeCalendarTime(0, &previous));
  for (uint64_t d = 0; d < 10'500'000; d += 997) {
    const uint64_t count = d * day + (d * 7919 % 86'400'000) * kHundredNsPerMillisecond;
    LocalTime time{};
    ASSERT_TRUE(DecodeCalendarTime(count, &time)) << d;
    uint64_t back = 0;
    ASSERT_TRUE(EncodeCalendarTime(time, &back)) << d;
    ASSERT_EQ(back, count) << d;
    ASSERT_EQ(time.dayOfWeek, (d + 1) % 7) << d;
  }
}

TEST(CalendarTime, RejectsFieldsOutOfRange) {
  uint64_t count = 0;
  for (const LocalTime& valid : {Make(2000, 2, 29), Make(2024, 2, 29),
                                 Make(30827, 12, 31, 23, 59, 59, 999)}) {
    EXPECT_TRUE(EncodeCalendarTime(valid, &count)) << valid.year;
  }
  const LocalTime invalid[] = {
      Make(1900, 2, 29),     Make(2100, 2, 29),        Make(2023, 2, 29),
      Make(2024, 4, 31),     Make(2024, 13, 1),        Make(2024, 0, 1),
      Make(2024, 1, 0),      Make(2024, 1, 1, 24),     Make(2024, 1, 1, 0, 60),
      Make(2024, 1, 1, 0, 0, 60), Make(2024, 1, 1, 0, 0, 0, 1000),
      Make(1600, 12, 31),    Make(30828, 1, 1),
  };
  for (const LocalTime& time : invalid) {
    EXPECT_FALSE(EncodeCalendarTime(time, &count))
        << time.year << '-' << time.month << '-' << time.day << ' ' << time.hour << ':'
        << time.minute << ':' << time.second << '.' << time.milliseconds;
  }

  LocalTime time{};
  ASSERT_TRUE(DecodeCalendarTime(0x7FFFFFFFFFFFFFFFull, &time));
  EXPECT_TRUE(SameMoment(time, Make(30828, 9, 14, 2, 48, 5, 477)));
  EXPECT_FALSE(DecodeCalendarTime(0x8000000000000000ull, &time));
  EXPECT_FALSE(DecodeCalendarTime(UINT64_MAX, &time));
}

TEST(ClockSources, RealSourcesAreSane) {
  // Later than 2020-01-01 and earlier than 2200-01-01.
  const uint64_t now = ReadSystemTime();
  EXPECT_GT(now, 132223104000000000ull);
  EXPECT_LT(now, 189025920000000000ull);
  uint64_t local = 0;
  EXPECT_TRUE(EncodeCalendarTime(ReadLocalTime(), &local));
  // The local time is within a day of the system time (time zones).
  const uint64_t day = 86400ull * kHundredNsPerSecond;
  EXPECT_LT(local > now ? local - now : now - local, day);
  const uint32_t first = ReadTickCount();
  const uint32_t second = ReadTickCount();
  EXPECT_LT(static_cast<uint32_t>(second - first), 1000u);
}

TEST(ClockSources, FakeSourcesReplaceAndRestoreTheRealOnes) {
  {
    FakeClock clock(Make(2024, 12, 31, 23, 59, 59, 500), 0xFFFFFF00u, 42);
    EXPECT_EQ(ReadSystemTime(), 42u);
    EXPECT_EQ(ReadTickCount(), 0xFFFFFF00u);
    clock.Advance(1000);
    EXPECT_EQ(ReadTickCount(), 0x2E8u);  // wrapped
    EXPECT_EQ(ReadSystemTime(), 42u + 1000 * kHundredNsPerMillisecond);
    EXPECT_TRUE(SameMoment(ReadLocalTime(), Make(2025, 1, 1, 0, 0, 0, 500)));
  }
  EXPECT_GT(ReadSystemTime(), 132223104000000000ull);

  // Null members select the real source.
  static uint64_t fixed = 7;
  const ClockSources previous = SetClockSources({[] { return fixed; }, nullptr, nullptr});
  EXPECT_EQ(ReadSystemTime(), 7u);
  uint64_t local = 0;
  EXPECT_TRUE(EncodeCalendarTime(ReadLocalTime(), &local));
  SetClockSources(previous);
  EXPECT_NE(ReadSystemTime(), 7u);
}
