#include "app/drop_intake.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "support/pool.h"
#include "tests/app/app_test_util.h"
#include "tests/fixtures/test_codec.h"

using apptest::ScratchFolder;
using namespace std::string_view_literals;

namespace {

std::string ProbePath(const char* variant) {
  return apptest::BuildFile((std::string("slimwick_probe_") + variant + ".dll").c_str());
}

bool MarkerSet(const char* name) { return GetEnvironmentVariableA(name, nullptr, 0) != 0; }

}  // namespace

TEST(DropIntake, ClassifiesByContentNotByExtension) {
  ScratchFolder folder("kind");
  ASSERT_TRUE(folder.ok());
  struct Row {
    std::string_view bytes;
    DropKind kind;
    const char* what;
  } rows[] = {
      {"Master of Magic\0tail"sv, DropKind::Archive, "signature, NUL in byte 15"},
      {"Master of Magic\0"sv, DropKind::Archive, "exactly 16 bytes"},
      {"Master of Magic!tail"sv, DropKind::Unsupported, "byte 15 not NUL"},
      {"Master of Magic"sv, DropKind::Unsupported, "shorter than the head"},
      {"master of magic\0tail"sv, DropKind::Unsupported, "letter case counts"},
      {"Event Horizon\0\xFF\xFFtail"sv, DropKind::Archive, "wide signature; bytes 14, 15 ignored"},
      {"Event HorizonX\0\0tail"sv, DropKind::Unsupported, "byte 13 not NUL"},
      {"some archive\x12"sv, DropKind::Archive, "ends in the trailer marker"},
      {"\x12 but not last"sv, DropKind::Unsupported, "marker not at the end"},
      {"RIFF\x24\0\0\0WAVEfmt "sv, DropKind::Wave, "a WAV header"},
      {"RIFF\x24\0\0\0WAVE\x12"sv, DropKind::Archive, "the trailer test comes first"},
      {"riff\0\0\0\0"sv, DropKind::Unsupported, "letter case counts"},
      {"MZ but nothing else"sv, DropKind::Unsupported, "not a loadable library"},
      {""sv, DropKind::Unsupported, "empty file"},
  };
  int index = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    // The extensions lie: only the content counts.
    const std::string path = folder / ("file" + std::to_string(index++) + ".txt");
    ASSERT_TRUE(apptest::WriteBytes(path, row.bytes));
    EXPECT_EQ(ClassifyDrop(1, path.size(), path.c_str()), row.kind);
    EXPECT_EQ(ClassifyDrop(2, path.size(), path.c_str()), DropKind::WrongCount);
    // Nothing is held open: a file opened without delete sharing could not go.
    EXPECT_TRUE(DeleteFileA(path.c_str()));
  }
  using fixture::CodecVariant;
  const std::string libraries[][2] = {
      {fixture::TestCodecLibraryPath(CodecVariant::CompressAndUncompress), "codec"},
      {fixture::TestCodecLibraryPath(CodecVariant::Compress2AndUncompress), "codec"},
      {ProbePath("compress_only"), "uncompress missing"},
      {ProbePath("plain"), "exports, none of the names"},
  };
  for (const auto& library : libraries) {
    EXPECT_EQ(ClassifyDrop(1, library[0].size(), library[0].c_str()),
              library[1] == "codec" ? DropKind::CodecLibrary : DropKind::Unsupported)
        << library[1];
  }
  EXPECT_EQ(ClassifyDrop(0, 0, nullptr), DropKind::WrongCount);
  EXPECT_EQ(ClassifyDrop(1, 4000, nullptr), DropKind::PathTooLong) << "decided before reading";
}

TEST(DropIntake, PathOf259CharactersIsAcceptedAnd260Refused) {
  ScratchFolder folder("long");
  ASSERT_TRUE(folder.ok());
  // Folders stay below the 248 characters CreateDirectory allows.
  std::string dir = folder.path();
  while (dir.size() < 200) {
    dir += '\\';
    dir.append(std::min<size_t>(40, 200 - dir.size()), 'd');
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr)) << dir;
  }
  std::string path = dir + "\\";
  path += std::string(259 - path.size() - 4, 'a') + ".grf";
  ASSERT_TRUE(apptest::WriteBytes(path, "Master of Magic\0"sv));
  EXPECT_EQ(ClassifyDrop(1, path.size(), path.c_str()), DropKind::Archive);
  EXPECT_EQ(ClassifyDrop(1, path.size() + 1, path.c_str()), DropKind::PathTooLong);
}

TEST(DropIntake, CheckingALibraryRunsNoneOfItsCode) {
  const std::string probe = ProbePath("codec");
  ASSERT_FALSE(MarkerSet("SLIMWICK_PROBE_CODEC")) << "the probe was loaded before the test";
  EXPECT_TRUE(IsCodecLibrary(probe.c_str()));
  EXPECT_FALSE(MarkerSet("SLIMWICK_PROBE_CODEC")) << "the library's entry point ran";
  EXPECT_EQ(GetModuleHandleA(probe.c_str()), nullptr) << "the library stayed mapped";
  EXPECT_FALSE(IsCodecLibrary(ProbePath("plain").c_str()));
  EXPECT_FALSE(MarkerSet("SLIMWICK_PROBE_PLAIN"));

  // The probe does announce itself when it is loaded for real; a library
  // already loaded is still recognised, and stays loaded.
  HMODULE loaded = LoadLibraryA(probe.c_str());
  ASSERT_NE(loaded, nullptr);
  EXPECT_TRUE(MarkerSet("SLIMWICK_PROBE_CODEC"));
  EXPECT_TRUE(IsCodecLibrary(probe.c_str()));
  EXPECT_EQ(GetModuleHandleA(probe.c_str()), loaded);
  FreeLibrary(loaded);
}

TEST(DropIntake, WriteTestLeavesNothingBehind) {
  ScratchFolder folder("write");
  ASSERT_TRUE(folder.ok());
  const std::string archive = folder / "data.grf";
  ASSERT_TRUE(apptest::WriteBytes(archive, "Master of Magic"sv));
  EXPECT_TRUE(CanCreateFilesBeside(archive.c_str()));
  EXPECT_FALSE(CanCreateFilesBeside((folder / "missing\\data.grf").c_str()));
  EXPECT_FALSE(CanCreateFilesBeside((archive + "\\inner.grf").c_str()));
  // Without a backslash the current folder is tested.
  char previous[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(sizeof previous, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(folder.path().c_str()));
  EXPECT_TRUE(CanCreateFilesBeside("data.grf"));
  SetCurrentDirectoryA(previous);
  EXPECT_EQ(folder.Count(), 1) << "a temporary file was left behind";
}

TEST(DropIntake, LaunchOutOfMemoryStartsNothingAndKeepsNothing) {
  const uint32_t launched = JobsLaunched();
  const uint32_t liveBlocks = GetPoolCounters().liveBlocks;
  // The host, then the job record, cannot be allocated.
  for (uint32_t skip : {0u, 1u}) {
    PoolInjectFailures(skip, 1);
    EXPECT_EQ(LaunchJob(nullptr, nullptr, "C:\\data.grf"), LaunchResult::NoMemory) << skip;
    PoolInjectFailures(0, 0);
    EXPECT_EQ(GetPoolCounters().liveBlocks, liveBlocks) << skip;
  }
  EXPECT_EQ(JobsLaunched(), launched);
  EXPECT_FALSE(IsJobRunning());
  EXPECT_STREQ(LaunchMessage(LaunchResult::NoMemory),
               "Your memory seems to be occupied by a heavy-weight as well. Try again later.");
}
