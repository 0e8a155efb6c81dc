// Windows behaviour of the file utilities: share modes, hidden temporary
// files, and 64-bit seeking without SetFilePointerEx.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/file_util.h"
#include "support/sys_error.h"
#include "tests/support/file_util_scratch.h"

namespace {

HANDLE Hold(const std::string& name, DWORD access, DWORD share) {
  return CreateFileA(name.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

std::string ReadAll(FileHandle handle) {
  char buffer[64];
  uint32_t got = 0;
  ReadFromFile(handle, buffer, sizeof buffer, &got);
  return std::string(buffer, got);
}

TEST(FileUtilWin32, OpenExistingForReadTriesEveryShareMode) {
  ScratchDir dir;
  const std::string name = dir.Write("held.grf", "held content");
  struct Holder {
    DWORD access;
    DWORD share;
  };
  // Write access needs a share mode with FILE_SHARE_WRITE, delete access one
  // with FILE_SHARE_DELETE; the holder always lets others read.
  const Holder holders[] = {
      {GENERIC_READ, FILE_SHARE_READ},
      {GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE},
      {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
      {GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
  };
  for (const Holder& holder : holders) {
    SCOPED_TRACE(testing::Message() << std::hex << "access " << holder.access << " share "
                                    << holder.share);
    HANDLE held = Hold(name, holder.access, holder.share);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    FileHandle handle = kInvalidFile;
    ASSERT_TRUE(OpenExistingForRead(name.c_str(), FILE_FLAG_SEQUENTIAL_SCAN, &handle));
    EXPECT_EQ(ReadAll(handle), "held content");
    // The first mode that works is kept: the handle shares write or delete
    // access only when the holder needed it.
    CloseHandle(held);
    HANDLE writer = Hold(name, GENERIC_WRITE, 7);
    EXPECT_EQ(writer != INVALID_HANDLE_VALUE, (holder.share & FILE_SHARE_WRITE) != 0);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    HANDLE deleter = Hold(name, DELETE, 7);
    EXPECT_EQ(deleter != INVALID_HANDLE_VALUE, (holder.share & FILE_SHARE_DELETE) != 0);
    if (deleter != INVALID_HANDLE_VALUE) CloseHandle(deleter);
    EXPECT_TRUE(CloseFileHandle(&handle));
    held = Hold(name, holder.access, holder.share);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // Read sharing alone is enough only when the holder does not write.
    const bool sharedOpen = OpenFileShared(name.c_str(), 0, &handle);
    EXPECT_EQ(sharedOpen, holder.access == GENERIC_READ);
    if (sharedOpen) {
      CloseFileHandle(&handle);
    } else {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
      EXPECT_EQ(handle, kInvalidFile);
    }
    CloseHandle(held);
  }
}

TEST(FileUtilWin32, ExclusiveHolderStillLetsTheSizeBeRead) {
  ScratchDir dir;
  const std::string name = dir.Write("locked.grf", "0123456789abc");
  HANDLE held = Hold(name, GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  FileHandle handle = 1234;
  EXPECT_FALSE(OpenExistingForRead(name.c_str(), 0, &handle));
  EXPECT_EQ(handle, kInvalidFile);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  uint64_t size = 0;
  EXPECT_TRUE(GetFileSize64(name.c_str(), &size));
  EXPECT_EQ(size, 13u);
  uint32_t size32 = 0;
  EXPECT_TRUE(GetFileSize32(name.c_str(), &size32));
  EXPECT_EQ(size32, 13u);
  char head[4];
  EXPECT_FALSE(ReadFileHead(name.c_str(), head, 4));
  CloseHandle(held);
  // A wildcard never reads the directory entry of some other file.
  EXPECT_FALSE(GetFileSize64((dir.Folder() + "\\*.grf").c_str(), &size));
}

TEST(FileUtilWin32, TempFileIsHiddenAndTheWriteTestRemovesIt) {
  ScratchDir dir;
  const std::string folder = dir.Folder() + "\\";
  char name[MAX_PATH];
  SetLastError(0);
  const uint32_t number = CreateUniqueTempFile(folder.c_str(), "zqt", 0, name, sizeof name);
  ASSERT_TRUE(number != 0 || GetLastError() == 0);
  const DWORD attributes = GetFileAttributesA(name);
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  // (Some file systems do not keep the temporary attribute.)
  EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
  // Reopening must pass the hidden attribute back for CREATE_ALWAYS.
  FileHandle handle = kInvalidFile;
  ASSERT_TRUE(ReopenDeleteOnClose(name, &handle)) << GetLastError();
  EXPECT_NE(GetFileAttributesA(name), INVALID_FILE_ATTRIBUTES) << "exists until closed";
  EXPECT_TRUE(CloseFileHandle(&handle));
  EXPECT_EQ(GetFileAttributesA(name), INVALID_FILE_ATTRIBUTES);
}

// --- 64-bit seeking without SetFilePointerEx ---------------------------------

int g_substituteCalls = 0;
DWORD g_substituteError = ERROR_CALL_NOT_IMPLEMENTED;

int __stdcall FailingSetFilePointerEx(void*, int64_t, int64_t*, uint32_t) {
  ++g_substituteCalls;
  SetLastError(g_substituteError);
  return FALSE;
}

class SeekFallback : public ::testing::Test {
 protected:
  static constexpr int64_t kSize = 0x140000000ll;  // 5 GiB, sparse

  void SetUp() override {
    SetSeekEntryPointForTest(nullptr);
    name_ = dir_.File("sparse.bin");
    handle_ = CreateFileChecked(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, kInvalidFile);
    ASSERT_TRUE(IsValidHandle(handle_));
    ASSERT_TRUE(SetFileEnd64(handle_, kSize, FILE_BEGIN));
    g_substituteCalls = 0;
    g_substituteError = ERROR_CALL_NOT_IMPLEMENTED;
    SetSeekEntryPointForTest(&FailingSetFilePointerEx);
  }
  void TearDown() override {
    SetSeekEntryPointForTest(nullptr);
    if (IsValidHandle(handle_)) CloseFileHandle(&handle_);
  }
  // The position as the 32-bit call with its high half tells it.
  uint64_t Position() const {
    LONG high = 0;
    SetLastError(0);
    const DWORD low = SetFilePointer(reinterpret_cast<HANDLE>(handle_), 0, &high, FILE_CURRENT);
    EXPECT_FALSE(low == INVALID_SET_FILE_POINTER && GetLastError() != 0);
    return (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low;
  }

  ScratchDir dir_;
  std::string name_;
  FileHandle handle_ = kInvalidFile;
};

TEST_F(SeekFallback, HighHalfZeroOrMinusOneTakesTheWideCall) {
  uint64_t position = 0;
  // High half 0, low half above 0x7FFFFFFF: an unsigned 32-bit target.
  EXPECT_TRUE(SeekFile64(handle_, 0xFFFFFFF0ll, &position, FILE_BEGIN));
  EXPECT_EQ(position, 0xFFFFFFF0ull);
  // High half -1 with a small low half: a long way back.
  EXPECT_TRUE(SeekFile64(handle_, -0xFFFFFFE0ll, &position, FILE_CURRENT));
  EXPECT_EQ(position, 0x10ull);
  // From the end of a file above 4 GiB: the high half of the result counts.
  EXPECT_TRUE(SeekFile64(handle_, -1, &position, FILE_END));
  EXPECT_EQ(position, static_cast<uint64_t>(kSize - 1));
  EXPECT_EQ(Position(), static_cast<uint64_t>(kSize - 1));
  EXPECT_TRUE(SeekFile64(handle_, 0, nullptr, FILE_BEGIN));
  EXPECT_EQ(Position(), 0u);
  EXPECT_EQ(g_substituteCalls, 4) << "the cached entry point is tried every time";
}

TEST_F(SeekFallback, LargerDistancesMoveInSteps) {
  uint64_t position = 0;
  // High half -2: two steps of -0x80000000 from the end, then the rest.
  EXPECT_TRUE(SeekFile64(handle_, -(kSize - 0x10), &position, FILE_END));
  EXPECT_EQ(position, 0x10ull);
  EXPECT_EQ(Position(), 0x10ull);
  EXPECT_TRUE(SeekFile64(handle_, -(kSize - 0x20), nullptr, FILE_END));
  EXPECT_EQ(Position(), 0x20ull);
  // A step before the start fails cleanly.
  EXPECT_FALSE(SeekFile64(handle_, -0x100000000ll, &position, FILE_BEGIN));
  EXPECT_NE(GetLastError(), 0u);
}

TEST_F(SeekFallback, OtherErrorsOfTheEntryPointAreFinal) {
  ASSERT_TRUE(SeekFile64(handle_, 7, nullptr, FILE_BEGIN));
  g_substituteError = ERROR_INVALID_HANDLE;
  uint64_t position = 99;
  EXPECT_FALSE(SeekFile64(handle_, 100, &position, FILE_BEGIN));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(position, 99u);
  EXPECT_EQ(Position(), 7u) << "no fallback move";
}

TEST_F(SeekFallback, SetFileEndFailureKeepsPositionAndError) {
  // The restoring move of the fallback path clears the last error; the
  // error of SetEndOfFile must survive it.
  CloseFileHandle(&handle_);
  ASSERT_TRUE(OpenExistingForRead(name_.c_str(), 0, &handle_));
  SetLastError(0);
  ASSERT_FALSE(SetEndOfFile(reinterpret_cast<HANDLE>(handle_)));
  const DWORD expected = GetLastError();
  ASSERT_NE(expected, 0u);
  ASSERT_TRUE(SeekFile64(handle_, 0x100000005ll, nullptr, FILE_BEGIN));
  SetLastError(0);
  EXPECT_FALSE(SetFileEnd64(handle_, 10, FILE_BEGIN));
  EXPECT_EQ(GetLastError(), expected);
  EXPECT_EQ(Position(), 0x100000005ull);
  uint64_t size = 0;
  EXPECT_TRUE(QueryFileSize(handle_, &size));
  EXPECT_EQ(size, static_cast<uint64_t>(kSize));
}

TEST_F(SeekFallback, SetFileEndWorksAndKeepsThePosition) {
  ASSERT_TRUE(SeekFile64(handle_, 0x123, nullptr, FILE_BEGIN));
  EXPECT_TRUE(SetFileEnd64(handle_, -0x40000000ll, FILE_END));
  uint64_t size = 0;
  EXPECT_TRUE(QueryFileSize(handle_, &size));
  EXPECT_EQ(size, static_cast<uint64_t>(kSize - 0x40000000ll));
  EXPECT_EQ(Position(), 0x123u);
  // The real entry point is found again once the seam is cleared.
  SetSeekEntryPointForTest(nullptr);
  const int calls = g_substituteCalls;
  uint64_t position = 0;
  EXPECT_TRUE(SeekFile64(handle_, kSize + 5, &position, FILE_BEGIN));
  EXPECT_EQ(position, static_cast<uint64_t>(kSize + 5));
  EXPECT_EQ(g_substituteCalls, calls);
}

}  // namespace
