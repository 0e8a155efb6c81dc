// Extraction never follows a symbolic link in the target folder: neither one
// that was there before the run nor one planted while it runs.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "slimgrf/output_tree.h"
#include "tests/slimgrf/run_tool.h"

namespace {

namespace fs = std::filesystem;
using fixture::Entry;

fs::path outside;  // where a planted link points

// Runs where the tool has just created a folder: replaces it by a link out.
void PlantLink(const char* name) {
  if (std::string(name) != "data") return;
  const fs::path created = fs::current_path() / "into" / name;
  fs::remove(created);
  fs::create_directory_symlink(outside, created);
}

TEST(ToolExtract, NeverWritesThroughALinkInTheTargetFolderEvenOnePlantedDuringTheRun) {
  const fs::path root = fixture::TempPath("slimgrf-links");
  fs::create_directories(root / "into");
  outside = root / "outside";
  fs::create_directories(outside);
  fixture::ArchiveSpec spec;
  spec.entries = {Entry("data\\a.txt", "a"), Entry("linked\\b.txt", "b"), Entry("c.txt", "c"),
                  Entry("data\\sub\\d.txt", "d")};
  const std::string archive = (root / "a.grf").string();
  ASSERT_TRUE(fixture::WriteBytesToFile(archive, fixture::BuildArchiveBytes(spec)));
  fs::create_directory_symlink(outside, root / "into" / "linked");  // there before the run
  fs::create_symlink(outside / "c.txt", root / "into" / "c.txt");   // a file name taken by a link

  const fs::path before = fs::current_path();
  fs::current_path(root);
  SetFolderCreatedHookForTest(&PlantLink);
  const tooltest::ToolRun run = tooltest::RunTool({"extract", archive, "-C", "into", "--force"});
  SetFolderCreatedHookForTest(nullptr);
  fs::current_path(before);

  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(fs::is_empty(outside)) << run.err;
  EXPECT_NE(run.err.find("'data' is a symbolic link"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("'linked' is a symbolic link"), std::string::npos) << run.err;
  // --force replaces the link itself by the file; nothing reaches its target.
  EXPECT_FALSE(fs::is_symlink(root / "into" / "c.txt"));
  fs::remove_all(root);
}

}  // namespace
