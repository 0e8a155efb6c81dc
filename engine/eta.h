#pragma once
// Completion-time estimate of a long run of work units.
//
// The estimator is fed the amount of work done; at most once every five
// seconds it computes the local date and time at which the work should be
// finished and hands it to its callback. Times come from the clock sources
// (support/clock.h).

#include <cstdint>

#include "support/clock.h"

// Receives each new estimate: work done, total work, the recent rate in units
// per second, the estimated finish as local time, and the callback's context.
using EtaCallback = void (*)(uint32_t done, uint32_t total, uint32_t rate, const LocalTime& finish,
                             void* context);

// Zero-filled means idle; EtaStart makes it run.
struct EtaEstimator {
  uint32_t done;       // work reported so far
  uint32_t recent;     // work reported since the last estimate
  uint32_t total;      // total amount of work
  uint32_t startTick;  // tick count at the start
  uint32_t lastTick;   // tick count of the last estimate, or of the start
  EtaCallback callback;
  void* context;
  uint8_t blend;  // 1: average the recent-rate and overall-rate estimates
};

// Minimum time between two estimates.
constexpr uint32_t kEtaIntervalMs = 5000;

void EtaStart(EtaEstimator* eta, uint32_t total, uint8_t blend, EtaCallback callback,
              void* context);
// Reports absolute progress. A value below the amount already reported is
// ignored.
void EtaAdvanceTo(EtaEstimator* eta, uint32_t current);
void EtaAdvanceBy(EtaEstimator* eta, uint32_t increment);
