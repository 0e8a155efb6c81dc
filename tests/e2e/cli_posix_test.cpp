// slimwick-cli as a user runs it: exit status, output, signals, closed pipe, hostile names, JSON.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <set>
#include "tests/e2e/e2e_util.h"
#include "tests/support/file_util_scratch.h"

namespace {
using fixture::Bytes;
namespace fs = std::filesystem;

struct Result {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
};
// Runs a program on the path; `stop` is sent once "Consolidating..." is out. With `terminal`,
// stdin and stdout are a terminal, and the run is killed after 20 s. With `whileFull`, stdout
// starts full and is read once that returns.
Result Exec(const std::vector<std::string>& args, int stop = 0, bool closedStdout = false, bool terminal = false,
            const std::function<void(pid_t)>& whileFull = nullptr) {
  const std::string errPath = fixture::TempPath("cli-err");
  int fds[2];
  Result r;
  if (terminal ? (fds[0] = posix_openpt(O_RDWR | O_NOCTTY)) < 0 || grantpt(fds[0]) || unlockpt(fds[0]) : pipe(fds) != 0)
    return r;
  if (closedStdout) close(fds[0]);
  for (char none = 0; whileFull && (fcntl(fds[1], F_SETFL, O_NONBLOCK) || write(fds[1], &none, 1) == 1);) {}
  if (whileFull) fcntl(fds[1], F_SETFL, 0);
  const pid_t pid = fork();
  if (pid == 0) {
    if (terminal && (setsid() < 0 || (fds[1] = open(ptsname(fds[0]), O_RDWR)) < 0 || dup2(fds[1], 0) < 0)) _exit(96);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), in = terminal ? 0 : open("/dev/null", O_RDONLY);
    if (err < 0 || in < 0 || dup2(fds[1], 1) < 0 || dup2(err, 2) < 0 || dup2(in, 0) < 0) _exit(98);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(97);
  }
  if (!terminal) close(fds[1]);
  if (whileFull) whileFull(pid);
  char buffer[4096];
  struct pollfd out {fds[0], POLLIN, 0};
  for (ssize_t n; !closedStdout && (poll(&out, 1, 20000) > 0 || kill(pid, SIGKILL)) && (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
    r.out.append(buffer, static_cast<size_t>(n));
    if (stop && r.out.find(terminal ? "Preparing..." : "Consolidating...") != std::string::npos) kill(pid, std::exchange(stop, 0));
  }
  if (!closedStdout) close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.err = ReadAll(errPath);
  std::remove(errPath.c_str());
  return r;
}

struct CliTest : ::testing::Test {
  // Enough work at the best level for a signal to find the run busy, and a duplicate.
  void SetUp() override {
    fixture::ArchiveSpec spec;
    for (int i = 0; i < 200; ++i)
      spec.entries.push_back(fixture::Entry("d\\" + std::to_string(i), fixture::MakeContent(32 * 1024, i)));
    spec.entries.push_back(fixture::Entry("again", fixture::MakeContent(32 * 1024, 0)));
    Write(spec);
  }
  void Write(const fixture::ArchiveSpec& spec) {
    original_ = fixture::BuildArchiveBytes(spec);
    ASSERT_TRUE(fixture::WriteBytesToFile(source_, original_));
  }
  // slimwick-cli, "@" standing for the archive.
  Result Cli(std::vector<std::string> args, int stop = 0, bool closedStdout = false, bool terminal = false,
             const std::function<void(pid_t)>& whileFull = nullptr) {
    for (std::string& a : args) a = a == "@" ? source_ : a;
    args.insert(args.begin(), std::string(std::getenv("SLIMWICK_TEST_BIN") ?: ".") + "/slimwick-cli");
    return Exec(args, stop, closedStdout, terminal, whileFull);
  }
  ScratchDir scratch_;
  std::string dir_ = scratch_.Folder(), source_ = dir_ + "/data.grf", cleaned_ = dir_ + "/data-cleaned.grf";
  Bytes original_;
};

TEST_F(CliTest, ExitStatusesAndWhatIsLeft) {
  const std::string longName = dir_ + "/" + std::string(251 - dir_.size(), 'x') + ".grf";  // 255: its copy's is too long
  const struct {
    std::vector<std::string> args;
    std::function<void()> setup;
    int status;
    std::string says;  // in stdout or stderr; "" for a silent run
    bool copy;         // a copy of the archive is at the cleaned name after; else it is as before
    int stop = 0;      // sent once the pass has started
    bool closedStdout = false;
  } rows[] = {
      {{"--version"}, nullptr, 0, "1.5.0.47", false},
      {{"--help"}, nullptr, 0, "Usage: slimwick-cli", false},
      {{}, nullptr, 2, "Usage", false},
      {{"--frobnicate", "@"}, nullptr, 2, "Usage", false},
      {{"--json"}, nullptr, 2, "Usage", false},
      {{"-j", "0", "@"}, nullptr, 2, "--jobs needs a number", false},
      {{"--jobs=65", "@"}, nullptr, 2, "--jobs needs a number", false},
      {{"--level", "13", "@"}, nullptr, 2, "--level needs a number", false},
      {{"/tmp/" + std::string(255, 'x')}, nullptr, 2, "Cannot pull the dropped archive from that location.", false},
      {{longName}, [&] { fs::copy_file(source_, longName); }, 2, "The slim version's name would be too long in this folder.", false},
      {{"--json", "/tmp/" + std::string(255, 'x')}, nullptr, 2, "{\"source\":\"/tmp/" + std::string(255, 'x') + "\",", false},
      {{"--json", "--dry-run", "@"}, nullptr, 2, "Failed to write the result of '" + source_ + "' to standard output.", false, 0, true},
      {{"--codec", "@", "@"}, nullptr, 2, "is not a codec library", false},
      {{"--yes", "--best", "@"}, nullptr, 2, "Stopped; no copy was kept.\n", false, SIGINT},
      {{"--yes", "--best", "@"}, nullptr, 2, "Stopped; no copy was kept.\n", false, SIGTERM},
      {{"--yes", "--best", "@"}, nullptr, 2, "Stopped; no copy was kept.\n", false, SIGHUP},
      {{"--yes", "@"}, nullptr, 0, "", true, 0, true},  // a closed pipe does not end the run
      {{"--dry-run", "@"}, [&] { fs::remove_all(cleaned_); }, 0, "Dry run, nothing was written. A clean would report:\n\nCongratulations!", false},
      {{"@"}, nullptr, 0, "Your archive lost", true},
      // Not a terminal and no --yes: the existing copy is kept, nothing saved.
      {{"@"}, nullptr, 1, "There already seems to be slim version of this archive around.", false},
      {{"--check", "@"}, nullptr, 0, "A clean would report", false},  // nothing asked
      {{"--quiet", "--yes", "--best", "-j", "3", "@"}, nullptr, 0, "", true},
      {{"@"}, [&] { fs::remove(cleaned_), fs::create_directory(cleaned_); }, 2, "in the way of the slim version", false},
      // A link at the cleaned name is replaced, never followed: a dangling one, one to itself.
      {{"@"}, [&] { fs::remove_all(cleaned_), fs::create_directory(dir_ + "/elsewhere"),
                    fs::create_symlink("elsewhere/gone.grf", cleaned_); }, 1, "There already seems", false},
      {{"--yes", "@"}, nullptr, 0, "Your archive lost", true},
      {{"--yes", "@"}, [&] { fs::remove(cleaned_), fs::create_symlink("data-cleaned.grf", cleaned_); }, 0, "Your archive lost", true},
      // A copy that fails names the entry, its control bytes escaped.
      {{"@"}, [&] {
         fs::remove_all(cleaned_);
         fixture::ArchiveSpec spec;
         spec.entries = {fixture::Entry("a.txt", "fine"), fixture::Entry("evil\x1b]0;owned\x07\x1b[2J\rx\ny.txt", "x")};
         spec.entries[1].offset = 0x7FFFFF00u;  // far past the end
         Write(spec);
       }, 2, "evil\\x1b]0;owned\\x07\\x1b[2J\\x0dx\\x0ay.txt", false},
      // So are those in archive names, wherever they are printed.
      {{"--dry-run", "@", dir_ + "/\x1b[2J.grf"}, nullptr, 2, "[2/2] " + dir_ + "/\\x1b[2J.grf\n", false},
      {{"--quiet", "@", dir_ + "/\x1b[2J.grf"}, nullptr, 2, dir_ + "/\\x1b[2J.grf: Failed to open source archive.", false},
  };
  for (const auto& row : rows) {
    if (row.setup) row.setup();
    const bool existed = fs::exists(fs::symlink_status(cleaned_));
    Bytes before;
    fixture::ReadBytesFromFile(cleaned_, &before);
    const Result r = Cli(row.args, row.stop, row.closedStdout);
    const std::string all = r.out + r.err;
    EXPECT_EQ(r.status, row.status) << row.says << "\n" << all;
    EXPECT_TRUE(row.says.empty() ? all.empty() : all.find(row.says) != std::string::npos) << row.says << "\n" << all;
    for (const char raw : {'\r', '\x1b', '\x07'}) EXPECT_EQ(all.find(raw), std::string::npos) << row.says;
    if (row.copy) ExpectSameContent(source_, cleaned_);
    else EXPECT_EQ(fs::exists(fs::symlink_status(cleaned_)), existed) << row.says;
    EXPECT_FALSE((row.copy && fs::is_symlink(cleaned_)) || fs::exists(dir_ + "/elsewhere/gone.grf")) << row.says;
    if (!row.copy && fs::is_regular_file(cleaned_)) ExpectBytes(cleaned_, before);
    EXPECT_TRUE(PartialFilesBeside(cleaned_).empty()) << row.says;
    ExpectBytes(source_, original_);
  }
}

TEST_F(CliTest, CopiesElsewhereButNeverOntoTheSource) {
  const std::string other = dir_ + "/other", second = dir_ + "/second.grf", x = other + "/x.grf";
  const std::string itself = "The slim version would take the place of the archive itself.";
  ASSERT_TRUE(fs::create_directory(other) && fs::copy_file(source_, second));
  ASSERT_EQ(link(source_.c_str(), (dir_ + "/hard.grf").c_str()) | symlink("data.grf", (dir_ + "/soft.grf").c_str()), 0);
  const struct {
    std::vector<std::string> args;
    int status;
    std::string says;
    std::set<std::string> copies;  // all that is in `other` afterwards
  } rows[] = {
      {{"--output", x, "@"}, 0, "Your archive lost", {"x.grf"}},
      {{"--yes", "--output-dir", other, "@", second}, 0, "2 archives: ", {"data-cleaned.grf", "second-cleaned.grf"}},
      {{"--dry-run", "--output", x, "@"}, 0, "Dry run", {}},
      {{"--dry-run", "--output-dir", other + "/", "@", second}, 0, "Dry run, nothing was written. 2 archives: ", {}},
      {{"--output", dir_ + "/../" + fs::path(dir_).filename().string() + "/./data.grf", "@"}, 2, itself, {}},
      {{"--output", dir_ + "/hard.grf", "@"}, 2, itself, {}},
      {{"--dry-run", "--output", dir_ + "/soft.grf", "@"}, 2, itself, {}},
      {{"--output", x, "@", second}, 2, "--output takes exactly one archive", {}},
      {{"--output-dir", other + "/missing", "@"}, 2, "The folder '" + other + "/missing' does not exist.", {}},
      {{"--output", other + "/missing/x.grf", "@"}, 2, "does not exist.", {}},
      {{"--output", other + "/" + std::string(255, 'y'), "@"}, 2, "' is too long for the copy.", {}},  // never cut short
      {{"--output", other + std::string(250 - other.size(), '/') + "x.grf", "@"}, 2, "name would be too long in this folder", {}},
      {{"--output-dir", other, "@", other + "/../data.grf"}, 2, "would both be written to '" + other + "/data-cleaned.grf'", {}},
      {{"@", dir_ + "/data"}, 2, "would both be written to '" + dir_ + "/data-cleaned.grf'", {}},
      {{"@", other + "/../data.grf"}, 2, "would both be written to '" + other + "/../data-cleaned.grf'", {}},
  };
  for (const auto& row : rows) {
    for (const auto& entry : fs::directory_iterator(other)) fs::remove(entry.path());
    const Result r = Cli(row.args);
    EXPECT_EQ(r.status, row.status) << row.says << "\n" << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(row.says), std::string::npos) << row.says << "\n" << r.out << r.err;
    std::set<std::string> found, expected = {"data.grf", "hard.grf", "other", "second.grf", "soft.grf"};  // the sources and the copies, nothing more
    for (const std::string& copy : row.copies) expected.insert("other/" + copy);
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) found.insert(entry.path().lexically_relative(dir_).string());
    EXPECT_EQ(found, expected) << row.says;
    for (const std::string& copy : row.copies) ExpectSameContent(copy.starts_with("second") ? second : source_, other + "/" + copy);
    EXPECT_TRUE(fs::is_symlink(dir_ + "/soft.grf"));
    ExpectBytes(source_, original_);
  }
}

