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

inline fixture::Bytes ReadPath(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// An archive of these entries, with a table of this version.
inline fixture::Bytes ArchiveOf(std::vector<fixture::EntrySpec> entries, uint32_t version = 0x200) {
  fixture::ArchiveSpec archive;
  archive.version = version, archive.entries = std::move(entries);
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
  return static_cast<size_t>(std::ranges::distance(std::filesystem::directory_iterator(folder)));
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
  // stdout and stderr into files while it runs, then put back
  const std::string paths[] = {fixture::TempPath("tool-out"), fixture::TempPath("tool-err")};
  std::fflush(nullptr);
  int saved[2];
  for (const int fd : {1, 2}) {
    FILE* file = std::fopen(paths[fd - 1].c_str(), "wb");
    saved[fd - 1] = dup(fd);
    dup2(fileno(file), fd);
    std::fclose(file);
  }
  run.status = subcommand->run(options);
  std::fflush(nullptr);
  for (const int fd : {1, 2}) {
    dup2(saved[fd - 1], fd);
    close(saved[fd - 1]);
    (fd == 1 ? run.out : run.err) = ReadAll(paths[fd - 1]);
    std::remove(paths[fd - 1].c_str());
  }
  return run;
}

}  // namespace tooltest
