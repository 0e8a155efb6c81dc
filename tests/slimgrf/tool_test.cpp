// slimgrf as a user runs it: listing and JSON of every layout, extraction
// compared byte for byte with the fixture builder's contents, verify's
// verdicts on hostile archives, the path-safety table, names that collide or
// exist, CP949 names, glob patterns.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "grf/grf.h"
#include "slimgrf/name_conversion.h"
#include "slimgrf/path_safety.h"
#include "slimgrf/pattern.h"
#include "tests/slimgrf/run_tool.h"
#include "tests/support/file_util_scratch.h"

namespace {

namespace fs = std::filesystem;
using fixture::Bytes;
using fixture::Cipher;
using fixture::Entry;
using fixture::Storage;
using tooltest::RunTool;


Bytes ReadPath(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  for (const unsigned char c : bytes) hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
  return hex;
}

// Every file under the folder, by its path relative to it (UTF-8, '/').
std::map<std::string, Bytes> FilesUnder(const fs::path& root) {
  std::map<std::string, Bytes> files;
  for (const auto& item : fs::recursive_directory_iterator(root))
    if (item.is_regular_file()) {
      const std::u8string relative = fs::relative(item.path(), root).generic_u8string();
      files[std::string(relative.begin(), relative.end())] = ReadPath(item.path());
    }
  return files;
}

struct Scratch : ScratchDir {
  const fs::path root = Folder();
  std::string Archive(const Bytes& bytes, const char* name = "a.grf") const {
    const std::string path = (root / name).string();
    EXPECT_TRUE(fixture::WriteBytesToFile(path, bytes));
    return path;
  }
};

fixture::ArchiveSpec LayoutSpec(const fixture::Layout& l) {
  fixture::ArchiveSpec spec;
  std::tie(spec.version, spec.header, spec.tableFirst, spec.reverseDataOrder) =
      std::tie(l.version, l.header, l.tableFirst, l.reverseData);
  const Storage z = l.version == 0x12 ? Storage::Lzss : Storage::Zlib;
  const Cipher mixed = l.version >= 0x200 ? Cipher::Mixed : Cipher::None;
  using fixture::MakeContent;
  spec.entries = {Entry("data\\texture\\\xC0\xDF\xB1\xE2.bmp", MakeContent(6000, 1), z),
                  Entry("data\\big.txt", MakeContent(70000, 2), z, mixed),
                  Entry("data\\model.gat", MakeContent(3000, 3), z, Cipher::Header),
                  Entry("stored.bin", MakeContent(777, 4, false), Storage::Stored),
                  Entry("empty.txt", "", Storage::Stored),
                  fixture::Link("data/alias.txt", 1)};
  return spec;
}

class ToolLayout : public testing::TestWithParam<fixture::Layout> {};

TEST_P(ToolLayout, ListsVerifiesAndExtractsEveryEntryByteForByte) {
  const fixture::BuiltArchive built = fixture::BuildArchive(LayoutSpec(GetParam()));
  Scratch scratch;
  const std::string archive = scratch.Archive(built.bytes);
  NameConverter names;
  std::string error;
  ASSERT_TRUE(names.Open(nullptr, false, &error));

  const tooltest::ToolRun list = RunTool({"list", "--json", archive});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), static_cast<long>(built.expected.size()));
  std::map<std::string, Bytes> expected;
  for (const fixture::ExpectedEntry& e : built.expected) {
    EXPECT_TRUE(list.HasLine({"\"name_hex\":\"" + Hex(e.name) + "\"", "\"size\":" + std::to_string(e.realSize) + ",",
                              "\"offset\":" + std::to_string(e.offset) + ",", "\"readable\":true"}))
        << e.name << "\n" << list.out;
    std::string converted, path;
    ASSERT_TRUE(names.ToUtf8(e.name, &converted));
    for (const char c : converted) path += c == '\\' ? '/' : c;
    expected[path] = e.content;
  }
  const tooltest::ToolRun verify = RunTool({"verify", "--json", archive});
  EXPECT_EQ(verify.status, 0) << verify.out;
  EXPECT_TRUE(verify.HasLine({"\"finding\":\"link\"", "data/alias.txt", "big.txt"})) << verify.out;

  const fs::path into = scratch.root / "out";
  const tooltest::ToolRun extract = RunTool({"extract", archive, "-C", into.string(), "-q"});
  EXPECT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(FilesUnder(into), expected);
  // Again: every file exists and is kept; with --force every one is written anew.
  fs::resize_file(into / "stored.bin", 1);
  EXPECT_EQ(RunTool({"extract", archive, "-C", into.string(), "-q"}).status, 1);
  EXPECT_EQ(fs::file_size(into / "stored.bin"), 1u);
  EXPECT_EQ(RunTool({"extract", archive, "-C", into.string(), "-q", "--force"}).status, 0);
  EXPECT_EQ(FilesUnder(into), expected);
}

