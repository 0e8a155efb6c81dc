#include "support/sys_error.h"

#include <cerrno>

namespace {
thread_local uint32_t t_lastError = 0;
}

uint32_t GetSystemError() { return t_lastError; }
void SetSystemError(uint32_t code) { t_lastError = code; }

uint32_t ErrorFromErrno(int err) {
  switch (err) {
    case 0: return syserr::kSuccess;
    case ENOENT: return syserr::kFileNotFound;
    case ENOTDIR: return syserr::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return syserr::kAccessDenied;
    case EBADF: return syserr::kInvalidHandle;
    case ENOMEM: return syserr::kNotEnoughMemory;
    case EBUSY:
    case ETXTBSY: return syserr::kSharingViolation;
    case EEXIST: return syserr::kFileExists;
    case EINVAL: return syserr::kInvalidParameter;
    case ENOSPC:
    case EDQUOT: return syserr::kDiskFull;
    case ENOSYS: return syserr::kCallNotImplemented;
    case ENAMETOOLONG: return syserr::kFilenameExcedRange;
    case EFBIG: return syserr::kDiskFull;
    case EOVERFLOW: return syserr::kInsufficientBuffer;
    default: return syserr::kGenFailure;
  }
}
