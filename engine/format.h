#pragma once
// Small text and arithmetic routines shared by the job's texts: the bounded
// formatter, integer percentages, durations and the date-time text of the
// completion estimate.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "support/clock.h"
#include "support/text.h"

#if defined(__MINGW_PRINTF_FORMAT)
#define SLIM_PRINTF_FORMAT(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#elif defined(__GNUC__)
#define SLIM_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define SLIM_PRINTF_FORMAT(f, a)
#endif

// Capacities of the formatted texts.
constexpr size_t kMessageCapacity = 1024;
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

// "1 second", "59 seconds", "1 minute", "100 hours": the value in the largest
// of seconds, minutes and hours that keeps it at or above 1, truncated.
// Returns buffer.
char* FormatDuration(uint64_t seconds, char* buffer, size_t capacity);

// "YYYY-MM-DD hh:mm:ss"; 19 characters, so kDateTimeCapacity holds it exactly.
// Returns buffer.
char* FormatLocalDateTime(const LocalTime& time, char* buffer, size_t capacity);
