#pragma once
// Shared by the job tests: running a job, comparing copies, leftover temporary files.

#include <filesystem>
#include "engine/consolidation_job.h"
#include "engine/job_summary.h"
#include "tests/e2e/leftovers.h"
#include "support/pool.h"
#include "tests/engine/recording_host.h"
#include "tests/grf/grf_test_util.h"

// threads 0: one per hardware thread; 1: none besides the job's own.
inline JobOutcome RunJob(RecordingHost* host, const std::string& source, bool best = false,
                         uint32_t threads = 0, const std::string& codec = "") {
  ConsolidationJob* job = CreateConsolidationJob(host, source.c_str(), best, nullptr);
  EXPECT_NE(job, nullptr);
  job->threads = threads;
  CopyBounded(job->codecLibraryPath, codec.c_str(), sizeof job->codecLibraryPath);
  return ExecuteConsolidationJob(job);
}
inline void ExpectSameContent(const std::string& source, const std::string& copy) {
  EXPECT_TRUE(grftest::ReadAll(source) == grftest::ReadAll(copy)) << copy;
}
inline void ExpectBytes(const std::string& path, const fixture::Bytes& bytes) {
  fixture::Bytes now;
  EXPECT_TRUE(fixture::ReadBytesFromFile(path, &now) && now == bytes) << path;
}

