// The portable contract of the file utilities, on every system.

#include "support/file_util.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/sys_error.h"
#include "support/text.h"
#include "tests/support/file_util_scratch.h"

namespace fs = std::filesystem;

namespace {

TEST(UniqueTempName, NameIsFormattedOnlyWhenItFitsWithItsTerminator) {
  ScratchDir dir;
  const std::string sep(1, kSeparator);
  const std::string a247(247, 'a'), a248(248, 'a');
  struct Row {
    std::string folder;
    const char* prefix;
    uint32_t number;
    std::string expected;  // empty: refused as too long
  } rows[] = {
      {dir.Folder(), "zqt", 0xBEEF, dir.Folder() + sep + "zqtBEEF.tmp"},
      {"dir" + sep, "zqt", 0xA, "dir" + sep + "zqt000A.tmp"},
      {"", "abcdefgh", 0x1ABCD, "abcdABCD.tmp"},  // prefix cut to 4, low 16 bits
      {a247 + sep, "zqt", 7, a247 + sep + "zqt0007.tmp"},  // 259 characters
      {a248 + sep, "zqt", 7, ""},                          // 260: no room for the terminator
      {a247, "zqt", 7, a247 + sep + "zqt0007.tmp"},        // the added separator counts
      {a248, "zqt", 7, ""},
      {a247, "zqtzqt", 7, ""},  // so does the prefix cut to 4
      {a248 + sep, "zqt", 0, ""},  // checked before any search for a free name
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.folder.size());
    char name[kPathCapacity + 8];
    SetSystemError(0);
    const uint32_t got =
        CreateUniqueTempFile(row.folder.c_str(), row.prefix, row.number, name, kPathCapacity);
    if (row.expected.empty()) {
      EXPECT_EQ(got, 0u);
      EXPECT_EQ(GetSystemError(), syserr::kBufferOverflow);
    } else {
      EXPECT_EQ(got, row.number);
      EXPECT_EQ(std::string(name), row.expected);
    }
  }
  EXPECT_TRUE(fs::is_empty(dir.Folder())) << "a given number creates no file";
}

TEST(UniqueTempName, WriteTestLeavesNothingBehind) {
  // The drop intake's write test: create, reopen for delete-on-close, close.
  ScratchDir dir;
  const std::string folder = dir.Folder() + kSeparator;
  char name[kPathCapacity];
  SetSystemError(0);
  const uint32_t number = CreateUniqueTempFile(folder.c_str(), "zqt", 0, name, sizeof name);
  ASSERT_TRUE(number != 0 || GetSystemError() == 0);
  ASSERT_TRUE(fs::exists(name));
  FileHandle handle = kInvalidFile;
  ASSERT_TRUE(ReopenDeleteOnClose(name, &handle));
  uint32_t moved = 0;
  EXPECT_TRUE(WriteToFile(handle, "probe", 5, &moved));
  EXPECT_TRUE(CloseFileHandle(&handle));
  EXPECT_TRUE(fs::is_empty(dir.Folder()));
  // In a missing folder both halves fail cleanly.
  const std::string missing = dir.File("missing");
  EXPECT_EQ(CreateUniqueTempFile(missing.c_str(), "zqt", 0, name, sizeof name), 0u);
  handle = 1234;
  EXPECT_FALSE(ReopenDeleteOnClose(dir.File("missing/x.tmp").c_str(), &handle));
  EXPECT_EQ(handle, kInvalidFile);
  EXPECT_TRUE(fs::is_empty(dir.Folder()));
}

