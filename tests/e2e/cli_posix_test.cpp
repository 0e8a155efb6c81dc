// slimwick-cli as a user runs it: exit status, output and files left behind.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/e2e/archive_compare.h"
#include "tests/fixtures/archive_builder.h"

namespace {

struct RunResult {
  int status = -1;
  std::string out;  // stdout and stderr together
};

std::string Cli() {
  const char* bin = std::getenv("SLIMWICK_TEST_BIN");
  return std::string(bin ? bin : ".") + "/slimwick-cli";
}

RunResult RunCli(const std::string& args) {
  RunResult r;
  const std::string command = Cli() + " " + args + " </dev/null 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int raw = pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

bool Exists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fixture::TempPath("slimwick-cli");
    source_ = base_ + ".grf";
    cleaned_ = base_ + "-cleaned.grf";
  }
  void TearDown() override {
    std::remove(source_.c_str());
    std::remove(cleaned_.c_str());
  }
  void WriteFat() {
    fixture::ArchiveSpec spec;
    const fixture::Bytes same = fixture::MakeContent(8000, 1);
    spec.entries = {fixture::Entry("a.txt", same, fixture::Storage::Stored),
                    fixture::Entry("b.txt", same, fixture::Storage::Stored),
                    fixture::Entry("c.bmp", fixture::MakeContent(5000, 2), fixture::Storage::Zlib,
                                   fixture::Cipher::Mixed)};
    ASSERT_TRUE(fixture::WriteBytesToFile(source_, fixture::BuildArchiveBytes(spec)));
  }
  std::string base_, source_, cleaned_;
};

TEST_F(Cli, HelpAndVersion) {
  RunResult r = RunCli("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("1.5.0.47"), std::string::npos);
  r = RunCli("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage: slimwick-cli"), std::string::npos);
  EXPECT_EQ(RunCli("").status, 2);
  EXPECT_EQ(RunCli("--frobnicate x.grf").status, 2);
}

TEST_F(Cli, FatArchiveIsCleanedAndTheQuestionIsAnsweredSafely) {
  WriteFat();
  RunResult r = RunCli(Quote(source_));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Your archive lost"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  - 1 entries were replaced with links and 0 could not be read."),
            std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\r'), std::string::npos);
  std::string why;
  EXPECT_TRUE(SameArchiveContent(source_, cleaned_, &why)) << why;

  fixture::Bytes kept;
  ASSERT_TRUE(fixture::ReadBytesFromFile(cleaned_, &kept));
  // Not a terminal and no --yes: the existing copy is kept, nothing saved.
  r = RunCli(Quote(source_));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("There already seems to be slim version of this archive around."),
            std::string::npos);
  fixture::Bytes now;
  ASSERT_TRUE(fixture::ReadBytesFromFile(cleaned_, &now));
  EXPECT_EQ(now, kept);

  r = RunCli("--yes --best " + Quote(source_));
  EXPECT_EQ(r.status, 0) << r.out;
}

TEST_F(Cli, CleaningACleanedCopyAgainSavesNothingAndLeavesNoCopy) {
  // Without duplicates: the second pass finds nothing to do.
  fixture::ArchiveSpec spec;
  spec.entries = {fixture::Entry("only.txt", fixture::MakeContent(3000, 4), fixture::Storage::Stored)};
  ASSERT_TRUE(fixture::WriteBytesToFile(source_, fixture::BuildArchiveBytes(spec)));
  ASSERT_EQ(RunCli(Quote(source_)).status, 0);
  const std::string twice = base_ + "-cleaned-cleaned.grf";
  RunResult r = RunCli(Quote(cleaned_));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("Your archive is just fine the way it is"), std::string::npos) << r.out;
  EXPECT_FALSE(Exists(twice));

  // With duplicates: the links are found again, yet nothing is saved.
  WriteFat();
  ASSERT_TRUE(RunCli("--yes " + Quote(source_)).status == 0);
  r = RunCli(Quote(cleaned_));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("I have to disappoint you"), std::string::npos) << r.out;
  EXPECT_FALSE(Exists(twice));
}

TEST_F(Cli, FailuresExitWithTwo) {
  ASSERT_TRUE(fixture::WriteBytesToFile(source_, fixture::ToBytes("plain text, not an archive")));
  RunResult r = RunCli(Quote(source_));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("Failed to open source archive."), std::string::npos);
  EXPECT_FALSE(Exists(cleaned_));

  const std::string longPath = "/tmp/" + std::string(255, 'x');  // 260 characters
  r = RunCli(Quote(longPath));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("Cannot pull the dropped archive from that location."), std::string::npos);

  WriteFat();
  r = RunCli("--codec " + Quote(source_) + " " + Quote(source_));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("is not a codec library"), std::string::npos);
  EXPECT_FALSE(Exists(cleaned_));
}

}  // namespace
