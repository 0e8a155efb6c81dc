#include "app/drop_intake.h"
#include <gtest/gtest.h>
#include <string>
#include "support/pool.h"
#include "tests/fixtures/test_codec.h"
#include "tests/support/file_util_scratch.h"

namespace {
using namespace std::string_literals;
// The test codec library B, or a probe library beside it.
std::string Library(const char* probe = nullptr) {
  const auto b = fixture::TestCodecLibraryPath(fixture::CodecVariant::Compress2AndUncompress);
  return probe ? b.substr(0, b.rfind('\\') + 1) + "slimwick_probe_" + probe + ".dll" : b;
}
bool MarkerSet(const char* name) { return GetEnvironmentVariableA(name, nullptr, 0) != 0; }
DropKind Classify(const std::string& path) { return ClassifyDrop(1, path.size(), path.c_str()); }

TEST(DropIntake, ClassifiesByContentNotByExtension) {
  ScratchDir dir;
  const std::pair<std::string, DropKind> rows[] = {
      {"Master of Magic\0tail"s, DropKind::Archive},
      {"Master of Magic\0"s, DropKind::Archive},  // exactly 16 bytes
      {"Master of Magic!tail"s, DropKind::Unsupported},
      {"Master of Magic"s, DropKind::Unsupported},  // shorter than the head
      {"Event Horizon\0\xFF\xFFtail"s, DropKind::Archive},  // bytes 14, 15 ignored
      {"Event HorizonX\0\0tail"s, DropKind::Unsupported},
      {"some archive\x12"s, DropKind::Archive},  // ends in the trailer marker
      {"\x12 but not last"s, DropKind::Unsupported},
      {"RIFF\x24\0\0\0WAVEfmt "s, DropKind::Wave},
      {"RIFF\x24\0\0\0WAVE\x12"s, DropKind::Archive},  // the trailer test comes first
      {""s, DropKind::Unsupported},
  };
  int index = 0;
  for (const auto& [bytes, kind] : rows) {
    const std::string path = dir.Write("file" + std::to_string(index++) + ".txt", bytes);
    EXPECT_EQ(Classify(path), kind) << index;
    EXPECT_EQ(ClassifyDrop(2, path.size(), path.c_str()), DropKind::WrongCount);
    EXPECT_TRUE(DeleteFileA(path.c_str())) << "held open";
  }
  EXPECT_EQ(Classify(fixture::TestCodecLibraryPath(fixture::CodecVariant::CompressAndUncompress)), DropKind::CodecLibrary);
  EXPECT_EQ(Classify(Library()), DropKind::CodecLibrary) << "compress2, uncompress";
  EXPECT_EQ(Classify(Library("compress_only")), DropKind::Unsupported);
  EXPECT_EQ(Classify(Library("plain")), DropKind::Unsupported) << "exports, but no codec name";
  EXPECT_EQ(ClassifyDrop(1, 4000, nullptr), DropKind::PathTooLong) << "decided before reading";
}

TEST(DropIntake, CheckingALibraryRunsNoneOfItsCode) {
  const std::string probe = Library("codec");
  ASSERT_FALSE(MarkerSet("SLIMWICK_PROBE_CODEC")) << "the probe was loaded before the test";
  EXPECT_TRUE(IsCodecLibrary(probe.c_str()));
  EXPECT_FALSE(MarkerSet("SLIMWICK_PROBE_CODEC")) << "the library's entry point ran";
  EXPECT_EQ(GetModuleHandleA(probe.c_str()), nullptr) << "the library stayed mapped";
  // Loaded for real, the probe announces itself; a loaded library is still recognised.
  HMODULE loaded = LoadLibraryA(probe.c_str());
  ASSERT_NE(loaded, nullptr);
  EXPECT_TRUE(MarkerSet("SLIMWICK_PROBE_CODEC"));
  EXPECT_TRUE(IsCodecLibrary(probe.c_str()));
  EXPECT_EQ(GetModuleHandleA(probe.c_str()), loaded);
  FreeLibrary(loaded);
}

TEST(DropIntake, LaunchOutOfMemoryStartsNothingAndKeepsNothing) {
  const uint32_t launched = JobsLaunched();
  for (uint32_t skip : {0u, 1u}) {  // the host, then the job record
    PoolInjectFailures(skip, 1);
    EXPECT_EQ(LaunchJob(nullptr, nullptr, "C:\\data.grf"), LaunchResult::NoMemory) << skip;
    PoolInjectFailures(0, 0);
  }
  EXPECT_EQ(JobsLaunched(), launched);
  EXPECT_FALSE(IsJobRunning());
  EXPECT_STREQ(LaunchMessage(LaunchResult::NoMemory),
               "Your memory seems to be occupied by a heavy-weight as well. Try again later.");
}
}  // namespace
