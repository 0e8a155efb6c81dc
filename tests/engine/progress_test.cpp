#include "engine/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_clock.h"
#include "recording_host.h"

TEST(EntryProgress, BarMovesOnlyWhenThePercentageChanges) {
  FakeClock clock;
  {
    RecordingHost host;
    JobProgress progress;
    progress.host = &host;
    for (uint32_t entry = 1; entry <= 3; ++entry) {
      EXPECT_TRUE(OnEntryProgress(entry, 3, &progress));
    }
    EXPECT_EQ(host.Values(HostCall::kSetProgress), (std::vector<uint32_t>{33, 66, 100}));
    EXPECT_EQ(progress.etaStarted, 1);
    EXPECT_EQ(progress.eta.total, 3u);
    EXPECT_EQ(progress.eta.done, 3u);
  }
  {
    // The starting value 100 makes a first report of 0 go out; a lone entry
    // reports 100, which is not sent again.
    RecordingHost host;
    JobProgress many;
    many.host = &host;
    OnEntryProgress(1, 200, &many);
    JobProgress single;
    single.host = &host;
    OnEntryProgress(1, 1, &single);
    EXPECT_EQ(host.Values(HostCall::kSetProgress), std::vector<uint32_t>{0});
  }
}

TEST(EntryProgress, TwoHundredThousandEntriesSendOneHundredAndOneUpdates) {
  FakeClock clock;
  RecordingHost host;
  JobProgress progress;
  progress.host = &host;
  uint32_t sentAt1 = 0;
  host.onCall = [&](const HostCall& call) {
    if (call.kind == HostCall::kSetProgress && call.value == 1) sentAt1 = progress.eta.done;
  };
  for (uint32_t entry = 1; entry <= 200000; ++entry) OnEntryProgress(entry, 200000, &progress);
  const std::vector<uint32_t> sent = host.Values(HostCall::kSetProgress);
  ASSERT_EQ(sent.size(), 101u);
  for (uint32_t i = 0; i < sent.size(); ++i) EXPECT_EQ(sent[i], i);
  // 1 % is reached as entry 2000 begins (the divisor is 200000 / 100).
  EXPECT_EQ(sentAt1, 2000u);
}

TEST(EntryProgress, PassShorterThanFiveSecondsShowsNoEstimate) {
  FakeClock clock;
  RecordingHost host;
  JobProgress progress;
  progress.host = &host;
  for (uint32_t entry = 1; entry <= 1000; ++entry) {
    OnEntryProgress(entry, 1000, &progress);
    clock.Advance(4);  // the 1000th entry begins 3.996 s after the first
  }
  EXPECT_TRUE(host.Texts(HostCall::kSetEstimateText).empty());
}

TEST(EntryProgress, EstimateTextShowsTheBlendedFinishTime) {
  // Twenty entries of one second each, starting ten seconds before a new year.
  FakeClock clock(LocalTime{2024, 12, 2, 31, 23, 59, 50, 0});
  RecordingHost host;
  JobProgress progress;
  progress.host = &host;
  for (uint32_t entry = 1; entry <= 20; ++entry) {
    OnEntryProgress(entry, 20, &progress);
    clock.Advance(1000);
  }
  // Entry 6, 5 s in: 14 left at 6 per 5 s (both rates) is 11.67 s -> 00:00:06.67.
  // Entry 11, 10 s in: 9 left; 9 s recently, 8.18 s overall; half the sum 8.59 s.
  // Entry 16, 15 s in: 4 left; 4 s recently, 3.75 s overall; 3.875 s.
  EXPECT_EQ(host.Texts(HostCall::kSetEstimateText),
            (std::vector<std::string>{"ETA: 2025-01-01 00:00:06", "ETA: 2025-01-01 00:00:08",
                                      "ETA: 2025-01-01 00:00:08"}));
}

TEST(EntryProgress, ShowEtaFormatsTheTimeForTheHost) {
  RecordingHost host;
  JobProgress progress;
  progress.host = &host;
  ShowEta(1, 2, 3, LocalTime{2024, 5, 5, 17, 14, 3, 9, 999}, &progress);
  EXPECT_EQ(host.Texts(HostCall::kSetEstimateText),
            std::vector<std::string>{"ETA: 2024-05-17 14:03:09"});
  EXPECT_EQ(host.Calls().size(), 1u);
}
