// Finding a codec library's hooks: compress or else compress2 (through an
// adapter supplying the default level), and uncompress — only the library's
// own exports count.

#include "engine/codec_library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fixtures/archive_builder.h"
#include "tests/fixtures/test_codec.h"

namespace {

// Round trip through the hooks; the library's format is not plain zlib.
void ExpectWorkingHooks(const CodecHooks& hooks) {
  ASSERT_NE(hooks.compress, nullptr);
  ASSERT_NE(hooks.uncompress, nullptr);
  const fixture::Bytes plain = fixture::MakeContent(3000, 8);
  std::vector<unsigned char> packed(4000);
  unsigned long packedLength = packed.size();
  ASSERT_EQ(hooks.compress(packed.data(), &packedLength, plain.data(), plain.size()), 0);
  EXPECT_NE(packed[0], 0x78);  // not a zlib header
  std::vector<unsigned char> back(plain.size());
  unsigned long backLength = back.size();
  ASSERT_EQ(hooks.uncompress(back.data(), &backLength, packed.data(), packedLength), 0);
  EXPECT_EQ(backLength, plain.size());
  EXPECT_TRUE(std::equal(back.begin(), back.end(), plain.begin()));
}

TEST(CodecLibrary, HooksOfBothVariants) {
  for (auto variant : {fixture::CodecVariant::CompressAndUncompress,
                       fixture::CodecVariant::Compress2AndUncompress}) {
    LibraryHandle module = nullptr;
    const std::string path = fixture::TestCodecLibraryPath(variant);
    ASSERT_TRUE(LoadLibraryByName(path.c_str(), &module)) << path;
    EXPECT_TRUE(HasCodecExports(module));
    ExpectWorkingHooks(FindCodecHooks(module));
    FreeLibraryModule(module);
  }
  EXPECT_EQ(FindCodecHooks(nullptr).compress, nullptr);
}

#ifndef _WIN32
TEST(CodecLibrary, ExportsOfDependenciesDoNotCount) {
  const char* bin = std::getenv("SLIMWICK_TEST_BIN");
  const std::string path = std::string(bin ? bin : ".") + "/slimwick_test_codec_c.so";
  LibraryHandle module = nullptr;
  ASSERT_TRUE(LoadLibraryByName(path.c_str(), &module)) << path;
  // The library links libz.so, which exports compress; the library itself
  // exports only compress2 and uncompress.
  EXPECT_EQ(GetLibrarySymbol(module, "compress"), nullptr);
  ExpectWorkingHooks(FindCodecHooks(module));
  FreeLibraryModule(module);
}
#endif

TEST(CodecLibrary, PathIsKeptBoundedAndReloadedPerOpen) {
  const std::string longPath(400, 'p');
  SetCodecLibraryPath(longPath.c_str());
  EXPECT_EQ(std::string(CodecLibraryPath).size(), sizeof CodecLibraryPath - 1);
  SetCodecLibraryPath(fixture::TestCodecLibraryPath(fixture::CodecVariant::CompressAndUncompress).c_str());
  ExpectWorkingHooks(ReloadCodecLibrary());
  EXPECT_NE(LoadedCodecLibrary, nullptr);
  ClearCodecLibraryPath();
  const CodecHooks none = ReloadCodecLibrary();
  EXPECT_EQ(LoadedCodecLibrary, nullptr);
  EXPECT_EQ(none.compress, nullptr);
  EXPECT_EQ(none.uncompress, nullptr);
}

}  // namespace
