#pragma once
// What the portable file utilities need from the platform backend. Included
// only by support/file_util*.cpp.

#include <cstdint>

namespace fileio_backend {

#ifdef _WIN32
constexpr char kFolderSeparator = '\\';
#else
constexpr char kFolderSeparator = '/';
#endif

// The system's millisecond tick (wraps every 49.7 days).
uint32_t CurrentTick();

// Reads the attributes of a file or folder; false with the last error set
// when they cannot be read.
bool ProbeAttributes(const char* name, uint32_t* attributes);

}  // namespace fileio_backend
