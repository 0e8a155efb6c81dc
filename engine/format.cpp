#include "engine/format.h"

#include <cstdarg>
#include <cstdio>

#include "support/diag.h"

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

namespace {
const char* const kDurationUnits[] = {"second%s", "minute%s", "hour%s"};
}

const QuantityFormat DurationFormat = {kDurationUnits, "", "", 3, 60, 0, 0, kQuantityPlural};

char* FormatQuantity(uint64_t value, char* buffer, size_t capacity, const QuantityFormat& format) {
  if (format.unitCount == 0 || format.ratio < 2) {
    // A description without units, or one whose ratio would never reduce
    // the value, cannot be written.
    SLIM_DEBUG_ASSERT(!"FormatQuantity with an invalid format");
    if (capacity != 0) buffer[0] = '\0';
    return buffer;
  }
  uint32_t unit = 0;
  while (value >= format.ratio && unit < format.unitCount - 1) {
    value /= format.ratio;
    ++unit;
  }
  const char* unitText = format.unitNames[unit];
  char plural[64];
  if (format.flags & kQuantityPlural) {
    FormatBounded(plural, sizeof plural, unitText, value == 1 ? "" : "s");
    unitText = plural;
  }
  const char* separator = (format.flags & kQuantityNoBlank) ? "" : " ";
  const char* suffix = unit != 0 ? format.higherSuffix : format.baseSuffix;
  FormatBounded(buffer, capacity, "%*llu%s%s%s", static_cast<int>(format.width),
                static_cast<unsigned long long>(value), separator, unitText, suffix);
  return buffer;
}

char* FormatLocalDateTime(const LocalTime& time, char* buffer, size_t capacity) {
  FormatBounded(buffer, capacity, "%04hu-%02hu-%02hu %02hu:%02hu:%02hu", time.year, time.month,
                time.day, time.hour, time.minute, time.second);
  return buffer;
}
