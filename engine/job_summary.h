#pragma once
// The facts of one finished consolidation job, for hosts that report them in
// their own form (the console's JSON lines and batch total).

#include <cstdint>

#include "engine/consolidation_job.h"

struct JobSummary {
  char sourcePath[kPathCapacity];  // the archive the job was given
  char destinationPath[kPathCapacity];  // the cleaned copy's name; empty: the source did not open
  JobOutcome outcome;
  uint64_t sourceBytes;       // source file size; 0 when it did not open
  uint64_t patchBytes;        // a merge's patch archives' file sizes, summed
  uint64_t destinationBytes;  // finalized copy's size (kept or not); 0 before a finalize
  uint32_t entries;           // entries in the source's table
  uint32_t linked;            // entries stored as links (complete pass only)
  uint32_t unreadable;        // entries copied undecoded (complete pass only)
  uint32_t unchanged;         // a merge's entries of the source written (complete pass only)
  uint32_t replaced;          // entries of a patch that replaced an earlier one's
  uint32_t added;             // entries of a patch whose name no earlier archive has
  uint32_t removed;           // entries left out by the job's keepsEntry
  double seconds;             // the job's whole duration
};
