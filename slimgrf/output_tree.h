#pragma once
// The target folder of an extraction, written so that no name reaches outside
// it: folders are entered one at a time and never through a symbolic link
// or other reparse point (one planted while the tool runs included), and
// every file is written under a temporary name in its folder and renamed
// when complete, so a file never stands half-written under its name.

#include <cstddef>
#include <string>
#include <vector>

enum class WriteOutcome { kWritten, kExists, kFailed };

class OutputTree {
 public:
  OutputTree() = default;
  OutputTree(const OutputTree&) = delete;
  OutputTree& operator=(const OutputTree&) = delete;
  ~OutputTree();

  // Opens the target folder, creating it (not its parents) when missing.
  bool Open(const char* folder, std::string* error);
  // Writes a file at the components (UTF-8; folders, then the file name, as
  // SplitSafePath gives them), creating folders as needed. An existing file
  // is kept (kExists) unless `replace`. On kFailed *why says what went wrong.
  WriteOutcome Write(const std::vector<std::string>& components, const void* data, size_t size,
                     bool replace, std::string* why);

 private:
  bool EnterFolders(const std::vector<std::string>& components, std::string* why);
  void LeaveFolders();

#ifdef _WIN32
  std::wstring root_;                   // "\\?\" and the absolute path
  void* rootHandle_ = nullptr;          // held: the folder stays where it is
  std::vector<void*> held_;             // the current folder chain, held
#else
  int root_ = -1;
  std::vector<int> held_;               // the current folder chain
#endif
  std::vector<std::string> current_;    // the components of the current folder
  unsigned temporaryNumber_ = 0;
};

// The key under which this file system takes two relative paths for one file
// (Windows: case ignored).
std::string FileSystemKey(const std::string& utf8Path);

// Test seam: called after the tool has created a folder and before it enters
// it, with the folder's name.
void SetFolderCreatedHookForTest(void (*hook)(const char* name));
