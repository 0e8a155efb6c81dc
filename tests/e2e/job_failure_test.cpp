// Each pool allocation of a job failing in turn, or memory running out at each operator new on
// the job's thread: one message, a copy only with a report, no leak.

#include <gtest/gtest.h>
#include <regex>
#include <set>
#include "tests/e2e/e2e_util.h"

extern thread_local uint64_t t_allocations;  // failing_new.cpp

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
  // A failure of the pass names the entry (and a link's target) it failed on.
  const std::regex passMessage("Failed to [a-z ]+ item '(a.txt|c.gat|empty.txt|b.txt'->'a.txt)'\\.|"
                               "Out of memory while allocating [a-z ]+\\.");
  for (const bool best : {false, true}) {
    std::set<JobOutcome> seen;
    // skip < 0: a clean run, which counts the allocations to fail.
    for (const bool byNew : {false, true})  // pool blocks, or operator new on the job's thread
    for (int64_t skip = -1, allocations = 0; skip < allocations; ++skip) {
      const uint32_t before = GetPoolCounters().allocations;
      const uint64_t news = t_allocations;
      RecordingHost host;
      host.onCall = [skip, byNew](const HostCall& call) {
        if (skip >= 0 && call.text == "Preparing...") byNew ? void(t_allowed = skip) : PoolInjectFailures(static_cast<uint32_t>(skip), 1);
      };
      // One thread: the allocations come in a fixed order.
      const JobOutcome outcome = RunJob(&host, source, best, 1);
      PoolInjectFailures(0, 0);
      t_allowed = -1;
      if (skip < 0) allocations = static_cast<int64_t>(byNew ? t_allocations - news : GetPoolCounters().allocations - before);
      seen.insert(outcome);
      ExpectBytes(source, original);
      const bool reported = outcome == JobOutcome::CleanedCopyKept || outcome == JobOutcome::NothingSaved;
      const std::vector<std::string> errors = host.Texts(HostCall::kShowError);
      EXPECT_EQ(host.Count(HostCall::kShowReport), reported ? 1u : 0u);
      ASSERT_EQ(errors.size(), reported ? 0u : 1u);
      EXPECT_TRUE(reported || !messages.count(outcome) || messages.at(outcome).empty() ||
                  errors[0] == messages.at(outcome) || (byNew && errors[0].starts_with("Out of memory"))) << errors[0];
      EXPECT_TRUE(outcome != JobOutcome::PassFailed || std::regex_match(errors[0], passMessage)) << errors[0];
      EXPECT_EQ(std::filesystem::exists(cleaned), outcome == JobOutcome::CleanedCopyKept);
      EXPECT_TRUE(PartialFilesBeside(cleaned).empty());
      if (outcome == JobOutcome::CleanedCopyKept) ExpectSameContent(source, cleaned);
      std::remove(cleaned.c_str());
      // The window is idle again whatever happened.
      const std::vector<std::string> estimates = host.Texts(HostCall::kSetEstimateText);
      EXPECT_TRUE(host.Texts(HostCall::kSetStatusText).back().empty() && !estimates.empty() && estimates.back().empty());
      EXPECT_EQ(host.Values(HostCall::kSetDropAcceptance), (std::vector<uint32_t>{0, 1}));  // refused while it runs
      EXPECT_EQ(host.Values(HostCall::kSetProgress).back(), 0u);
      // With workers the same failure strikes elsewhere: still nothing stays behind (leaks: the pool listener).
      RecordingHost threaded;
      threaded.onCall = host.onCall;
      const JobOutcome other = RunJob(&threaded, source, best, 4);
      PoolInjectFailures(0, 0);
      t_allowed = -1;
      ExpectBytes(source, original);
      EXPECT_EQ(std::filesystem::exists(cleaned), other == JobOutcome::CleanedCopyKept);
      EXPECT_EQ(threaded.Count(HostCall::kShowReport) + threaded.Count(HostCall::kShowError), 1u);
      if (other == JobOutcome::CleanedCopyKept) ExpectSameContent(source, cleaned);
      EXPECT_TRUE(PartialFilesBeside(cleaned).empty());
      std::remove(cleaned.c_str());
    }
    for (const auto& [outcome, text] : messages) EXPECT_TRUE(seen.count(outcome)) << text;
  }
  std::remove(source.c_str());
}

