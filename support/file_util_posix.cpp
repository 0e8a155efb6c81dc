// POSIX backend of the file utilities. The contracts are those of the Win32
// backend; errno is translated into the same error codes.
//
// Share modes have no POSIX counterpart: they are accepted and ignored, so
// every open behaves like the most permissive Windows share mode. Of the
// flags and attributes only the scan hints have a meaning here.

#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>

#include "support/clock.h"
#include "support/file_util.h"
#include "support/file_util_backend.h"
#include "support/sys_error.h"

namespace {

// The descriptor inside a handle, or -1 (which the calls reject with EBADF).
int Fd(FileHandle handle) {
  if (handle < 0 || handle > INT_MAX) return -1;
  return static_cast<int>(handle);
}

bool FailErrno() {
  SetSystemError(ErrorFromErrno(errno));
  return false;
}

int Whence(uint32_t method) {
  switch (method) {
    case fileio::kFileBegin: return SEEK_SET;
    case fileio::kFileCurrent: return SEEK_CUR;
    case fileio::kFileEnd: return SEEK_END;
    default: return -1;
  }
}

// Applies the access hints of the Windows flags to an open descriptor.
void ApplyScanHints(int fd, uint32_t flags) {
  if (flags & fileio::kFlagSequentialScan) {
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  } else if (flags & fileio::kFlagRandomAccess) {
    posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  }
}

// The CreateFileA equivalent: access rights, creation disposition and the
// scan hints.
FileHandle OpenPosix(const char* name, uint32_t access, uint32_t disposition, uint32_t flags) {
  if (name == nullptr) {
    SetSystemError(syserr::kInvalidParameter);
    return kInvalidFile;
  }
  const bool reading = (access & fileio::kGenericRead) != 0;
  const bool writing = (access & fileio::kGenericWrite) != 0;
  int oflags = O_CLOEXEC | (writing ? (reading ? O_RDWR : O_WRONLY) : O_RDONLY);
  switch (disposition) {
    case fileio::kCreateNew: oflags |= O_CREAT | O_EXCL; break;
    case fileio::kCreateAlways: oflags |= O_CREAT | O_TRUNC; break;
    case fileio::kOpenExisting: break;
    case fileio::kOpenAlways: oflags |= O_CREAT; break;
    default:
      SetSystemError(syserr::kInvalidParameter);
      return kInvalidFile;
  }

  // Non-blocking only for the open itself, so that a FIFO cannot stall it.
  int fd;
  do {
    fd = open(name, oflags | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    FailErrno();
    return kInvalidFile;
  }
  // Only regular files are files here: a folder, device or FIFO is refused,
  // as Windows refuses a folder.
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    SetSystemError(syserr::kAccessDenied);
    return kInvalidFile;
  }
  ApplyScanHints(fd, flags);
  SetSystemError(syserr::kSuccess);
  return static_cast<FileHandle>(fd);
}

bool CurrentPosition(int fd, int64_t* position) {
  const off_t at = lseek(fd, 0, SEEK_CUR);
  if (at < 0) return FailErrno();
  *position = static_cast<int64_t>(at);
  return true;
}

// The absolute position a move by `distance` from `method` would reach.
bool TargetPosition(int fd, int64_t distance, uint32_t method, int64_t* target) {
  int64_t base = 0;
  switch (method) {
    case fileio::kFileBegin: break;
    case fileio::kFileCurrent:
      if (!CurrentPosition(fd, &base)) return false;
      break;
    case fileio::kFileEnd: {
      struct stat st;
      if (fstat(fd, &st) != 0) return FailErrno();
      base = static_cast<int64_t>(st.st_size);
      break;
    }
    default:
      SetSystemError(syserr::kInvalidParameter);
      return false;
  }
  if ((distance > 0 && base > INT64_MAX - distance) || base + distance < 0) {
    SetSystemError(syserr::kNegativeSeek);
    return false;
  }
  *target = base + distance;
  return true;
}

}  // namespace

// --- Opening and closing ----------------------------------------------------

bool OpenExistingForRead(const char* name, uint32_t flagsAndAttributes, FileHandle* handle) {
  // One attempt stands for all four share modes.
  *handle = OpenPosix(name, fileio::kGenericRead, fileio::kOpenExisting, flagsAndAttributes);
  return IsValidHandle(*handle);
}

