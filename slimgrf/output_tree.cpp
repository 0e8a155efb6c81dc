#include "slimgrf/output_tree.h"

#include <cstdio>

bool OutputTree::Open(const char* folder, std::string* error) { return OpenRoot(folder, error); }

void OutputTree::LeaveFolders(size_t depth) {
  while (current_.size() > depth) {
    LeaveFolder();
    current_.pop_back();
  }
}

bool OutputTree::EnterFolders(const std::vector<std::string>& components, std::string* why) {
  // Folders shared with the current chain stay entered; the rest is entered anew.
  const size_t depth = components.size() - 1;
  size_t same = 0;
  while (same < depth && same < current_.size() && current_[same] == components[same]) ++same;
  LeaveFolders(same);
  for (size_t i = same; i < depth; ++i) {
    if (!EnterFolder(components[i], why)) {
      LeaveFolders(0);
      return false;
    }
    current_.push_back(components[i]);
  }
  return true;
}

WriteOutcome OutputTree::Write(const std::vector<std::string>& components, const void* data,
                               size_t size, bool replace, std::string* why) {
  if (!EnterFolders(components, why)) return WriteOutcome::kFailed;
  const std::string& name = components.back();
  if (!replace && Exists(name)) return WriteOutcome::kExists;
  std::string temporary;
  Step created = Step::kExists;
  for (int attempt = 0; attempt < 100 && created == Step::kExists; ++attempt) {
    char stem[64];
    std::snprintf(stem, sizeof stem, ".slimgrf-%lu-%u.tmp", ProcessNumber(), temporaryNumber_++);
    temporary = stem;
    created = CreateExclusive(temporary);
  }
  if (created != Step::kDone) {
    *why = "cannot create a file: " + LastError();
    return WriteOutcome::kFailed;
  }
  if (!WriteAndClose(data, size)) {
    *why = "cannot write the file: " + LastError();
    Remove(temporary);
    return WriteOutcome::kFailed;
  }
  switch (Rename(temporary, name, replace)) {
    case Step::kDone:
      return WriteOutcome::kWritten;
    case Step::kExists:
      Remove(temporary);
      return WriteOutcome::kExists;
    case Step::kFailed:
      break;
  }
  *why = "cannot give the file its name: " + LastError();
  Remove(temporary);
  return WriteOutcome::kFailed;
}
