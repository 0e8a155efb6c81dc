// Runs that race or are killed: a correct copy or none at the cleaned name, and their partial files go
// (what stands at the cleaned name: the console tests).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include "tests/e2e/e2e_util.h"
#include "tests/support/file_util_scratch.h"

namespace {
namespace fs = std::filesystem;

struct DestinationSafety : ::testing::Test {
  void SetUp() override {
    fixture::ArchiveSpec spec;
    for (uint32_t i = 0; i < 40; ++i)
      spec.entries.push_back(fixture::Entry(std::to_string(i), fixture::MakeContent(3000, i % 2 ? 1 : i)));
    original_ = fixture::BuildArchiveBytes(spec);
    ASSERT_TRUE(fixture::WriteBytesToFile(source_, original_) && pipe(ready_) == 0 && pipe(go_) == 0);
  }
  void TearDown() override {
    for (int fd : {ready_[0], ready_[1], go_[0], go_[1]}) close(fd);
  }
  // A run in a child process, held at its pass until a byte comes on go_; exit status = outcome.
  pid_t HeldRun() {
    const pid_t pid = fork();
    if (pid == 0) {
      RecordingHost host;
      host.defaultAnswer = true;
      host.onCall = [this](const HostCall& call) {
        char byte = 'r';
        if (call.text == "Consolidating..." && (write(ready_[1], &byte, 1) != 1 || read(go_[0], &byte, 1) != 1))
          _exit(99);
      };
      _exit(static_cast<int>(RunJob(&host, source_)));
    }
    char byte;
    EXPECT_EQ(read(ready_[0], &byte, 1), 1);
    return pid;
  }
  static int ExitCode(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void ExpectGoodCopy() {
    EXPECT_FALSE(fs::is_symlink(cleaned_));
    ExpectSameContent(source_, cleaned_);
    ExpectBytes(source_, original_);
    EXPECT_TRUE(PartialFilesBeside(cleaned_).empty());
  }
  ScratchDir scratch_;
  std::string dir_ = scratch_.Folder(), source_ = dir_ + "/data.grf", cleaned_ = dir_ + "/data-cleaned.grf";
  fixture::Bytes original_;
  int ready_[2] = {-1, -1}, go_[2] = {-1, -1};
};

TEST_F(DestinationSafety, RunsAtOnceOrKilledLeaveACorrectCopyAndTheirPartialFilesGo) {
  const pid_t first = HeldRun(), second = HeldRun();
  ASSERT_EQ(write(go_[1], "gg", 2), 2);  // both passes write at the same time
  for (const pid_t pid : {first, second}) EXPECT_EQ(ExitCode(pid), static_cast<int>(JobOutcome::CleanedCopyKept));
  ExpectGoodCopy();
  fs::remove(cleaned_);
  const pid_t killed = HeldRun();
  ASSERT_EQ(kill(killed, SIGKILL), 0);
  EXPECT_EQ(ExitCode(killed), -1);
  EXPECT_FALSE(fs::exists(cleaned_));
  ASSERT_EQ(PartialFilesBeside(cleaned_).size(), 1u);
  // A run right after takes it, however young: no one holds it.
  RecordingHost host;
  EXPECT_EQ(RunJob(&host, source_), JobOutcome::CleanedCopyKept);
  ExpectGoodCopy();
}
}  // namespace
