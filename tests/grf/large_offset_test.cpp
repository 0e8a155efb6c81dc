// Positions beyond 4 GiB without large disks: sparse files whose zero-filled
// middle is never written. An entry placed there moves the table to the
// 0x300 layout; a table placed there moves a classic header to a wide one.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/grf/grf_test_util.h"

namespace {

using fixture::Bytes;
using grftest::TempFile;

constexpr uint64_t kFar = (uint64_t{4} << 30) + 100;  // past 4 GiB, not 8-aligned

// Extends the file with a hole; false when the file system cannot.
bool GrowSparse(const std::string& path, uint64_t size, std::string* why) {
  std::error_code error;
  std::filesystem::resize_file(path, size, error);
  if (error) {
    *why = error.message();
    return false;
  }
  const uint64_t now = std::filesystem::file_size(path, error);
  if (error || now != size) {
    *why = "size not taken";
    return false;
  }
  return true;
}

GrfArchive* Open(const TempFile& file, uint32_t flags) {
  GrfArchive* archive = nullptr;
  uint32_t status = 0;
  EXPECT_TRUE(GrfOpen(file.c_str(), flags, &status, &archive)) << std::hex << status;
  return archive;
}

TEST(LargeOffsets, EntryBeyond4GiBGivesVersion300AndAWideHeader) {
  TempFile file("far-entry");
  GrfArchive* ar = grftest::CreateArchive(file.path());
  ASSERT_NE(ar, nullptr);
  GrfClose(&ar);
  std::string why;
  if (!GrowSparse(file.path(), kFar, &why)) GTEST_SKIP() << "no sparse files here: " << why;

  const Bytes content = fixture::MakeContent(5000, 1);
  // Kept to the 32-bit layout: the finalize fails and the close cuts back.
  ar = Open(file, GRF_OPEN_KEEP_VERSION);
  ASSERT_NE(ar, nullptr);
  ASSERT_TRUE(GrfPutData(ar, "far.txt", content.data(), 5000));
  EXPECT_FALSE(GrfFinalize(ar));
  EXPECT_EQ(GrfGetLastStatus(ar), GRF_E_LIMIT);
  EXPECT_TRUE(ar->flags & GRF_STATE_DIRTY);
  GrfClose(&ar);
  EXPECT_EQ(std::filesystem::file_size(file.path()), kFar);

  ar = Open(file, 0);
  ASSERT_NE(ar, nullptr);
  ASSERT_TRUE(GrfPutData(ar, "far.txt", content.data(), 5000));
  ASSERT_TRUE(GrfPutData(ar, "none", nullptr, 0));
  EXPECT_EQ(grftest::Record(ar, "far.txt")->offset, kFar);
  ASSERT_TRUE(GrfFinalize(ar)) << std::hex << GrfGetLastStatus(ar);
  EXPECT_EQ(ar->version, 0x300u);
  EXPECT_EQ(ar->headerKind, HEADER_WIDE);
  EXPECT_GT(ar->tablePosition, kFar);
  GrfClose(&ar);

  grftest::Opened back = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(back.ok) << std::hex << back.status << " " << back.detail;
  EXPECT_EQ(back.archive->version, 0x300u);
  EXPECT_EQ(back.archive->headerKind, HEADER_WIDE);
  EXPECT_EQ(grftest::Record(back.archive, "far.txt")->offset, kFar);
  EXPECT_EQ(grftest::Record(back.archive, "none")->offset, 0u);
  bool ok = false;
  EXPECT_TRUE(grftest::ReadWhole(back.archive, "far.txt", &ok) == content);
  EXPECT_TRUE(ok);
  GrfClose(&back.archive);
}

TEST(LargeOffsets, TableBeyond4GiBUnderAClassicHeaderBecomesWide) {
  TempFile file("far-table");
  GrfArchive* ar = grftest::CreateArchive(file.path());
  ASSERT_NE(ar, nullptr);
  const Bytes content = fixture::MakeContent(3000, 2);
  ASSERT_TRUE(GrfPutData(ar, "near.txt", content.data(), 3000));
  ASSERT_TRUE(GrfFinalize(ar));
  GrfClose(&ar);
  std::string why;
  if (!GrowSparse(file.path(), kFar, &why)) GTEST_SKIP() << "no sparse files here: " << why;

  ar = Open(file, GRF_OPEN_KEEP_VERSION);
  ASSERT_NE(ar, nullptr);
  ASSERT_TRUE(GrfLinkEntry(ar, "near.txt", "link.txt"));
  EXPECT_FALSE(GrfFinalize(ar));
  EXPECT_EQ(GrfGetLastStatus(ar), GRF_E_LIMIT);
  GrfClose(&ar);

  ar = Open(file, 0);
  ASSERT_NE(ar, nullptr);
  ASSERT_TRUE(GrfLinkEntry(ar, "near.txt", "link.txt"));
  ASSERT_TRUE(GrfFinalize(ar)) << std::hex << GrfGetLastStatus(ar);
  EXPECT_EQ(ar->version, 0x200u);  // every entry still lies below 4 GiB
  EXPECT_EQ(ar->headerKind, HEADER_WIDE);
  EXPECT_EQ(ar->tablePosition, kFar);
  EXPECT_EQ(GrfGetFileSize(ar), kFar + 8 + ar->tableSize);
  GrfClose(&ar);

  // The whole header was written: the wide signature, its two extra bytes and
  // a zeroed key area.
  std::FILE* f = std::fopen(file.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  unsigned char header[46] = {};
  ASSERT_EQ(std::fread(header, 1, 46, f), 46u);
  std::fclose(f);
  EXPECT_EQ(std::memcmp(header, "Event Horizon\0\x52\x4C", 16), 0);
  for (int i = 16; i < 30; ++i) EXPECT_EQ(header[i], 0) << i;
  const Bytes head(header, header + 46);
  EXPECT_EQ(fixture::LoadU64(head, 30), kFar - 46);
  EXPECT_EQ(fixture::LoadU32(head, 38), 2u);
  EXPECT_EQ(fixture::LoadU32(head, 42), 0x200u);

  grftest::Opened back = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(back.ok) << std::hex << back.status << " " << back.detail;
  bool ok = false;
  EXPECT_TRUE(grftest::ReadWhole(back.archive, "link.txt", &ok) == content);
  EXPECT_TRUE(grftest::ReadWhole(back.archive, "near.txt", &ok) == content);
  GrfClose(&back.archive);
}

}  // namespace