FileHandle CreateFileChecked(const char* name, uint32_t access, uint32_t /*share*/,
                             void* /*security*/, uint32_t disposition,
                             uint32_t flagsAndAttributes, FileHandle /*templateFile*/) {
  return OpenPosix(name, access, disposition, flagsAndAttributes);
}

bool CloseFileHandle(FileHandle* handle) {
  const int fd = Fd(*handle);
  *handle = kInvalidFile;
  // The descriptor is released even when close reports an error.
  if (close(fd) != 0 && errno != EINTR) return FailErrno();
  return true;
}

bool RemoveFile(const char* name) {
  if (name == nullptr) {
    SetSystemError(syserr::kInvalidParameter);
    return false;
  }
  if (unlink(name) != 0) return FailErrno();
  return true;
}

// --- Positions ---------------------------------------------------------------

bool SeekFile64(FileHandle handle, int64_t distance, uint64_t* newPosition, uint32_t method) {
  const int fd = Fd(handle);
  const int whence = Whence(method);
  if (whence < 0) {
    SetSystemError(syserr::kInvalidParameter);
    return false;
  }
  const off_t at = lseek(fd, static_cast<off_t>(distance), whence);
  if (at < 0) {
    // With a valid descriptor and method, EINVAL means a position before 0.
    SetSystemError(errno == EINVAL ? syserr::kNegativeSeek : ErrorFromErrno(errno));
    return false;
  }
  if (newPosition) *newPosition = static_cast<uint64_t>(at);
  return true;
}

bool SetFileEnd64(FileHandle handle, int64_t distance, uint32_t method) {
  // ftruncate does not move the file position, so it is kept on every path.
  const int fd = Fd(handle);
  int64_t target = 0;
  if (!TargetPosition(fd, distance, method, &target)) return false;
  int rc;
  do {
    rc = ftruncate(fd, static_cast<off_t>(target));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    // A descriptor opened for reading only is refused with EINVAL or EBADF.
    SetSystemError((errno == EINVAL || errno == EBADF) ? syserr::kAccessDenied
                                                       : ErrorFromErrno(errno));
    return false;
  }
  return true;
}

// --- Reading and writing -----------------------------------------------------

namespace {

// Moves up to `count` bytes by calling `step(done)` (the bytes one call moved,
// or -1 with errno) until all are moved, the file ends (0) or a call fails;
// reads stop at the end of a file like ReadFile, writes move everything or fail.
template <typename Step>
bool Transfer(uint32_t count, uint32_t* moved, Step step) {
  uint32_t done = 0;
  bool ok = true;
  while (done < count) {
    const ssize_t stepped = step(done);
    if (stepped < 0) {
      if (errno == EINTR) continue;
      ok = FailErrno();
      break;
    }
    if (stepped == 0) break;
    done += static_cast<uint32_t>(stepped);
  }
  if (moved) *moved = done;
  return ok;
}

bool PositionFits(uint64_t position, uint32_t count, uint32_t* moved) {
  if (position <= static_cast<uint64_t>(INT64_MAX) - count) return true;
  SetSystemError(syserr::kNegativeSeek);
  if (moved) *moved = 0;
  return false;
}

}  // namespace

bool ReadFromFile(FileHandle handle, void* buffer, uint32_t count, uint32_t* moved) {
  auto* out = static_cast<unsigned char*>(buffer);
  return Transfer(count, moved,
                  [&](uint32_t done) { return read(Fd(handle), out + done, count - done); });
}

bool ReadFromFileAt(FileHandle handle, uint64_t position, void* buffer, uint32_t count,
                    uint32_t* moved) {
  auto* out = static_cast<unsigned char*>(buffer);
  return PositionFits(position, count, moved) &&
         Transfer(count, moved, [&](uint32_t done) {
           return pread(Fd(handle), out + done, count - done, static_cast<off_t>(position + done));
         });
}

bool WriteToFile(FileHandle handle, const void* buffer, uint32_t count, uint32_t* moved) {
  const auto* in = static_cast<const unsigned char*>(buffer);
  return Transfer(count, moved,
                  [&](uint32_t done) { return write(Fd(handle), in + done, count - done); });
}

