// slimwick-cli as a user runs it: exit status, output and files left behind.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "tests/e2e/archive_compare.h"
#include "tests/fixtures/archive_builder.h"

namespace {

struct RunResult {
  int status = -1;
  std::string out;  // stdout, with stderr too unless it was asked for apart
  std::string err;
};

std::string Cli() {
  const char* bin = std::getenv("SLIMWICK_TEST_BIN");
  return std::string(bin ? bin : ".") + "/slimwick-cli";
}

std::string ReadPipe(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

RunResult RunCli(const std::string& args, bool separateStderr = false) {
  RunResult r;
  const std::string errPath = fixture::TempPath("cli-stderr");
  r.out = ReadPipe(Cli() + " " + args + " </dev/null " +
                       (separateStderr ? "2>" + errPath : std::string("2>&1")),
                   &r.status);
  if (separateStderr) {
    fixture::Bytes err;
    if (fixture::ReadBytesFromFile(errPath, &err)) r.err.assign(err.begin(), err.end());
    std::remove(errPath.c_str());
  }
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
  EXPECT_EQ(RunCli("--json").status, 2);
  for (const char* jobs : {"-j 0 x.grf", "--jobs=65 x.grf", "-j2x x.grf", "x.grf --jobs"})
    EXPECT_EQ(RunCli(jobs).status, 2) << jobs;
}

TEST_F(Cli, FatArchiveIsCleanedAndTheQuestionIsAnsweredSafely) {
  WriteFat();
  RunResult r = RunCli(Quote(source_));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Your archive lost"), std::string::npos) << r.out;
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

  r = RunCli("--quiet --yes --best -j 3 " + Quote(source_));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");  // a success prints not a byte, the answered question included
  ASSERT_TRUE(fixture::ReadBytesFromFile(cleaned_, &now));
  EXPECT_NE(now, kept);
}

TEST_F(Cli, FailuresExitWithTwo) {
  const std::string longPath = "/tmp/" + std::string(255, 'x');  // 260 characters
  RunResult r = RunCli(Quote(longPath));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("Cannot pull the dropped archive from that location."), std::string::npos);

  WriteFat();
  r = RunCli("--codec " + Quote(source_) + " " + Quote(source_));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("is not a codec library"), std::string::npos);
  EXPECT_FALSE(Exists(cleaned_));
}

// The JSON lines as python3's json module reads them: one row per object of
// tab-separated "member=value" in member order, null as None; "seconds" must
// be a number of at least 0 and is left out. *status: python3's (127: none).
std::string ReadBackJson(const std::string& lines, int* status) {
  const std::string path = fixture::TempPath("cli-json");
  if (!fixture::WriteBytesToFile(path, fixture::ToBytes(lines))) return "cannot write " + path;
  const std::string rows = ReadPipe(
      "python3 -c 'import json, sys\n"
      "for line in open(sys.argv[1]):\n"
      "    o = json.loads(line)\n"
      "    assert o.pop(\"seconds\") >= 0\n"
      "    print(\"\\t\".join(f\"{k}={v}\" for k, v in sorted(o.items())))' " + path + " 2>&1",
      status);
  std::remove(path.c_str());
  return rows;
}

std::string Row(const std::map<std::string, std::string>& members) {
  std::string row;
  for (const auto& [name, value] : members) row += (row.empty() ? "" : "\t") + name + "=" + value;
  return row + "\n";
}

uint64_t FileSize(const std::string& path) {
  fixture::Bytes bytes;
  return fixture::ReadBytesFromFile(path, &bytes) ? bytes.size() : 0;
}

TEST_F(Cli, BatchGoesOnAfterAFailureAndJsonTellsWhatIsOnDisk) {
  // A fat archive, a file that is no archive, and the fat one's cleaned copy,
  // which exists only once the first is done and then saves nothing more.
  WriteFat();
  const std::string broken = base_ + "-broken.grf";
  const std::string twice = base_ + "-cleaned-cleaned.grf";
  ASSERT_TRUE(fixture::WriteBytesToFile(broken, fixture::ToBytes("plain text, not an archive")));
  const RunResult r =
      RunCli("--json " + Quote(source_) + " " + Quote(broken) + " " + Quote(cleaned_), true);
  const std::string brokenSize = std::to_string(FileSize(broken));
  std::remove(broken.c_str());
  EXPECT_EQ(r.status, 2) << r.err;
  int parsed = -1;
  const std::string rows = ReadBackJson(r.out, &parsed);
  if (parsed == 127) GTEST_SKIP() << "python3 is not available";
  ASSERT_EQ(parsed, 0) << r.out << rows;  // stdout holds JSON lines and nothing else

  const uint64_t sourceSize = FileSize(source_), cleanedSize = FileSize(cleaned_);
  ASSERT_GT(cleanedSize, 0u);
  ASSERT_LT(cleanedSize, sourceSize);
  const std::map<std::string, std::string> expected[] = {
      {{"source", source_}, {"destination", cleaned_}, {"outcome", "kept"},
       {"bytesBefore", std::to_string(sourceSize)}, {"bytesAfter", std::to_string(cleanedSize)},
       {"bytesSaved", std::to_string(sourceSize - cleanedSize)}, {"entries", "3"},
       {"links", "1"}, {"unreadable", "0"}},
      {{"source", broken}, {"destination", "None"}, {"outcome", "source-not-opened"},
       {"bytesBefore", brokenSize}, {"bytesAfter", brokenSize}, {"bytesSaved", "0"},
       {"entries", "0"}, {"links", "0"}, {"unreadable", "0"},
       {"error", "Failed to open source archive."}},
      {{"source", cleaned_}, {"destination", "None"}, {"outcome", "nothing-saved"},
       {"bytesBefore", std::to_string(cleanedSize)}, {"bytesAfter", std::to_string(cleanedSize)},
       {"bytesSaved", "0"}, {"entries", "3"}, {"links", "1"}, {"unreadable", "0"}},
  };
  EXPECT_EQ(rows, Row(expected[0]) + Row(expected[1]) + Row(expected[2]));
  EXPECT_FALSE(Exists(twice));
  // Texts went to stderr: the error named with its archive, the total last.
  EXPECT_NE(r.err.find(broken + ": Failed to open source archive."), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("3 archives: "), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Consolidating"), std::string::npos) << r.err;
}

}  // namespace
