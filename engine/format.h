#pragma once
// Small text and arithmetic routines shared by the job's texts: the bounded
// formatter, integer percentages, the quantity formatter and the date-time
// text of the completion estimate.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "engine/clock.h"

#if defined(__MINGW_PRINTF_FORMAT)
#define SLIM_PRINTF_FORMAT(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#elif defined(__GNUC__)
#define SLIM_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define SLIM_PRINTF_FORMAT(f, a)
#endif

// Capacities of the formatted texts.
constexpr size_t kMessageCapacity = 1024;
constexpr size_t kPathCapacity = 260;
constexpr size_t kDateTimeCapacity = 20;
constexpr size_t kEstimateCapacity = 256;
constexpr size_t kDurationCapacity = 24;

// Formats with the C library's length-limited formatter, then stores a NUL in
// the last character whenever capacity is not 0: overlong results are
// truncated and always terminated. Returns the formatter's result (the length
// the whole text would have, or a negative value on an encoding error).
int FormatBounded(char* buffer, size_t capacity, const char* format, ...) SLIM_PRINTF_FORMAT(3, 4);

// Integer percentage of part in whole, truncated to 8 bits. For a whole above
// 65535 the result is part / (whole / 100), else part * 100 / whole; 0 for a
// whole of 0.
uint8_t PercentOf(uint32_t part, uint32_t whole);
uint8_t PercentOf64(uint64_t part, uint64_t whole);

// Describes how FormatQuantity writes a count with units.
struct QuantityFormat {
  const char* const* unitNames;  // smallest unit first; each may hold one "%s" for the plural
  const char* higherSuffix;      // after the unit name when a unit other than the first is chosen
  const char* baseSuffix;        // after the unit name when the first unit is chosen
  uint32_t unitCount;            // must not be 0
  uint32_t ratio;                // factor between consecutive units
  int32_t width;                 // minimum field width of the number
  int32_t precision;             // reserved for a fractional mode; 0
  uint8_t flags;                 // kQuantity* bits
};

constexpr uint8_t kQuantityMultiUnit = 0x01;  // reserved; not supported
constexpr uint8_t kQuantityNoBlank = 0x02;    // no blank between number and unit
constexpr uint8_t kQuantityPlural = 0x04;     // "s" after every value but 1

// Seconds, minutes, hours with a ratio of 60, pluralised.
extern const QuantityFormat DurationFormat;

// Writes value in the largest unit that keeps it at or above 1 (the last unit
// takes any value), truncating: with DurationFormat 119 gives "1 minute" and
// 360000 gives "100 hours". Returns buffer.
char* FormatQuantity(uint64_t value, char* buffer, size_t capacity, const QuantityFormat& format);

// "YYYY-MM-DD hh:mm:ss"; 19 characters, so kDateTimeCapacity holds it exactly.
// Returns buffer.
char* FormatLocalDateTime(const LocalTime& time, char* buffer, size_t capacity);
