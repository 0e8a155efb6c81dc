#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "slimgrf/input_files.h"

const char kInputSeparator = '/';

namespace {

bool Fail(std::string* why) {
  *why = strerror(errno);
  return false;
}

// Opens without following a final link and without waiting on a FIFO;
// false when the open file is not what `st` says is at the name.
int OpenChecked(const std::string& path, const struct stat& st, std::string* why) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Fail(why);
    return -1;
  }
  struct stat opened;
  if (fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
    close(fd);
    *why = "it changed while being read";
    return -1;
  }
  return fd;
}

}  // namespace

std::string InputPathOf(const char* operand) { return operand; }

bool ProbeInput(const std::string& path, InputProbe* probe, std::string* why) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return Fail(why);
  probe->kind = S_ISLNK(st.st_mode)   ? InputKind::kLink
                : S_ISREG(st.st_mode) ? InputKind::kFile
                : S_ISDIR(st.st_mode) ? InputKind::kFolder
                                      : InputKind::kOther;
  probe->size = static_cast<uint64_t>(st.st_size);
  probe->identity = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  if (probe->kind != InputKind::kFile) return true;
  const int fd = OpenChecked(path, st, why);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool ListInputFolder(const std::string& path, std::vector<std::string>* names, std::string* why) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
  if (!dir) {
    Fail(why);
    if (fd >= 0) close(fd);
    return false;
  }
  errno = 0;
  while (const struct dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  const bool listed = errno == 0 || Fail(why);
  closedir(dir);
  return listed;
}

bool ReadInputFile(const InputFile& file, std::vector<unsigned char>* content, std::string* why) {
  struct stat st;
  if (lstat(file.path.c_str(), &st) != 0) return Fail(why);
  if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != file.size) {
    *why = "it changed while being added";
    return false;
  }
  const int fd = OpenChecked(file.path, st, why);
  if (fd < 0) return false;
  try {
    content->resize(static_cast<size_t>(st.st_size));
  } catch (...) {
    close(fd);
    *why = "not enough memory to hold it";
    return false;
  }
  size_t done = 0;
  while (done < content->size()) {
    const ssize_t got = read(fd, content->data() + done, content->size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = 0;
      *why = got == 0 ? "it became shorter while being read" : strerror(errno);
      close(fd);
      return false;
    }
    done += static_cast<size_t>(got);
  }
  close(fd);
  return true;
}
