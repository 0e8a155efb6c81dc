#pragma once
// Temporary files a run may leave beside its cleaned copy.

#include <filesystem>
#include <string>
#include <vector>

// The names of "<cleaned file name>.*.part" in the cleaned copy's folder.
inline std::vector<std::string> PartialFilesBeside(const std::string& cleaned) {
  namespace fs = std::filesystem;
  const std::string stem = fs::path(cleaned).filename().string() + ".";
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(fs::path(cleaned).parent_path(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(stem) && name.ends_with(".part")) found.push_back(name);
  }
  return found;
}
