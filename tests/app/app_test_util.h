#pragma once
// Helpers for the application tests: scratch folders, files with given bytes,
// and paths of the libraries built beside the test binaries.

#include <windows.h>

#include <cstdlib>
#include <string>
#include <string_view>

namespace apptest {

// A fresh folder under the system's temporary folder, removed with
// everything in it when the object goes.
class ScratchFolder {
 public:
  explicit ScratchFolder(const char* tag) {
    char base[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof base, base);
    std::string root = (length > 0 && length < sizeof base) ? std::string(base, length) : ".\\";
    if (root.back() != '\\') root += '\\';
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
      std::string candidate = root + "slimwick-" + tag + "-" +
                              std::to_string(GetCurrentProcessId()) + "-" +
                              std::to_string(GetTickCount() + attempt);
      if (CreateDirectoryA(candidate.c_str(), nullptr)) {
        path_ = candidate;
        break;
      }
    }
  }
  ~ScratchFolder() {
    if (!path_.empty()) RemoveTree(path_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string operator/(std::string_view name) const { return path_ + "\\" + std::string(name); }

  // Names in the folder matching a wildcard pattern.
  int Count(const char* pattern) const {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path_ + "\\" + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do {
      if (std::string_view(data.cFileName) != "." && std::string_view(data.cFileName) != "..")
        ++count;
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return count;
  }

  static void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        const std::string full = folder + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(full);
        } else {
          SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileA(full.c_str());
        }
      } while (FindNextFileA(find, &data));
      FindClose(find);
    }
    SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(folder.c_str());
  }

 private:
  std::string path_;
};

inline bool WriteBytes(const std::string& path, std::string_view bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

inline std::string ReadBytes(const std::string& path) {
  std::string bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

inline bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

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
