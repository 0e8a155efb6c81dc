#pragma once
// What the portable file utilities need from the platform backend. Included
// only by support/file_util*.cpp.

#include <cstdint>

#include "support/file_util.h"

namespace fileio_backend {

#ifdef _WIN32
constexpr char kFolderSeparator = '\\';
constexpr char kOtherFolderSeparator = '/';
#else
constexpr char kFolderSeparator = '/';
constexpr char kOtherFolderSeparator = '/';
#endif

// The system's millisecond tick (wraps every 49.7 days).
uint32_t CurrentTick();

// Reads the attributes of a file or folder; false with the last error set
// when they cannot be read.
bool ProbeAttributes(const char* name, uint32_t* attributes);

// A number that differs between processes running at the same time.
uint32_t ProcessNumber();

// True when `fileName` is "<base><8 hex digits><suffix>".
bool IsLeftoverName(const char* fileName, const char* base, const char* suffix);

}  // namespace fileio_backend
