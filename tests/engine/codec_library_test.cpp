// A codec library's hooks: compress or else compress2, and uncompress; only its own exports.

#include "engine/codec_library.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include "tests/fixtures/archive_builder.h"
#include "tests/fixtures/test_codec.h"

TEST(CodecLibrary, HooksOfEveryVariantAndThePathInUse) {
  std::vector<std::string> paths = {fixture::TestCodecLibraryPath(fixture::CodecVariant::CompressAndUncompress),
                                    fixture::TestCodecLibraryPath(fixture::CodecVariant::Compress2AndUncompress)};
#ifndef _WIN32
  const char* bin = std::getenv("SLIMWICK_TEST_BIN");
  // It links libz.so, which exports compress; it exports only compress2 and uncompress.
  paths.push_back(std::string(bin ? bin : ".") + "/slimwick_test_codec_c.so");
#endif
  const auto expectWorking = [](const CodecHooks& hooks, const std::string& path) {
    const fixture::Bytes plain = fixture::MakeContent(3000, 8);
    fixture::Bytes packed(4000), back(plain.size());
    unsigned long packedLength = packed.size(), backLength = back.size();
    ASSERT_TRUE(hooks.compress && hooks.uncompress) << path;
    ASSERT_EQ(hooks.compress(packed.data(), &packedLength, plain.data(), plain.size()), 0);
    EXPECT_NE(packed[0], 0x78) << path;  // the library's own format, not zlib
    ASSERT_EQ(hooks.uncompress(back.data(), &backLength, packed.data(), packedLength), 0);
    EXPECT_TRUE(back == plain && backLength == plain.size()) << path;
  };
  for (const std::string& path : paths) {
    LibraryHandle module = nullptr;
    ASSERT_TRUE(LoadLibraryByName(path.c_str(), &module)) << path;
    EXPECT_TRUE(HasCodecExports(module));
    EXPECT_EQ(GetLibrarySymbol(module, "compress") != nullptr, path == paths[0]) << path;
    expectWorking(FindCodecHooks(module), path);
    FreeLibraryModule(module);
  }
  SetCodecLibraryPath(std::string(400, 'p').c_str());
  EXPECT_EQ(std::string(CodecLibraryPath).size(), sizeof CodecLibraryPath - 1);
  SetCodecLibraryPath(paths[0].c_str());
  expectWorking(ReloadCodecLibrary(), paths[0]);
  ClearCodecLibraryPath();
  EXPECT_TRUE(ReloadCodecLibrary().compress == nullptr && LoadedCodecLibrary == nullptr);
}
