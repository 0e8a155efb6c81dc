// Extraction never follows a symbolic link (Windows: reparse point) in the
// target folder: neither one that was there before the run nor one planted
// while it runs. Skipped where links cannot be made.

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

#include "slimgrf/output_tree.h"
#include "tests/slimgrf/run_tool.h"

namespace {

namespace fs = std::filesystem;
using fixture::Entry;

fs::path outside;  // where a planted link points

bool MakeLink(const fs::path& target, const fs::path& link, bool folder) {
#ifdef _WIN32
  // Looked up: the build targets systems older than the call.
  using Create = BOOLEAN(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
  const auto create = reinterpret_cast<Create>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateSymbolicLinkW")));
  return create && create(link.c_str(), target.c_str(), folder ? 1 : 0);
#else
  std::error_code error;
  folder ? fs::create_directory_symlink(target, link, error) : fs::create_symlink(target, link, error);
  return !error;
#endif
}

// Runs where the tool has just created a folder: replaces it by a link out.
void PlantLink(const char* name) {
  if (std::string(name) != "data") return;
  const fs::path created = fs::current_path() / "into" / name;
  std::error_code error;
  fs::remove(created, error);
  MakeLink(outside, created, true);
}

TEST(ToolExtract, NeverWritesThroughALinkInTheTargetFolderEvenOnePlantedDuringTheRun) {
  const tooltest::Scratch scratch;
  const fs::path& root = scratch.root;
  fs::create_directories(root / "into");
  outside = root / "outside";
  fs::create_directories(outside);
  const std::string archive = scratch.Archive(tooltest::ArchiveOf(
      {Entry("data\\a.txt", "a"), Entry("linked\\b.txt", "b"), Entry("c.txt", "c"), Entry("data\\sub\\d.txt", "d")}));
  if (!MakeLink(outside, root / "into" / "linked", true) ||                // there before the run
      !MakeLink(outside / "c.txt", root / "into" / "c.txt", false))  // a file's name
    GTEST_SKIP() << "no symbolic links here";

  const fs::path before = fs::current_path();
  fs::current_path(root);
  SetFolderCreatedHookForTest(&PlantLink);
  const tooltest::ToolRun run = tooltest::RunTool({"extract", archive, "-C", "into", "--force"});
  SetFolderCreatedHookForTest(nullptr);
  fs::current_path(before);

  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(fs::is_empty(outside)) << run.err;
#ifndef _WIN32  // wine's links do not show as reparse points: there the outcome alone is checked
  for (const char* refused : {"'data' is a ", "'linked' is a ", "link"})
    EXPECT_NE(run.err.find(refused), std::string::npos) << run.err;
#endif
  // --force replaces the link itself by the file; nothing reaches its target.
  EXPECT_EQ(ReadAll((root / "into" / "c.txt").string()), "c");
}

}  // namespace