TEST_F(CliTest, BatchGoesOnAfterAFailureAndJsonTellsWhatIsOnDisk) {
  // An archive, a file that is no archive, and the archive's copy, which
  // exists only once the first is done and then saves nothing more.
  const std::string broken = scratch_.Write("broken.grf", "plain text, not an archive");
  const Result dry = Cli({"--dry-run", "--json", source_});  // measures the copy made next
  const Result r = Cli({"--json", source_, broken, cleaned_});
  EXPECT_EQ(r.status, 2) << r.err;
  const std::string lines = scratch_.Write("lines.json", r.out);
  // Each line as python3's json module reads it: sorted "member=value", null as None,
  // "seconds" (a number >= 0) left out. Stdout holds JSON lines and nothing else.
  const Result parsed = Exec({"python3", "-c", "import json, sys\nfor line in open(sys.argv[1]):\n    o = json.loads(line)\n"
      "    assert o.pop('seconds') >= 0\n    print('\\t'.join(f'{k}={v}' for k, v in sorted(o.items())))", lines});
  if (parsed.status == 97) GTEST_SKIP() << "python3 is not available";
  ASSERT_EQ(parsed.status, 0) << r.out << parsed.err;
  const std::string in = std::to_string(fs::file_size(source_)), out = std::to_string(fs::file_size(cleaned_));
  const std::string saved = std::to_string(fs::file_size(source_) - fs::file_size(cleaned_));
  EXPECT_EQ(parsed.out,
            "bytesAfter=" + out + "\tbytesBefore=" + in + "\tbytesSaved=" + saved + "\tdestination=" + cleaned_ +
            "\tentries=201\tlinks=1\toutcome=kept\tsource=" + source_ + "\tunreadable=0\n"
            "bytesAfter=26\tbytesBefore=26\tbytesSaved=0\tdestination=None\tentries=0\terror=Failed to open source "
            "archive.\tlinks=0\toutcome=source-not-opened\tsource=" + broken + "\tunreadable=0\n"
            "bytesAfter=" + out + "\tbytesBefore=" + out + "\tbytesSaved=0\tdestination=None\tentries=201\tlinks=1"
            "\toutcome=nothing-saved\tsource=" + cleaned_ + "\tunreadable=0\n");
  EXPECT_FALSE(fs::exists(dir_ + "/data-cleaned-cleaned.grf"));
  EXPECT_EQ(dry.status, 0);
  EXPECT_NE(dry.out.find("\"outcome\":\"would-save\",\"bytesBefore\":" + in + ",\"bytesAfter\":" + out), std::string::npos) << dry.out;
  // Texts went to stderr: the error named with its archive, the total last.
  EXPECT_NE(r.err.find(broken + ": Failed to open source archive."), std::string::npos) << r.err;
  EXPECT_TRUE(r.err.find("3 archives: ") != std::string::npos && r.err.ends_with(" 1 failed.\n")) << r.err;
  EXPECT_EQ(r.err.find("Consolidating"), std::string::npos) << r.err;
}

TEST_F(CliTest, AStopIsToldOnlyWhenItKeptNoCopy) {
  // At the question, even before the wait for an answer has begun: the run ends, the old copy stays.
  ASSERT_TRUE(fixture::WriteBytesToFile(cleaned_, fixture::ToBytes("old")));
  fixture::ArchiveSpec many;
  for (int i = 0; i < 30000; ++i) many.entries.push_back(fixture::Entry(std::to_string(i), "x"));
  Write(many);
  Result r = Cli({source_}, SIGINT, false, true);
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("Stopped; no copy was kept."), std::string::npos) << r.err;
  ExpectBytes(cleaned_, fixture::ToBytes("old"));
  // Once the copy has its name (here the run waits to write its line), it is kept, and said so.
  r = Cli({"--json", "--yes", source_}, 0, false, false, [&](pid_t pid) {
    for (int i = 0; i < 2000 && fs::file_size(cleaned_) == 3; ++i) usleep(10000);
    kill(pid, SIGTERM);
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"outcome\":\"kept\""), std::string::npos);
  EXPECT_EQ(r.err.find("Stopped"), std::string::npos) << r.err;
  ExpectSameContent(source_, cleaned_);
}
}  // namespace
