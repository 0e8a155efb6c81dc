// Windows behaviour of the file utilities: share modes, and 64-bit seeking
// without SetFilePointerEx.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/file_util.h"
#include "tests/support/file_util_scratch.h"

namespace {

HANDLE Hold(const std::string& name, DWORD access, DWORD share) {
  return CreateFileA(name.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
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
      {GENERIC_READ | GENERIC_WRITE, 0},  // exclusive: only the size can be read
  };
  for (const Holder& holder : holders) {
    SCOPED_TRACE(testing::Message() << std::hex << "access " << holder.access << " share "
                                    << holder.share);
    HANDLE held = Hold(name, holder.access, holder.share);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    FileHandle handle = 1234;
    const bool opened = OpenExistingForRead(name.c_str(), FILE_FLAG_SEQUENTIAL_SCAN, &handle);
    EXPECT_EQ(opened, holder.share != 0);
    uint64_t size = 0;
    EXPECT_TRUE(GetFileSize64(name.c_str(), &size));
    EXPECT_EQ(size, 12u);
    if (!opened) {
      EXPECT_EQ(handle, kInvalidFile);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
      CloseHandle(held);
      continue;
    }
    char buffer[64];
    uint32_t got = 0;
    ReadFromFile(handle, buffer, sizeof buffer, &got);
    EXPECT_EQ(std::string(buffer, got), "held content");
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
  }
}

// --- 64-bit seeking without SetFilePointerEx ---------------------------------

DWORD g_substituteError = ERROR_CALL_NOT_IMPLEMENTED;

int __stdcall FailingSetFilePointerEx(void*, int64_t, int64_t*, uint32_t) {
  SetLastError(g_substituteError);
  return FALSE;
}

class SeekFallback : public ::testing::Test {
 protected:
  static constexpr int64_t kSize = 0x140000000ll;  // 5 GiB, sparse

  void SetUp() override {
    name_ = dir_.File("sparse.bin");
    handle_ = CreateFileChecked(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, kInvalidFile);
    ASSERT_TRUE(IsValidHandle(handle_));
    ASSERT_TRUE(SetFileEnd64(handle_, kSize, FILE_BEGIN));
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
    const DWORD low = SetFilePointer(reinterpret_cast<HANDLE>(handle_), 0, &high, FILE_CURRENT);
    return (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low;
  }

  ScratchDir dir_;
  std::string name_;
  FileHandle handle_ = kInvalidFile;
};

TEST_F(SeekFallback, SeeksTakeTheWideCallOrStepsAndKeepTheirErrors) {
  struct Row {
    const char* what;
    int64_t distance;
    DWORD method;
    DWORD entryError;  // what the missing SetFilePointerEx reports
    uint64_t expected;  // ~0: refused, the position stays
  } rows[] = {
      {"high half 0, low half above 0x7FFFFFFF", 0xFFFFFFF0ll, FILE_BEGIN,
       ERROR_CALL_NOT_IMPLEMENTED, 0xFFFFFFF0ull},
      {"high half -1: a long way back", -0xFFFFFFE0ll, FILE_CURRENT, ERROR_CALL_NOT_IMPLEMENTED,
       0x10},
      {"from the end of a file above 4 GiB", -1, FILE_END, ERROR_CALL_NOT_IMPLEMENTED,
       kSize - 1},
      {"high half -2: moved in steps", -(kSize - 0x20), FILE_END, ERROR_CALL_NOT_IMPLEMENTED,
       0x20},
      {"a step before the start", -0x100000000ll, FILE_BEGIN, ERROR_CALL_NOT_IMPLEMENTED, ~0ull},
      {"another error of the entry point is final", 100, FILE_BEGIN, ERROR_INVALID_HANDLE,
       ~0ull},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    g_substituteError = row.entryError;
    const uint64_t before = Position();
    uint64_t position = 99;
    SetLastError(0);
    const bool moved = SeekFile64(handle_, row.distance, &position, row.method);
    EXPECT_EQ(moved, row.expected != ~0ull);
    if (moved) {
      EXPECT_EQ(position, row.expected);
      EXPECT_EQ(Position(), row.expected);
    } else {
      EXPECT_NE(GetLastError(), 0u);
      EXPECT_EQ(position, 99u);
      if (row.entryError != ERROR_CALL_NOT_IMPLEMENTED) {
        EXPECT_EQ(Position(), before) << "no fallback move";
      }
    }
  }
}

TEST_F(SeekFallback, SetFileEndKeepsThePositionAndTheError) {
  ASSERT_TRUE(SeekFile64(handle_, 0x123, nullptr, FILE_BEGIN));
  EXPECT_TRUE(SetFileEnd64(handle_, -0x40000000ll, FILE_END));
  uint64_t size = 0;
  EXPECT_TRUE(QueryFileSize(handle_, &size));
  EXPECT_EQ(size, static_cast<uint64_t>(kSize - 0x40000000ll));
  EXPECT_EQ(Position(), 0x123u);

  // The restoring move clears the last error; SetEndOfFile's must survive it.
  CloseFileHandle(&handle_);
  ASSERT_TRUE(OpenExistingForRead(name_.c_str(), 0, &handle_));
  ASSERT_FALSE(SetEndOfFile(reinterpret_cast<HANDLE>(handle_)));
  const DWORD expected = GetLastError();
  ASSERT_TRUE(SeekFile64(handle_, 0x100000005ll, nullptr, FILE_BEGIN));
  SetLastError(0);
  EXPECT_FALSE(SetFileEnd64(handle_, 10, FILE_BEGIN));
  EXPECT_EQ(GetLastError(), expected);
  EXPECT_EQ(Position(), 0x100000005ull);
}

}  // namespace
