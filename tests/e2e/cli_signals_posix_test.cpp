// slimwick-cli stopped by signals, writing into a closed pipe, and printing
// hostile entry names: a stop says so on stderr and keeps no copy; a closed
// pipe does not end the run; a name's control bytes never reach the terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/e2e/archive_compare.h"
#include "tests/e2e/leftovers.h"
#include "tests/fixtures/archive_builder.h"

namespace {

using fixture::Bytes;

std::string CliPath() {
  const char* bin = std::getenv("SLIMWICK_TEST_BIN");
  return std::string(bin ? bin : ".") + "/slimwick-cli";
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// A running slimwick-cli: stdout comes through a pipe, stderr goes to a file.
struct Child {
  pid_t pid = -1;
  int out = -1;  // read end of stdout, or -1 when closed before the start
  std::string errPath;

  Child(const std::string& archive, const std::string& dir, bool best, bool closedStdout) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    errPath = dir + "/stderr.txt";
    if (closedStdout) close(fds[0]);
    pid = fork();
    if (pid == 0) {
      const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int in = open("/dev/null", O_RDONLY);
      if (err < 0 || in < 0 || dup2(fds[1], 1) < 0 || dup2(err, 2) < 0 || dup2(in, 0) < 0)
        _exit(98);
      if (!closedStdout) close(fds[0]);
      const std::string cli = CliPath();
      if (best) {
        execl(cli.c_str(), cli.c_str(), "--yes", "--best", archive.c_str(), nullptr);
      } else {
        execl(cli.c_str(), cli.c_str(), "--yes", archive.c_str(), nullptr);
      }
      _exit(97);
    }
    close(fds[1]);
    if (!closedStdout) out = fds[0];
  }
  ~Child() {
    if (out >= 0) close(out);
  }

  // Reads stdout until `text` has appeared.
  bool AwaitOutput(const std::string& text) {
    std::string seen;
    char buffer[256];
    while (seen.find(text) == std::string::npos) {
      const ssize_t n = read(out, buffer, sizeof buffer);
      if (n <= 0) return false;
      seen.append(buffer, static_cast<size_t>(n));
    }
    return true;
  }
  // Waits for the end (draining stdout); the exit status, or 128 + signal.
  int Wait() {
    char buffer[256];
    while (out >= 0 && read(out, buffer, sizeof buffer) > 0) {
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string Stderr() const {
    Bytes bytes;
    fixture::ReadBytesFromFile(errPath, &bytes);
    return std::string(bytes.begin(), bytes.end());
  }
};

class CliSignals : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/slimwick-signals-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    source_ = dir_ + "/data.grf";
    cleaned_ = dir_ + "/data-cleaned.grf";
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  // Enough work at the best compression that a signal sent when the pass
  // starts finds it running.
  void WriteSlowArchive() {
    fixture::ArchiveSpec spec;
    for (int i = 0; i < kSlowEntries; ++i)
      spec.entries.push_back(fixture::Entry("d\\" + std::to_string(i) + ".bin",
                                            fixture::MakeContent(kSlowEntrySize, i)));
    original_ = fixture::BuildArchiveBytes(spec);
    ASSERT_TRUE(fixture::WriteBytesToFile(source_, original_));
  }
  void ExpectSourceUnchanged() {
    Bytes now;
    ASSERT_TRUE(fixture::ReadBytesFromFile(source_, &now));
    EXPECT_TRUE(now == original_);
  }

  static constexpr int kSlowEntries = 200;
  static constexpr size_t kSlowEntrySize = 32 * 1024;
  std::string dir_, source_, cleaned_;
  Bytes original_;
};

TEST_F(CliSignals, StopSignalsEndTheRunWithALineAndNoCopy) {
  WriteSlowArchive();
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    Child child(source_, dir_, true, false);
    ASSERT_TRUE(child.AwaitOutput("Consolidating..."));
    ASSERT_EQ(kill(child.pid, signal), 0);
    EXPECT_EQ(child.Wait(), 2);
    EXPECT_NE(child.Stderr().find("Stopped; no copy was kept.\n"), std::string::npos)
        << child.Stderr();
    EXPECT_FALSE(Exists(cleaned_));
    EXPECT_TRUE(PartialFilesBeside(cleaned_).empty());
  }
  ExpectSourceUnchanged();
}

TEST_F(CliSignals, AClosedPipeDoesNotEndTheRunAndAFolderInTheWayFailsIt) {
  fixture::ArchiveSpec spec;
  const Bytes same = fixture::MakeContent(8000, 1);
  spec.entries = {fixture::Entry("a.txt", same), fixture::Entry("b.txt", same)};
  original_ = fixture::BuildArchiveBytes(spec);
  ASSERT_TRUE(fixture::WriteBytesToFile(source_, original_));
  ASSERT_EQ(mkdir(cleaned_.c_str(), 0700), 0);
  Child refused(source_, dir_, false, false);
  EXPECT_EQ(refused.Wait(), 2);
  EXPECT_NE(refused.Stderr().find("in the way of the slim version"), std::string::npos);
  ASSERT_EQ(rmdir(cleaned_.c_str()), 0);  // it was left alone, and empty

  Child child(source_, dir_, false, true);
  EXPECT_EQ(child.Wait(), 0) << child.Stderr();
  std::string why;
  EXPECT_TRUE(SameArchiveContent(source_, cleaned_, &why)) << why;
}

TEST_F(CliSignals, ControlBytesInNamesAreShownEscaped) {
  fixture::ArchiveSpec spec;
  fixture::EntrySpec hostile = fixture::Entry("evil\x1b]0;owned\x07\x1b[2J\rx\ny.txt", "payload");
  hostile.offset = 0x7FFFFF00u;  // far past the end: the copy fails and names it
  hostile.notExpected = true;
  spec.entries = {fixture::Entry("a.txt", "fine"), hostile};
  original_ = fixture::BuildArchiveBytes(spec);
  ASSERT_TRUE(fixture::WriteBytesToFile(source_, original_));
  Child child(source_, dir_, false, false);
  EXPECT_EQ(child.Wait(), 2);
  const std::string err = child.Stderr();
  EXPECT_NE(err.find("evil\\x1b]0;owned\\x07\\x1b[2J\\x0dx\\x0ay.txt"), std::string::npos) << err;
  for (const char raw : {'\x1b', '\x07', '\r'}) EXPECT_EQ(err.find(raw), std::string::npos);
  ExpectSourceUnchanged();
}

}  // namespace
