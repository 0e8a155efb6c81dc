#include <gtest/gtest.h>
#include "support/file_util.h"
#include "tests/support/file_util_scratch.h"
#ifndef _WIN32
#include <sys/stat.h>
#endif

TEST(HeldFile, SweepTakesOnlyUnheldLeftoversOfThatNameWhateverTheirAge) {
  ScratchDir dir;
  const size_t files = OpenFiles();  // no descriptor left behind by a refusal or a sweep
  const std::string prefix = dir.File("data-cleaned.grf.");
  FileHandle held = kInvalidFile, dropped = kInvalidFile, duplicate = kInvalidFile;
  char heldName[260], droppedName[260];
  ASSERT_TRUE(CreateHeldUniqueFile(prefix.c_str(), ".partial", heldName, 260, &held));
  EXPECT_FALSE(CreateHeldUniqueFile(prefix.c_str(), ".partial", droppedName, static_cast<uint32_t>(prefix.size()) + 16, &dropped));
  ASSERT_TRUE(CreateHeldUniqueFile(prefix.c_str(), ".partial", droppedName, static_cast<uint32_t>(prefix.size()) + 17, &dropped));  // just fits
  // The other run's duplicate keeps the hold after its first handle closes.
  ASSERT_TRUE(DuplicateFileHandle(held, &duplicate) && CloseFileHandle(&held));
  ASSERT_TRUE(CloseFileHandle(&dropped));
  dir.Write("data-cleaned.grf.09AF09AF.partial", "");  // a killed run's: every hex digit's bounds
#ifndef _WIN32
  ASSERT_EQ(mkfifo(dir.File("data-cleaned.grf.0000FFFF.partial").c_str(), 0600), 0);  // opened, it would wait for a writer
#endif
  const std::string others[] = {dir.Write("data-cleaned.grf.1234567.partial", ""), dir.Write("data-cleaned.grf.0000000G.partial", ""),
                                dir.Write("data-cleaned.grf.12345678.part", ""),
                                dir.Write("data-cleaned.grx.12345678.partial", "")};
  EXPECT_EQ(SweepLeftovers(prefix.c_str(), ".partial"), 2u);
  EXPECT_FALSE(std::filesystem::exists(droppedName));
  EXPECT_TRUE(std::filesystem::exists(heldName));
  for (const std::string& other : others) EXPECT_TRUE(std::filesystem::exists(other)) << other;
  // Held through its rename, while the writer's duplicate is open too: one that fails leaves it held.
  const std::string target = dir.File("data-cleaned.grf");
  ASSERT_TRUE(std::filesystem::create_directory(target));
  ASSERT_TRUE(CreateHeldUniqueFile(prefix.c_str(), ".partial", droppedName, 260, &held));
  EXPECT_FALSE(CommitHeldFile(&held, droppedName, target.c_str()));
  EXPECT_EQ(SweepLeftovers(prefix.c_str(), ".partial"), 0u);
  ASSERT_TRUE(std::filesystem::remove(target));
  EXPECT_TRUE(CommitHeldFile(&held, droppedName, target.c_str()) && std::filesystem::is_regular_file(target));
  ASSERT_TRUE(CloseFileHandle(&duplicate));
  EXPECT_EQ(SweepLeftovers(prefix.c_str(), ".partial"), 1u);
  ASSERT_TRUE(CreateHeldUniqueFile(prefix.c_str(), ".partial", droppedName, 260, &held));
  DiscardHeldFile(&held, droppedName);
  EXPECT_FALSE(std::filesystem::exists(droppedName) || IsValidHandle(held));
  EXPECT_EQ(OpenFiles(), files);
  EXPECT_EQ(SweepLeftovers(dir.File("absent/data.grf.").c_str(), ".partial"), 0u);  // no such folder
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.Folder());  // a bare name: the current folder's leftovers
  dir.Write("data-cleaned.grf.0BADF00D.partial", "");
  EXPECT_EQ(SweepLeftovers("data-cleaned.grf.", ".partial"), 1u);
  std::filesystem::current_path(cwd);
}
