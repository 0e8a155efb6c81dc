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

struct HeadCase {
  std::string_view bytes;
  bool expected;
  const char* what;
};

}  // namespace

TEST(DropIntake, ArchiveSignatureComparesSixteenBytesUpToTheFirstNul) {
  ScratchFolder folder("sig");
  ASSERT_TRUE(folder.ok());
  const HeadCase cases[] = {
      {"Master of Magic\0tail"sv, true, "classic signature, NUL in byte 15"},
      {"Master of Magic\0"sv, true, "exactly 16 bytes"},
      {"Master of Magic!tail"sv, false, "byte 15 not NUL"},
      {"Master of Magic"sv, false, "15 bytes: shorter than the head"},
      {"master of magic\0tail"sv, false, "letter case counts"},
      {"Event Horizon\0\xFF\xFFtail"sv, true, "wide signature; bytes 14 and 15 not looked at"},
      {"Event Horizon\0"sv, false, "14 bytes: shorter than the head"},
      {"Event HorizonX\0\0tail"sv, false, "byte 13 not NUL"},
      {""sv, false, "empty file"},
  };
  int index = 0;
  for (const HeadCase& c : cases) {
    const std::string path = folder / ("head" + std::to_string(index++) + ".txt");
    ASSERT_TRUE(apptest::WriteBytes(path, c.bytes));
    EXPECT_EQ(HasArchiveSignature(path.c_str()), c.expected) << c.what;
  }
  EXPECT_FALSE(HasArchiveSignature((folder / "missing.grf").c_str()));
}

TEST(DropIntake, TrailerIsALastByteOf0x12AndTheFileIsClosedAfterwards) {
  ScratchFolder folder("trail");
  ASSERT_TRUE(folder.ok());
  const HeadCase cases[] = {
      {"some archive\x12"sv, true, "ends in the marker"},
      {"\x12"sv, true, "one byte, the marker"},
      {"\x12 but not last"sv, false, "marker not at the end"},
      {"ends in 0x13\x13"sv, false, "another last byte"},
      {""sv, false, "empty file: no byte before the end"},
  };
  int index = 0;
  for (const HeadCase& c : cases) {
    const std::string path = folder / ("tail" + std::to_string(index++) + ".bin");
    ASSERT_TRUE(apptest::WriteBytes(path, c.bytes));
    EXPECT_EQ(HasArchiveTrailer(path.c_str()), c.expected) << c.what;
    // Not held open: a file opened without delete sharing could not be removed.
    EXPECT_TRUE(DeleteFileA(path.c_str())) << c.what;
  }
  EXPECT_FALSE(HasArchiveTrailer((folder / "missing.grf").c_str()));
}

TEST(DropIntake, WaveFileIsRecognisedByItsFirstFourBytesOnly) {
  ScratchFolder folder("wave");
  ASSERT_TRUE(folder.ok());
  const HeadCase cases[] = {
      {"RIFF\x24\0\0\0WAVEfmt "sv, true, "a WAV header"},
      {"RIFF"sv, true, "nothing else is examined"},
      {"RIFX\0\0\0\0"sv, false, "another tag"},
      {"riff\0\0\0\0"sv, false, "letter case counts"},
      {"RIF"sv, false, "too short"},
  };
  int index = 0;
  for (const HeadCase& c : cases) {
    const std::string path = folder / ("sound" + std::to_string(index++) + ".wav");
    ASSERT_TRUE(apptest::WriteBytes(path, c.bytes));
    EXPECT_EQ(IsWaveFile(path.c_str()), c.expected) << c.what;
  }
}