bool WriteToFileAt(FileHandle handle, uint64_t position, const void* buffer, uint32_t count,
                   uint32_t* moved) {
  const auto* in = static_cast<const unsigned char*>(buffer);
  return PositionFits(position, count, moved) &&
         Transfer(count, moved, [&](uint32_t done) {
           return pwrite(Fd(handle), in + done, count - done, static_cast<off_t>(position + done));
         });
}

void StartWriteBack(FileHandle handle) {
#if defined(__linux__)
  sync_file_range(Fd(handle), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)handle;
#endif
}

bool FlushFile(FileHandle handle) {
  if (fsync(Fd(handle)) != 0) return FailErrno();
  return true;
}

bool QueryFileSize(FileHandle handle, uint64_t* size) {
#if defined(__linux__) && defined(STATX_SIZE)
  // Only the size is asked for: a query that reads the file's times makes
  // the next write stamp a fine-grained time, an inode update per small write.
  struct statx sx;
  if (statx(Fd(handle), "", AT_EMPTY_PATH, STATX_SIZE, &sx) == 0 && (sx.stx_mask & STATX_SIZE)) {
    *size = static_cast<uint64_t>(sx.stx_size);
    return true;
  }
#endif
  struct stat st;
  if (fstat(Fd(handle), &st) != 0) return FailErrno();
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

// --- Sizes -------------------------------------------------------------------

bool GetFileSize64(const char* name, uint64_t* size) {
  // The directory entry gives the size without opening the file, whoever
  // holds it. A folder, which has no size of its own, reads as 0.
  if (name == nullptr) {
    SetSystemError(syserr::kInvalidParameter);
    return false;
  }
  struct stat st;
  if (stat(name, &st) != 0) return FailErrno();
  if (size) *size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  return true;
}

// --- Held files ------------------------------------------------------------------
//
// The hold is an exclusive flock on the open file: it lasts while any
// descriptor of that open file (the first or a duplicate) stays open.

bool QueryPathKind(const char* name, PathKind* kind) {
  struct stat st;
  if (name == nullptr) {
    SetSystemError(syserr::kInvalidParameter);
    return false;
  }
  if (lstat(name, &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return FailErrno();
    *kind = PathKind::kMissing;
    return true;
  }
  *kind = S_ISLNK(st.st_mode) ? PathKind::kLink
          : S_ISREG(st.st_mode) ? PathKind::kFile
                                : PathKind::kOther;
  return true;
}

bool QueryFileIdentity(const char* name, FileIdentity* identity) {
  struct stat st;
  if (name == nullptr) {
    SetSystemError(syserr::kInvalidParameter);
    return false;
  }
  if (stat(name, &st) != 0) return FailErrno();
  identity->volume = static_cast<uint64_t>(st.st_dev);
  identity->index = static_cast<uint64_t>(st.st_ino);
  return true;
}

namespace {

// The folder part of a path ("." when there is none) in `folder`; false when
// it does not fit. Paths here are built without the heap, which may be out.
bool FolderOf(const char* path, char* folder, size_t size) {
  const char* part = FileNamePart(path);
  if (part == path) return std::snprintf(folder, size, ".") < static_cast<int>(size);
  const int length = part == path + 1 ? 1 : static_cast<int>(part - path - 1);  // "/" stays
  return std::snprintf(folder, size, "%.*s", length, path) < static_cast<int>(size);
}

// True when the name still leads to the open file (not through a link).
bool NameIsFile(const char* name, int fd) {
  struct stat named, open;
  return lstat(name, &named) == 0 && fstat(fd, &open) == 0 && named.st_dev == open.st_dev &&
         named.st_ino == open.st_ino;
}

}  // namespace

bool CreateHeldFile(const char* name, FileHandle* handle) {
  *handle = kInvalidFile;
  int fd;
  do {
    fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return FailErrno();
  // Between the creation and the lock a sweep may take the file: it then
  // holds the lock, or the name no longer leads to it. The sweep removes it.
  const bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
  const int err = errno;
  if (!locked && err != EWOULDBLOCK) unlink(name);
  if (!locked || !NameIsFile(name, fd)) {
    close(fd);
    SetSystemError(locked || err == EWOULDBLOCK ? syserr::kFileExists : ErrorFromErrno(err));
    return false;
  }
  *handle = static_cast<FileHandle>(fd);
  return true;
}

bool DuplicateFileHandle(FileHandle handle, FileHandle* copy) {
  const int fd = fcntl(Fd(handle), F_DUPFD_CLOEXEC, 0);
  *copy = fd < 0 ? kInvalidFile : static_cast<FileHandle>(fd);
  return fd >= 0 || FailErrno();
}


bool CommitHeldFile(FileHandle* held, const char* name, const char* target) {
  const int fd = Fd(*held);
  if (fsync(fd) != 0) return FailErrno();
  if (rename(name, target) != 0) return FailErrno();
  // The new name is made durable too. The data is already on disk and the
  // rename done, so a folder that cannot be synced does not fail the commit.
  char path[PATH_MAX];
  const int folder = FolderOf(target, path, sizeof path) ? open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  CloseFileHandle(held);
  return true;
}

void DiscardHeldFile(FileHandle* held, const char* name) {
  if (!IsValidHandle(*held)) return;
  // Removed while still held, so that no one else can take it in between.
  if (NameIsFile(name, Fd(*held))) unlink(name);
  CloseFileHandle(held);
}

uint32_t SweepLeftovers(const char* prefix, const char* suffix) {
  char folder[PATH_MAX], path[PATH_MAX];
  const char* base = FileNamePart(prefix);
  DIR* dir = FolderOf(prefix, folder, sizeof folder) ? opendir(folder) : nullptr;
  if (dir == nullptr) return 0;
  uint32_t removed = 0;
  while (const struct dirent* entry = readdir(dir)) {
    if (!fileio_backend::IsLeftoverName(entry->d_name, base, suffix)) continue;
    if (std::snprintf(path, sizeof path, "%s/%s", folder, entry->d_name) >= static_cast<int>(sizeof path)) continue;
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 && NameIsFile(path, fd) &&
        unlink(path) == 0) {
      ++removed;
    }
    close(fd);
  }
  closedir(dir);
  return removed;
}

// --- Libraries ----------------------------------------------------------------

bool LoadLibraryByName(const char* name, LibraryHandle* module) {
  void* h = name ? dlopen(name, RTLD_NOW | RTLD_LOCAL) : nullptr;
  *module = h;
  if (h == nullptr) {
    SetSystemError(syserr::kModNotFound);
    return false;
  }
  return true;
}

void* GetLibrarySymbol(LibraryHandle module, const char* symbol) {
  // A null module would search the whole process (RTLD_DEFAULT).
  if (module == nullptr) {
    SetSystemError(syserr::kInvalidHandle);
    return nullptr;
  }
  void* address = symbol ? dlsym(module, symbol) : nullptr;
  // dlsym also searches the library's dependencies; like GetProcAddress, only
  // the library's own exports count.
  if (address != nullptr) {
    Dl_info owner{};
    struct link_map* map = nullptr;
    if (dladdr(address, &owner) == 0 || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map ||
        !owner.dli_fname || !map->l_name || std::strcmp(owner.dli_fname, map->l_name) != 0)
      address = nullptr;
  }
  if (address == nullptr) SetSystemError(syserr::kProcNotFound);
  return address;
}

bool FreeLibraryModule(LibraryHandle module) {
  if (module == nullptr || dlclose(module) != 0) {
    SetSystemError(syserr::kInvalidHandle);
    return false;
  }
  return true;
}

// --- Backend probes ----------------------------------------------------------

uint32_t fileio_backend::CurrentTick() { return SystemClockSources().tickCount(); }

uint32_t fileio_backend::ProcessNumber() { return static_cast<uint32_t>(getpid()); }

bool fileio_backend::ProbeAttributes(const char* name, uint32_t* attributes) {
  struct stat st;
  if (name == nullptr || stat(name, &st) != 0) {
    SetSystemError(name ? ErrorFromErrno(errno) : syserr::kInvalidParameter);
    return false;
  }
  *attributes = S_ISDIR(st.st_mode) ? fileio::kAttributeDirectory : fileio::kAttributeNormal;
  return true;
}
