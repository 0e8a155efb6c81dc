// slimgrf as a user runs it: listing and JSON of every layout, extraction
// compared byte for byte with the fixture builder's contents, verify's
// verdicts on hostile archives, the path-safety table, names that collide or
// exist, CP949 names (an extended syllable too), glob patterns.

#include "grf/grf.h"
#include "slimgrf/name_conversion.h"
#include "slimgrf/path_safety.h"
#include "slimgrf/pattern.h"
#include "tests/slimgrf/run_tool.h"

namespace {

namespace fs = std::filesystem;
using namespace fixture;
using namespace tooltest;

class ToolLayout : public testing::TestWithParam<Layout> {};

TEST_P(ToolLayout, ListsVerifiesAndExtractsEveryEntryByteForByte) {
  const BuiltArchive built = BuildArchive(LayoutSpec(GetParam()));
  Scratch scratch;
  const std::string archive = scratch.Archive(built.bytes);
  NameConverter names;
  std::string error;
  ASSERT_TRUE(names.Open(nullptr, false, &error));

  const ToolRun list = RunTool({"list", "--json", archive});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), static_cast<long>(built.expected.size()));
  std::map<std::string, Bytes> expected;
  for (const ExpectedEntry& e : built.expected) {
    std::string hex, converted, path;
    for (const unsigned char c : e.name) hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
    EXPECT_TRUE(list.HasLine({"\"name_hex\":\"" + hex + "\"", "\"size\":" + std::to_string(e.realSize) + ",",
                              "\"offset\":" + std::to_string(e.offset) + ",", "\"readable\":true"}))
        << e.name << "\n" << list.out;
    ASSERT_TRUE(names.ToUtf8(e.name, &converted));
    for (const char c : converted) path += c == '\\' ? '/' : c;
    expected[path] = e.content;
  }
  const ToolRun verify = RunTool({"verify", "--json", archive});
  EXPECT_EQ(verify.status, 0) << verify.out;
  EXPECT_TRUE(verify.HasLine({"\"finding\":\"link\"", "data/alias.txt", "big.txt"})) << verify.out;

  const fs::path into = scratch.root / "out";
  const ToolRun extract = RunTool({"extract", archive, "-C", into.string(), "-q"});
  EXPECT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(Contents(into), expected);
  // Again: every file exists and is kept; with --force every one is written anew.
  fs::resize_file(into / "stored.bin", 1);
  EXPECT_EQ(RunTool({"extract", archive, "-C", into.string(), "-q"}).status, 1);
  EXPECT_EQ(fs::file_size(into / "stored.bin"), 1u);
  EXPECT_EQ(RunTool({"extract", archive, "-C", into.string(), "-q", "--force"}).status, 0);
  EXPECT_EQ(Contents(into), expected);
}

INSTANTIATE_TEST_SUITE_P(Archives, ToolLayout, testing::ValuesIn(AllLayouts()));

TEST(ToolVerify, NamesEveryUnreadableEntryLinkAndOverlap) {
  ArchiveSpec spec;
  spec.entries = {Entry("ok.txt", MakeContent(4000, 1)), Entry("outside.txt", MakeContent(4000, 2)),
                  Entry("huge.txt", MakeContent(4000, 3)), Entry("garbage.bin", MakeContent(5000, 9, false), Storage::Stored),
                  Link("alias.txt", 0), Entry("overlap.txt", MakeContent(300, 4), Storage::Stored)};
  spec.entries[1].offset = 0xF0000000;
  spec.entries[2].realSize = 0x7FFFFFF0;
  spec.entries[3].flagByte = ENTRY_COMPRESSED, spec.entries[3].realSize = 9000;
  spec.entries[5].offset = BuildArchive(spec).Find("ok.txt")->offset + 16;
  Scratch scratch;
  const std::string archive = scratch.Archive(BuildArchiveBytes(spec));
  const ToolRun run = RunTool({"verify", "--json", archive});
  EXPECT_EQ(run.status, 1);
  const struct {
    const char *name, *finding, *detail;
  } rows[] = {{"outside.txt", "unreadable", "\"problem\":\"block outside the file\""},
              {"huge.txt", "unreadable", "\"problem\":\"impossible sizes\""},
              {"garbage.bin", "unreadable", "\"problem\":\"undecodable stream\""},
              {"alias.txt", "link", "\"target\":\"ok.txt\""}, {"overlap.txt", "overlap", "\"with\":\"ok.txt\""}};
  for (const auto& row : rows)
    EXPECT_TRUE(run.HasLine({std::string("\"finding\":\"") + row.finding + "\",\"name\":\"" + row.name + "\"", row.detail}))
        << row.name << "\n" << run.out;
  EXPECT_TRUE(run.HasLine({"\"entries\":6,\"unreadable\":3,\"links\":1,\"overlaps\":1"})) << run.out;
  // Not an archive at all: exit 2, and the other archives are still verified.
  const std::string junk = (scratch.root / "junk.grf").string();
  ASSERT_TRUE(WriteBytesToFile(junk, ToBytes("no archive here")));
  EXPECT_EQ(RunTool({"verify", junk, archive}).status, 2);
}

