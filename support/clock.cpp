#include "support/clock.h"

#include <atomic>

namespace {

std::atomic<SystemTimeSource> g_systemTime{nullptr};
std::atomic<TickCountSource> g_tickCount{nullptr};
std::atomic<LocalTimeSource> g_localTime{nullptr};

constexpr uint64_t kSecondsPerDay = 86400;
constexpr int64_t kDaysFrom1601To1970 = 134774;
constexpr uint64_t kLastCount = 0x7FFFFFFFFFFFFFFFull;

bool IsLeapYear(uint32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

uint32_t DaysInMonth(uint32_t year, uint32_t month) {
  static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29u : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (civil-calendar
// arithmetic over 400-year eras).
int64_t DaysFromCivil(int64_t y, uint32_t m, uint32_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* year, uint32_t* month, uint32_t* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<uint32_t>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<uint32_t>(mp < 10 ? mp + 3 : mp - 9);
  *year = yoe + era * 400 + (*month <= 2);
}

}  // namespace

ClockSources SetClockSources(const ClockSources& sources) {
  const ClockSources real = SystemClockSources();
  ClockSources previous{};
  previous.systemTime = g_systemTime.exchange(sources.systemTime ? sources.systemTime : real.systemTime);
  previous.tickCount = g_tickCount.exchange(sources.tickCount ? sources.tickCount : real.tickCount);
  previous.localTime = g_localTime.exchange(sources.localTime ? sources.localTime : real.localTime);
  if (!previous.systemTime) previous.systemTime = real.systemTime;
  if (!previous.tickCount) previous.tickCount = real.tickCount;
  if (!previous.localTime) previous.localTime = real.localTime;
  return previous;
}

uint64_t ReadSystemTime() {
  SystemTimeSource source = g_systemTime.load();
  return source ? source() : SystemClockSources().systemTime();
}

uint32_t ReadTickCount() {
  TickCountSource source = g_tickCount.load();
  return source ? source() : SystemClockSources().tickCount();
}

LocalTime ReadLocalTime() {
  LocalTime time{};
  LocalTimeSource source = g_localTime.load();
  (source ? source : SystemClockSources().localTime)(&time);
  return time;
}

bool EncodeCalendarTime(const LocalTime& time, uint64_t* count) {
  if (time.year < 1601 || time.year > 30827 || time.month < 1 || time.month > 12 ||
      time.day < 1 || time.day > DaysInMonth(time.year, time.month) || time.hour > 23 ||
      time.minute > 59 || time.second > 59 || time.milliseconds > 999) {
    return false;
  }
  const int64_t days = DaysFromCivil(time.year, time.month, time.day) + kDaysFrom1601To1970;
  const uint64_t seconds = static_cast<uint64_t>(days) * kSecondsPerDay + time.hour * 3600u +
                           time.minute * 60u + time.second;
  *count = seconds * kHundredNsPerSecond + time.milliseconds * kHundredNsPerMillisecond;
  return true;
}

bool DecodeCalendarTime(uint64_t count, LocalTime* time) {
  if (count > kLastCount) return false;
  const uint64_t totalSeconds = count / kHundredNsPerSecond;
  const uint64_t days = totalSeconds / kSecondsPerDay;
  const uint64_t secondOfDay = totalSeconds % kSecondsPerDay;
  int64_t year = 0;
  uint32_t month = 0;
  uint32_t day = 0;
  CivilFromDays(static_cast<int64_t>(days) - kDaysFrom1601To1970, &year, &month, &day);
  time->year = static_cast<uint16_t>(year);
  time->month = static_cast<uint16_t>(month);
  time->day = static_cast<uint16_t>(day);
  // 1601-01-01 was a Monday.
  time->dayOfWeek = static_cast<uint16_t>((days + 1) % 7);
  time->hour = static_cast<uint16_t>(secondOfDay / 3600);
  time->minute = static_cast<uint16_t>(secondOfDay / 60 % 60);
  time->second = static_cast<uint16_t>(secondOfDay % 60);
  time->milliseconds =
      static_cast<uint16_t>(count % kHundredNsPerSecond / kHundredNsPerMillisecond);
  return true;
}
