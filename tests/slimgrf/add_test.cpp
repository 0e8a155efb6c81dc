// slimgrf add: files and folders into an archive (made when missing), names
// under the prefix, replacement under the library's lookup, refusals that
// leave the archive as it was, and the round trips through list, extract and rm.

#include <filesystem>
#include <fstream>
#include <map>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "grf/grf.h"
#include "tests/slimgrf/run_tool.h"
#include "tests/support/file_util_scratch.h"

namespace {

namespace fs = std::filesystem;
using fixture::Bytes;
using tooltest::RunTool;

// name -> content of every entry (or of every file under a folder, '/' for its separator).
std::map<std::string, Bytes> Contents(const std::string& path) {
  std::map<std::string, Bytes> contents;
  if (fs::is_directory(path)) {
    for (const auto& item : fs::recursive_directory_iterator(path))
      if (item.is_regular_file())
        fixture::ReadBytesFromFile(item.path().string(), &contents[fs::relative(item.path(), path).generic_string()]);
    return contents;
  }
  GrfArchive* archive = nullptr;
  if (!GrfOpen(path.c_str(), GRF_OPEN_READ_ONLY, nullptr, &archive)) return contents;
  GrfForEachEntry(archive, [](uint32_t, uint32_t, const EntryView* view, void* map) {
        (*static_cast<std::map<std::string, Bytes>*>(map))[view->name].resize(view->realSize);
        return true;
      }, &contents);
  for (auto& [name, content] : contents)
    if (uint32_t size = 0; !GrfReadEntry(archive, name.c_str(), content.data(), static_cast<uint32_t>(content.size()), &size))
      content = fixture::ToBytes("unreadable");
  GrfClose(&archive);
  return contents;
}

size_t FilesIn(const ScratchDir& scratch) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(scratch.Folder()), fs::directory_iterator()));
}

TEST(ToolAdd, FilesAndAFolderUnderAPrefixRoundTripThroughListExtractAndRm) {
  const Bytes big = fixture::MakeContent(70000, 1), small = fixture::MakeContent(900, 2, false);
  fixture::ArchiveSpec base;
  base.entries = {fixture::Entry("data\\TEXTURE\\A.BMP", fixture::MakeContent(3000, 3)), fixture::Entry("keep.txt", small)};
  for (const bool missing : {true, false}) {
    for (const std::string mode : {"1", "2"}) {  // -j 2 with --best
      ScratchDir scratch;
      fs::create_directories(scratch.File("texture/sub"));
      fixture::WriteBytesToFile(scratch.File("texture/a.bmp"), big);
      fixture::WriteBytesToFile(scratch.File("texture/sub/same.bmp"), big);
      scratch.Write("texture/sub/empty.txt", "");
      fixture::WriteBytesToFile(scratch.File("c.bin"), small);
      const std::string archive = scratch.File("a.grf");
      scratch.Write("a.grf.0BADC0DE.part", "left by a killed run");
      if (!missing) fixture::WriteBytesToFile(archive, fixture::BuildArchiveBytes(base));
      const std::map<std::string, Bytes> before = Contents(archive);
      const tooltest::ToolRun run = RunTool({"add", archive, scratch.File("texture"), scratch.File("c.bin"),
                                             "--prefix", "data/", "--json", "-q", "-j", mode,
                                             mode == "2" ? "--best" : "-q"});
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_TRUE(run.HasLine({"\"added\":" + std::string(missing ? "4" : "3"), "\"replaced\":" + std::string(missing ? "0" : "1"),
                               "\"unchanged\":" + std::string(missing ? "0" : "1"), "\"linked\":" + std::string(missing ? "1" : "2"),
                               "\"bytesBefore\":" + std::to_string(missing ? 0 : fixture::BuildArchiveBytes(base).size())})) << run.out;
      std::map<std::string, Bytes> expected = before;
      expected.erase("data\\TEXTURE\\A.BMP");
      expected.insert({{"data\\texture\\a.bmp", big}, {"data\\texture\\sub\\same.bmp", big},
                       {"data\\texture\\sub\\empty.txt", {}}, {"data\\c.bin", small}});
      EXPECT_EQ(Contents(archive), expected) << mode;
      EXPECT_EQ(FilesIn(scratch), 3u);  // no staging archive, no leftover
      ASSERT_EQ(RunTool({"extract", archive, "data/*", "-C", scratch.File("out"), "-q"}).status, 0);
      EXPECT_EQ(Contents(scratch.File("out/data/texture")), Contents(scratch.File("texture")));
      EXPECT_EQ(RunTool({"rm", archive, "data/texture/*", "data/c.bin", "-q"}).status, 0);
      expected = before;
      expected.erase("data\\TEXTURE\\A.BMP");
      EXPECT_EQ(Contents(archive), expected) << mode;
    }
  }
}

