#pragma once
// The target folder of an extraction, written so that no name reaches outside
// it: folders are entered one at a time and never through a symbolic link
// or other reparse point (one planted while the tool runs included), and
// every file is written under a temporary name in its folder and renamed
// when complete, so a file never stands half-written under its name.

#include <cstddef>
#include <cstdint>
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
  enum class Step { kDone, kExists, kFailed };

  bool EnterFolders(const std::vector<std::string>& components, std::string* why);
  void LeaveFolders(size_t depth);  // keeps the outermost `depth` folders

  // The system's part (output_tree_posix.cpp, output_tree_win32.cpp); names
  // are single components in the current (innermost entered) folder.
  bool OpenRoot(const char* folder, std::string* error);
  bool EnterFolder(const std::string& name, std::string* why);  // creates it when missing
  void LeaveFolder();
  bool Exists(const std::string& name);
  Step CreateExclusive(const std::string& name);  // the file being written
  bool WriteAndClose(const void* data, size_t size);
  Step Rename(const std::string& from, const std::string& to, bool replace);
  void Remove(const std::string& name);
  std::string LastError() const;  // the system's text for the last failure
  static unsigned long ProcessNumber();

  std::vector<std::string> current_;  // the entered folders, outermost first
  std::vector<intptr_t> held_;        // their handles (descriptors)
  intptr_t root_ = -1;
  intptr_t file_ = -1;
  uint32_t error_ = 0;
  unsigned temporaryNumber_ = 0;
#ifdef _WIN32
  std::wstring rootPath_;  // "\\?\" and the absolute path
  std::wstring Path(const std::string& name) const;  // of a name in the current folder
#endif
};

// The key under which this file system takes two relative paths for one file
// (Windows: case ignored).
std::string FileSystemKey(const std::string& utf8Path);

// Test seam: called after the tool has created a folder and before it enters
// it, with the folder's name.
void SetFolderCreatedHookForTest(void (*hook)(const char* name));