TEST(DropIntake, CodecLibraryNeedsACompressNameAndUncompress) {
  using fixture::CodecVariant;
  EXPECT_TRUE(IsCodecLibrary(fixture::TestCodecLibraryPath(CodecVariant::CompressAndUncompress).c_str()));
  EXPECT_TRUE(IsCodecLibrary(fixture::TestCodecLibraryPath(CodecVariant::Compress2AndUncompress).c_str()))
      << "compress2 stands in for compress";
  EXPECT_FALSE(IsCodecLibrary(ProbePath("compress_only").c_str())) << "uncompress missing";
  EXPECT_FALSE(IsCodecLibrary(ProbePath("plain").c_str())) << "exports, but none of the names";

  char self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
  EXPECT_FALSE(IsCodecLibrary(self)) << "a program without the exports";

  ScratchFolder folder("lib");
  ASSERT_TRUE(folder.ok());
  const std::string text = folder / "codec.dll";
  ASSERT_TRUE(apptest::WriteBytes(text, "MZ but nothing else"));
  EXPECT_FALSE(IsCodecLibrary(text.c_str())) << "not loadable";
  EXPECT_FALSE(IsCodecLibrary((folder / "missing.dll").c_str()));
}

TEST(DropIntake, CheckingALibraryRunsNoneOfItsCode) {
  const std::string probe = ProbePath("codec");
  ASSERT_FALSE(MarkerSet("SLIMWICK_PROBE_CODEC")) << "the probe was loaded before the test";
  EXPECT_TRUE(IsCodecLibrary(probe.c_str()));
  EXPECT_FALSE(MarkerSet("SLIMWICK_PROBE_CODEC")) << "the library's entry point ran";
  EXPECT_EQ(GetModuleHandleA(probe.c_str()), nullptr) << "the library stayed mapped";

  EXPECT_FALSE(IsCodecLibrary(ProbePath("plain").c_str()));
  EXPECT_FALSE(MarkerSet("SLIMWICK_PROBE_PLAIN"));

  // The probe does announce itself when it is loaded for real.
  HMODULE loaded = LoadLibraryA(probe.c_str());
  ASSERT_NE(loaded, nullptr);
  EXPECT_TRUE(MarkerSet("SLIMWICK_PROBE_CODEC"));
  // A library already loaded is still recognised, and stays loaded.
  EXPECT_TRUE(IsCodecLibrary(probe.c_str()));
  EXPECT_EQ(GetModuleHandleA(probe.c_str()), loaded);
  FreeLibrary(loaded);
}

