// Streams: the type registry, the 32-bit fallbacks, references and the file type.

#include <cstring>
#include <filesystem>

#include "grf/stream.h"
#include "support/sys_error.h"
#include "tests/grf/mem_stream.h"
#include "tests/grf/grf_test_util.h"

namespace {

using grftest::MemFile;

// Any table will do for registrations that are never used.
const GrfStreamOps kOtherOps = *grftest::MemStreamOps();
constexpr uint32_t kOtherTag = 0x4F544852;

TEST(Stream, RegistryFallbacksAndReferences) {
  EXPECT_TRUE(FileStreamRegistered());
  EXPECT_FALSE(StreamRegisterType(stream::kFileTag, &kOtherOps));  // tag present

  MemFile file;
  file.bytes = fixture::ToBytes("0123456789");
  GrfStream* stream = nullptr;
  ASSERT_TRUE(grftest::MemStreamCreate(&file, &stream));  // registers the memory type
  EXPECT_EQ(stream->refCount, 1u);
  EXPECT_EQ(stream->typeTag, grftest::kMemStreamTag);
  MemFile* data = &file;
  GrfStream* other = nullptr;
  EXPECT_FALSE(StreamCreate(grftest::kMemStreamTag, &data, 3, &other));  // wrong data size
  EXPECT_EQ(other, nullptr);

  // Beyond 4 GiB without slot 9 the type is not called.
  char buffer[4];
  uint32_t moved = 7;
  file.calls = 0;
  EXPECT_FALSE(StreamReadAt(stream, uint64_t{1} << 32, buffer, 4, &moved));
  EXPECT_EQ(file.calls, 0);
  EXPECT_TRUE(StreamReadAtExact(stream, 6, buffer, 4));
  EXPECT_EQ(std::memcmp(buffer, "6789", 4), 0);
  EXPECT_FALSE(StreamReadAtExact(stream, 8, buffer, 4));  // short
  // Sizes through slots 5 and 6 when the control answers false.
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
  EXPECT_EQ(stream->refCount, 2u);
  StreamRelease(&second);
  EXPECT_EQ(second, nullptr);
  EXPECT_FALSE(file.closed);
  StreamRelease(&stream);
  EXPECT_EQ(stream, nullptr);
  EXPECT_TRUE(file.closed);

  // Four types at most. Other test types of this binary (the fault-injecting
  // stream) may hold a slot already, so fill up to the limit.
  uint32_t tag = kOtherTag;
  while (tag < kOtherTag + 8 && StreamRegisterType(tag, &kOtherOps)) ++tag;
  EXPECT_LE(tag - kOtherTag, stream::kMaxTypes - 2);  // file and memory types hold two
  EXPECT_FALSE(StreamRegisterType(tag, &kOtherOps));
  EXPECT_EQ(StreamFindType(tag), nullptr);
  EXPECT_EQ(StreamFindType(stream::kFileTag) != nullptr, true);
}

TEST(Stream, FileTypeControlsAndReads) {
  grftest::TempFile path("filestream");
  ASSERT_TRUE(path.Write(fixture::ToBytes("hello stream")));
  grftest::PoolBalance balance;
  GrfStream* stream = nullptr;
  FileHandle handle = kInvalidFile;
  ASSERT_TRUE(FileStreamOpenRead(path.c_str(), fileio::kFlagRandomAccess, &handle, &stream));
  EXPECT_NE(handle, kInvalidFile);

  StreamTypeInfo info{};
  uint32_t produced = 0;
  ASSERT_TRUE(stream->ops->control(nullptr, stream::kGet, stream::kTypeInfo, &info, 12, &produced));
  EXPECT_EQ(produced, 12u);
  EXPECT_EQ(info.capabilities, 0x24410u);
  EXPECT_EQ(info.creationDataSize, sizeof(FileHandle));
  uint32_t tag = 0;
  ASSERT_TRUE(StreamControl(stream, stream::kGet, stream::kTag, &tag, 4, &produced));
  EXPECT_EQ(tag, 0x57333246u);
  EXPECT_EQ(produced, 4u);
  EXPECT_FALSE(StreamControl(stream, stream::kGet, stream::kTag, &tag, 2, &produced));
  EXPECT_FALSE(StreamControl(stream, stream::kGet, 9, &tag, 4, &produced));
  uint64_t size = 0;
  ASSERT_TRUE(StreamGetSize(stream, &size));
  EXPECT_EQ(size, 12u);

  char buffer[16] = {};
  uint32_t moved = 99;
  EXPECT_TRUE(StreamReadAt(stream, 12, buffer, 4, &moved));  // at the end: true, nothing
  EXPECT_EQ(moved, 0u);
  EXPECT_FALSE(StreamReadAtExact(stream, 12, buffer, 4));
  ASSERT_TRUE(StreamReadAtExact(stream, 6, buffer, 6));
  EXPECT_EQ(std::memcmp(buffer, "stream", 6), 0);
  ASSERT_TRUE(StreamReadAtExact(stream, 0, buffer, 5));
  ASSERT_TRUE(StreamReadExact(stream, buffer, 1));  // continues at the current position
  EXPECT_EQ(buffer[0], ' ');

  // A write to a read-only handle fails and keeps the system's reason.
  EXPECT_FALSE(StreamWriteAt(stream, 0, "x", 1, &moved));
  uint32_t error = 0;
  ASSERT_TRUE(StreamControl(stream, stream::kGet, stream::kLastError, &error, 4, &produced));
  EXPECT_NE(error, 0u);
  ASSERT_TRUE(StreamControl(stream, stream::kReset, stream::kLastError, nullptr, 0, nullptr));
  ASSERT_TRUE(StreamControl(stream, stream::kGet, stream::kLastError, &error, 4, &produced));
  EXPECT_EQ(error, 0u);
  StreamRelease(&stream);
  balance.Expect();
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
  uint32_t last = 0, produced = 0;
  ASSERT_TRUE(StreamControl(stream, stream::kGet, stream::kLastError, &last, 4, &produced));
  EXPECT_EQ(last, 122u);
  // Positioned I/O beyond 4 GiB through the 64-bit slots.
  ASSERT_TRUE(StreamWriteAtExact(stream, (uint64_t{4} << 30) + 5, "far", 3));
  char back[3] = {};
  ASSERT_TRUE(StreamReadAtExact(stream, (uint64_t{4} << 30) + 5, back, 3));
  EXPECT_EQ(std::memcmp(back, "far", 3), 0);
  ASSERT_TRUE(StreamSetSize(stream, 100));
  ASSERT_TRUE(StreamGetSize(stream, &size));
  EXPECT_EQ(size, 100u);
  StreamRelease(&stream);
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
