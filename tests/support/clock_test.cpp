// Calendar arithmetic against the standard library's civil calendar over the whole range.

#include "support/clock.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <random>
#include <vector>

TEST(Calendar, AgreesWithTheCivilCalendarAndRefusesFieldsOutOfRange) {
  using namespace std::chrono;
  constexpr uint64_t kPerDay = 86400 * kHundredNsPerSecond, kLast = 0x7FFFFFFFFFFFFFFFull;
  std::mt19937_64 random(2207);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t count = i == 0 ? 0 : i == 1 ? kLast : i == 2 ? 116444736000000000ull : random() & kLast;
    LocalTime t{};
    ASSERT_TRUE(DecodeCalendarTime(count, &t)) << count;
    const sys_days day{days{static_cast<int64_t>(count / kPerDay) - 134774}};  // 1601 to 1970
    const year_month_day civil{day};
    const uint64_t ms = count % kPerDay / kHundredNsPerMillisecond;
    ASSERT_TRUE(t.year == static_cast<int>(civil.year()) && t.month == static_cast<unsigned>(civil.month()) &&
                t.day == static_cast<unsigned>(civil.day()) && t.dayOfWeek == weekday(day).c_encoding() &&
                t.hour == ms / 3600000 && t.minute == ms / 60000 % 60 && t.second == ms / 1000 % 60 &&
                t.milliseconds == ms % 1000) << "seed 2207, count " << count;
    uint64_t back = 0;
    EXPECT_EQ(EncodeCalendarTime(t, &back), t.year <= 30827) << count;
    ASSERT_TRUE(t.year > 30827 || back == count - count % kHundredNsPerMillisecond) << count;
  }
  LocalTime t{};
  EXPECT_FALSE(DecodeCalendarTime(kLast + 1, &t));
  std::vector<LocalTime> refused = {{1600, 12, 0, 31, 23, 59, 59, 999}, {30828, 1, 0, 1, 0, 0, 0, 0}, {2000, 0, 0, 1, 0, 0, 0, 0},
                                    {2000, 13, 0, 1, 0, 0, 0, 0},       {2000, 1, 0, 0, 0, 0, 0, 0},   {2000, 1, 0, 1, 24, 0, 0, 0},
                                    {2000, 1, 0, 1, 0, 60, 0, 0},       {2000, 1, 0, 1, 0, 0, 60, 0},  {2000, 1, 0, 1, 0, 0, 0, 1000}};
  uint64_t count = 5;
  for (const uint16_t y : {1900, 2000, 2023, 2024}) {  // the day after each month's last
    for (uint16_t m = 1; m <= 12; ++m) {
      const auto last = static_cast<uint16_t>(static_cast<unsigned>(year_month_day_last(year(y), month_day_last(month(m))).day()));
      refused.push_back({y, m, 0, static_cast<uint16_t>(last + 1), 0, 0, 0, 0});
      EXPECT_TRUE(EncodeCalendarTime({y, m, 0, last, 0, 0, 0, 0}, &count)) << y << "-" << m;
    }
  }
  count = 5;
  for (const LocalTime& r : refused) EXPECT_FALSE(EncodeCalendarTime(r, &count)) << r.year << "-" << r.month << "-" << r.day;
  EXPECT_EQ(count, 5u);
}

// The platform's own sources against the standard clocks, to within two seconds.
TEST(Calendar, PlatformClocksAgreeWithTheStandardOnes) {
  using namespace std::chrono;
  const ClockSources real = SystemClockSources();
  const auto within = [](uint64_t a, uint64_t b) { return a - b + 20000000 <= 40000000; };
  EXPECT_TRUE(within(real.systemTime(), duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() * 10 +
                                            116444736000000000ull));
  const std::time_t now = std::time(nullptr);
  const std::tm tm = *std::localtime(&now);
  LocalTime local{};
  real.localTime(&local);
  uint64_t got = 0, want = 0;
  EXPECT_TRUE(EncodeCalendarTime(local, &got) && local.dayOfWeek == tm.tm_wday &&
              EncodeCalendarTime({static_cast<uint16_t>(tm.tm_year + 1900), static_cast<uint16_t>(tm.tm_mon + 1), 0,
                                  static_cast<uint16_t>(tm.tm_mday), static_cast<uint16_t>(tm.tm_hour),
                                  static_cast<uint16_t>(tm.tm_min), static_cast<uint16_t>(std::min(tm.tm_sec, 59)), 0}, &want) &&
              within(got, want));
  const uint32_t tick = real.tickCount();
  const auto start = steady_clock::now();
  while (steady_clock::now() - start < milliseconds(100)) {
  }
  EXPECT_TRUE(real.tickCount() - tick - 60 < 1000) << "the tick counts milliseconds (coarsely on Windows)";
}
