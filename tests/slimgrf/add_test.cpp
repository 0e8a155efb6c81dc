// slimgrf add: files and folders into an archive (made when missing), names
// under the prefix, replacement under the library's lookup, refusals that
// leave the archive as it was, and the round trips through list, extract and rm.

#include <fstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/slimgrf/run_tool.h"

namespace {

namespace fs = std::filesystem;
using namespace fixture;
using namespace tooltest;

TEST(ToolAdd, FilesAndAFolderUnderAPrefixRoundTripThroughListExtractAndRm) {
  const Bytes big = MakeContent(70000, 1), small = MakeContent(900, 2, false);
  const Bytes base = ArchiveOf({Entry("data\\TEXTURE\\A.BMP", MakeContent(3000, 3)), Entry("keep.txt", small)});
  const std::map<std::string, Bytes> files = {
      {"texture/a.bmp", big}, {"texture/sub/same.bmp", big}, {"texture/sub/empty.txt", {}}, {"c.bin", small}};
  for (const bool missing : {true, false}) {
    for (const std::string mode : {"1", "2"}) {  // -j 2 with --best
      ScratchDir scratch;
      fs::create_directories(scratch.File("texture/sub"));
      for (const auto& [file, content] : files) WriteBytesToFile(scratch.File(file), content);
      const std::string archive = scratch.File("a.grf");
      scratch.Write("a.grf.0BADC0DE.part", "left by a killed run");
      if (!missing) WriteBytesToFile(archive, base);
      std::map<std::string, Bytes> kept = Contents(archive);  // less the entry the add replaces: what rm leaves
      kept.erase("data\\TEXTURE\\A.BMP");
      const ToolRun run = RunTool({"add", archive, scratch.File("texture"), scratch.File("c.bin"), "--prefix", "data/",
                                   "--json", "-q", "-j", mode, mode == "2" ? "--best" : "-q"});
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_TRUE(run.HasLine({"\"added\":" + std::string(missing ? "4" : "3"), "\"replaced\":" + std::string(missing ? "0" : "1"),
                               "\"unchanged\":" + std::string(missing ? "0" : "1"), "\"linked\":" + std::string(missing ? "1" : "2"),
                               "\"bytesBefore\":" + std::to_string(missing ? 0 : base.size())})) << run.out;
      std::map<std::string, Bytes> expected = kept;
      expected.insert({{"data\\texture\\a.bmp", big}, {"data\\texture\\sub\\same.bmp", big},
                       {"data\\texture\\sub\\empty.txt", {}}, {"data\\c.bin", small}});
      EXPECT_EQ(Contents(archive), expected) << mode;
      EXPECT_EQ(FilesIn(scratch.Folder()), 3u);  // no staging archive, no leftover
      ASSERT_EQ(RunTool({"extract", archive, "data/*", "-C", scratch.File("out"), "-q"}).status, 0);
      EXPECT_EQ(Contents(scratch.File("out/data/texture")), Contents(scratch.File("texture")));
      EXPECT_EQ(RunTool({"rm", archive, "data/texture/*", "data/c.bin", "-q"}).status, 0);
      EXPECT_EQ(Contents(archive), kept) << mode;
    }
  }
}

TEST(ToolAdd, ARefusedNameAClashOrNothingToAddLeavesTheArchiveAsItWas) {
  const struct {
    std::vector<std::string> files;  // UTF-8; the first one's folder (or itself) is the operand
    std::vector<std::string> options;
    const char* why;
    int status = 2;
  } rows[] = {{{"th/\xE0\xB8\x81.txt"}, {}, "does not convert to CP949"},  // Thai: no CP949 form
              {{"empty/"}, {}, "no file to add; the archive is as it was.", 1},  // an empty folder
              {{"ok.txt"}, {"--prefix", "../up"}, "unsafe name ('..'"},
              {{"ok.txt"}, {"--prefix", "nul"}, "unsafe name (Windows device name)"},
              {{"ok.txt"}, {"--prefix", std::string(250, 'x')}, "bytes long; an archive takes 251"},
              {{"ok.txt", "dir/OK.TXT"}, {"--prefix", "dir"}, "would be stored as 'dir\\OK.TXT' like"}};
  const Bytes original = ArchiveOf({Entry("dir\\ok.txt", "old")});
  for (const auto& row : rows) {
    Scratch scratch;
    std::vector<std::string> args = {"add", scratch.Archive(original)};
    for (const std::string& file : row.files) {
      const fs::path path = fs::u8path(scratch.Folder() + "/" + file);
      fs::create_directories(path.parent_path());
      std::ofstream(path) << "content";
      args.push_back(scratch.File(file.substr(0, file.find("/\xE0"))));
    }
    args.insert(args.end(), row.options.begin(), row.options.end());
    const size_t present = FilesIn(scratch.Folder());
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, row.status) << row.why;
    EXPECT_NE(run.err.find(row.why), std::string::npos) << run.err;
    EXPECT_EQ(ReadPath(args[1]), original) << row.why;
    EXPECT_EQ(FilesIn(scratch.Folder()), present) << row.why;
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
  const ToolRun run = RunTool({"add", scratch.File("a.grf"), scratch.File("tree/sub/.."), "-q"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Contents(scratch.File("a.grf")), (std::map<std::string, Bytes>{{"sub\\a.txt", ToBytes("a")}}));
  for (const char* left : {"link.txt: not added: a symbolic link", "up: not added: a symbolic link", "fifo: not added: neither"})
    EXPECT_NE(run.err.find(left), std::string::npos) << left << run.err;
}
#endif

}  // namespace
