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

// The innermost entered folder.
int Current(const std::vector<intptr_t>& held, intptr_t root) {
  return static_cast<int>(held.empty() ? root : held.back());
}

}  // namespace

void SetFolderCreatedHookForTest(void (*hook)(const char* name)) { folderCreatedHook = hook; }

std::string FileSystemKey(const std::string& utf8Path) { return utf8Path; }

OutputTree::~OutputTree() {
  LeaveFolders(0);
  if (root_ >= 0) close(static_cast<int>(root_));
}

unsigned long OutputTree::ProcessNumber() { return static_cast<unsigned long>(getpid()); }

std::string OutputTree::LastError() const { return strerror(static_cast<int>(error_)); }

bool OutputTree::OpenRoot(const char* folder, std::string* error) {
  if (mkdir(folder, 0777) != 0 && errno != EEXIST) {
    error_ = errno;
    *error = "Cannot create the folder: " + LastError() + ".";
    return false;
  }
  root_ = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root_ < 0) {
    error_ = errno;
    *error = "Cannot open the folder: " + LastError() + ".";
    return false;
  }
  return true;
}

bool OutputTree::EnterFolder(const std::string& name, std::string* why) {
  const int parent = Current(held_, root_);
  int fd = openat(parent, name.c_str(), kFolderFlags);
  if (fd < 0 && errno == ENOENT) {
    if (mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
      error_ = errno;
      *why = "cannot create folder '" + name + "': " + LastError();
      return false;
    }
    if (folderCreatedHook) folderCreatedHook(name.c_str());
    fd = openat(parent, name.c_str(), kFolderFlags);
  }
  if (fd < 0) {
    error_ = errno;
    *why = errno == ELOOP || errno == ENOTDIR
               ? "'" + name + "' is a symbolic link or a file, not a folder"
               : "cannot enter folder '" + name + "': " + LastError();
    return false;
  }
  held_.push_back(fd);
  return true;
}

void OutputTree::LeaveFolder() {
  close(static_cast<int>(held_.back()));
  held_.pop_back();
}

bool OutputTree::Exists(const std::string& name) {
  struct stat existing;
  return fstatat(Current(held_, root_), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
}

OutputTree::Step OutputTree::CreateExclusive(const std::string& name) {
  file_ = openat(Current(held_, root_), name.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (file_ >= 0) return Step::kDone;
  error_ = errno;
  return errno == EEXIST ? Step::kExists : Step::kFailed;
}

bool OutputTree::WriteAndClose(const void* data, size_t size) {
  const int fd = static_cast<int>(file_);
  file_ = -1;
  const auto* bytes = static_cast<const char*>(data);
  size_t done = 0;
  error_ = 0;
  while (done < size && !error_) {
    const ssize_t wrote = write(fd, bytes + done, size - done);
    if (wrote < 0 && errno != EINTR) error_ = errno;
    if (wrote > 0) done += static_cast<size_t>(wrote);
  }
  if (close(fd) != 0 && !error_) error_ = errno;
  return error_ == 0;
}

OutputTree::Step OutputTree::Rename(const std::string& from, const std::string& to, bool replace) {
  const int folder = Current(held_, root_);
  if (replace) {
    if (renameat(folder, from.c_str(), folder, to.c_str()) == 0) return Step::kDone;
    error_ = errno;
    return Step::kFailed;
  }
  // Without replacing: renameat2 where the file system has it, else a hard
  // link and the temporary name's removal; both fail when the name exists.
#ifdef RENAME_NOREPLACE
  if (renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return Step::kDone;
  if (errno != EINVAL && errno != ENOSYS) {
    error_ = errno;
    return errno == EEXIST ? Step::kExists : Step::kFailed;
  }
#endif
  if (linkat(folder, from.c_str(), folder, to.c_str(), 0) == 0) {
    unlinkat(folder, from.c_str(), 0);
    return Step::kDone;
  }
  error_ = errno;
  return errno == EEXIST ? Step::kExists : Step::kFailed;
}

void OutputTree::Remove(const std::string& name) { unlinkat(Current(held_, root_), name.c_str(), 0); }
