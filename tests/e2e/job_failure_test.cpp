// A whole job in which each pool allocation fails in turn: whatever fails,
// the job shows one message (its own text where it has one), keeps a copy only
// with a report and then a complete one, leaves the source alone and frees
// every block.

#include <gtest/gtest.h>

#include <set>

#include "engine/codec_library.h"
#include "tests/e2e/e2e_util.h"

namespace {

using fixture::Entry;

TEST(JobFailures, EveryAllocationFailingInTurnEndsTheJobCleanly) {
  const std::string source = fixture::TempPath("slimwick-jobfail") + ".grf";
  const std::string cleaned = source.substr(0, source.size() - 4) + "-cleaned.grf";
  ClearCodecLibraryPath();
  fixture::ArchiveSpec spec;
  const fixture::Bytes same = fixture::MakeContent(3000, 1);
  spec.entries = {Entry("a.txt", same, fixture::Storage::Stored),
                  Entry("b.txt", same, fixture::Storage::Zlib, fixture::Cipher::Mixed),
                  Entry("c.gat", fixture::MakeContent(2000, 2), fixture::Storage::Zlib, fixture::Cipher::Header),
                  Entry("empty.txt", "", fixture::Storage::Stored)};
  const fixture::Bytes original = fixture::BuildArchiveBytes(spec);
  ASSERT_TRUE(fixture::WriteBytesToFile(source, original));
  const std::map<JobOutcome, std::string> messages = {
      {JobOutcome::SourceNotOpened, "Failed to open source archive."},
      {JobOutcome::DestinationFailed, "Failed to create destination archive."},
      {JobOutcome::FinalizeFailed, "Your archive failed to finalize, you might not have enough disk space available."}};
  for (const bool best : {false, true}) {
    std::set<JobOutcome> seen;
    // skip < 0: a clean run, which counts the allocations to fail.
    for (int64_t skip = -1, allocations = 0; skip < allocations; ++skip) {
      const uint32_t before = GetPoolCounters().allocations, live = GetPoolCounters().liveBlocks;
      RecordingHost host;
      host.onCall = [skip](const HostCall& call) {
        if (skip >= 0 && call.text == "Preparing...") PoolInjectFailures(static_cast<uint32_t>(skip), 1);
      };
      const JobOutcome outcome = RunJob(&host, source, best);
      PoolInjectFailures(0, 0);
      if (skip < 0) allocations = GetPoolCounters().allocations - before;
      seen.insert(outcome);
      SCOPED_TRACE("allocation " + std::to_string(skip) + (best ? " best" : ""));
      EXPECT_EQ(GetPoolCounters().liveBlocks, live);
      ExpectBytes(source, original);
      const bool reported = outcome == JobOutcome::CleanedCopyKept || outcome == JobOutcome::NothingSaved;
      const std::vector<std::string> errors = host.Texts(HostCall::kShowError);
      EXPECT_EQ(host.Count(HostCall::kShowReport), reported ? 1u : 0u);
      ASSERT_EQ(errors.size(), reported ? 0u : 1u);
      if (messages.count(outcome)) {
        EXPECT_EQ(errors[0], messages.at(outcome));
      }
      EXPECT_EQ(std::filesystem::exists(cleaned), outcome == JobOutcome::CleanedCopyKept);
      EXPECT_TRUE(PartialFilesBeside(cleaned).empty());
      if (outcome == JobOutcome::CleanedCopyKept) ExpectSameContent(source, cleaned);
      std::remove(cleaned.c_str());
      // The window is idle again whatever happened.
      EXPECT_EQ(host.Texts(HostCall::kSetStatusText).back(), "");
      EXPECT_EQ(host.Values(HostCall::kSetDropAcceptance).back(), 1u);
    }
    for (const auto& [outcome, text] : messages) EXPECT_TRUE(seen.count(outcome)) << text;
    EXPECT_TRUE(seen.count(JobOutcome::PassFailed));
  }
  std::remove(source.c_str());
}

}  // namespace
