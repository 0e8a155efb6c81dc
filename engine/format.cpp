#include "engine/format.h"

#include <cstdarg>
#include <cstdio>

int FormatBounded(char* buffer, size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = std::vsnprintf(capacity ? buffer : nullptr, capacity, format, args);
  va_end(args);
  if (capacity != 0) buffer[capacity - 1] = '\0';
  return result;
}

namespace {

// part * 100 / whole for a whole of at most 65535, exact without overflow for
// any part.
uint64_t ScaledQuotient(uint64_t part, uint64_t whole) {
  return part / whole * 100 + part % whole * 100 / whole;
}

}  // namespace

uint8_t PercentOf(uint32_t part, uint32_t whole) {
  return PercentOf64(part, whole);
}

uint8_t PercentOf64(uint64_t part, uint64_t whole) {
  uint64_t percent = 0;
  if (whole > 65535) {
    percent = part / (whole / 100);
  } else if (whole != 0) {
    percent = ScaledQuotient(part, whole);
  }
  return static_cast<uint8_t>(percent);
}

char* FormatDuration(uint64_t seconds, char* buffer, size_t capacity) {
  static const char* const kUnits[] = {"second", "minute", "hour"};
  size_t unit = 0;
  for (; seconds >= 60 && unit < 2; ++unit) seconds /= 60;
  FormatBounded(buffer, capacity, "%llu %s%s", static_cast<unsigned long long>(seconds),
                kUnits[unit], seconds == 1 ? "" : "s");
  return buffer;
}

char* FormatLocalDateTime(const LocalTime& time, char* buffer, size_t capacity) {
  FormatBounded(buffer, capacity, "%04hu-%02hu-%02hu %02hu:%02hu:%02hu", time.year, time.month,
                time.day, time.hour, time.minute, time.second);
  return buffer;
}
