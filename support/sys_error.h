#pragma once
// The system's last-error value, read and set the same way on every platform.
//
// On Windows this is GetLastError/SetLastError. Elsewhere it is a thread-local
// word holding Windows error codes: the POSIX backends translate errno with
// ErrorFromErrno, so callers compare against the same values everywhere.

#include <cstdint>

namespace syserr {
constexpr uint32_t kSuccess = 0;
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidHandle = 6;
constexpr uint32_t kNotEnoughMemory = 8;
constexpr uint32_t kOutOfMemory = 14;
constexpr uint32_t kSharingViolation = 32;
constexpr uint32_t kHandleEof = 38;
constexpr uint32_t kFileExists = 80;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kBufferOverflow = 111;
constexpr uint32_t kDiskFull = 112;
constexpr uint32_t kCallNotImplemented = 120;
constexpr uint32_t kInsufficientBuffer = 122;
constexpr uint32_t kInvalidName = 123;
constexpr uint32_t kModNotFound = 126;
constexpr uint32_t kProcNotFound = 127;
constexpr uint32_t kNegativeSeek = 131;
constexpr uint32_t kAlreadyExists = 183;
constexpr uint32_t kFilenameExcedRange = 206;
constexpr uint32_t kNoMoreFiles = 18;
constexpr uint32_t kNotSupported = 50;
constexpr uint32_t kGenFailure = 31;
constexpr uint32_t kFileTooLarge = 223;
}  // namespace syserr

uint32_t GetSystemError();
void SetSystemError(uint32_t code);

#ifndef _WIN32
// Translates an errno value into the Windows code with the same meaning.
uint32_t ErrorFromErrno(int err);
#endif
