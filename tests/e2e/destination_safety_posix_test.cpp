// What may stand at the cleaned name, and runs that fail, race or are killed:
// the source is never touched, an old copy is replaced only by a complete new
// one, and at no moment does a partial copy sit at the cleaned name.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "engine/codec_library.h"
#include "engine/consolidation_job.h"
#include "tests/e2e/archive_compare.h"
#include "tests/e2e/leftovers.h"
#include "tests/engine/recording_host.h"
#include "tests/fixtures/archive_builder.h"

namespace {

using fixture::Bytes;

bool IsLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string LinkTarget(const std::string& path) {
  char buffer[512];
  const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
  return n < 0 ? "" : std::string(buffer, static_cast<size_t>(n));
}

class DestinationSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/slimwick-dest-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    source_ = dir_ + "/data.grf";
    cleaned_ = dir_ + "/data-cleaned.grf";
    ClearCodecLibraryPath();
    fixture::ArchiveSpec spec;
    const Bytes same = fixture::MakeContent(6000, 1);
    for (int i = 0; i < 40; ++i)
      spec.entries.push_back(fixture::Entry("d\\" + std::to_string(i) + ".txt",
                                            i % 2 ? same : fixture::MakeContent(3000, 10 + i)));
    original_ = fixture::BuildArchiveBytes(spec);
    ASSERT_TRUE(fixture::WriteBytesToFile(source_, original_));
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  JobOutcome RunJob(RecordingHost* host) {
    ConsolidationJob* job = CreateConsolidationJob(host, source_.c_str(), false, nullptr);
    EXPECT_NE(job, nullptr);
    return ExecuteConsolidationJob(job);
  }

  // Runs the job in a child process; `onCall` runs there on every host call.
  pid_t RunJobInChild(std::function<void(const HostCall&)> onCall) {
    const pid_t pid = fork();
    if (pid == 0) {
      RecordingHost host;
      host.defaultAnswer = true;
      host.onCall = std::move(onCall);
      _exit(static_cast<int>(RunJob(&host)));
    }
    return pid;
  }

  void ExpectSourceUnchanged() {
    Bytes now;
    ASSERT_TRUE(fixture::ReadBytesFromFile(source_, &now));
    EXPECT_TRUE(now == original_);
  }
  void ExpectCleanedCopy() {
    std::string why;
    EXPECT_FALSE(IsLink(cleaned_));
    EXPECT_TRUE(SameArchiveContent(source_, cleaned_, &why)) << why;
  }

  std::string dir_, source_, cleaned_;
  Bytes original_;
};

TEST_F(DestinationSafety, WhatStandsAtTheCleanedNameIsCheckedBeforeAnyWork) {
  constexpr char kItself[] = "The slim version would take the place of the archive itself.";
  constexpr char kInTheWay[] = "Something that is not an archive is in the way of the slim version.";
  struct Row {
    const char* what;
    std::function<void(const std::string& cleaned)> make;
    bool answer;
    JobOutcome outcome;
    const char* error;  // start of the message shown, or null
  };
  const Row rows[] = {
      {"hard link to the source", [&](auto& c) { ASSERT_EQ(link(source_.c_str(), c.c_str()), 0); },
       true, JobOutcome::DestinationRefused, kItself},
      {"symlink to the source", [](auto& c) { ASSERT_EQ(symlink("data.grf", c.c_str()), 0); },
       true, JobOutcome::DestinationRefused, kItself},
      {"folder", [](auto& c) { ASSERT_EQ(mkdir(c.c_str(), 0700), 0); }, true,
       JobOutcome::DestinationRefused, kInTheWay},
      {"link to a missing file, declined",
       [](auto& c) { ASSERT_EQ(symlink("elsewhere/gone.grf", c.c_str()), 0); }, false,
       JobOutcome::OverwriteDeclined, nullptr},
      {"link loop, declined", [](auto& c) { ASSERT_EQ(symlink("data-cleaned.grf", c.c_str()), 0); },
       false, JobOutcome::OverwriteDeclined, nullptr},
      {"link to a missing file, replaced",
       [](auto& c) { ASSERT_EQ(symlink("elsewhere/gone.grf", c.c_str()), 0); }, true,
       JobOutcome::CleanedCopyKept, nullptr},
      {"link loop, replaced", [](auto& c) { ASSERT_EQ(symlink("data-cleaned.grf", c.c_str()), 0); },
       true, JobOutcome::CleanedCopyKept, nullptr},
  };
  ASSERT_EQ(mkdir((dir_ + "/elsewhere").c_str(), 0700), 0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::system(("rm -rf '" + cleaned_ + "'").c_str());
    row.make(cleaned_);
    const std::string linkBefore = LinkTarget(cleaned_);
    RecordingHost host;
    host.defaultAnswer = row.answer;
    EXPECT_EQ(RunJob(&host), row.outcome);
    const std::vector<std::string> errors = host.Texts(HostCall::kShowError);
    EXPECT_EQ(errors.size(), row.error ? 1u : 0u);
    if (row.error && !errors.empty()) {
      EXPECT_EQ(errors[0].rfind(row.error, 0), 0u) << errors[0];
    }
    EXPECT_EQ(host.Count(HostCall::kAskYesNo), row.error ? 0u : 1u);
    ExpectSourceUnchanged();
    if (row.outcome == JobOutcome::CleanedCopyKept) {
      ExpectCleanedCopy();
    } else {
      EXPECT_TRUE(Exists(cleaned_));
      EXPECT_EQ(LinkTarget(cleaned_), linkBefore);
    }
    EXPECT_FALSE(Exists(dir_ + "/elsewhere/gone.grf"));
    EXPECT_TRUE(PartialFilesBeside(cleaned_).empty());
  }
}