TEST(PathSafety, RefusesEveryNameThatLeavesTheFolderOrIsNoPlainFile) {
  const struct {
    std::string name;
    const char* want;  // the components joined by '/', or '!' and the start of the refusal
    const char* onWindows = nullptr;  // where Windows rules differ
  } rows[] = {
      {"data\\a.txt", "data/a.txt"}, {"a/./b//c\\\\d", "a/b/c/d"}, {"conx.txt", "conx.txt"}, {"com0\\lpt10", "com0/lpt10"},
      {"..\\evil", "!'..'"}, {"a\\..\\..\\evil", "!'..'"}, {"/etc/passwd", "!absolute"}, {"\\\\server\\share\\x", "!absolute"},
      {"C:\\x", "!drive letter"}, {"c:x", "!drive letter"}, {std::string("a\0b", 3), "!NUL"}, {"CON", "!Windows device"},
      {"sub\\nul.txt", "!Windows device"}, {"Lpt1.bmp", "!Windows device"}, {"aux .txt", "!Windows device"},
      {"COM\xC2\xB9", "!Windows device"}, {"x\\", "!names a folder"}, {"", "!empty"}, {".\\.", "!empty"},
      {"file.", "file.", "!name ends in a dot or a space"}, {"dir \\file", "dir /file", "!name ends in a dot or a space"},
      {"ab:c", "ab:c", "!character"}, {"a\x01z", "a\x01z", "!character"}, {"what?", "what?", "!character"},
  };
  for (const auto& row : rows) {
    for (const bool windows : {false, true}) {
      std::vector<std::string> components;
      const char* refusal = SplitSafePath(row.name, windows, &components);
      std::string got = refusal ? std::string("!") + refusal : "";
      for (size_t i = 0; !refusal && i < components.size(); ++i) got += (i ? "/" : "") + components[i];
      const std::string want = windows && row.onWindows ? row.onWindows : row.want;
      EXPECT_EQ(want[0] == '!' ? got.substr(0, want.size()) : got, want) << row.name << " windows " << windows;
    }
  }
}

TEST(ToolExtract, HostileCollidingAndUnconvertibleNamesAreReportedNeverWritten) {
  ArchiveSpec spec;
  for (const char* name : {"..\\escape1.txt", "a\\..\\..\\escape2.txt", "\\escape3.txt", "C:\\escape4.txt",
                           "c:escape5.txt", "nul.txt", "dir\\CON", "ok\\fine.txt", "ok/./fine.txt",
                           "ok\\fine.txt\\under", "ok", "bad\xFF\xFE.txt", "\xB5\xA5\xC0\xCC\xC5\xCD\\\x81\x41.txt"})
    spec.entries.push_back(Entry(name, name));
  Scratch scratch;
  const std::string archive = scratch.Archive(BuildArchiveBytes(spec));
  const fs::path into = scratch.root / "deep" / "out";
  fs::create_directories(into);
  const ToolRun run = RunTool({"extract", archive, "-C", into.string()});
  EXPECT_EQ(run.status, 1);
  // CP949 "데이터\갂" (an extended syllable) arrives as its UTF-8; nothing else but the one fine file.
  const std::map<std::string, Bytes> expected = {
      {"ok/fine.txt", ToBytes("ok\\fine.txt")},
      {"\xEB\x8D\xB0\xEC\x9D\xB4\xED\x84\xB0/\xEA\xB0\x82.txt", ToBytes("\xB5\xA5\xC0\xCC\xC5\xCD\\\x81\x41.txt")}};
  EXPECT_EQ(Contents(into), expected);
  EXPECT_EQ(Contents(scratch.root / "deep").size(), expected.size());
  for (const char* reason : {"'..'", "absolute path", "drive letter", "device name", "same file as 'ok\\fine.txt'",
                             "'ok' not extracted: it maps", "does not convert from CP949"})  // a file where a folder went
    EXPECT_NE(run.err.find(reason), std::string::npos) << reason << "\n" << run.err;
  EXPECT_NE(run.out.find("2 of 13 entries extracted, 11 not"), std::string::npos) << run.out;
  // Patterns pick entries by glob, case and slashes aside.
  const fs::path picked = scratch.root / "picked";
  EXPECT_EQ(RunTool({"extract", archive, "OK/*.TXT", "-C", picked.string(), "-q"}).status, 1);
  EXPECT_EQ(Contents(picked).size(), 1u);
}

TEST(Glob, MatchesLikeAShellIgnoringCaseAndSlashKind) {
  const struct {
    const char *pattern, *name;
    bool match;
  } rows[] = {{"*.bmp", "data\\a.BMP", true},   {"data/*", "DATA\\x\\y", true},  {"*.bmp", "a.bmpx", false},
              {"a?c", "abc", true},             {"a?c", "ac", false},            {"[a-c]x", "Bx", true},
              {"[!a-c]x", "bx", false},         {"*a*b*c", "xaybzc", true},      {"*a*b*c", "xaybzcz", false},
              {"[x", "[x", true},               {"", "", true},                  {"**", "anything", true}};
  for (const auto& row : rows) EXPECT_EQ(GlobMatches(row.pattern, row.name), row.match) << row.pattern << " " << row.name;
}

}  // namespace
