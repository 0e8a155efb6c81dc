#pragma once
// Clock sources: the system time in 100-nanosecond units, a
// millisecond tick counter that wraps at 32 bits, and the local time broken
// down into calendar fields. The platform backends read the real clocks; tests
// install their own sources so that time-dependent code runs without sleeping.

#include <cstdint>

// A broken-down date and time; the fields and their order are those of the
// Windows SYSTEMTIME record. dayOfWeek counts from Sunday = 0.
struct LocalTime {
  uint16_t year;
  uint16_t month;
  uint16_t dayOfWeek;
  uint16_t day;
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint16_t milliseconds;
};

using SystemTimeSource = uint64_t (*)();
using TickCountSource = uint32_t (*)();
using LocalTimeSource = void (*)(LocalTime* time);

struct ClockSources {
  SystemTimeSource systemTime;  // UTC, 100 ns units since 1601-01-01
  TickCountSource tickCount;    // milliseconds since an arbitrary start, wrapping
  LocalTimeSource localTime;    // local wall-clock time
};

// The platform's real sources (clock_win32.cpp / clock_posix.cpp).
ClockSources SystemClockSources();

// Installs sources; a null member selects the platform's source. Returns the
// sources that were installed before.
ClockSources SetClockSources(const ClockSources& sources);

uint64_t ReadSystemTime();
uint32_t ReadTickCount();
LocalTime ReadLocalTime();

// Calendar conversion between a LocalTime and a count of 100-nanosecond units
// since 1601-01-01 00:00:00, the same arithmetic as the Windows
// SystemTimeToFileTime / FileTimeToSystemTime pair (no time-zone shift).
// Encoding fails for fields out of range (years 1601 to 30827, real days of
// the month); dayOfWeek is ignored. Decoding fails for counts at or above
// 2^63 and fills dayOfWeek.
bool EncodeCalendarTime(const LocalTime& time, uint64_t* count);
bool DecodeCalendarTime(uint64_t count, LocalTime* time);

constexpr uint64_t kHundredNsPerMillisecond = 10000;
constexpr uint64_t kHundredNsPerSecond = 10000000;
