// A whole consolidation job in which each pool allocation fails in turn
// (source open, destination creation, the entry pass, zlib, finalize, close):
// whatever fails, the job shows one message (its own texts where it has
// them), keeps a copy only after a lost-weight report and then a complete
// one, leaves the source bytes alone and frees every block.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "engine/codec_library.h"
#include "engine/consolidation_job.h"
#include "support/pool.h"
#include "tests/e2e/archive_compare.h"
#include "tests/e2e/leftovers.h"
#include "tests/engine/recording_host.h"
#include "tests/fixtures/archive_builder.h"

namespace {

using fixture::Bytes;

bool Exists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

class JobFailures : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string base = fixture::TempPath("slimwick-jobfail");
    source_ = base + ".grf";
    cleaned_ = base + "-cleaned.grf";
    std::remove(cleaned_.c_str());
    ClearCodecLibraryPath();
  }
  void TearDown() override {
    std::remove(source_.c_str());
    std::remove(cleaned_.c_str());
  }

  // Runs the job with the pool failing the allocation after `skip` more
  // from "Preparing..." on (none when skip is negative).
  JobOutcome Run(int64_t skip, RecordingHost* host, bool best, uint32_t threads = 1) {
    host->onCall = [skip](const HostCall& call) {
      if (skip >= 0 && call.kind == HostCall::kSetStatusText && call.text == "Preparing...")
        PoolInjectFailures(static_cast<uint32_t>(skip), 1);
    };
    ConsolidationJob* job = CreateConsolidationJob(host, source_.c_str(), best, nullptr);
    EXPECT_NE(job, nullptr);
    job->threads = threads;  // one thread: the allocations come in a fixed order
    const JobOutcome outcome = ExecuteConsolidationJob(job);
    PoolInjectFailures(0, 0);
    return outcome;
  }

  std::string source_, cleaned_;
};

// The job's own message for an outcome, if it has one.
const char* JobMessage(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::SourceNotOpened:
      return "Failed to open source archive.";
    case JobOutcome::DestinationFailed:
      return "Failed to create destination archive.";
    case JobOutcome::FinalizeFailed:
      return "Your archive failed to finalize, you might not have enough disk space available.";
    default:
      return nullptr;
  }
}

fixture::ArchiveSpec MixedArchive() {
  fixture::ArchiveSpec spec;
  const Bytes same = fixture::MakeContent(3000, 1);
  spec.entries = {
      fixture::Entry("a.txt", same, fixture::Storage::Stored),
      fixture::Entry("b.txt", same, fixture::Storage::Zlib, fixture::Cipher::Mixed),
      fixture::Entry("c.gat", fixture::MakeContent(2000, 2), fixture::Storage::Zlib,
                     fixture::Cipher::Header),
      fixture::Entry("empty.txt", "", fixture::Storage::Stored),
  };
  return spec;
}

TEST_F(JobFailures, EveryAllocationFailingInTurnEndsTheJobCleanly) {
  const Bytes original = fixture::BuildArchiveBytes(MixedArchive());
  for (const bool best : {false, true}) {
    SCOPED_TRACE(best ? "best compression" : "default");
    ASSERT_TRUE(fixture::WriteBytesToFile(source_, original));
    // A clean run counts the allocations to fail.
    const uint32_t before = GetPoolCounters().allocations;
    {
      RecordingHost host;
      ASSERT_EQ(Run(-1, &host, best), JobOutcome::CleanedCopyKept);
      std::remove(cleaned_.c_str());
    }
    const uint32_t allocations = GetPoolCounters().allocations - before;
    ASSERT_GT(allocations, 10u);

    std::set<JobOutcome> seen;
    for (uint32_t skip = 0; skip < allocations; ++skip) {
      SCOPED_TRACE("allocation " + std::to_string(skip));
      const uint32_t live = GetPoolCounters().liveBlocks;
      RecordingHost host;
      const JobOutcome outcome = Run(skip, &host, best);
      seen.insert(outcome);
      EXPECT_EQ(GetPoolCounters().liveBlocks, live);

      Bytes now;
      ASSERT_TRUE(fixture::ReadBytesFromFile(source_, &now));
      EXPECT_TRUE(now == original);
      const std::vector<std::string> errors = host.Texts(HostCall::kShowError);
      const bool reported = outcome == JobOutcome::CleanedCopyKept || outcome == JobOutcome::NothingSaved;
      EXPECT_EQ(host.Count(HostCall::kShowReport), reported ? 1u : 0u);
      ASSERT_EQ(errors.size(), reported ? 0u : 1u);
      if (const char* text = JobMessage(outcome)) {
        EXPECT_EQ(errors[0], text);
      }
      EXPECT_EQ(Exists(cleaned_), outcome == JobOutcome::CleanedCopyKept);
      EXPECT_TRUE(PartialFilesBeside(cleaned_).empty());
      if (outcome == JobOutcome::CleanedCopyKept) {
        std::string why;
        EXPECT_TRUE(SameArchiveContent(source_, cleaned_, &why)) << why;
        std::remove(cleaned_.c_str());
      }
      // The window is idle again whatever happened.
      EXPECT_EQ(host.Texts(HostCall::kSetStatusText).back(), "");
      EXPECT_EQ(host.Values(HostCall::kSetDropAcceptance).back(), 1u);

      // With workers the failure lands somewhere else each time, but still
      // nothing leaks and no temporary file stays.
      RecordingHost threaded;
      const JobOutcome any = Run(skip, &threaded, best, 4);
      EXPECT_EQ(GetPoolCounters().liveBlocks, live);
      EXPECT_TRUE(PartialFilesBeside(cleaned_).empty());
      EXPECT_EQ(Exists(cleaned_), any == JobOutcome::CleanedCopyKept);
      std::remove(cleaned_.c_str());
    }
    for (const JobOutcome outcome : {JobOutcome::SourceNotOpened, JobOutcome::DestinationFailed,
                                     JobOutcome::PassFailed, JobOutcome::FinalizeFailed}) {
      EXPECT_TRUE(seen.count(outcome)) << static_cast<int>(outcome);
    }
  }
}

}  // namespace