TEST(DropIntake, WriteTestCreatesAndRemovesItsTemporaryFile) {
  ScratchFolder folder("write");
  ASSERT_TRUE(folder.ok());
  const std::string archive = folder / "data.grf";
  ASSERT_TRUE(apptest::WriteBytes(archive, "Master of Magic"sv));
  EXPECT_TRUE(CanCreateFilesBeside(archive.c_str()));
  EXPECT_EQ(folder.Count("zqt*.tmp"), 0) << "the temporary file was left behind";
  EXPECT_EQ(folder.Count("*"), 1);

  // A folder that does not exist, and a "folder" that is a file.
  EXPECT_FALSE(CanCreateFilesBeside((folder / "missing\\data.grf").c_str()));
  EXPECT_FALSE(CanCreateFilesBeside((archive + "\\inner.grf").c_str()));

  // Without a backslash the current folder is tested.
  char previous[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(sizeof previous, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(folder.path().c_str()));
  EXPECT_TRUE(CanCreateFilesBeside("data.grf"));
  SetCurrentDirectoryA(previous);
  EXPECT_EQ(folder.Count("zqt*.tmp"), 0);
}

TEST(DropIntake, ClassifiesByCountLengthAndContentNotByExtension) {
  ScratchFolder folder("kind");
  ASSERT_TRUE(folder.ok());
  const std::string archive = folder / "notes.txt";
  ASSERT_TRUE(apptest::WriteBytes(archive, "Master of Magic\0rest"sv));
  const std::string wave = folder / "sound.wav";
  ASSERT_TRUE(apptest::WriteBytes(wave, "RIFF\x24\0\0\0WAVE"sv));
  const std::string waveWithMarker = folder / "marker.wav";
  ASSERT_TRUE(apptest::WriteBytes(waveWithMarker, "RIFF\x24\0\0\0WAVE\x12"sv));
  const std::string text = folder / "archive.grf";
  ASSERT_TRUE(apptest::WriteBytes(text, "just some text"));

  auto classify = [](const std::string& path, uint32_t count = 1) {
    return ClassifyDrop(count, path.size(), path.c_str());
  };
  EXPECT_EQ(classify(archive), DropKind::Archive) << "a .txt with the signature";
  EXPECT_EQ(classify(archive, 0), DropKind::WrongCount);
  EXPECT_EQ(classify(archive, 2), DropKind::WrongCount);
  EXPECT_EQ(classify(wave), DropKind::Wave);
  EXPECT_EQ(classify(waveWithMarker), DropKind::Archive) << "the trailer test comes first";
  EXPECT_EQ(classify(text), DropKind::Unsupported) << "a .grf without signature or trailer";
  EXPECT_EQ(classify(fixture::TestCodecLibraryPath(fixture::CodecVariant::CompressAndUncompress)),
            DropKind::CodecLibrary);
  EXPECT_EQ(classify(ProbePath("compress_only")), DropKind::Unsupported);
  // The length decides before the file is looked at.
  EXPECT_EQ(ClassifyDrop(1, 260, nullptr), DropKind::PathTooLong);
  EXPECT_EQ(ClassifyDrop(1, 4000, nullptr), DropKind::PathTooLong);
}

TEST(DropIntake, PathOf259CharactersIsAcceptedAnd260Refused) {
  ScratchFolder folder("long");
  ASSERT_TRUE(folder.ok());
  // Folders stay below the 248 characters CreateDirectory allows.
  std::string dir = folder.path();
  while (dir.size() < 200) {
    const size_t length = std::min<size_t>(40, 200 - dir.size());
    dir += '\\';
    dir.append(length, 'd');
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr)) << dir;
  }
  std::string path = dir + "\\";
  path += std::string(259 - path.size() - 4, 'a') + ".grf";
  ASSERT_EQ(path.size(), 259u);
  ASSERT_TRUE(apptest::WriteBytes(path, "Master of Magic\0"sv));
  EXPECT_EQ(ClassifyDrop(1, path.size(), path.c_str()), DropKind::Archive);
  EXPECT_EQ(ClassifyDrop(1, path.size() + 1, path.c_str()), DropKind::PathTooLong);
}

TEST(DropIntake, MessagesOfTheOutcomes) {
  EXPECT_STREQ(DropMessage(DropKind::WrongCount),
               "Please drop only one fatty archive at a time. The window could break otherwise.");
  EXPECT_STREQ(DropMessage(DropKind::PathTooLong),
               "Cannot pull the dropped archive from that location. Please move it elsewhere "
               "and try again.");
  EXPECT_STREQ(DropMessage(DropKind::ReadOnlyLocation),
               "Your archive seems to be in a read-only location or you do not have enough "
               "privileges to create and write files in there.");
  EXPECT_EQ(DropMessage(DropKind::Archive), nullptr);
  EXPECT_STREQ(DropMessage(DropKind::Wave), "Fine, will play this once the archive is ready.");
  EXPECT_STREQ(DropMessage(DropKind::CodecLibrary), "I see, this one will need some support.");
  EXPECT_STREQ(DropMessage(DropKind::Unsupported),
               "This does not look like a supported GRF archive. The extension is usually "
               ".grf, .gpf, .gef or .gsf ...");
  EXPECT_EQ(LaunchMessage(LaunchResult::Started), nullptr);
  EXPECT_STREQ(LaunchMessage(LaunchResult::NoMemory),
               "Your memory seems to be occupied by a heavy-weight as well. Try again later.");
  EXPECT_STREQ(LaunchMessage(LaunchResult::NoThread),
               "This application does not feel like working right now. Try again later.");
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
}