// The source cut short under a running pass: blocks that cannot be read, on the job's thread
// or on workers, end the pass with one message and no new copy; the old one stays as it was.
// A run that completes without a copy removes the old one the user agreed to discard.
TEST(JobFailures, BlocksThatCannotBeReadEndThePassCleanly) {
  const std::string source = fixture::TempPath("slimwick-cut") + ".grf";
  const std::string cleaned = source.substr(0, source.size() - 4) + "-cleaned.grf";
  fixture::ArchiveSpec spec;
  for (uint32_t i = 0; i < 60; ++i)
    spec.entries.push_back(fixture::Entry(std::to_string(i) + ".bin", fixture::MakeContent(2000, i % 30, false)));
  const fixture::Bytes original = fixture::BuildArchiveBytes(spec);
  for (const uint32_t threads : {1u, 4u}) {
    ASSERT_TRUE(fixture::WriteBytesToFile(source, original) && fixture::WriteBytesToFile(cleaned, {1, 2, 3}));
    RecordingHost host;
    host.defaultAnswer = true;
    bool cut = false;
    host.onCall = [&](const HostCall& call) {
      std::error_code error;
      if (call.text == "Consolidating...") std::filesystem::resize_file(source, 20000, error), cut = !error;
    };
    const JobOutcome outcome = RunJob(&host, source, false, threads);
    if (!cut) GTEST_SKIP() << "the source cannot be cut while the job holds it";
    EXPECT_EQ(outcome, JobOutcome::PassFailed) << threads;
    const std::vector<std::string> errors = host.Texts(HostCall::kShowError);
    EXPECT_TRUE(errors.size() == 1 && errors[0].starts_with("Failed to copy unreadable item '")) << threads;
    ExpectBytes(cleaned, {1, 2, 3});
    EXPECT_TRUE(PartialFilesBeside(cleaned).empty());
  }
  // A stop that comes after the pass keeps no copy either, nor a partial one; the old one stays.
  RecordingHost stopped;
  stopped.defaultAnswer = true;
  stopped.onCall = [&](const HostCall& call) { stopped.stop |= call.text == "Finalizing..."; };
  EXPECT_TRUE(fixture::WriteBytesToFile(source, original) && RunJob(&stopped, source) == JobOutcome::PassFailed);
  EXPECT_TRUE(PartialFilesBeside(cleaned).empty());
  ExpectBytes(cleaned, {1, 2, 3});
  // Told to discard the old copy, a run that keeps no new one (nothing saved) removes it too.
  ASSERT_TRUE(fixture::WriteBytesToFile(source, fixture::BuildArchiveBytes({})));
  RecordingHost host;
  host.defaultAnswer = true;
  EXPECT_EQ(RunJob(&host, source), JobOutcome::NothingSaved);
  EXPECT_EQ(host.Values(HostCall::kSetProgress), (std::vector<uint32_t>{0, 100, 0})) << "full, though there was nothing to count";
  EXPECT_FALSE(std::filesystem::exists(cleaned));
  // A merge that cannot hold its list of archives says so and opens none.
  const char* patches[] = {source.c_str()};
  RecordingHost merging;
  ConsolidationJob* merge = CreateConsolidationJob(&merging, source.c_str(), false, nullptr);
  std::tie(merge->patchPaths, merge->patchCount) = std::make_tuple(patches, 1u);
  EXPECT_EQ((PoolInjectFailures(0, 1), ExecuteConsolidationJob(merge)), JobOutcome::SourceNotOpened);
  EXPECT_EQ((PoolInjectFailures(0, 0), merging.Texts(HostCall::kShowError)), std::vector<std::string>{kNoMemoryForBuffer});
  std::remove(source.c_str());
}