class FileIo : public ::testing::Test {
 protected:
  FileHandle CreateAlways(const std::string& name) {
    return CreateFileChecked(name.c_str(), fileio::kGenericRead | fileio::kGenericWrite, 0,
                             nullptr, fileio::kCreateAlways, fileio::kAttributeNormal,
                             kInvalidFile);
  }
  static uint64_t Position(FileHandle handle) {
    uint64_t position = ~0ull;
    EXPECT_TRUE(SeekFile64(handle, 0, &position, fileio::kFileCurrent));
    return position;
  }
  static uint64_t Size(FileHandle handle) {
    uint64_t size = ~0ull;
    EXPECT_TRUE(QueryFileSize(handle, &size));
    return size;
  }
  ScratchDir dir_;
};

TEST_F(FileIo, SetFileEndKeepsThePositionAndCreateAlwaysTruncates) {
  const std::string name = dir_.File("end");
  FileHandle handle = CreateAlways(name);
  ASSERT_TRUE(IsValidHandle(handle));
  uint32_t moved = 0;
  ASSERT_TRUE(WriteToFile(handle, "0123456789", 10, &moved));
  ASSERT_TRUE(SeekFile64(handle, 4, nullptr, fileio::kFileBegin));
  EXPECT_TRUE(SetFileEnd64(handle, 100, fileio::kFileBegin));
  EXPECT_EQ(Size(handle), 100u);
  EXPECT_EQ(Position(handle), 4u);
  EXPECT_TRUE(SetFileEnd64(handle, -98, fileio::kFileEnd));
  EXPECT_EQ(Size(handle), 2u);
  EXPECT_EQ(Position(handle), 4u) << "kept, even past the new end";
  EXPECT_FALSE(SetFileEnd64(handle, -1, fileio::kFileBegin));
  EXPECT_EQ(Position(handle), 4u);
  EXPECT_TRUE(CloseFileHandle(&handle));

  // On a read-only handle it fails, and the position and the error are kept.
  ASSERT_TRUE(OpenExistingForRead(name.c_str(), 0, &handle));
  ASSERT_TRUE(SeekFile64(handle, 5, nullptr, fileio::kFileBegin));
  SetSystemError(0);
  EXPECT_FALSE(SetFileEnd64(handle, 1, fileio::kFileBegin));
  EXPECT_NE(GetSystemError(), 0u);
  EXPECT_EQ(Position(handle), 5u);
  EXPECT_EQ(Size(handle), 2u);
  EXPECT_TRUE(CloseFileHandle(&handle));

  handle = CreateAlways(name);
  ASSERT_TRUE(IsValidHandle(handle));
  EXPECT_EQ(Size(handle), 0u) << "an existing file is emptied";
  EXPECT_TRUE(CloseFileHandle(&handle));
}

TEST_F(FileIo, SizesAndPositionsBeyondFourGigabytes) {
  const std::string huge = dir_.File("huge");
  FileHandle handle = CreateAlways(huge);
  ASSERT_TRUE(IsValidHandle(handle));
  ASSERT_TRUE(SetFileEnd64(handle, 0x100000000ll, fileio::kFileBegin));  // sparse
  uint64_t position = 0;
  EXPECT_TRUE(SeekFile64(handle, 0x140000000ll, &position, fileio::kFileBegin));
  EXPECT_EQ(position, 0x140000000ull);
  EXPECT_TRUE(SeekFile64(handle, -0x13FFFFFF0ll, &position, fileio::kFileCurrent));
  EXPECT_EQ(position, 0x10u);
  EXPECT_TRUE(CloseFileHandle(&handle));

  uint64_t size64 = 0;
  EXPECT_TRUE(GetFileSize64(huge.c_str(), &size64));
  EXPECT_EQ(size64, 0x100000000ull);
  uint32_t size32 = 77;
  EXPECT_FALSE(GetFileSize32(huge.c_str(), &size32));
  EXPECT_EQ(size32, 77u) << "nothing stored on failure";
  EXPECT_TRUE(GetFileSize32(huge.c_str(), nullptr)) << "the file exists";
  EXPECT_FALSE(GetFileSize32(dir_.File("absent").c_str(), nullptr));
  EXPECT_TRUE(RemoveFile(huge.c_str()));
}

}  // namespace
