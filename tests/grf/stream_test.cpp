// Streams: the type registry, the 32-bit fallbacks, references and the file type.

#include <cstring>
#include <filesystem>

#include "grf/stream.h"
#include "support/sys_error.h"
#include "tests/grf/grf_test_util.h"

namespace {

// An in-memory type without the 64-bit slots and without a 64-bit size.
struct MemFile {
  fixture::Bytes bytes;
  uint64_t position = 0;
  int calls = 0;
  bool closed = false;
};

struct MemState {
  MemFile* file;
};

MemFile* Mem(void* state) { return static_cast<MemState*>(state)->file; }

bool MemRead(void* state, void* buffer, uint32_t length, uint32_t* moved) {
  MemFile* f = Mem(state);
  ++f->calls;
  const uint64_t left = f->position < f->bytes.size() ? f->bytes.size() - f->position : 0;
  *moved = static_cast<uint32_t>(std::min<uint64_t>(left, length));
  std::memcpy(buffer, f->bytes.data() + f->position, *moved);
  f->position += *moved;
  return true;
}
bool MemWrite(void*, const void*, uint32_t, uint32_t*) { return false; }
bool MemReadAt32(void* state, uint32_t position, void* buffer, uint32_t length, uint32_t* moved) {
  Mem(state)->position = position;
  return MemRead(state, buffer, length, moved);
}
bool MemWriteAt32(void*, uint32_t, const void*, uint32_t, uint32_t*) { return false; }
bool MemSetSize32(void* state, uint32_t size) {
  ++Mem(state)->calls;
  Mem(state)->bytes.resize(size);
  return true;
}
bool MemGetSize32(void* state, uint32_t* size) {
  ++Mem(state)->calls;
  *size = static_cast<uint32_t>(Mem(state)->bytes.size());
  return true;
}
bool MemFlush(void*) { return true; }
void MemClose(void* state) { Mem(state)->closed = true; }
bool MemControl(void* state, uint32_t direction, uint32_t kind, void* data, uint32_t length,
                uint32_t* out) {
  if (direction == stream::kGet && kind == stream::kTypeInfo && length >= 12) {
    const StreamTypeInfo info{sizeof(MemState), sizeof(MemFile*), 0};
    std::memcpy(data, &info, sizeof(info));
    if (out) *out = sizeof(info);
    return true;
  }
  if (state && direction == stream::kSet && kind == stream::kHandle && length == sizeof(MemFile*)) {
    std::memcpy(state, data, sizeof(MemFile*));
    return true;
  }
  return false;
}

const GrfStreamOps kMemOps = {MemClose,  MemRead,     MemWrite,   MemReadAt32,
                              MemWriteAt32, MemSetSize32, MemGetSize32, MemFlush,
                              MemControl, nullptr,     nullptr};
const GrfStreamOps kOtherOps = kMemOps;
constexpr uint32_t kMemTag = 0x4D454D31;

TEST(Stream, RegistryFallbacksAndReferences) {
  EXPECT_TRUE(FileStreamRegistered());
  EXPECT_FALSE(StreamRegisterType(stream::kFileTag, &kMemOps));  // tag present
  ASSERT_TRUE(StreamRegisterType(kMemTag, &kMemOps));

  MemFile file;
  file.bytes = fixture::ToBytes("0123456789");
  MemFile* data = &file;
  GrfStream* stream = nullptr;
  EXPECT_FALSE(StreamCreate(kMemTag, &data, 3, &stream));  // creation data of the wrong size
  ASSERT_TRUE(StreamCreate(kMemTag, &data, sizeof(data), &stream));
  EXPECT_EQ(stream->refCount, 1u);
  EXPECT_EQ(stream->typeTag, kMemTag);

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
  uint32_t tag = kMemTag + 1;
  while (tag < kMemTag + 8 && StreamRegisterType(tag, &kOtherOps)) ++tag;
  EXPECT_LE(tag - kMemTag, stream::kMaxTypes - 1);  // the file type holds one slot
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