INSTANTIATE_TEST_SUITE_P(Archives, ToolLayout, testing::ValuesIn(fixture::AllLayouts()));

TEST(ToolVerify, NamesEveryUnreadableEntryLinkAndOverlap) {
  fixture::ArchiveSpec spec;
  Bytes noise = fixture::MakeContent(5000, 9, false);
  spec.entries = {Entry("ok.txt", fixture::MakeContent(4000, 1)),
                  Entry("outside.txt", fixture::MakeContent(4000, 2)),
                  Entry("huge.txt", fixture::MakeContent(4000, 3)),
                  Entry("garbage.bin", noise, Storage::Stored),
                  fixture::Link("alias.txt", 0),
                  Entry("overlap.txt", fixture::MakeContent(300, 4), Storage::Stored)};
  spec.entries[1].offset = 0xF0000000;
  spec.entries[2].realSize = 0x7FFFFFF0;
  spec.entries[3].flagByte = ENTRY_COMPRESSED;
  spec.entries[3].realSize = 9000;
  spec.entries[5].offset = fixture::BuildArchive(spec).Find("ok.txt")->offset + 16;
  Scratch scratch;
  const std::string archive = scratch.Archive(fixture::BuildArchiveBytes(spec));
  const tooltest::ToolRun run = RunTool({"verify", "--json", archive});
  EXPECT_EQ(run.status, 1);
  const struct {
    const char* name;
    const char* finding;
    const char* detail;
  } rows[] = {{"outside.txt", "unreadable", "\"problem\":\"block outside the file\""},
              {"huge.txt", "unreadable", "\"problem\":\"impossible sizes\""},
              {"garbage.bin", "unreadable", "\"problem\":\"undecodable stream\""},
              {"alias.txt", "link", "\"target\":\"ok.txt\""},
              {"overlap.txt", "overlap", "\"with\":\"ok.txt\""}};
  for (const auto& row : rows)
    EXPECT_TRUE(run.HasLine({std::string("\"finding\":\"") + row.finding + "\",\"name\":\"" + row.name + "\"",
                             row.detail}))
        << row.name << "\n" << run.out;
  EXPECT_TRUE(run.HasLine({"\"entries\":6,\"unreadable\":3,\"links\":1,\"overlaps\":1"})) << run.out;
  // Not an archive at all: exit 2, and the other archives are still verified.
  const std::string junk = (scratch.root / "junk.grf").string();
  ASSERT_TRUE(fixture::WriteBytesToFile(junk, fixture::ToBytes("no archive here")));
  EXPECT_EQ(RunTool({"verify", junk, archive}).status, 2);
}

TEST(ToolVerify, DamagedArchivesGetAStatusNeverACrash) {
  Scratch scratch;
  uint32_t state = 12345;
  const auto next = [&state] { return state = state * 1103515245u + 12345u, state >> 8; };
  for (const fixture::Layout& layout : fixture::AllLayouts()) {
    const Bytes good = fixture::BuildArchive(LayoutSpec(layout)).bytes;
    for (int round = 0; round < 12; ++round) {
      Bytes bytes = good;
      if (round % 3 == 0) bytes.resize(next() % bytes.size());  // cut anywhere
      for (int flip = 0; flip < 6 && !bytes.empty(); ++flip) bytes[next() % bytes.size()] ^= 1u << (next() % 8);
      const std::string archive = scratch.Archive(bytes);
      EXPECT_LE(RunTool({"verify", "--json", "-l", archive}).status, 2);
      EXPECT_LE(RunTool({"list", "--json", archive}).status, 2);
      EXPECT_LE(RunTool({"extract", "-q", "-f", archive, "-C", (scratch.root / "x").string()}).status, 2);
    }
  }
  fs::remove(scratch.root / "a.grf");
  fs::remove_all(scratch.root / "x");
  EXPECT_TRUE(fs::is_empty(scratch.root));  // nothing written beside the target folder
}

