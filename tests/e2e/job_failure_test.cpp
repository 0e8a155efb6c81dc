// Each pool allocation of a job failing in turn: one message, a copy only with a report, no leak.

#include <gtest/gtest.h>
#include <set>
#include "tests/e2e/e2e_util.h"

TEST(JobFailures, EveryAllocationFailingInTurnEndsTheJobCleanly) {
  const std::string source = fixture::TempPath("slimwick-jobfail") + ".grf";
  const std::string cleaned = source.substr(0, source.size() - 4) + "-cleaned.grf";
  fixture::ArchiveSpec spec;
  const fixture::Bytes same = fixture::MakeContent(3000, 1);
  spec.entries = {fixture::Entry("a.txt", same, fixture::Storage::Stored),
                  fixture::Entry("b.txt", same, fixture::Storage::Zlib, fixture::Cipher::Mixed),
                  fixture::Entry("c.gat", fixture::MakeContent(2000, 2), fixture::Storage::Zlib, fixture::Cipher::Header),
                  fixture::Entry("empty.txt", "", fixture::Storage::Stored)};
  const fixture::Bytes original = fixture::BuildArchiveBytes(spec);
  ASSERT_TRUE(fixture::WriteBytesToFile(source, original));
  const std::map<JobOutcome, std::string> messages = {
      {JobOutcome::SourceNotOpened, "Failed to open source archive."},
      {JobOutcome::DestinationFailed, "Failed to create destination archive."},
      {JobOutcome::PassFailed, ""},
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
      // One thread: the allocations come in a fixed order.
      const JobOutcome outcome = RunJob(&host, source, best, 1);
      PoolInjectFailures(0, 0);
      allocations = skip < 0 ? GetPoolCounters().allocations - before : allocations;
      seen.insert(outcome);
      EXPECT_EQ(GetPoolCounters().liveBlocks, live);
      ExpectBytes(source, original);
      const bool reported = outcome == JobOutcome::CleanedCopyKept || outcome == JobOutcome::NothingSaved;
      const std::vector<std::string> errors = host.Texts(HostCall::kShowError);
      EXPECT_EQ(host.Count(HostCall::kShowReport), reported ? 1u : 0u);
      ASSERT_EQ(errors.size(), reported ? 0u : 1u);
      EXPECT_TRUE(reported || !messages.count(outcome) || messages.at(outcome).empty() ||
                  errors[0] == messages.at(outcome)) << errors[0];
      EXPECT_EQ(std::filesystem::exists(cleaned), outcome == JobOutcome::CleanedCopyKept);
      EXPECT_TRUE(PartialFilesBeside(cleaned).empty());
      if (outcome == JobOutcome::CleanedCopyKept) ExpectSameContent(source, cleaned);
      std::remove(cleaned.c_str());
      // The window is idle again whatever happened.
      EXPECT_EQ(host.Texts(HostCall::kSetStatusText).back(), "");
      EXPECT_EQ(host.Values(HostCall::kSetDropAcceptance).back(), 1u);
      // With workers the same failure strikes elsewhere: still nothing leaks or stays behind.
      RecordingHost threaded;
      threaded.onCall = host.onCall;
      const JobOutcome other = RunJob(&threaded, source, best, 4);
      PoolInjectFailures(0, 0);
      EXPECT_EQ(GetPoolCounters().liveBlocks, live);
      ExpectBytes(source, original);
      EXPECT_EQ(std::filesystem::exists(cleaned), other == JobOutcome::CleanedCopyKept);
      EXPECT_TRUE(PartialFilesBeside(cleaned).empty());
      std::remove(cleaned.c_str());
    }
    for (const auto& [outcome, text] : messages) EXPECT_TRUE(seen.count(outcome)) << text;
  }
  std::remove(source.c_str());
}
