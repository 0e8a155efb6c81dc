#pragma once
// What the console makes of finished jobs: the exit status of a run, one JSON
// line per archive and the total of a batch.

#include <cstdint>
#include <string>

#include "engine/consolidation_job.h"
#include "engine/job_summary.h"

constexpr int kExitKept = 0;
constexpr int kExitNothingSaved = 1;
constexpr int kExitFailure = 2;

// 0 copy kept, 1 nothing saved (or an existing copy kept), 2 failure.
int ExitStatusFor(JobOutcome outcome);
// The status of a run: 2 if any archive failed, else 1 if any saved nothing,
// else 0. `so_far` starts at kExitKept.
int CombineExitStatus(int so_far, int next);

// Short stable name of an outcome for scripts ("kept", "nothing-saved", ...).
const char* OutcomeName(JobOutcome outcome);

// Whether the job left a cleaned copy on disk.
inline bool CopyKept(const JobSummary& s) { return s.outcome == JobOutcome::CleanedCopyKept; }
// What the archive weighs after the run: the kept copy (in a dry run, the
// copy that would be kept), or else the source.
inline uint64_t BytesAfter(const JobSummary& s) {
  return CopyKept(s) || s.outcome == JobOutcome::WouldSave ? s.destinationBytes : s.sourceBytes;
}

// One line of JSON (no newline) for a finished job on `source` (the name as
// it was given); `error` is the text the job showed when it failed, or null.
std::string SummaryJson(const JobSummary& summary, const char* source, const char* error);

struct BatchTotals {
  uint32_t archives = 0;
  uint32_t failed = 0;
  uint64_t bytesBefore = 0;
  uint64_t bytesAfter = 0;
  double seconds = 0;
  bool dryRun = false;  // the archives were measured, not cleaned
};

void AddToTotals(BatchTotals* totals, const JobSummary& summary);
// "3 archives: 12.35 MB before, 9.10 MB after, 3.25 MB saved (26%) in 4.2 s."
std::string FormatTotals(const BatchTotals& totals);
