#pragma once
// Progress of a job's entry pass: the progress bar's percentage and the
// completion estimate, both shown through the job's host.

#include <cstdint>

#include "engine/eta.h"
#include "engine/job_host.h"
#include "support/clock.h"

// The part of a job's state the progress reports keep. A job holds one,
// initialised with its host, and passes its address as the pass's progress
// context.
struct JobProgress {
  JobHost* host = nullptr;
  // Percentage last shown; 100 at the start so that the first report,
  // whatever its value, is shown.
  uint32_t lastPercent = 100;
  EtaEstimator eta{};
  // 0 until the first report starts the estimate.
  uint8_t etaStarted = 0;
};

// Progress callback of the entry pass, called before each entry with its
// 1-based position and the entry count; context is the JobProgress. Updates
// the bar when the percentage changes and feeds the estimate. Always true.
bool OnEntryProgress(uint32_t current, uint32_t total, void* context);

// Estimate callback of the job: shows "ETA: " and the finish time as the
// estimate text. context is the JobProgress; the counts are not used.
void ShowEta(uint32_t done, uint32_t total, uint32_t rate, const LocalTime& finish, void* context);