TEST(ToolAdd, ARefusedNameOrClashLeavesTheArchiveAsItWas) {
  const struct {
    std::vector<std::string> files;  // UTF-8; the first one's folder (or itself) is the operand
    std::vector<std::string> options;
    const char* why;
  } rows[] = {{{"th/\xE0\xB8\x81.txt"}, {}, "does not convert to CP949"},  // Thai: no CP949 form
              {{"ok.txt"}, {"--prefix", "../up"}, "unsafe name ('..'"},
              {{"ok.txt"}, {"--prefix", "nul"}, "unsafe name (Windows device name)"},
              {{"ok.txt"}, {"--prefix", std::string(250, 'x')}, "bytes long; an archive takes 251"},
              {{"ok.txt", "dir/OK.TXT"}, {"--prefix", "dir"}, "would be stored as 'dir\\OK.TXT' like"}};
  for (const auto& row : rows) {
    ScratchDir scratch;
    fixture::ArchiveSpec one;
    one.entries = {fixture::Entry("dir\\ok.txt", "old")};
    const Bytes original = fixture::BuildArchiveBytes(one);
    fixture::WriteBytesToFile(scratch.File("a.grf"), original);
    std::vector<std::string> args = {"add", scratch.File("a.grf")};
    for (const std::string& file : row.files) {
      const fs::path path = fs::u8path(scratch.Folder() + "/" + file);
      fs::create_directories(path.parent_path());
      std::ofstream(path) << "content";
      args.push_back(scratch.File(file.substr(0, file.find("/\xE0"))));
    }
    args.insert(args.end(), row.options.begin(), row.options.end());
    const size_t present = FilesIn(scratch);
    const tooltest::ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, 2) << row.why;
    EXPECT_NE(run.err.find(row.why), std::string::npos) << run.err;
    Bytes now;
    EXPECT_TRUE(fixture::ReadBytesFromFile(scratch.File("a.grf"), &now) && now == original) << row.why;
    EXPECT_EQ(FilesIn(scratch), present) << row.why;
  }
}

#ifndef _WIN32
TEST(ToolAdd, LinksAndOtherFilesAreReportedNeverFollowedAndDotsNameFromTheFolder) {
  ScratchDir scratch;
  fs::create_directories(scratch.File("tree/sub"));
  scratch.Write("secret.txt", "secret");
  scratch.Write("tree/sub/a.txt", "a");
  fs::create_symlink("../secret.txt", scratch.File("tree/link.txt"));
  fs::create_directory_symlink("..", scratch.File("tree/sub/up"));
  ASSERT_EQ(mkfifo(scratch.File("tree/fifo").c_str(), 0600), 0);  // opened, it would wait for a writer
  const tooltest::ToolRun run = RunTool({"add", scratch.File("a.grf"), scratch.File("tree/sub/.."), "-q"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Contents(scratch.File("a.grf")), (std::map<std::string, Bytes>{{"sub\\a.txt", fixture::ToBytes("a")}}));
  for (const char* left : {"link.txt: not added: a symbolic link", "up: not added: a symbolic link", "fifo: not added: neither"})
    EXPECT_NE(run.err.find(left), std::string::npos) << left << run.err;
}
#endif

}  // namespace
