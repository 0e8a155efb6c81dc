#pragma once
// The files `add` stores: a file, or a folder walked recursively with the
// names of each folder in byte order, so that one tree always gives one
// archive. Symbolic links (Windows: reparse points) are never followed, and
// nothing that is not a plain file is opened for its content: such things are
// reported and left out. Paths are UTF-8 on Windows (the wide API takes them
// from there) and the system's bytes elsewhere.

#include <cstdint>
#include <string>
#include <vector>

#include "support/file_util.h"

struct InputFile {
  std::string path;                     // where it is, as given and walked
  std::vector<std::string> components;  // its name under the operand's parent folder
  uint64_t size = 0;
  FileIdentity identity{};
};

struct InputWalk {
  std::vector<InputFile> files;
  std::vector<std::string> notices;   // "PATH: what was left out and why"
  std::vector<std::string> problems;  // "PATH: what cannot be read": the add stops
};

// Adds the files of one operand. Its names start with the operand's last
// component (a folder's files under it); an operand that ends in "." or
// "..", or a root, names its files relative to itself.
void CollectInputFiles(const char* operand, InputWalk* walk);

// Reads the whole file; false with *why (the system's text) when it cannot,
// or when it is no longer the plain file the walk found.
bool ReadInputFile(const InputFile& file, std::vector<unsigned char>* content, std::string* why);

// ---- the system's part (input_files_posix.cpp, input_files_win32.cpp) ----

enum class InputKind { kFile, kFolder, kLink, kOther };

struct InputProbe {
  InputKind kind = InputKind::kOther;
  uint64_t size = 0;
  FileIdentity identity{};
};

// What the path is, a final link not followed; a file or folder is opened for
// reading to make sure it can be. False with *why.
bool ProbeInput(const std::string& path, InputProbe* probe, std::string* why);
// The names in a folder ("." and ".." aside), in any order.
bool ListInputFolder(const std::string& path, std::vector<std::string>* names, std::string* why);
// The operand as a path of this file system, and the folder separator.
std::string InputPathOf(const char* operand);
extern const char kInputSeparator;
