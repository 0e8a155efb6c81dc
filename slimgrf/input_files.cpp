#include "slimgrf/input_files.h"

#include <algorithm>

#include "cli/console/terminal_host.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == kInputSeparator; }

std::string Shown(const std::string& path) { return RenderForConsole(path.c_str()); }

// Adds the file at `path`, or the files under the folder; `folders` are
// those being walked, outermost first (a folder met again inside itself, as
// a bind mount can make it, is not walked twice).
void Walk(const std::string& path, std::vector<std::string>* components,
          std::vector<FileIdentity>* folders, InputWalk* walk) {
  InputProbe probe;
  std::string why;
  if (!ProbeInput(path, &probe, &why)) {
    walk->problems.push_back(Shown(path) + ": cannot be read: " + why + ".");
    return;
  }
  switch (probe.kind) {
    case InputKind::kLink:
      walk->notices.push_back(Shown(path) + ": not added: a symbolic link (links are not followed).");
      return;
    case InputKind::kOther:
      walk->notices.push_back(Shown(path) + ": not added: neither a plain file nor a folder.");
      return;
    case InputKind::kFile:
      walk->files.push_back(InputFile{path, *components, probe.size, probe.identity});
      return;
    case InputKind::kFolder:
      break;
  }
  for (const FileIdentity& folder : *folders) {
    if (SameFile(folder, probe.identity)) {
      walk->problems.push_back(Shown(path) + ": cannot be read: the folder is inside itself.");
      return;
    }
  }
  std::vector<std::string> names;
  if (!ListInputFolder(path, &names, &why)) {
    walk->problems.push_back(Shown(path) + ": cannot be read: " + why + ".");
    return;
  }
  std::sort(names.begin(), names.end());
  folders->push_back(probe.identity);
  const std::string prefix = IsSeparator(path.back()) ? path : path + kInputSeparator;
  for (const std::string& name : names) {
    if (TerminalHost::stopRequested.load()) break;  // the add then stops
    components->push_back(name);
    Walk(prefix + name, components, folders, walk);
    components->pop_back();
  }
  folders->pop_back();
}

}  // namespace

void CollectInputFiles(const char* operand, InputWalk* walk) {
  const std::string path = InputPathOf(operand);
  if (path.empty()) {
    walk->problems.push_back("'': cannot be read: an empty path.");
    return;
  }
  size_t end = path.size();
  while (end > 1 && IsSeparator(path[end - 1])) --end;
  size_t start = end;
  // A drive ("C:") is no part of the name either.
  while (start > 0 && !IsSeparator(path[start - 1]) && !(kInputSeparator == '\\' && path[start - 1] == ':'))
    --start;
  const std::string last = path.substr(start, end - start);
  std::vector<std::string> components;
  if (!last.empty() && last != "." && last != "..") components.push_back(last);
  std::vector<FileIdentity> folders;
  Walk(path, &components, &folders, walk);
}
