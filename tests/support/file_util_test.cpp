// The portable contract of the file utilities, on every system.

#include "support/file_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "support/sys_error.h"
#include "tests/support/file_util_scratch.h"

namespace fs = std::filesystem;

namespace {

std::string TempName(const std::string& folder, const char* prefix, uint32_t number,
                     uint32_t size = 260, uint32_t* result = nullptr) {
  char name[600];
  std::memset(name, '#', sizeof name);
  const uint32_t got = CreateUniqueTempFile(folder.c_str(), prefix, number, name, size);
  if (result) *result = got;
  return got != 0 ? std::string(name) : std::string();
}

TEST(UniqueTempName, FormatsTheNameOnlyForAGivenNumber) {
  ScratchDir dir;
  const std::string sep(1, kSeparator);
  uint32_t result = 0;
  // A folder without a separator gets one; the number is upper-case hex.
  EXPECT_EQ(TempName(dir.Folder(), "zqt", 0xBEEF, 260, &result),
            dir.Folder() + sep + "zqtBEEF.tmp");
  EXPECT_EQ(result, 0xBEEFu);
  EXPECT_TRUE(fs::is_empty(dir.Folder())) << "a given number creates no file";
  // "." is a folder like any other.
  EXPECT_EQ(TempName(".", "zqt", 0x12), "." + sep + "zqt0012.tmp");
  // A folder ending in the separator gets none; an empty folder gets none.
  EXPECT_EQ(TempName("dir" + sep, "zqt", 0xA), "dir" + sep + "zqt000A.tmp");
  EXPECT_EQ(TempName("", "zqt", 1), "zqt0001.tmp");
  // The prefix is cut to four characters; a short one is kept.
  EXPECT_EQ(TempName("", "abcdefgh", 0xFFFF), "abcdFFFF.tmp");
  EXPECT_EQ(TempName("", "", 2), "0002.tmp");
  // Only the low 16 bits are formatted; the number is returned as given.
  EXPECT_EQ(TempName("", "zqt", 0x1ABCD, 260, &result), "zqtABCD.tmp");
  EXPECT_EQ(result, 0x1ABCDu);
}

TEST(UniqueTempName, NameMustBeShorterThanTheBuffer) {
  const std::string sep(1, kSeparator);
  uint32_t result = 1;
  // 251 + "zqt" + "NNNN.tmp" = 262 characters: too long for 260 bytes.
  const std::string folder251 = std::string(250, 'a') + sep;
  SetSystemError(0);
  EXPECT_EQ(TempName(folder251, "zqt", 7, 260, &result), "");
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(GetSystemError(), syserr::kBufferOverflow);
  // 248 gives 259 characters, which fit with the terminator.
  const std::string folder248 = std::string(247, 'a') + sep;
  EXPECT_EQ(TempName(folder248, "zqt", 7).size(), 259u);
  // 249 gives exactly 260: no room for the terminator.
  EXPECT_EQ(TempName(std::string(248, 'a') + sep, "zqt", 7, 260, &result), "");
  EXPECT_EQ(GetSystemError(), syserr::kBufferOverflow);
  // The separator that would be added counts, and so does a prefix cut to 4.
  EXPECT_EQ(TempName(std::string(247, 'a'), "zqt", 7, 260, &result).size(), 259u);
  EXPECT_EQ(TempName(std::string(248, 'a'), "zqt", 7, 260, &result), "");
  EXPECT_EQ(TempName(std::string(247, 'a'), "zqtzqt", 7, 260, &result), "");
  // The overflow check comes before any search for a free name.
  EXPECT_EQ(TempName(folder251, "zqt", 0, 260, &result), "");
  EXPECT_EQ(GetSystemError(), syserr::kBufferOverflow);
}

TEST(UniqueTempName, NullArgumentsAreRefused) {
  char name[32];
  SetSystemError(0);
  EXPECT_EQ(CreateUniqueTempFile(nullptr, "zqt", 1, name, sizeof name), 0u);
  EXPECT_EQ(GetSystemError(), syserr::kInvalidParameter);
  SetSystemError(0);
  EXPECT_EQ(CreateUniqueTempFile(".", nullptr, 1, name, sizeof name), 0u);
  EXPECT_EQ(GetSystemError(), syserr::kInvalidParameter);
  SetSystemError(0);
  EXPECT_EQ(CreateUniqueTempFile(".", "zqt", 1, nullptr, 32), 0u);
  EXPECT_EQ(GetSystemError(), syserr::kInvalidParameter);
}

class UniqueTempSearch : public ::testing::Test {
 protected:
  void TearDown() override { SetUniqueTempSearchForTest(0, 0); }
  ScratchDir dir_;
};

TEST_F(UniqueTempSearch, WriteTestCreatesAndRemovesTheFile) {
  // The drop intake's write test: create, reopen for delete-on-close, close.
  const std::string folder = dir_.Folder() + kSeparator;
  char name[260];
  SetSystemError(0);
  const uint32_t number = CreateUniqueTempFile(folder.c_str(), "zqt", 0, name, sizeof name);
  ASSERT_TRUE(number != 0 || GetSystemError() == 0);
  char expected[32];
  std::snprintf(expected, sizeof expected, "zqt%04X.tmp", static_cast<unsigned>(number));
  EXPECT_EQ(std::string(name), folder + expected);
  ASSERT_TRUE(fs::exists(name));
  EXPECT_EQ(fs::file_size(name), 0u);

  // A second search finds another name while the first file exists.
  char other[260];
  const uint32_t second = CreateUniqueTempFile(folder.c_str(), "zqt", 0, other, sizeof other);
  ASSERT_TRUE(second != 0 || GetSystemError() == 0);
  EXPECT_STRNE(name, other);
  ASSERT_TRUE(RemoveFile(other));

  FileHandle handle = kInvalidFile;
  ASSERT_TRUE(ReopenDeleteOnClose(name, &handle));
  uint32_t moved = 0;
  EXPECT_TRUE(WriteToFile(handle, "probe", 5, &moved));
  EXPECT_EQ(moved, 5u);
  EXPECT_TRUE(CloseFileHandle(&handle));
  EXPECT_EQ(handle, kInvalidFile);
  EXPECT_FALSE(fs::exists(name));
  EXPECT_TRUE(fs::is_empty(dir_.Folder()));
}

TEST_F(UniqueTempSearch, TakenNamesAreSkippedAndTheSearchEnds) {
  const std::string sep(1, kSeparator);
  dir_.Write("zqt1235.tmp", "taken");
  SetUniqueTempSearchForTest(0x1234, 3);
  uint32_t result = 0;
  // Candidate 1 is 0x1235 (taken), candidate 2 is 0x1236.
  EXPECT_EQ(TempName(dir_.Folder(), "zqt", 0, 260, &result),
            dir_.Folder() + sep + "zqt1236.tmp");
  EXPECT_EQ(result, 0x1236u);
  EXPECT_EQ(GetSystemError(), 0u);
  // The tick is used modulo 65536.
  SetUniqueTempSearchForTest(0x71236, 3);
  EXPECT_EQ(TempName(dir_.Folder(), "zqt", 0, 260, &result),
            dir_.Folder() + sep + "zqt1237.tmp");

  // All candidates taken: 0 with the error of the last attempt.
  dir_.Write("zqt1238.tmp", "taken");
  SetUniqueTempSearchForTest(0x1234, 4);
  SetSystemError(0);
  EXPECT_EQ(TempName(dir_.Folder(), "zqt", 0, 260, &result), "");
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(GetSystemError(), syserr::kFileExists);
}

TEST_F(UniqueTempSearch, CandidateZeroIsReportedWithoutError) {
  SetUniqueTempSearchForTest(0xFFFF, 2);
  char name[260];
  SetSystemError(syserr::kAccessDenied);
  EXPECT_EQ(CreateUniqueTempFile(dir_.Folder().c_str(), "zqt", 0, name, sizeof name), 0u);
  EXPECT_EQ(GetSystemError(), 0u);
  EXPECT_EQ(std::string(name), dir_.File("zqt0000.tmp"));
  EXPECT_TRUE(fs::exists(name));
}

TEST_F(UniqueTempSearch, MissingFolderEndsTheSearchAtOnce) {
  char name[260];
  SetSystemError(0);
  const std::string missing = dir_.File("missing");
  EXPECT_EQ(CreateUniqueTempFile(missing.c_str(), "zqt", 0, name, sizeof name), 0u);
  EXPECT_NE(GetSystemError(), 0u);
  // The second half of the write test fails cleanly too, leaving nothing.
  FileHandle handle = 1234;
  EXPECT_FALSE(ReopenDeleteOnClose(dir_.File("missing/x.tmp").c_str(), &handle));
  EXPECT_EQ(handle, kInvalidFile);
  EXPECT_TRUE(fs::is_empty(dir_.Folder()));
}

class FileIo : public ::testing::Test {
 protected:
  FileHandle CreateRw(const std::string& name) {
    return CreateFileChecked(name.c_str(), fileio::kGenericRead | fileio::kGenericWrite, 0,
                             nullptr, fileio::kCreateAlways, fileio::kAttributeNormal,
                             kInvalidFile);
  }
  static uint64_t Position(FileHandle handle) {
    uint64_t position = ~0ull;
    EXPECT_TRUE(SeekFile64(handle, 0, &position, fileio::kFileCurrent));
    return position;
  }
  ScratchDir dir_;
};

TEST_F(FileIo, ReadExactFailsOnShortReadsAndTellsTheCount) {
  const std::string name = dir_.Write("ten", "0123456789");
  FileHandle handle = kInvalidFile;
  ASSERT_TRUE(OpenExistingForRead(name.c_str(), 0, &handle));
  char buffer[16] = {};
  uint32_t got = 99;
  EXPECT_TRUE(ReadExact(handle, buffer, 4, &got));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  EXPECT_FALSE(ReadExact(handle, buffer, 10, &got));
  EXPECT_EQ(got, 6u);
  EXPECT_EQ(std::string(buffer, 6), "456789");
  EXPECT_NE(GetSystemError(), 0u);
  EXPECT_FALSE(ReadExact(handle, buffer, 1, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(ReadExact(handle, buffer, 0, &got)) << "nothing asked, nothing missing";
  EXPECT_TRUE(CloseFileHandle(&handle));

  char head[16] = {};
  EXPECT_TRUE(ReadFileHead(name.c_str(), head, 8));
  EXPECT_EQ(std::string(head, 8), "01234567");
  EXPECT_FALSE(ReadFileHead(name.c_str(), head, 16));
  EXPECT_FALSE(ReadFileHead(dir_.File("absent").c_str(), head, 1));
  EXPECT_EQ(GetSystemError(), syserr::kFileNotFound);
  EXPECT_FALSE(ReadFileHead(dir_.Folder().c_str(), head, 1)) << "a folder is not a file";
}

TEST_F(FileIo, OpenersStoreTheHandleAndKeepOnlyTheirFlags) {
  const std::string name = dir_.Write("data", "abcdef");
  FileHandle handle = 1234;
  EXPECT_FALSE(OpenExistingForRead(dir_.File("absent").c_str(), 0, &handle));
  EXPECT_EQ(handle, kInvalidFile);
  EXPECT_EQ(GetSystemError(), syserr::kFileNotFound);
  handle = 1234;
  EXPECT_FALSE(OpenFileShared(dir_.File("absent").c_str(), 0, &handle));
  EXPECT_EQ(handle, kInvalidFile);

  // Overlapped and unbuffered I/O (0x40000000, 0x20000000) and attributes are
  // dropped; the scan hints pass.
  ASSERT_TRUE(OpenFileShared(name.c_str(),
                             0x40000000 | 0x20000000 | fileio::kAttributeHidden |
                                 fileio::kFlagSequentialScan,
                             &handle));
  char buffer[6];
  uint32_t got = 0;
  EXPECT_TRUE(ReadExact(handle, buffer, 6, &got));
  EXPECT_EQ(std::string(buffer, 6), "abcdef");
  uint32_t moved = 0;
  EXPECT_FALSE(WriteToFile(handle, "x", 1, &moved)) << "opened for reading only";
  EXPECT_TRUE(CloseFileHandle(&handle));

  // Closing resets the variable, also when the close fails.
  handle = 0x12340;
  EXPECT_FALSE(CloseFileHandle(&handle));
  EXPECT_EQ(handle, kInvalidFile);
  EXPECT_TRUE(IsValidHandle(0));
  EXPECT_FALSE(IsValidHandle(kInvalidFile));
}

TEST_F(FileIo, SeeksAreSignedAndSixtyFourBitWide) {
  const std::string name = dir_.File("seek");
  FileHandle handle = CreateRw(name);
  ASSERT_TRUE(IsValidHandle(handle));
  uint32_t moved = 0;
  ASSERT_TRUE(WriteToFile(handle, "0123456789", 10, &moved));
  uint64_t position = 0;
  EXPECT_TRUE(SeekFile64(handle, -3, &position, fileio::kFileEnd));
  EXPECT_EQ(position, 7u);
  EXPECT_TRUE(SeekFile64(handle, -2, &position, fileio::kFileCurrent));
  EXPECT_EQ(position, 5u);
  EXPECT_TRUE(SeekFile32(handle, 1, fileio::kFileCurrent));
  EXPECT_EQ(Position(handle), 6u);
  // Before the start: refused, position kept.
  EXPECT_FALSE(SeekFile64(handle, -7, nullptr, fileio::kFileCurrent));
  EXPECT_NE(GetSystemError(), 0u);
  EXPECT_EQ(Position(handle), 6u);
  EXPECT_FALSE(SeekFile32(handle, -1, fileio::kFileBegin));
  // Past 4 GiB (beyond the end, which is allowed).
  EXPECT_TRUE(SeekFile64(handle, 0x140000000ll, &position, fileio::kFileBegin));
  EXPECT_EQ(position, 0x140000000ull);
  EXPECT_TRUE(SeekFile64(handle, -0x13FFFFFF0ll, &position, fileio::kFileCurrent));
  EXPECT_EQ(position, 0x10u);
  EXPECT_TRUE(CloseFileHandle(&handle));
}

TEST_F(FileIo, SetFileEndKeepsThePosition) {
  const std::string name = dir_.File("end");
  FileHandle handle = CreateRw(name);
  ASSERT_TRUE(IsValidHandle(handle));
  uint32_t moved = 0;
  ASSERT_TRUE(WriteToFile(handle, "0123456789", 10, &moved));
  ASSERT_TRUE(SeekFile64(handle, 4, nullptr, fileio::kFileBegin));

  EXPECT_TRUE(SetFileEnd64(handle, 100, fileio::kFileBegin));
  uint64_t size = 0;
  EXPECT_TRUE(QueryFileSize(handle, &size));
  EXPECT_EQ(size, 100u);
  EXPECT_EQ(Position(handle), 4u);
  EXPECT_TRUE(SetFileEnd64(handle, -98, fileio::kFileEnd));
  EXPECT_TRUE(QueryFileSize(handle, &size));
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(Position(handle), 4u) << "kept, even past the new end";
  EXPECT_TRUE(SetFileEnd64(handle, 3, fileio::kFileCurrent));
  EXPECT_TRUE(QueryFileSize(handle, &size));
  EXPECT_EQ(size, 7u);
  // A target before the start fails before anything changes.
  EXPECT_FALSE(SetFileEnd64(handle, -1, fileio::kFileBegin));
  EXPECT_EQ(Position(handle), 4u);
  EXPECT_TRUE(FlushFile(handle));
  EXPECT_TRUE(CloseFileHandle(&handle));

  // Setting the end fails on a read-only handle: the position and the
  // error of that failure are kept.
  ASSERT_TRUE(OpenExistingForRead(name.c_str(), 0, &handle));
  ASSERT_TRUE(SeekFile64(handle, 5, nullptr, fileio::kFileBegin));
  SetSystemError(0);
  EXPECT_FALSE(SetFileEnd64(handle, 1, fileio::kFileBegin));
  EXPECT_NE(GetSystemError(), 0u);
  EXPECT_EQ(Position(handle), 5u);
  EXPECT_TRUE(QueryFileSize(handle, &size));
  EXPECT_EQ(size, 7u);
  EXPECT_TRUE(CloseFileHandle(&handle));
}

TEST_F(FileIo, SizesOfSmallAndHugeFiles) {
  const std::string small = dir_.Write("small", "12345");
  uint64_t size64 = 0;
  uint32_t size32 = 0;
  EXPECT_TRUE(GetFileSize64(small.c_str(), &size64));
  EXPECT_EQ(size64, 5u);
  EXPECT_TRUE(GetFileSize32(small.c_str(), &size32));
  EXPECT_EQ(size32, 5u);
  EXPECT_TRUE(GetFileSize32(small.c_str(), nullptr));
  EXPECT_FALSE(GetFileSize64(dir_.File("absent").c_str(), &size64));
  EXPECT_NE(GetSystemError(), 0u);
  EXPECT_FALSE(GetFileSize32(dir_.File("absent").c_str(), nullptr));

  // A sparse file of exactly 4 GiB: the 32-bit size cannot hold it.
  const std::string huge = dir_.File("huge");
  FileHandle handle = CreateRw(huge);
  ASSERT_TRUE(IsValidHandle(handle));
  ASSERT_TRUE(SetFileEnd64(handle, 0x100000000ll, fileio::kFileBegin));
  EXPECT_TRUE(CloseFileHandle(&handle));
  EXPECT_TRUE(GetFileSize64(huge.c_str(), &size64));
  EXPECT_EQ(size64, 0x100000000ull);
  size32 = 77;
  EXPECT_FALSE(GetFileSize32(huge.c_str(), &size32));
  EXPECT_EQ(size32, 77u) << "nothing stored on failure";
  EXPECT_NE(GetSystemError(), 0u);
  EXPECT_TRUE(GetFileSize32(huge.c_str(), nullptr)) << "the size can be learned";
  EXPECT_TRUE(RemoveFile(huge.c_str()));
  EXPECT_FALSE(RemoveFile(huge.c_str()));
  EXPECT_EQ(GetSystemError(), syserr::kFileNotFound);
}

TEST(Library, LoadsBySearchOrderAndReportsFailures) {
#ifdef _WIN32
  const char* present = "kernel32.dll";
  const char* symbol = "GetTickCount";
#else
  const char* present = "libc.so.6";
  const char* symbol = "malloc";
#endif
  LibraryHandle module = reinterpret_cast<LibraryHandle>(1);
  SetSystemError(0);
  EXPECT_FALSE(LoadLibraryByName("slimwick-no-such-library.dll", &module));
  EXPECT_EQ(module, nullptr);
  EXPECT_NE(GetSystemError(), 0u);

  ASSERT_TRUE(LoadLibraryByName(present, &module));
  ASSERT_NE(module, nullptr);
  EXPECT_NE(GetLibrarySymbol(module, symbol), nullptr);
  SetSystemError(0);
  EXPECT_EQ(GetLibrarySymbol(module, "slimwick_no_such_symbol"), nullptr);
  EXPECT_NE(GetSystemError(), 0u);
  EXPECT_EQ(GetLibrarySymbol(nullptr, symbol), nullptr);
  EXPECT_TRUE(FreeLibraryModule(module));
}

}  // namespace
