#pragma once
// Runs a slimgrf subcommand in this process, its stdout and stderr caught.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "grf/grf.h"
#include "slimgrf/options.h"
#include "tests/fixtures/archive_builder.h"
#include "tests/support/file_util_scratch.h"

#ifdef _WIN32
#include <io.h>  // dup, dup2 and close, by their POSIX names
#else
#include <unistd.h>
#endif

namespace tooltest {

struct ToolRun {
  int status = -1;
  std::string out, err;
  // Whether one line of stdout holds every piece.
  bool HasLine(std::initializer_list<std::string> pieces) const {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
      if (std::ranges::all_of(pieces, [&](const std::string& p) { return line.find(p) != std::string::npos; })) return true;
    return false;
  }
};

inline std::string Caught(int fd, const std::string& path, int saved) {
  std::fflush(fd == 1 ? stdout : stderr);
  dup2(saved, fd);
  close(saved);
  std::string text = ReadAll(path);
  std::remove(path.c_str());
  return text;
}

inline fixture::Bytes ReadPath(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return fixture::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An archive of these entries, with a table of this version.
inline fixture::Bytes ArchiveOf(std::vector<fixture::EntrySpec> entries, uint32_t version = 0x200) {
  fixture::ArchiveSpec archive;
  archive.version = version;
  archive.entries = std::move(entries);
  return fixture::BuildArchiveBytes(archive);
}

struct Scratch : ScratchDir {
  const std::filesystem::path root = Folder();
  std::string Archive(const fixture::Bytes& bytes, const char* name = "a.grf") const {
    const std::string path = (root / name).string();
    EXPECT_TRUE(fixture::WriteBytesToFile(path, bytes));
    return path;
  }
};

// name -> content of every entry of an archive (none when it does not open; an
// unreadable one reads "unreadable"), or of every file under a folder (its
// path below the folder in UTF-8, '/' between the parts).
inline std::map<std::string, fixture::Bytes> Contents(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::map<std::string, fixture::Bytes> contents;
  if (fs::is_directory(path)) {
    for (const auto& item : fs::recursive_directory_iterator(path))
      if (item.is_regular_file()) {
        const std::u8string relative = fs::relative(item.path(), path).generic_u8string();
        contents[std::string(relative.begin(), relative.end())] = ReadPath(item.path());
      }
    return contents;
  }
  GrfArchive* archive = nullptr;
  if (!GrfOpen(path.string().c_str(), GRF_OPEN_READ_ONLY, nullptr, &archive)) return contents;
  GrfForEachEntry(archive, [](uint32_t, uint32_t, const EntryView* view, void* map) {
        (*static_cast<std::map<std::string, fixture::Bytes>*>(map))[view->name].resize(view->realSize);
        return true;
      }, &contents);
  for (auto& [name, content] : contents)
    if (uint32_t size = 0; !GrfReadEntry(archive, name.c_str(), content.data(), static_cast<uint32_t>(content.size()), &size))
      content = fixture::ToBytes("unreadable");
  GrfClose(&archive);
  return contents;
}

inline size_t FilesIn(const std::filesystem::path& folder) {
  using std::filesystem::directory_iterator;
  return static_cast<size_t>(std::distance(directory_iterator(folder), directory_iterator()));
}

inline ToolRun RunTool(std::vector<std::string> args) {
  args.insert(args.begin(), "slimgrf");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  const Subcommand* subcommand = nullptr;
  ToolOptions options;
  ToolRun run;
  if (ParseToolCommandLine(static_cast<int>(argv.size()), argv.data(), &subcommand, &options, &run.err) != ToolCommand::Run)
    return run;
  const std::string outPath = fixture::TempPath("tool-out"), errPath = fixture::TempPath("tool-err");
  std::fflush(nullptr);
  const int savedOut = dup(1), savedErr = dup(2);
  FILE* out = std::fopen(outPath.c_str(), "wb");
  FILE* err = std::fopen(errPath.c_str(), "wb");
  dup2(fileno(out), 1);
  dup2(fileno(err), 2);
  std::fclose(out);
  std::fclose(err);
  run.status = subcommand->run(options);
  run.out = Caught(1, outPath, savedOut);
  run.err = Caught(2, errPath, savedErr);
  return run;
}

}  // namespace tooltest
