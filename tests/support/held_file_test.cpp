// Held files: the pieces that let a copy appear under its final name only when
// complete. Runs natively and under wine (both backends).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/file_util.h"
#include "support/sys_error.h"
#include "tests/support/file_util_scratch.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

bool Put(FileHandle handle, const std::string& text) {
  uint32_t moved = 0;
  return WriteToFile(handle, text.data(), static_cast<uint32_t>(text.size()), &moved);
}

TEST(HeldFile, IdentityAndKindOfNames) {
  ScratchDir dir;
  const std::string a = dir.Write("a.grf", "a");
  const std::string b = dir.Write("b.grf", "a");
  const std::string twin = dir.File("twin.grf");
  fs::create_hard_link(a, twin);
  fs::create_directory(dir.File("folder"));

  FileIdentity ia{}, ib{}, itwin{};
  ASSERT_TRUE(QueryFileIdentity(a.c_str(), &ia));
  ASSERT_TRUE(QueryFileIdentity(b.c_str(), &ib));
  ASSERT_TRUE(QueryFileIdentity(twin.c_str(), &itwin));
  EXPECT_TRUE(SameFile(ia, itwin));
  EXPECT_FALSE(SameFile(ia, ib));
  EXPECT_FALSE(QueryFileIdentity(dir.File("missing").c_str(), &ib));

  struct Row {
    std::string name;
    PathKind kind;
  };
  const Row rows[] = {{a, PathKind::kFile},
                      {dir.File("folder"), PathKind::kOther},
                      {dir.File("missing"), PathKind::kMissing},
                      {dir.File("missing") + kSeparator + "x", PathKind::kMissing}};
  for (const Row& row : rows) {
    PathKind kind = PathKind::kOther;
    EXPECT_TRUE(QueryPathKind(row.name.c_str(), &kind)) << row.name;
    EXPECT_EQ(kind, row.kind) << row.name;
  }
}

TEST(HeldFile, CreatedOnlyWhereNothingIsAndCommittedOverAnOldFile) {
  ScratchDir dir;
  const std::string old = dir.Write("data-cleaned.grf", "old copy");
  FileHandle handle = kInvalidFile;
  EXPECT_FALSE(CreateHeldFile(old.c_str(), &handle));
  EXPECT_EQ(GetSystemError(), syserr::kFileExists);
  EXPECT_EQ(Slurp(old), "old copy");

  char name[260];
  ASSERT_TRUE(CreateHeldUniqueFile((old + ".").c_str(), ".partial", name, sizeof name, &handle));
  const std::string partial = name;
  EXPECT_EQ(partial.size(), old.size() + 17);
  ASSERT_TRUE(Put(handle, "new copy"));
  FileHandle second = kInvalidFile;
  ASSERT_TRUE(DuplicateFileHandle(handle, &second));
  ASSERT_TRUE(CloseFileHandle(&second));
  // Until the commit the old copy is untouched.
  EXPECT_EQ(Slurp(old), "old copy");
  ASSERT_TRUE(CommitHeldFile(&handle, partial.c_str(), old.c_str()));
  EXPECT_EQ(handle, kInvalidFile);
  EXPECT_EQ(Slurp(old), "new copy");
  EXPECT_FALSE(fs::exists(partial));

  ASSERT_TRUE(CreateHeldUniqueFile((old + ".").c_str(), ".partial", name, sizeof name, &handle));
  DiscardHeldFile(&handle, name);
  EXPECT_FALSE(fs::exists(name));
  EXPECT_FALSE(CreateHeldUniqueFile((old + ".").c_str(), ".partial", name, 40, &handle));
}

TEST(HeldFile, SweepTakesOnlyUnheldOldLeftoversOfThatName) {
  ScratchDir dir;
  const std::string prefix = dir.File("data-cleaned.grf.");
  FileHandle held = kInvalidFile, dropped = kInvalidFile;
  char heldName[260], droppedName[260];
  ASSERT_TRUE(CreateHeldUniqueFile(prefix.c_str(), ".partial", heldName, 260, &held));
  ASSERT_TRUE(CreateHeldUniqueFile(prefix.c_str(), ".partial", droppedName, 260, &dropped));
  // The other run's duplicate keeps the hold after its first handle closes.
  FileHandle duplicate = kInvalidFile;
  ASSERT_TRUE(DuplicateFileHandle(held, &duplicate));
  ASSERT_TRUE(CloseFileHandle(&held));
  ASSERT_TRUE(CloseFileHandle(&dropped));
  const std::string others[] = {dir.Write("data-cleaned.grf.1234567.partial", ""),
                                dir.Write("data-cleaned.grf.12345678.part", ""),
                                dir.Write("other.grf.12345678.partial", ""),
                                dir.Write("data-cleaned.grf", "")};

  // Everything was written just now: too young to be a leftover.
  EXPECT_EQ(SweepLeftovers(prefix.c_str(), ".partial", 3600), 0u);
  EXPECT_EQ(SweepLeftovers(prefix.c_str(), ".partial", 0), 1u);
  EXPECT_FALSE(fs::exists(droppedName));
  EXPECT_TRUE(fs::exists(heldName));
  for (const std::string& other : others) EXPECT_TRUE(fs::exists(other)) << other;
  ASSERT_TRUE(CloseFileHandle(&duplicate));
  EXPECT_EQ(SweepLeftovers(prefix.c_str(), ".partial", 0), 1u);
  EXPECT_FALSE(fs::exists(heldName));
}

}  // namespace
