#include "support/clock.h"

#include <windows.h>

namespace {

uint64_t Win32SystemTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

uint32_t Win32TickCount() { return GetTickCount(); }

void Win32LocalTime(LocalTime* time) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  time->year = now.wYear;
  time->month = now.wMonth;
  time->dayOfWeek = now.wDayOfWeek;
  time->day = now.wDay;
  time->hour = now.wHour;
  time->minute = now.wMinute;
  time->second = now.wSecond;
  time->milliseconds = now.wMilliseconds;
}

}  // namespace

ClockSources SystemClockSources() { return {Win32SystemTime, Win32TickCount, Win32LocalTime}; }
