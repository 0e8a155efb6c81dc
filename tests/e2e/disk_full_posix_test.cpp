// Cleaning onto a disk that really runs out of space: a small memory file
// system is mounted for each test (this needs root; without it the tests
// skip). Whether the space runs out during the pass, right before finalize,
// or before the destination exists, the job reports it, leaves no copy, and
// the source bytes never change. The library itself fails finalize with
// GRF_E_IO_GROW and keeps the previous table.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/codec_library.h"
#include "engine/consolidation_job.h"
#include "grf/archive.h"
#include "support/pool.h"
#include "tests/e2e/leftovers.h"
#include "tests/engine/recording_host.h"
#include "tests/fixtures/archive_builder.h"

namespace {

using fixture::Bytes;

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

class DiskFull : public ::testing::Test {
 protected:
  void TearDown() override {
    // Whatever happened, no temporary file of the copy is left behind.
    if (mounted_) {
      EXPECT_TRUE(PartialFilesBeside(cleaned_).empty());
      umount2(dir_.c_str(), MNT_DETACH);
    }
    if (!dir_.empty()) rmdir(dir_.c_str());
    ClearCodecLibraryPath();
  }

  // Mounts a memory file system of `size` bytes; false (and a skip) when
  // this process may not mount.
  bool Mount(const char* size) {
    char pattern[] = "/tmp/slimwick-diskfull-XXXXXX";
    if (!mkdtemp(pattern)) return false;
    dir_ = pattern;
    const std::string options = std::string("size=") + size;
    if (mount("tmpfs", dir_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      skipReason_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
      return false;
    }
    mounted_ = true;
    source_ = dir_ + "/data.grf";
    cleaned_ = dir_ + "/data-cleaned.grf";
    ClearCodecLibraryPath();
    return true;
  }

  // Writes a filler file until the file system refuses more.
  void FillUp() {
    const int fd = open((dir_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const std::vector<char> chunk(65536, 'f');
    while (write(fd, chunk.data(), chunk.size()) > 0) {
    }
    // Whatever is left is smaller than a chunk: take it byte by byte.
    while (write(fd, chunk.data(), 1) > 0) {
    }
    close(fd);
  }
  void FreeFiller() { unlink((dir_ + "/filler").c_str()); }

  uint64_t FreeBytes() const {
    struct statvfs s {};
    statvfs(dir_.c_str(), &s);
    return static_cast<uint64_t>(s.f_bavail) * s.f_frsize;
  }

  JobOutcome RunJob(RecordingHost* host) {
    ConsolidationJob* job = CreateConsolidationJob(host, source_.c_str(), false, nullptr);
    EXPECT_NE(job, nullptr);
    return ExecuteConsolidationJob(job);
  }

  void ExpectSourceUnchanged(const Bytes& original) {
    Bytes now;
    ASSERT_TRUE(fixture::ReadBytesFromFile(source_, &now));
    EXPECT_TRUE(now == original);
  }

  std::string dir_, source_, cleaned_, skipReason_;
  bool mounted_ = false;
};

#define MOUNT_OR_SKIP(size)                      \
  do {                                           \
    if (!Mount(size)) GTEST_SKIP() << skipReason_; \
  } while (0)

// Incompressible entries, copied byte for byte: the copy is as large as the source.
Bytes LargeArchive(int entries, size_t each) {
  fixture::ArchiveSpec spec;
  for (int i = 0; i < entries; ++i) {
    spec.entries.push_back(fixture::Entry("data\\part" + std::to_string(i) + ".bin",
                                          fixture::MakeContent(each, 100 + i, false)));
  }
  return fixture::BuildArchiveBytes(spec);
}

// A name that compresses badly, so that many of them make a table of
// several pages (more than the slack of any file's last page).
std::string NoisyName(int i) {
  std::string name = "dir\\";
  for (uint8_t b : fixture::MakeContent(12, 5000 + i, false)) name += static_cast<char>('a' + b % 26);
  return name;
}

Bytes ArchiveWithALargeTable() {
  fixture::ArchiveSpec spec;
  for (int i = 0; i < 800; ++i)
    spec.entries.push_back(fixture::Entry(NoisyName(i), fixture::MakeContent(64, i, false)));
  return fixture::BuildArchiveBytes(spec);
}

TEST_F(DiskFull, SpaceRunningOutDuringThePassStopsItAndLeavesNoCopy) {
  MOUNT_OR_SKIP("512k");
  const Bytes original = LargeArchive(10, 30000);  // about 300 KB
  ASSERT_TRUE(fixture::WriteBytesToFile(source_, original));
  ASSERT_LT(FreeBytes(), original.size());
  const uint64_t freeBefore = FreeBytes();
  const uint32_t live = GetPoolCounters().liveBlocks;

  RecordingHost host;
  EXPECT_EQ(RunJob(&host), JobOutcome::PassFailed);
  const std::vector<std::string> errors = host.Texts(HostCall::kShowError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("Failed to copy item 'data\\part", 0), 0u) << errors[0];
  EXPECT_EQ(host.Count(HostCall::kShowReport), 0u);
  EXPECT_FALSE(Exists(cleaned_));
  ExpectSourceUnchanged(original);
  EXPECT_EQ(FreeBytes(), freeBefore);
  EXPECT_EQ(GetPoolCounters().liveBlocks, live);
}

TEST_F(DiskFull, SpaceRunningOutAtFinalizeIsReportedAndTheCopyDeleted) {
  MOUNT_OR_SKIP("1m");
  const Bytes original = ArchiveWithALargeTable();
  ASSERT_TRUE(fixture::WriteBytesToFile(source_, original));
  const uint64_t freeBefore = FreeBytes();
  const uint32_t live = GetPoolCounters().liveBlocks;

  RecordingHost host;
  // Everything left is taken just before the table is written.
  host.onCall = [this](const HostCall& call) {
    if (call.kind == HostCall::kSetStatusText && call.text == "Finalizing...") FillUp();
  };
  EXPECT_EQ(RunJob(&host), JobOutcome::FinalizeFailed);
  EXPECT_EQ(host.Texts(HostCall::kShowError),
            std::vector<std::string>{
                "Your archive failed to finalize, you might not have enough disk space available."});
  EXPECT_EQ(host.Count(HostCall::kShowReport), 0u);
  EXPECT_FALSE(Exists(cleaned_));
  ExpectSourceUnchanged(original);
  FreeFiller();
  EXPECT_EQ(FreeBytes(), freeBefore);
  EXPECT_EQ(GetPoolCounters().liveBlocks, live);

  // With the space back the same job gets to its report.
  RecordingHost again;
  const JobOutcome outcome = RunJob(&again);
  EXPECT_TRUE(outcome == JobOutcome::NothingSaved || outcome == JobOutcome::CleanedCopyKept);
  EXPECT_TRUE(again.Texts(HostCall::kShowError).empty());
}

TEST_F(DiskFull, NoRoomForTheNewArchiveLeavesNoFileBehind) {
  MOUNT_OR_SKIP("256k");
  const Bytes original = LargeArchive(2, 2000);
  ASSERT_TRUE(fixture::WriteBytesToFile(source_, original));
  FillUp();
  RecordingHost host;
  EXPECT_EQ(RunJob(&host), JobOutcome::DestinationFailed);
  EXPECT_EQ(host.Texts(HostCall::kShowError),
            std::vector<std::string>{"Failed to create destination archive."});
  EXPECT_FALSE(Exists(cleaned_));
  ExpectSourceUnchanged(original);
}

TEST_F(DiskFull, FinalizeOnAFullDiskKeepsThePreviousTableUntilThereIsRoom) {
  MOUNT_OR_SKIP("1m");
  fixture::ArchiveSpec spec;
  spec.entries.push_back(fixture::Entry("a.txt", fixture::MakeContent(5000, 1)));
  const fixture::BuiltArchive built = fixture::BuildArchive(spec);
  const std::string path = dir_ + "/lib.grf";
  ASSERT_TRUE(fixture::WriteBytesToFile(path, built.bytes));
  const Bytes data = fixture::MakeContent(64, 2);

  GrfArchive* archive = nullptr;
  ASSERT_TRUE(GrfOpen(path.c_str(), 0, nullptr, &archive));
  // Many small entries: a table that needs pages of its own.
  for (int i = 0; i < 600; ++i) ASSERT_TRUE(GrfPutData(archive, NoisyName(i).c_str(), data.data(), 64));
  FillUp();
  EXPECT_FALSE(GrfFinalize(archive));
  EXPECT_EQ(GrfGetLastStatus(archive), GRF_E_IO_GROW);
  EXPECT_TRUE(archive->flags & GRF_STATE_DIRTY);
  {
    // Another reader still sees the archive as it was.
    GrfArchive* reader = nullptr;
    ASSERT_TRUE(GrfOpen(path.c_str(), GRF_OPEN_READ_ONLY, nullptr, &reader));
    std::vector<unsigned char> content(5000);
    uint32_t size = 0;
    EXPECT_TRUE(GrfReadEntry(reader, "a.txt", content.data(), 5000, &size));
    EXPECT_TRUE(Bytes(content.begin(), content.end()) == built.expected[0].content);
    EXPECT_FALSE(GrfReadEntry(reader, NoisyName(0).c_str(), nullptr, 0, &size));
    EXPECT_EQ(GrfGetLastStatus(reader), GRF_E_NOT_FOUND);
    GrfClose(&reader);
  }
  FreeFiller();
  EXPECT_TRUE(GrfFinalize(archive));
  GrfClose(&archive);
  GrfArchive* reader = nullptr;
  ASSERT_TRUE(GrfOpen(path.c_str(), GRF_OPEN_READ_ONLY, nullptr, &reader));
  uint32_t size = 0;
  std::vector<unsigned char> content(64);
  EXPECT_TRUE(GrfReadEntry(reader, NoisyName(599).c_str(), content.data(), 64, &size));
  EXPECT_TRUE(Bytes(content.begin(), content.end()) == data);
  GrfClose(&reader);
}

}  // namespace
