// The calendar arithmetic against the system's own conversions.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/clock.h"

TEST(CalendarTimeWin32, MatchesTheSystemConversions) {
  const uint64_t day = 86400ull * kHundredNsPerSecond;
  for (uint64_t d = 0; d < 10'500'000; d += 7919) {
    const uint64_t count = d * day + (d * 104729 % 86'400'000) * kHundredNsPerMillisecond;
    FILETIME file;
    file.dwLowDateTime = static_cast<DWORD>(count);
    file.dwHighDateTime = static_cast<DWORD>(count >> 32);
    SYSTEMTIME system;
    ASSERT_TRUE(FileTimeToSystemTime(&file, &system)) << d;
    LocalTime ours{};
    ASSERT_TRUE(DecodeCalendarTime(count, &ours));
    EXPECT_EQ(ours.year, system.wYear) << d;
    EXPECT_EQ(ours.month, system.wMonth) << d;
    EXPECT_EQ(ours.dayOfWeek, system.wDayOfWeek) << d;
    EXPECT_EQ(ours.day, system.wDay) << d;
    EXPECT_EQ(ours.hour, system.wHour) << d;
    EXPECT_EQ(ours.minute, system.wMinute) << d;
    EXPECT_EQ(ours.second, system.wSecond) << d;
    EXPECT_EQ(ours.milliseconds, system.wMilliseconds) << d;

    FILETIME back;
    ASSERT_TRUE(SystemTimeToFileTime(&system, &back));
    uint64_t encoded = 0;
    ASSERT_TRUE(EncodeCalendarTime(ours, &encoded));
    EXPECT_EQ(encoded, (static_cast<uint64_t>(back.dwHighDateTime) << 32) | back.dwLowDateTime);
  }
}

TEST(ClockSourcesWin32, RealSourcesAreTheSystemClocks) {
  FILETIME file;
  GetSystemTimeAsFileTime(&file);
  const uint64_t system = (static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
  const uint64_t ours = ReadSystemTime();
  EXPECT_LT(ours - system, 10 * kHundredNsPerSecond);
  const DWORD tick = GetTickCount();
  EXPECT_LT(ReadTickCount() - tick, 1000u);
}
