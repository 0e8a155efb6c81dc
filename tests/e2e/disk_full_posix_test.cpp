// A tmpfs (needs root) full during the pass, at finalize or before: a message, no copy.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>
#include <cstring>
#include "tests/e2e/e2e_util.h"
#include "tests/support/file_util_scratch.h"

namespace {
using fixture::Bytes;
// Incompressible entries with names that compress badly.
Bytes Archive(int entries, size_t each) {
  fixture::ArchiveSpec spec;
  for (int i = 0; i < entries; ++i) {
    std::string name = "d\\";
    for (uint8_t b : fixture::MakeContent(12, 5000 + i, false)) name += static_cast<char>('a' + b % 26);
    spec.entries.push_back(fixture::Entry(name, fixture::MakeContent(each, 100 + i, false)));
  }
  return fixture::BuildArchiveBytes(spec);
}
void FillUp(const std::string& dir) {
  const int fd = open((dir + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  const std::vector<char> chunk(65536, 'f');
  for (size_t size = chunk.size(); size; size /= 2)
    while (write(fd, chunk.data(), size) > 0) {}
  close(fd);
}

TEST(DiskFull, NoCopyAndAClearMessageWheneverTheSpaceRunsOut) {
  const struct {
    const char* size;
    Bytes archive;
    const char* fillAt;  // status text at which the rest is taken
    JobOutcome outcome;
    std::string error;  // the start of it
  } rows[] = {
      {"512k", Archive(10, 30000), nullptr, JobOutcome::PassFailed, "Failed to copy item 'd\\"},
      {"1m", Archive(800, 64), "Finalizing...", JobOutcome::FinalizeFailed,
       "Your archive failed to finalize, you might not have enough disk space available."},
      {"256k", Archive(2, 2000), "Preparing...", JobOutcome::DestinationFailed, "Failed to create destination archive."},
  };
  for (const auto& row : rows) {
    const ScratchDir mountPoint;
    const std::string dir = mountPoint.Folder(), source = dir + "/data.grf", cleaned = dir + "/data-cleaned.grf";
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, (std::string("size=") + row.size).c_str()) != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    ASSERT_TRUE(fixture::WriteBytesToFile(source, row.archive));
    RecordingHost host;
    host.onCall = [&](const HostCall& call) {
      if (row.fillAt && call.text == row.fillAt) FillUp(dir);
    };
    EXPECT_EQ(RunJob(&host, source), row.outcome) << row.size;
    const std::vector<std::string> errors = host.Texts(HostCall::kShowError);
    EXPECT_TRUE(errors.size() == 1 && errors[0].starts_with(row.error)) << row.size;
    EXPECT_EQ(host.Count(HostCall::kShowReport), 0u);
    EXPECT_FALSE(std::filesystem::exists(cleaned));
    EXPECT_TRUE(PartialFilesBeside(cleaned).empty());
    ExpectBytes(source, row.archive);
    if (row.fillAt) {  // with the space back the same job gets to its report
      unlink((dir + "/filler").c_str());
      RecordingHost again;
      RunJob(&again, source);
      EXPECT_EQ(again.Count(HostCall::kShowReport), 1u);
    }
    umount2(dir.c_str(), MNT_DETACH);
  }
}
}  // namespace
