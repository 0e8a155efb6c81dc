#include "support/file_util.h"
#include <gtest/gtest.h>
#include "support/sys_error.h"
#include "support/text.h"
#include "tests/support/file_util_scratch.h"

namespace {
// A given number only formats the name, where it fits with its terminator. Number 0 searches:
// taken names (a file, a folder) are passed over, the numbers wrap, a full range or a missing
// folder is a 0 with its error, and the number 0 found is a 0 with none.
TEST(UniqueTempName, FormattedWhereItFitsAndSearchedPastTakenNames) {
  ScratchDir dir;
  const size_t files = OpenFiles();  // each name found is closed again
  dir.Write("zqtFFFF.tmp", "");
  std::filesystem::create_directory(dir.File("zqt0000.tmp"));
  const std::string sep(1, kSeparator), a247(247, 'a'), a248(248, 'a'), d = dir.Folder() + sep;
  const uint32_t missing = kSeparator == '/' ? syserr::kFileNotFound : syserr::kPathNotFound;
  const struct {
    std::string folder;
    const char* prefix;
    uint32_t number, tick, candidates, got;
    std::string name;  // empty: refused, with `error`
    uint32_t error = syserr::kBufferOverflow;
  } rows[] = {
      {dir.Folder(), "zqt", 0xBEEF, 0, 0, 0xBEEF, d + "zqtBEEF.tmp"}, {"", "abcdefgh", 0x1ABCD, 0, 0, 0x1ABCD, "abcdABCD.tmp"},
      {a247 + sep, "zqt", 7, 0, 0, 7, a247 + sep + "zqt0007.tmp"},  // 259 characters
      {a248 + sep, "zqt", 7, 0, 0, 0, ""},                         // 260: no room for the terminator
      {a247, "zqt", 7, 0, 0, 7, a247 + sep + "zqt0007.tmp"}, {a247, "zqtzqt", 7, 0, 0, 0, ""},  // the separator counts, the cut prefix too
      {a248 + sep, "zqt", 0, 0xFFFE, 3, 0, ""},  // before any search
      {dir.Folder(), "zqt", 0, 0xFFFE, 3, 1, d + "zqt0001.tmp"}, {dir.Folder(), "zqt", 0, 0xFFFE, 2, 0, "", syserr::kFileExists},
      {dir.File("absent"), "zqt", 0, 0, 9, 0, "", missing}, {dir.Folder(), "zqu", 0, 0xFFFF, 1, 0, d + "zqu0000.tmp", 0}};
  char name[kPathCapacity + 8];
  for (const auto& row : rows) {
    SetUniqueTempSearchForTest(row.tick, row.candidates);
    SetSystemError(77);
    EXPECT_EQ(CreateUniqueTempFile(row.folder.c_str(), row.prefix, row.number, name, kPathCapacity), row.got) << row.folder.size() << " " << row.tick;
    EXPECT_TRUE(row.got || GetSystemError() == row.error) << row.folder.size() << " " << row.tick;
    EXPECT_TRUE(row.name.empty() || std::string(name) == row.name) << row.name;
  }
  SetUniqueTempSearchForTest(0, 0);
  EXPECT_TRUE(std::filesystem::is_regular_file(d + "zqt0001.tmp") && !std::filesystem::exists(d + "zqtBEEF.tmp"));
  EXPECT_EQ(OpenFiles(), files);
}
FileHandle CreateAlways(const std::string& name) {
  return CreateFileChecked(name.c_str(), fileio::kGenericRead | fileio::kGenericWrite, 0, nullptr,
                           fileio::kCreateAlways, fileio::kAttributeNormal, kInvalidFile);
}
// The size of the file and the position in it, "size/position".
std::string State(FileHandle handle) {
  uint64_t size = ~0ull, position = ~0ull;
  EXPECT_TRUE(QueryFileSize(handle, &size));
  EXPECT_TRUE(SeekFile64(handle, 0, &position, fileio::kFileCurrent));
  return std::to_string(size) + "/" + std::to_string(position);
}

TEST(FileIo, SetFileEndKeepsThePositionAndCreateAlwaysTruncates) {
  ScratchDir dir;
  const std::string name = dir.File("end");
  FileHandle handle = CreateAlways(name);
  uint32_t moved = 0;
  ASSERT_TRUE(WriteToFile(handle, "0123456789", 10, &moved));
  ASSERT_TRUE(SeekFile64(handle, 4, nullptr, fileio::kFileBegin));
  EXPECT_TRUE(SetFileEnd64(handle, 96, fileio::kFileCurrent));
  EXPECT_EQ(State(handle), "100/4");
  EXPECT_TRUE(SetFileEnd64(handle, -98, fileio::kFileEnd));
  EXPECT_FALSE(SetFileEnd64(handle, -1, fileio::kFileBegin));
  EXPECT_EQ(State(handle), "2/4") << "the position is kept, even past the new end";
  EXPECT_TRUE(CloseFileHandle(&handle));
  ASSERT_TRUE(OpenExistingForRead(name.c_str(), 0, &handle));
  ASSERT_TRUE(SeekFile64(handle, 5, nullptr, fileio::kFileBegin));
  EXPECT_TRUE(!SetFileEnd64(handle, 1, fileio::kFileBegin) && (kSeparator == '\\' || GetSystemError() == syserr::kAccessDenied));  // Windows: its own code
  uint64_t at = 7;
  EXPECT_FALSE(SeekFile64(handle, -6, &at, fileio::kFileCurrent)) << "before the start";
  EXPECT_TRUE(at == 7 && GetSystemError() == syserr::kNegativeSeek);
  EXPECT_EQ(State(handle), "2/5");
  char two[4] = {};
  EXPECT_TRUE(ReadFromFileAt(handle, 0, two, 4, &moved) && moved == 2 && two[1] == '1');
  EXPECT_TRUE(ReadFromFileAt(handle, 9, two, 4, &moved) && moved == 0) << "past the end";
  EXPECT_TRUE(!ReadFromFileAt(handle, UINT64_MAX - 1, two, 4, &(moved = 5)) && !moved && !ReadFromFileAt(handle, INT64_MAX, two, 1, nullptr));
  EXPECT_TRUE(CloseFileHandle(&handle));
  EXPECT_EQ(CreateFileChecked(name.c_str(), fileio::kGenericWrite, 0, nullptr, fileio::kCreateNew, 0, kInvalidFile), kInvalidFile);
  EXPECT_EQ(GetSystemError(), syserr::kFileExists) << "create-new never opens an existing file";
  handle = CreateFileChecked(name.c_str(), fileio::kGenericWrite, 0, nullptr, fileio::kOpenExisting, 0, kInvalidFile);
  EXPECT_FALSE(ReadFromFile(handle, two, 1, &moved)) << "a write-only handle";
  EXPECT_TRUE(CloseFileHandle(&handle));
  EXPECT_FALSE(QueryFileSize(kInvalidFile, &at)) << "no handle is no file (nor the standard input)";
  handle = CreateAlways(name);
  EXPECT_EQ(State(handle), "0/0") << "an existing file is emptied";
  ASSERT_TRUE(WriteToFileAt(handle, 3, "abc", 3, &moved) && moved == 3);
  EXPECT_EQ(State(handle).substr(0, 2), "6/") << "written at 3, with a hole before";
  EXPECT_TRUE(CloseFileHandle(&handle));
  // Sizes beyond 4 GiB (sparse).
  handle = CreateAlways(name);
  ASSERT_TRUE(SetFileEnd64(handle, 0x100000000ll, fileio::kFileBegin));
  EXPECT_TRUE(CloseFileHandle(&handle));
  uint64_t size64 = 0;
  EXPECT_TRUE(GetFileSize64(name.c_str(), &size64) && size64 == 0x100000000ull);
  EXPECT_FALSE(GetFileSize64(dir.File("absent").c_str(), &size64));
  SetSystemError(0);
  EXPECT_FALSE(OpenExistingForRead(dir.File("absent").c_str(), 0, &handle));
  EXPECT_TRUE(handle == kInvalidFile && GetSystemError() == syserr::kFileNotFound);
  EXPECT_TRUE(!OpenExistingForRead(dir.Folder().c_str(), 0, &handle) && GetSystemError() == syserr::kAccessDenied) << "a folder";
  EXPECT_TRUE(IsExistingFolder(dir.Folder().c_str()) && !IsExistingFolder(name.c_str()) && !IsExistingFolder(dir.File("absent").c_str()));
  EXPECT_TRUE(RemoveFile(name.c_str()) && !RemoveFile(name.c_str()) && GetSystemError() == syserr::kFileNotFound);
}
}  // namespace
