// A codec library's hooks: compress or else compress2, and uncompress; only its own exports.

#include "engine/codec_library.h"
#include "support/sys_error.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include "tests/fixtures/archive_builder.h"
#include "tests/grf/grf_test_util.h"
#include "tests/fixtures/test_codec.h"
#ifdef _WIN32
#include <windows.h>
bool IsLoaded(const std::string& path) { return GetModuleHandleA(path.c_str()) != nullptr; }
#else
#include <dlfcn.h>
bool IsLoaded(const std::string& path) { void* m = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD); return m && !dlclose(m); }
#endif

TEST(CodecLibrary, EveryVariantsHooksWriteAndReadTheArchiveTheyAreInstalledOn) {
  std::vector<std::string> paths = {fixture::TestCodecLibraryPath(fixture::CodecVariant::CompressAndUncompress),
                                    fixture::TestCodecLibraryPath(fixture::CodecVariant::Compress2AndUncompress)};
#ifndef _WIN32
  const char* bin = std::getenv("SLIMWICK_TEST_BIN");
  // It links libz.so, which exports compress; it exports only compress2 and uncompress.
  paths.push_back(std::string(bin ? bin : ".") + "/slimwick_test_codec_c.so");
#endif
  // The hooks belong to the archive they are installed on: its entries are
  // written in the library's format (not zlib's) and read back through it.
  const fixture::Bytes plain = fixture::MakeContent(3000, 8);
  CodecLibrary codec;  // each load lets the one before go
  for (const std::string& path : paths) {
    LibraryHandle module = nullptr;
    ASSERT_TRUE(LoadLibraryByName(path.c_str(), &module)) << path;
    EXPECT_TRUE(HasCodecExports(module));
    EXPECT_EQ(GetLibrarySymbol(module, "compress") != nullptr, path == paths[0]) << path;
    EXPECT_TRUE(FreeLibraryModule(module));
    codec.Load(path.c_str());
    ASSERT_TRUE(codec.Loaded()) << path;
    grftest::TempFile file("codec-hooks");
    grftest::Archive archive = grftest::OpenWritable(file);
    codec.Install(archive.a);
    ASSERT_TRUE(GrfPutData(archive.a, "a.bin", plain.data(), static_cast<uint32_t>(plain.size())));
    GrfBlockInfo info{};
    fixture::Bytes block(plain.size() + 64), back(plain.size());
    ASSERT_TRUE(GrfGetEntryInfo(archive.a, "a.bin", &info) && GrfReadBlock(archive.a, &info, block.data(), static_cast<uint32_t>(block.size())));
    EXPECT_TRUE(info.viaHook && block[0] != 0x78) << path;  // the library's own format
    uint32_t size = 0;
    EXPECT_TRUE(GrfReadEntry(archive.a, "a.bin", back.data(), static_cast<uint32_t>(back.size()), &size) && back == plain) << path;
  }
  codec.Load("");
  EXPECT_FALSE(codec.Loaded());
  LibraryHandle none = nullptr;  // no such library, and none given: the codes Windows gives
  EXPECT_TRUE(!LoadLibraryByName((paths[0] + ".absent").c_str(), &none) && GetSystemError() == syserr::kModNotFound &&
              !FreeLibraryModule(none) && !GetLibrarySymbol(none, "compress") && GetSystemError() == syserr::kInvalidHandle);
  for (const std::string& path : paths) EXPECT_FALSE(IsLoaded(path)) << path;
  CodecLibrary().Load(paths[0].c_str());  // let go with its holder
  EXPECT_FALSE(IsLoaded(paths[0]));
}
