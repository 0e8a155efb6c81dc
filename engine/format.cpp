#include "engine/format.h"

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
