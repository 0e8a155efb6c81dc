#pragma once
// A private folder under the temporary folder, removed with its contents.

#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

class ScratchDir {
 public:
  ScratchDir() { EXPECT_TRUE(std::filesystem::create_directory(path_)) << path_; }
  ~ScratchDir() { std::error_code ignored; std::filesystem::remove_all(path_, ignored); }
  std::string Folder() const { return path_.string(); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, const std::string& content) const {
    std::ofstream(File(name), std::ios::binary) << content;
    return File(name);
  }

 private:
  const std::filesystem::path path_ = std::filesystem::temp_directory_path() /
                                      ("slimwick-test-" + std::to_string(std::random_device()()));
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline size_t OpenFiles() {  // descriptors of this process; 0 where they cannot be counted (under wine: its own)
  std::error_code e;
  size_t n = 0;
#ifndef _WIN32
  for (std::filesystem::directory_iterator it("/proc/self/fd", e), end; !e && it != end; it.increment(e)) ++n;
#endif
  return n;
}

constexpr char kSeparator = static_cast<char>(std::filesystem::path::preferred_separator);
