#include "engine/eta.h"

namespace {

// Saturating 64-bit arithmetic: an estimate too large to count ends up beyond
// the calendar's range and is not shown, instead of wrapping to a wrong time.
uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return a + b < a ? UINT64_MAX : a + b; }

uint64_t ScaleTime(uint64_t remaining, uint32_t elapsedMs, uint32_t work) {
  uint64_t product = 0;
  if (__builtin_mul_overflow(remaining, uint64_t{elapsedMs} * kHundredNsPerMillisecond, &product)) {
    return UINT64_MAX;
  }
  return product / work;
}

}  // namespace

void EtaStart(EtaEstimator* eta, uint32_t total, uint8_t blend, EtaCallback callback,
              void* context) {
  eta->done = 0;
  eta->recent = 0;
  eta->total = total;
  eta->startTick = eta->lastTick = ReadTickCount();
  eta->callback = callback;
  eta->context = context;
  eta->blend = blend;
}

void EtaAdvanceTo(EtaEstimator* eta, uint32_t current) {
  if (current < eta->done) return;
  EtaAdvanceBy(eta, current - eta->done);
}

void EtaAdvanceBy(EtaEstimator* eta, uint32_t increment) {
  if (increment == 0) return;
  const uint32_t now = ReadTickCount();
  eta->recent += increment;
  eta->done += increment;
  // Unsigned difference: a wrap of the tick counter in between is harmless.
  const uint32_t elapsed = now - eta->lastTick;
  if (elapsed < kEtaIntervalMs) return;

  // A count that wrapped past 2^32 leaves nothing to measure a rate by.
  if (eta->recent == 0 || eta->done == 0) {
    eta->recent = 0;
    eta->lastTick = now;
    return;
  }
  const uint32_t rate = static_cast<uint32_t>(uint64_t{eta->recent} * 1000u / elapsed);
  const uint64_t remaining = eta->total > eta->done ? eta->total - eta->done : 0;
  const uint64_t recentEstimate = ScaleTime(remaining, elapsed, eta->recent);
  eta->recent = 0;
  eta->lastTick = now;

  uint64_t finish = 0;
  if (!EncodeCalendarTime(ReadLocalTime(), &finish)) return;
  if (eta->blend) {
    const uint32_t sinceStart = now - eta->startTick;
    const uint64_t overallEstimate = ScaleTime(remaining, sinceStart, eta->done);
    finish = SaturatingAdd(finish, SaturatingAdd(recentEstimate, overallEstimate) >> 1);
  } else {
    finish = SaturatingAdd(finish, recentEstimate);
  }
  LocalTime finishTime{};
  // A finish beyond the calendar's range is not shown.
  if (!DecodeCalendarTime(finish, &finishTime)) return;
  if (eta->callback) eta->callback(eta->done, eta->total, rate, finishTime, eta->context);
}
