#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "slimgrf/output_tree.h"

namespace {

void (*folderCreatedHook)(const char*) = nullptr;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string Describe(int error) { return strerror(error); }

// Renames without replacing: renameat2 where the file system has it, else a
// hard link and the temporary name's removal; both fail when the name exists.
bool RenameNoReplace(int folder, const char* from, const char* to, int* error) {
#ifdef RENAME_NOREPLACE
  if (renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) {
    *error = errno;
    return false;
  }
#endif
  if (linkat(folder, from, folder, to, 0) != 0) {
    *error = errno;
    return false;
  }
  unlinkat(folder, from, 0);
  return true;
}

}  // namespace

void SetFolderCreatedHookForTest(void (*hook)(const char* name)) { folderCreatedHook = hook; }

std::string FileSystemKey(const std::string& utf8Path) { return utf8Path; }

OutputTree::~OutputTree() {
  LeaveFolders();
  if (root_ >= 0) close(root_);
}

bool OutputTree::Open(const char* folder, std::string* error) {
  if (mkdir(folder, 0777) != 0 && errno != EEXIST) {
    *error = "Cannot create the folder: " + Describe(errno) + ".";
    return false;
  }
  root_ = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root_ < 0) {
    *error = "Cannot open the folder: " + Describe(errno) + ".";
    return false;
  }
  return true;
}

void OutputTree::LeaveFolders() {
  for (const int fd : held_) close(fd);
  held_.clear();
  current_.clear();
}

bool OutputTree::EnterFolders(const std::vector<std::string>& components, std::string* why) {
  const size_t depth = components.size() - 1;
  // Folders shared with the current chain stay open; the rest is entered anew.
  size_t same = 0;
  while (same < depth && same < current_.size() && current_[same] == components[same]) ++same;
  while (current_.size() > same) {
    close(held_.back());
    held_.pop_back();
    current_.pop_back();
  }
  for (size_t i = same; i < depth; ++i) {
    const int parent = held_.empty() ? root_ : held_.back();
    const char* name = components[i].c_str();
    int fd = openat(parent, name, kFolderFlags);
    if (fd < 0 && errno == ENOENT) {
      if (mkdirat(parent, name, 0777) != 0 && errno != EEXIST) {
        *why = "cannot create folder '" + components[i] + "': " + Describe(errno);
        return false;
      }
      if (folderCreatedHook) folderCreatedHook(name);
      fd = openat(parent, name, kFolderFlags);
    }
    if (fd < 0) {
      *why = errno == ELOOP || errno == ENOTDIR
                 ? "'" + components[i] + "' is a symbolic link or a file, not a folder"
                 : "cannot enter folder '" + components[i] + "': " + Describe(errno);
      return false;
    }
    held_.push_back(fd);
    current_.push_back(components[i]);
  }
  return true;
}

WriteOutcome OutputTree::Write(const std::vector<std::string>& components, const void* data,
                               size_t size, bool replace, std::string* why) {
  if (!EnterFolders(components, why)) {
    LeaveFolders();
    return WriteOutcome::kFailed;
  }
  const int folder = held_.empty() ? root_ : held_.back();
  const char* name = components.back().c_str();
  struct stat existing;
  if (!replace && fstatat(folder, name, &existing, AT_SYMLINK_NOFOLLOW) == 0)
    return WriteOutcome::kExists;

  char temporary[64];
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    snprintf(temporary, sizeof temporary, ".slimgrf-%ld-%u.tmp", static_cast<long>(getpid()),
             temporaryNumber_++);
    fd = openat(folder, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    *why = "cannot create a file: " + Describe(errno);
    return WriteOutcome::kFailed;
  }
  const auto* bytes = static_cast<const char*>(data);
  size_t done = 0;
  int error = 0;
  while (done < size && !error) {
    const ssize_t wrote = write(fd, bytes + done, size - done);
    if (wrote < 0 && errno != EINTR) error = errno;
    if (wrote > 0) done += static_cast<size_t>(wrote);
  }
  if (close(fd) != 0 && !error) error = errno;
  if (!error) {
    if (replace) {
      if (renameat(folder, temporary, folder, name) != 0) error = errno;
    } else if (!RenameNoReplace(folder, temporary, name, &error) && error == EEXIST) {
      unlinkat(folder, temporary, 0);
      return WriteOutcome::kExists;
    }
  }
  if (error) {
    unlinkat(folder, temporary, 0);
    *why = (done < size ? "cannot write the file: " : "cannot give the file its name: ") +
           Describe(error);
    return WriteOutcome::kFailed;
  }
  return WriteOutcome::kWritten;
}
