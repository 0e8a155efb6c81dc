// The file utilities that are the same on every system; they reach the
// system only through the other wrappers and the backend probes.

#include <atomic>
#include <cstdio>
#include <cstring>

#include "support/file_util.h"
#include "support/file_util_backend.h"
#include "support/sys_error.h"

namespace {

constexpr uint32_t kTempCandidates = 0x10000;
constexpr char kTempExtension[] = "tmp";

// Test seam state: a non-zero candidate count fixes the search.
std::atomic<uint32_t> g_seamTick{0};
std::atomic<uint32_t> g_seamCandidates{0};

void FormatTempName(char* name, uint32_t size, const char* folder, bool separator,
                    const char* prefix, uint32_t number) {
  const char sep[2] = {separator ? fileio_backend::kFolderSeparator : '\0', '\0'};
  std::snprintf(name, size, "%s%s%.4s%04X.%s", folder, sep, prefix,
                static_cast<unsigned>(number & 0xFFFF), kTempExtension);
}

}  // namespace

bool IsValidHandle(FileHandle handle) { return handle != kInvalidFile; }

uint32_t CreateUniqueTempFile(const char* folder, const char* prefix, uint32_t number,
                              char* name, uint32_t size) {
  if (folder == nullptr || prefix == nullptr || name == nullptr) {
    SetSystemError(syserr::kInvalidParameter);
    return 0;
  }
  const size_t folderLength = std::strlen(folder);
  const bool separator =
      folderLength != 0 && folder[folderLength - 1] != fileio_backend::kFolderSeparator;
  const size_t prefixLength = strnlen(prefix, 4);
  // Prefix, four hex digits, ".tmp".
  const size_t length = folderLength + (separator ? 1 : 0) + prefixLength + 3 + 5;
  if (length >= size) {
    SetSystemError(syserr::kBufferOverflow);
    return 0;
  }

  if (number != 0) {
    FormatTempName(name, size, folder, separator, prefix, number);
    return number;
  }

  uint32_t tick = fileio_backend::CurrentTick();
  uint32_t candidates = kTempCandidates;
  if (const uint32_t seam = g_seamCandidates.load(std::memory_order_relaxed); seam != 0) {
    tick = g_seamTick.load(std::memory_order_relaxed);
    candidates = seam;
  }

  uint32_t lastError = syserr::kFileExists;
  for (uint32_t k = 1; k <= candidates; ++k) {
    const uint32_t candidate = (tick + k) & 0xFFFF;
    FormatTempName(name, size, folder, separator, prefix, candidate);
    FileHandle handle = CreateFileChecked(
        name, fileio::kGenericRead | fileio::kGenericWrite, 0, nullptr, fileio::kCreateNew,
        fileio::kAttributeHidden | fileio::kAttributeTemporary, kInvalidFile);
    if (IsValidHandle(handle)) {
      CloseFileHandle(&handle);
      // A 0 result with no error is the candidate numbered 0.
      SetSystemError(syserr::kSuccess);
      return candidate;
    }
    lastError = GetSystemError();
    if (lastError == syserr::kFileExists) continue;
    if (lastError == syserr::kAccessDenied) {
      // A name taken by a folder or a file being deleted also reads as access
      // denied; only a folder that cannot be examined at all ends the search.
      uint32_t attributes = 0;
      if (fileio_backend::ProbeAttributes(folder, &attributes) ||
          GetSystemError() == syserr::kAccessDenied) {
        continue;
      }
      SetSystemError(syserr::kAccessDenied);
      return 0;
    }
    return 0;
  }
  // Every candidate was taken: report the error of the last attempt, so that
  // the 0 result never reads as the number 0.
  SetSystemError(lastError != syserr::kSuccess ? lastError : syserr::kFileExists);
  return 0;
}

void SetUniqueTempSearchForTest(uint32_t startTick, uint32_t candidates) {
  g_seamTick.store(startTick, std::memory_order_relaxed);
  g_seamCandidates.store(candidates, std::memory_order_relaxed);
}

// --- Held files ---------------------------------------------------------------

bool IsExistingFolder(const char* name) {
  uint32_t attributes = 0;
  return fileio_backend::ProbeAttributes(name, &attributes) &&
         (attributes & fileio::kAttributeDirectory) != 0;
}

const char* FileNamePart(const char* path) {
  const char* part = path;
  for (const char* p = path; *p; ++p) {
    if (*p == fileio_backend::kFolderSeparator || *p == fileio_backend::kOtherFolderSeparator)
      part = p + 1;
  }
  return part;
}

bool fileio_backend::IsLeftoverName(const char* fileName, const char* base, const char* suffix) {
  const size_t baseLength = std::strlen(base);
  if (std::strncmp(fileName, base, baseLength) != 0) return false;
  const char* digits = fileName + baseLength;
  for (int i = 0; i < 8; ++i) {
    const char c = digits[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return std::strcmp(digits + 8, suffix) == 0;
}

bool CreateHeldUniqueFile(const char* prefix, const char* suffix, char* name, uint32_t size,
                          FileHandle* handle) {
  *handle = kInvalidFile;
  if (prefix == nullptr || suffix == nullptr || name == nullptr) {
    SetSystemError(syserr::kInvalidParameter);
    return false;
  }
  if (std::strlen(prefix) + 8 + std::strlen(suffix) >= size) {
    SetSystemError(syserr::kBufferOverflow);
    return false;
  }
  static std::atomic<uint32_t> counter{0};
  // Process and time spread the numbers; an existing name is passed over.
  uint32_t number = fileio_backend::ProcessNumber() * 0x9E3779B1u ^ fileio_backend::CurrentTick();
  for (int attempt = 0; attempt < 64; ++attempt) {
    number = number * 1664525u + 1013904223u + counter.fetch_add(1, std::memory_order_relaxed);
    std::snprintf(name, size, "%s%08X%s", prefix, static_cast<unsigned>(number), suffix);
    if (CreateHeldFile(name, handle)) return true;
    if (GetSystemError() != syserr::kFileExists) return false;
  }
  return false;
}
