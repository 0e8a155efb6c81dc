#pragma once
// Capacities of the job's texts, durations and the date-time text of the
// completion estimate. The bounded formatter and percentages are in
// support/text.h.

#include <cstddef>
#include <cstdint>

#include "support/clock.h"
#include "support/text.h"

// Capacities of the formatted texts.
constexpr size_t kMessageCapacity = 1024;
constexpr size_t kDateTimeCapacity = 20;
constexpr size_t kEstimateCapacity = 256;
constexpr size_t kDurationCapacity = 24;

// "1 second", "59 seconds", "1 minute", "100 hours": the value in the largest
// of seconds, minutes and hours that keeps it at or above 1, truncated.
// Returns buffer.
char* FormatDuration(uint64_t seconds, char* buffer, size_t capacity);

// "YYYY-MM-DD hh:mm:ss"; 19 characters, so kDateTimeCapacity holds it exactly.
// Returns buffer.
char* FormatLocalDateTime(const LocalTime& time, char* buffer, size_t capacity);