TEST(PathSafety, RefusesEveryNameThatLeavesTheFolderOrIsNoPlainFile) {
  const struct {
    std::string name;
    const char* refusal;  // on every system; null: accepted
    const char* onWindows;
    const char* path;  // the components, joined by '/'
  } rows[] = {
      {"data\\a.txt", nullptr, nullptr, "data/a.txt"},
      {"a/./b//c\\\\d", nullptr, nullptr, "a/b/c/d"},
      {"conx.txt", nullptr, nullptr, "conx.txt"},
      {"com0\\lpt10", nullptr, nullptr, "com0/lpt10"},
      {"..\\evil", "'..'", "'..'", ""},
      {"a\\..\\..\\evil", "'..'", "'..'", ""},
      {"/etc/passwd", "absolute", "absolute", ""},
      {"\\\\server\\share\\x", "absolute", "absolute", ""},
      {"C:\\x", "drive letter", "drive letter", ""},
      {"c:x", "drive letter", "drive letter", ""},
      {std::string("a\0b", 3), "NUL", "NUL", ""},
      {"CON", "device", "device", ""},
      {"sub\\nul.txt", "device", "device", ""},
      {"Lpt1.bmp", "device", "device", ""},
      {"aux .txt", "device", "device", ""},
      {"COM\xC2\xB9", "device", "device", ""},
      {"x\\", "folder", "folder", ""},
      {"", "empty", "empty", ""},
      {".\\.", "empty", "empty", ""},
      {"file.", nullptr, "dot or a space", "file."},
      {"dir \\file", nullptr, "dot or a space", "dir /file"},
      {"ab:c", nullptr, "character", "ab:c"},
      {"a\x01z", nullptr, "character", "a\x01z"},
      {"what?", nullptr, "character", "what?"},
  };
  for (const auto& row : rows) {
    for (const bool windows : {false, true}) {
      std::vector<std::string> components;
      const char* refusal = SplitSafePath(row.name, windows, &components);
      const char* expected = windows ? row.onWindows : row.refusal;
      if (!expected) {
        std::string joined;
        for (const std::string& c : components) joined += (joined.empty() ? "" : "/") + c;
        EXPECT_TRUE(!refusal && joined == row.path) << row.name << (refusal ? refusal : joined);
      } else {
        EXPECT_TRUE(refusal && std::string(refusal).find(expected) != std::string::npos)
            << row.name << " windows " << windows << ": " << (refusal ? refusal : "accepted");
      }
    }
  }
}

TEST(ToolExtract, HostileCollidingAndUnconvertibleNamesAreReportedNeverWritten) {
  fixture::ArchiveSpec spec;
  for (const char* name : {"..\\escape1.txt", "a\\..\\..\\escape2.txt", "\\escape3.txt", "C:\\escape4.txt",
                           "c:escape5.txt", "nul.txt", "dir\\CON", "ok\\fine.txt", "ok/./fine.txt",
                           "ok\\fine.txt\\under", "bad\xFF\xFE.txt", "\xB5\xA5\xC0\xCC\xC5\xCD\\x.txt"})
    spec.entries.push_back(Entry(name, name));
  Scratch scratch;
  const std::string archive = scratch.Archive(fixture::BuildArchiveBytes(spec));
  const fs::path into = scratch.root / "deep" / "out";
  fs::create_directories(into);
  const tooltest::ToolRun run = RunTool({"extract", archive, "-C", into.string()});
  EXPECT_EQ(run.status, 1);
  // CP949 "데이터" arrives as its UTF-8; nothing else but the one fine file.
  const std::map<std::string, Bytes> expected = {
      {"ok/fine.txt", fixture::ToBytes("ok\\fine.txt")},
      {"\xEB\x8D\xB0\xEC\x9D\xB4\xED\x84\xB0/x.txt", fixture::ToBytes("\xB5\xA5\xC0\xCC\xC5\xCD\\x.txt")}};
  EXPECT_EQ(FilesUnder(into), expected);
  EXPECT_EQ(FilesUnder(scratch.root / "deep").size(), expected.size());
  for (const char* reason : {"'..'", "absolute path", "drive letter", "device name", "same file as 'ok\\fine.txt'",
                             "does not convert from CP949"})
    EXPECT_NE(run.err.find(reason), std::string::npos) << reason << "\n" << run.err;
  EXPECT_NE(run.out.find("2 of 12 entries extracted, 10 not"), std::string::npos) << run.out;
  // Patterns pick entries by glob, case and slashes aside.
  const fs::path picked = scratch.root / "picked";
  EXPECT_EQ(RunTool({"extract", archive, "OK/*.TXT", "-C", picked.string(), "-q"}).status, 1);
  EXPECT_EQ(FilesUnder(picked).size(), 1u);
}

