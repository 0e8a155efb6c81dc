#pragma once
// Helpers for the application tests: scratch folders, files with given bytes,
// and paths of the libraries built beside the test binaries.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "tests/support/file_util_scratch.h"

namespace apptest {

class ScratchFolder : public ScratchDir {
 public:
  explicit ScratchFolder(const char* /*tag*/) {}
  bool ok() const { return !Folder().empty(); }
  std::string path() const { return Folder(); }
  std::string operator/(std::string_view name) const { return File(std::string(name)); }
  // Names in the folder that start with `prefix`.
  int Count(std::string_view prefix = "") const {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Folder()))
      count += entry.path().filename().string().rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
  }
};

inline bool WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  return static_cast<bool>(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

// A Unix path handed in by the test scripts, as wine sees it (Z: drive).
inline std::string FromUnixPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// A file in the build directory (SLIMWICK_TEST_BIN, set by CTest).
inline std::string BuildFile(const char* name) {
  const char* env = std::getenv("SLIMWICK_TEST_BIN");
  std::string dir = (env && *env) ? FromUnixPath(env) : std::string(".");
  return dir + "\\" + name;
}

}  // namespace apptest
