#include "support/clock.h"

#include <time.h>

namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kEpochDifference = 11644473600ull;

uint64_t PosixSystemTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<uint64_t>(now.tv_sec) + kEpochDifference) * kHundredNsPerSecond +
         static_cast<uint64_t>(now.tv_nsec) / 100;
}

uint32_t PosixTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Truncation to 32 bits gives the same wrap as a Windows tick count.
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                               static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

void PosixLocalTime(LocalTime* time) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  const time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);
  time->year = static_cast<uint16_t>(local.tm_year + 1900);
  time->month = static_cast<uint16_t>(local.tm_mon + 1);
  time->dayOfWeek = static_cast<uint16_t>(local.tm_wday);
  time->day = static_cast<uint16_t>(local.tm_mday);
  time->hour = static_cast<uint16_t>(local.tm_hour);
  time->minute = static_cast<uint16_t>(local.tm_min);
  // A leap second reads as the 59th.
  time->second = static_cast<uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec);
  time->milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
}

}  // namespace

ClockSources SystemClockSources() { return {PosixSystemTime, PosixTickCount, PosixLocalTime}; }
