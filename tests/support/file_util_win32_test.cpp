#include <windows.h>
#include <gtest/gtest.h>
#include "support/file_util.h"
#include "tests/support/file_util_scratch.h"

namespace {
DWORD g_entryError = ERROR_CALL_NOT_IMPLEMENTED;  // what the missing SetFilePointerEx reports

int __stdcall FailingSetFilePointerEx(void*, int64_t, int64_t*, uint32_t) {
  SetLastError(g_entryError);
  return FALSE;
}

TEST(FileUtilWin32, SeeksWithoutTheWideCallTakeStepsAndKeepTheirErrors) {
  constexpr int64_t kSize = 0x140000000ll;  // 5 GiB, sparse
  ScratchDir dir;
  FileHandle handle = CreateFileChecked(dir.File("sparse").c_str(), GENERIC_READ | GENERIC_WRITE,
                                        0, nullptr, CREATE_ALWAYS, 0, kInvalidFile);
  ASSERT_TRUE(SetFileEnd64(handle, kSize, FILE_BEGIN));
  SetSeekEntryPointForTest(&FailingSetFilePointerEx);
  auto position = [&] {
    LONG high = 0;
    const DWORD low = SetFilePointer(reinterpret_cast<HANDLE>(handle), 0, &high, FILE_CURRENT);
    return (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low;
  };
  const struct {
    int64_t distance;
    DWORD method;
    uint64_t expected;  // ~0: refused
  } rows[] = {
      {0xFFFFFFF0ll, FILE_BEGIN, 0xFFFFFFF0ull},  {-0xFFFFFFE0ll, FILE_CURRENT, 0x10},
      {-1, FILE_END, kSize - 1},                  {-(kSize - 0x20), FILE_END, 0x20},  // steps
      {-0x100000000ll, FILE_BEGIN, ~0ull},        {100, FILE_BEGIN, 1},  // another error: final
  };
  for (const auto& row : rows) {
    g_entryError = row.expected == 1 ? ERROR_INVALID_HANDLE : ERROR_CALL_NOT_IMPLEMENTED;
    const bool moves = row.expected != ~0ull && row.expected != 1;
    uint64_t got = 99;
    SetLastError(0);
    EXPECT_EQ(SeekFile64(handle, row.distance, &got, row.method), moves) << row.distance;
    EXPECT_EQ(got, moves ? row.expected : 99u) << row.distance;
    if (moves) EXPECT_EQ(position(), row.expected);
    else EXPECT_NE(GetLastError(), 0u);
  }
  SetSeekEntryPointForTest(nullptr);
  CloseFileHandle(&handle);
}
}  // namespace