TEST(NameConversion, Cp949NamesRoundTripThroughUtf8) {
  NameConverter names;
  std::string error, out;
  ASSERT_TRUE(names.Open("CP949", false, &error)) << error;
  const struct {
    std::string cp949, utf8;
  } rows[] = {{"\xB5\xA5\xC0\xCC\xC5\xCD", "\xEB\x8D\xB0\xEC\x9D\xB4\xED\x84\xB0"},           // 데이터
              {"data\\\xC0\xAF\xC0\xFA\xC0\xCE\xC5\xCD\xC6\xE4\xC0\xCC\xBD\xBA",                // 유저인터페이스
               "data\\\xEC\x9C\xA0\xEC\xA0\x80\xEC\x9D\xB8\xED\x84\xB0\xED\x8E\x98\xEC\x9D\xB4\xEC\x8A\xA4"},
              {"\x81\x41.spr", "\xEA\xB0\x82.spr"}};  // an extended (UHC) syllable: 갂
  for (const auto& row : rows) {
    EXPECT_TRUE(names.ToUtf8(row.cp949, &out) && out == row.utf8) << row.cp949;
  }
  for (const char* bad : {"\xFF", "cut\xB5"})  // never a lead byte, a cut pair
    EXPECT_FALSE(names.ToUtf8(bad, &out) && out.find('?') == std::string::npos) << bad;
  EXPECT_FALSE(NameConverter().Open("no-such-code-page", false, &error));
}

TEST(Glob, MatchesLikeAShellIgnoringCaseAndSlashKind) {
  const struct {
    const char* pattern;
    const char* name;
    bool match;
  } rows[] = {{"*.bmp", "data\\a.BMP", true},   {"data/*", "DATA\\x\\y", true},  {"*.bmp", "a.bmpx", false},
              {"a?c", "abc", true},             {"a?c", "ac", false},            {"[a-c]x", "Bx", true},
              {"[!a-c]x", "bx", false},         {"*a*b*c", "xaybzc", true},      {"*a*b*c", "xaybzcz", false},
              {"[x", "[x", true},               {"", "", true},                  {"**", "anything", true}};
  for (const auto& row : rows) EXPECT_EQ(GlobMatches(row.pattern, row.name), row.match) << row.pattern << " " << row.name;
}

// Every entry of an archive as the library reads it: name -> content.
std::map<std::string, Bytes> EntriesOf(const std::string& path) {
  std::map<std::string, Bytes> entries;
  GrfArchive* archive = nullptr;
  if (!GrfOpen(path.c_str(), GRF_OPEN_READ_ONLY, nullptr, &archive)) return entries;
  GrfForEachEntry(archive, [](uint32_t, uint32_t, const EntryView* view, void* map) {
        (*static_cast<std::map<std::string, Bytes>*>(map))[view->name] = Bytes(view->realSize ? view->realSize : 1);
        return true;
      }, &entries);
  for (auto& [name, content] : entries)
    if (uint32_t size = 0; !GrfReadEntry(archive, name.c_str(), content.data(), static_cast<uint32_t>(content.size()), &size))
      content = fixture::ToBytes("unreadable");
  GrfClose(&archive);
  return entries;
}

TEST(ToolMerge, LaterArchivesWinUnderTheLibrarysNamesAndIdenticalContentsLink) {
  using fixture::MakeContent;
  const Bytes a1 = MakeContent(5000, 1), a2 = MakeContent(5000, 2), a3 = MakeContent(6000, 3),
              b2 = MakeContent(300, 4, false), same = MakeContent(8000, 5), c1 = MakeContent(2000, 6);
  fixture::ArchiveSpec base, patch1, patch2;
  base.entries = {Entry("data\\a.txt", a1), Entry("data\\B.txt", a1), Entry("same.txt", same),
                  Entry("x/sep.txt", c1), Entry("m.gat", c1, Storage::Zlib, Cipher::Header)};
  patch1.version = 0x103;
  patch1.entries = {Entry("DATA\\A.TXT", a2), Entry("data\\b.txt", b2, Storage::Stored),
                    Entry("dup.txt", same, Storage::Stored)};
  patch2.version = 0x300;
  patch2.entries = {Entry("data\\a.txt", a3, Storage::Zlib, Cipher::Mixed), Entry("x\\sep.txt", a2)};
  // The library folds ASCII case in its lookups, not '/' and '\\'; a gat entry links only within its class.
  const std::map<std::string, Bytes> expected = {{"data\\a.txt", a3}, {"data\\b.txt", b2},   {"same.txt", same},
                                                 {"dup.txt", same},    {"x/sep.txt", c1},      {"x\\sep.txt", a2},
                                                 {"m.gat", c1}};
  for (const std::vector<std::string>& mode : {std::vector<std::string>{"-j", "1"}, {"--best", "-j", "2"}}) {
    Scratch scratch;
    std::vector<std::string> args = {"merge", scratch.Archive(fixture::BuildArchiveBytes(base), "base.grf"),
                                     scratch.Archive(fixture::BuildArchiveBytes(patch1), "p1.grf"),
                                     scratch.Archive(fixture::BuildArchiveBytes(patch2), "p2.grf"), "--json"};
    args.insert(args.end(), mode.begin(), mode.end());
    const tooltest::ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.HasLine({"\"added\":2,\"replaced\":2,\"removed\":0,\"unchanged\":3,\"linked\":1,\"unreadable\":0"})) << run.out;
    EXPECT_EQ(EntriesOf(args[1]), expected);
    EXPECT_EQ(RunTool({"verify", args[1]}).status, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.root), fs::directory_iterator()), 3);
  }
}

