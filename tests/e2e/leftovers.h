#pragma once
// Temporary files a run may leave beside its cleaned copy.

#include <filesystem>
#include <string>
#include <vector>

// The names of "<cleaned file name>.*.partial" in the cleaned copy's folder.
inline std::vector<std::string> PartialFilesBeside(const std::string& cleaned) {
  namespace fs = std::filesystem;
  const fs::path path(cleaned);
  const std::string stem = path.filename().string() + ".";
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(path.parent_path(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(stem, 0) == 0 && name.size() > 8 &&
        name.compare(name.size() - 8, 8, ".partial") == 0)
      found.push_back(name);
  }
  return found;
}
