// Streams: the 32-bit fallbacks, references, 64-bit sizes and positions of
// the file type, and failures of the file type's queries.

#include <cstring>
#include <filesystem>

#include "grf/stream.h"
#include "support/sys_error.h"
#include "tests/grf/test_stream.h"
#include "tests/grf/grf_test_util.h"

namespace {

// The memory type has 32-bit slots only.
TEST(Stream, FallbacksAndReferences) {
  teststream::Memory file;
  file.bytes = fixture::ToBytes("0123456789");
  GrfStream* stream = nullptr;
  ASSERT_TRUE(teststream::OpenMemory(&file, nullptr, &stream));
  char buffer[4];
  uint32_t moved = 7;
  file.calls = 0;
  EXPECT_FALSE(StreamReadAt(stream, uint64_t{1} << 32, buffer, 4, &moved));
  EXPECT_EQ(file.calls, 0);
  EXPECT_TRUE(StreamReadAtExact(stream, 6, buffer, 4));
  EXPECT_EQ(std::memcmp(buffer, "6789", 4), 0);
  EXPECT_FALSE(StreamReadAtExact(stream, 8, buffer, 4));  // short
  uint64_t size = 0;
  ASSERT_TRUE(StreamGetSize(stream, &size));
  EXPECT_EQ(size, 10u);
  EXPECT_TRUE(StreamSetSize(stream, 4));
  EXPECT_EQ(file.bytes.size(), 4u);
  file.calls = 0;
  EXPECT_FALSE(StreamSetSize(stream, uint64_t{5} << 32));
  EXPECT_EQ(file.calls, 0);

  GrfStream* second = nullptr;
  StreamRetain(stream, &second);
  StreamRelease(&second);
  EXPECT_EQ(second, nullptr);
  EXPECT_FALSE(file.closed);
  StreamRelease(&stream);
  EXPECT_EQ(stream, nullptr);
  EXPECT_TRUE(file.closed);
}

TEST(Stream, FiveGigabyteFileKeepsItsSize) {
  grftest::TempFile path("fivegig");
  ASSERT_TRUE(path.Write(fixture::ToBytes("x")));
  std::error_code error;
  std::filesystem::resize_file(path.path(), uint64_t{5} << 30, error);
  if (error) GTEST_SKIP() << "no sparse file: " << error.message();
  GrfStream* stream = nullptr;
  ASSERT_TRUE(FileStreamCreate(path.c_str(), fileio::kGenericRead | fileio::kGenericWrite,
                               fileio::kShareRead, nullptr, fileio::kOpenExisting,
                               fileio::kAttributeNormal, kInvalidFile, nullptr, &stream));
  uint64_t size = 0;
  ASSERT_TRUE(StreamGetSize(stream, &size));
  EXPECT_EQ(size, uint64_t{5} << 30);
  uint32_t low = 0;
  EXPECT_FALSE(stream->ops->getSize32(StreamState(stream), &low));
  ASSERT_TRUE(StreamWriteAtExact(stream, (uint64_t{4} << 30) + 5, "far", 3));
  char back[3] = {};
  ASSERT_TRUE(StreamReadAtExact(stream, (uint64_t{4} << 30) + 5, back, 3));
  EXPECT_EQ(std::memcmp(back, "far", 3), 0);
  ASSERT_TRUE(StreamSetSize(stream, 100));
  ASSERT_TRUE(StreamGetSize(stream, &size));
  EXPECT_EQ(size, 100u);
  StreamRelease(&stream);
}

// A handle the system refuses: every query and transfer fails, none is
// taken for a success.
TEST(Stream, FailedQueriesOfTheFileTypeFail) {
  GrfStream* stream = nullptr;
  ASSERT_TRUE(FileStreamWrap(kInvalidFile, &stream));
  uint64_t size = 77;
  EXPECT_FALSE(StreamGetSize(stream, &size));
  uint32_t low = 0;
  EXPECT_FALSE(stream->ops->getSize32(StreamState(stream), &low));
  char buffer[4];
  EXPECT_FALSE(StreamReadAtExact(stream, 0, buffer, 4));
  EXPECT_FALSE(StreamWriteAtExact(stream, 0, "abcd", 4));
  EXPECT_FALSE(StreamSetSize(stream, 0));
  StreamRelease(&stream);
}

TEST(Stream, CreatedAlwaysOverAnExistingFileStartsEmpty) {
  grftest::TempFile path("create-always");
  ASSERT_TRUE(path.Write(fixture::ToBytes("old contents")));
  GrfStream* stream = nullptr;
  ASSERT_TRUE(FileStreamCreate(path.c_str(), fileio::kGenericRead | fileio::kGenericWrite, 0,
                               nullptr, fileio::kCreateAlways, fileio::kAttributeNormal,
                               kInvalidFile, nullptr, &stream));
  uint64_t size = 1;
  EXPECT_TRUE(StreamGetSize(stream, &size));
  EXPECT_EQ(size, 0u);
  StreamRelease(&stream);
  EXPECT_TRUE(path.Read().empty());
}

TEST(Stream, WrapFailureReportsOutOfMemory) {
  PoolInjectFailures(0, 1);
  GrfStream* stream = reinterpret_cast<GrfStream*>(&stream);
  EXPECT_FALSE(FileStreamWrap(kInvalidFile, &stream));
  PoolInjectFailures(0, 0);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(GetSystemError(), 14u);
}

}  // namespace