TEST_F(DestinationSafety, AnOldCopyStaysAsItWasWhenTheNewRunFails) {
  ASSERT_TRUE(fixture::WriteBytesToFile(cleaned_, fixture::ToBytes("old copy")));
  RecordingHost host;
  host.defaultAnswer = true;
  host.RequestStopAtCheck(5);  // in the middle of the pass
  EXPECT_EQ(RunJob(&host), JobOutcome::PassFailed);
  Bytes now;
  ASSERT_TRUE(fixture::ReadBytesFromFile(cleaned_, &now));
  EXPECT_TRUE(now == fixture::ToBytes("old copy"));
  ExpectSourceUnchanged();
  EXPECT_TRUE(PartialFilesBeside(cleaned_).empty());
}

// Each child reports "ready" on a pipe when its pass starts, then waits for a
// byte on a second pipe (or forever, when none comes).
struct Gate {
  int ready[2];
  int go[2];
  Gate() {
    EXPECT_EQ(pipe(ready), 0);
    EXPECT_EQ(pipe(go), 0);
  }
  ~Gate() {
    for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);
  }
  std::function<void(const HostCall&)> HoldAtThePass() {
    return [this](const HostCall& call) {
      if (call.kind == HostCall::kSetStatusText && call.text == "Consolidating...") {
        char byte = 'r';
        if (write(ready[1], &byte, 1) != 1 || read(go[0], &byte, 1) != 1) _exit(99);
      }
    };
  }
  void AwaitReady() {
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
  }
  void Release(int count) {
    for (int i = 0; i < count; ++i) ASSERT_EQ(write(go[1], "g", 1), 1);
  }
};

int ExitCode(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(DestinationSafety, TwoRunsAtOnceBothLeaveACorrectCopy) {
  Gate gate;
  const pid_t first = RunJobInChild(gate.HoldAtThePass());
  const pid_t second = RunJobInChild(gate.HoldAtThePass());
  gate.AwaitReady();
  gate.AwaitReady();
  gate.Release(2);  // both passes write at the same time
  EXPECT_EQ(ExitCode(first), static_cast<int>(JobOutcome::CleanedCopyKept));
  EXPECT_EQ(ExitCode(second), static_cast<int>(JobOutcome::CleanedCopyKept));
  ExpectCleanedCopy();
  ExpectSourceUnchanged();
  EXPECT_TRUE(PartialFilesBeside(cleaned_).empty());
}

TEST_F(DestinationSafety, AKilledRunLeavesOnlyItsPartialFileWhichALaterRunSweeps) {
  Gate gate;
  const pid_t child = RunJobInChild(gate.HoldAtThePass());
  gate.AwaitReady();
  ASSERT_EQ(kill(child, SIGKILL), 0);
  EXPECT_EQ(ExitCode(child), -1);
  EXPECT_FALSE(Exists(cleaned_));
  const std::vector<std::string> left = PartialFilesBeside(cleaned_);
  ASSERT_EQ(left.size(), 1u);
  const std::string leftover = dir_ + "/" + left[0];

  // A run right after it leaves a leftover that young alone: its own run
  // might be between creating and holding it.
  RecordingHost host;
  EXPECT_EQ(RunJob(&host), JobOutcome::CleanedCopyKept);
  EXPECT_TRUE(Exists(leftover));

  // An older one that no run holds goes.
  const struct timeval old[2] = {{time(nullptr) - 60, 0}, {time(nullptr) - 60, 0}};
  ASSERT_EQ(utimes(leftover.c_str(), old), 0);
  RecordingHost again;
  again.defaultAnswer = true;
  EXPECT_EQ(RunJob(&again), JobOutcome::CleanedCopyKept);
  EXPECT_TRUE(PartialFilesBeside(cleaned_).empty());
  ExpectCleanedCopy();
  ExpectSourceUnchanged();
}

}  // namespace