TEST(ToolMerge, APatchThatCannotBeMergedLeavesTheBaseAsItWas) {
  fixture::ArchiveSpec base, patch;
  base.entries = {Entry("a.txt", fixture::MakeContent(3000, 1))};
  patch.entries = {Entry("b.txt", fixture::MakeContent(3000, 2)),
                   Entry("c.bin", fixture::MakeContent(900, 3, false), Storage::Stored)};
  const struct {
    const char* damage;
    int status;
  } rows[] = {{"none", 0}, {"missing", 2}, {"not an archive", 2}, {"block outside the file", 2}, {"undecodable", 0}};
  for (const auto& row : rows) {
    Scratch scratch;
    const std::string what = row.damage;
    fixture::ArchiveSpec damaged = patch;
    if (what == "block outside the file") damaged.entries[0].offset = 0xF0000000;
    if (what == "undecodable") damaged.entries[1].flagByte = ENTRY_COMPRESSED, damaged.entries[1].realSize = 9000;
    const Bytes original = fixture::BuildArchiveBytes(base);
    const std::string basePath = scratch.Archive(original, "base.grf");
    std::string patchPath = scratch.Archive(what == "not an archive" ? fixture::ToBytes("no archive")
                                                                      : fixture::BuildArchiveBytes(damaged), "p.grf");
    if (what == "missing") fs::remove(patchPath);
    const tooltest::ToolRun run = RunTool({"merge", basePath, patchPath, "--json", "-o", (scratch.root / "out.grf").string()});
    EXPECT_EQ(run.status, row.status) << what << run.err;
    EXPECT_EQ(ReadPath(basePath), original) << what;
    EXPECT_EQ(fs::exists(scratch.root / "out.grf"), row.status == 0) << what;
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.root), fs::directory_iterator()),
              (what == "missing" ? 1 : 2) + (row.status == 0)) << what;  // no leftover
    EXPECT_TRUE(run.HasLine({"\"unreadable\":" + std::to_string(what == "undecodable")}) || row.status) << what << run.out;
  }
}

}  // namespace

namespace {

TEST(ToolRemove, LeavesOutWhatThePatternsMatchAndNothingElse) {
  fixture::ArchiveSpec spec;
  spec.entries = {Entry("data\\a.txt", fixture::MakeContent(3000, 1)), Entry("data\\b.TXT", fixture::MakeContent(2000, 2)),
                  Entry("c.gat", fixture::MakeContent(1000, 3), Storage::Zlib, Cipher::Header),
                  Entry("keep.bin", fixture::MakeContent(3000, 1), Storage::Stored)};
  const struct {
    std::vector<std::string> patterns;
    std::set<std::string> removed;
    int status;
  } rows[] = {{{"*.txt"}, {"data\\a.txt", "data\\b.TXT"}, 0},
              {{"DATA/A.*", "c.gat"}, {"data\\a.txt", "c.gat"}, 0},
              {{"nothing*"}, {}, 1}};
  for (const auto& row : rows) {
    Scratch scratch;
    const Bytes original = fixture::BuildArchiveBytes(spec);
    const std::string path = scratch.Archive(original);
    std::map<std::string, Bytes> expected = EntriesOf(path);
    for (const std::string& name : row.removed) expected.erase(name);
    std::vector<std::string> args = {"rm", path, "-q"};
    args.insert(args.end(), row.patterns.begin(), row.patterns.end());
    EXPECT_EQ(RunTool(args).status, row.status) << row.patterns[0];
    EXPECT_EQ(EntriesOf(path), expected) << row.patterns[0];
    if (row.status) {
      EXPECT_EQ(ReadPath(path), original);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.root), fs::directory_iterator()), 1);
  }
}

}  // namespace
