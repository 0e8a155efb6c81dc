// Win32 backend of the file utilities: narrow-character kernel32 calls.

#include <windows.h>
#include <commdlg.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "support/file_util.h"
#include "support/file_util_backend.h"

static_assert(fileio::kGenericRead == GENERIC_READ && fileio::kGenericWrite == GENERIC_WRITE);
static_assert(fileio::kShareRead == FILE_SHARE_READ && fileio::kShareWrite == FILE_SHARE_WRITE &&
              fileio::kShareDelete == FILE_SHARE_DELETE);
static_assert(fileio::kCreateNew == CREATE_NEW && fileio::kCreateAlways == CREATE_ALWAYS &&
              fileio::kOpenExisting == OPEN_EXISTING && fileio::kOpenAlways == OPEN_ALWAYS &&
              fileio::kTruncateExisting == TRUNCATE_EXISTING);
static_assert(fileio::kAttributeHidden == FILE_ATTRIBUTE_HIDDEN &&
              fileio::kAttributeTemporary == FILE_ATTRIBUTE_TEMPORARY &&
              fileio::kFlagDeleteOnClose == FILE_FLAG_DELETE_ON_CLOSE &&
              fileio::kFlagSequentialScan == FILE_FLAG_SEQUENTIAL_SCAN &&
              fileio::kFlagRandomAccess == FILE_FLAG_RANDOM_ACCESS &&
              fileio::kFlagWriteThrough == FILE_FLAG_WRITE_THROUGH);
static_assert(fileio::kFileBegin == FILE_BEGIN && fileio::kFileCurrent == FILE_CURRENT &&
              fileio::kFileEnd == FILE_END);

namespace {

// The flags that OpenFileShared lets through: write-through, random access,
// sequential scan and delete-on-close.
constexpr DWORD kSharedOpenFlags = 0x9C000000;

// Share modes tried by OpenExistingForRead, most restrictive first.
constexpr DWORD kReadShareModes[] = {
    FILE_SHARE_READ,
    FILE_SHARE_READ | FILE_SHARE_DELETE,
    FILE_SHARE_READ | FILE_SHARE_WRITE,
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
};

HANDLE ToHandle(FileHandle handle) { return reinterpret_cast<HANDLE>(handle); }
FileHandle FromHandle(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }

// Some layers answer a failed CreateFileA with a null handle and error 120.
HANDLE UsableOrInvalid(HANDLE handle) {
  if (handle == nullptr && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

// --- SetFilePointerEx, looked up at run time -------------------------------

int __stdcall MissingSetFilePointerEx(void*, int64_t, int64_t*, uint32_t) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

// Resolved once; every thread that races here writes the same value.
std::atomic<SeekEntryPoint> g_seekEntry{nullptr};

SeekEntryPoint ResolveSeekEntry() {
  SeekEntryPoint entry = g_seekEntry.load(std::memory_order_acquire);
  if (entry != nullptr) return entry;
  entry = MissingSetFilePointerEx;
  if (HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
    if (FARPROC proc = GetProcAddress(kernel, "SetFilePointerEx")) {
      // LARGE_INTEGER by value is passed like a 64-bit integer on both targets.
      entry = reinterpret_cast<SeekEntryPoint>(reinterpret_cast<void (*)()>(proc));
    }
  }
  g_seekEntry.store(entry, std::memory_order_release);
  return entry;
}

bool FitsInt32(int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; }

}  // namespace

// --- Opening and closing ----------------------------------------------------

bool OpenFileShared(const char* name, uint32_t flags, FileHandle* handle) {
  HANDLE h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         flags & kSharedOpenFlags, nullptr);
  *handle = FromHandle(h);
  return h != INVALID_HANDLE_VALUE;
}

bool OpenExistingForRead(const char* name, uint32_t flagsAndAttributes, FileHandle* handle) {
  for (DWORD share : kReadShareModes) {
    HANDLE h = UsableOrInvalid(CreateFileA(name, GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                           flagsAndAttributes, nullptr));
    if (h != INVALID_HANDLE_VALUE) {
      *handle = FromHandle(h);
      return true;
    }
  }
  *handle = kInvalidFile;
  return false;
}

FileHandle CreateFileChecked(const char* name, uint32_t access, uint32_t share, void* security,
                             uint32_t disposition, uint32_t flagsAndAttributes,
                             FileHandle templateFile) {
  HANDLE templ = templateFile == kInvalidFile ? nullptr : ToHandle(templateFile);
  HANDLE h = CreateFileA(name, access, share, static_cast<LPSECURITY_ATTRIBUTES>(security),
                         disposition, flagsAndAttributes, templ);
  return FromHandle(UsableOrInvalid(h));
}

bool CloseFileHandle(FileHandle* handle) {
  const HANDLE old = ToHandle(*handle);
  *handle = kInvalidFile;
  return CloseHandle(old) != FALSE;
}

bool ReopenDeleteOnClose(const char* name, FileHandle* handle) {
  // CREATE_ALWAYS refuses an existing hidden or system file unless those
  // attributes are asked for again, so the current ones are passed back.
  DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) attributes = 0;
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         attributes | FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY,
                         nullptr);
  *handle = FromHandle(h);
  return h != INVALID_HANDLE_VALUE;
}

bool RemoveFile(const char* name) { return DeleteFileA(name) != FALSE; }

bool ReadFileHead(const char* name, void* buffer, uint32_t count) {
  FileHandle handle = kInvalidFile;
  if (!OpenExistingForRead(name, fileio::kFlagSequentialScan, &handle)) return false;
  uint32_t got = 0;
  const bool ok = ReadExact(handle, buffer, count, &got);
  const DWORD error = GetLastError();
  CloseFileHandle(&handle);
  if (!ok) SetLastError(error);
  return ok;
}

// --- Positions ---------------------------------------------------------------

bool SeekFile32(FileHandle handle, int32_t distance, uint32_t method) {
  return SetFilePointer(ToHandle(handle), distance, nullptr, method) != INVALID_SET_FILE_POINTER;
}

bool SeekFile64(FileHandle handle, int64_t distance, uint64_t* newPosition, uint32_t method) {
  const HANDLE h = ToHandle(handle);
  int64_t position = 0;
  if (ResolveSeekEntry()(h, distance, newPosition ? &position : nullptr, method)) {
    if (newPosition) *newPosition = static_cast<uint64_t>(position);
    return true;
  }
  if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;

  // No SetFilePointerEx: a distance that fits the 32-bit call with its high
  // half takes one call.
  SetLastError(ERROR_SUCCESS);
  const LONG low = static_cast<LONG>(static_cast<uint32_t>(distance));
  LONG high = static_cast<LONG>(distance >> 32);
  if (high == 0 || high == -1) {
    const DWORD result = SetFilePointer(h, low, &high, method);
    if (result != INVALID_SET_FILE_POINTER || GetLastError() == ERROR_SUCCESS) {
      if (newPosition) {
        *newPosition = (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | result;
      }
      return true;
    }
  }

  // Otherwise move in 32-bit steps, continuing from the current position.
  int64_t remaining = distance;
  const int64_t step = remaining >= 0 ? INT32_MAX : INT32_MIN;
  DWORD stepMethod = method;
  while (!FitsInt32(remaining)) {
    if (SetFilePointer(h, static_cast<LONG>(step), nullptr, stepMethod) ==
        INVALID_SET_FILE_POINTER) {
      return false;
    }
    remaining -= step;
    stepMethod = FILE_CURRENT;
  }
  if (SetFilePointer(h, static_cast<LONG>(remaining), nullptr, stepMethod) ==
      INVALID_SET_FILE_POINTER) {
    return false;
  }

  if (newPosition) {
    LONG posHigh = 0;
    SetLastError(ERROR_SUCCESS);
    const DWORD posLow = SetFilePointer(h, 0, &posHigh, FILE_CURRENT);
    if (posLow == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return false;
    *newPosition = (static_cast<uint64_t>(static_cast<uint32_t>(posHigh)) << 32) | posLow;
  }
  return true;
}

bool SetFileEnd64(FileHandle handle, int64_t distance, uint32_t method) {
  uint64_t saved = 0;
  if (!SeekFile64(handle, 0, &saved, FILE_CURRENT)) return false;
  if (!SeekFile64(handle, distance, nullptr, method)) return false;
  if (SetEndOfFile(ToHandle(handle))) {
    return SeekFile64(handle, static_cast<int64_t>(saved), nullptr, FILE_BEGIN);
  }
  const DWORD error = GetLastError();
  SeekFile64(handle, static_cast<int64_t>(saved), nullptr, FILE_BEGIN);
  SetLastError(error);
  return false;
}

void SetSeekEntryPointForTest(SeekEntryPoint entry) {
  g_seekEntry.store(entry, std::memory_order_release);
}

// --- Reading and writing -----------------------------------------------------

bool ReadExact(FileHandle handle, void* buffer, uint32_t count, uint32_t* bytesRead) {
  DWORD got = 0;
  const BOOL ok = ReadFile(ToHandle(handle), buffer, count, &got, nullptr);
  if (bytesRead) *bytesRead = got;
  if (!ok) return false;
  if (got != count) {
    SetLastError(ERROR_HANDLE_EOF);
    return false;
  }
  return true;
}

bool ReadFromFile(FileHandle handle, void* buffer, uint32_t count, uint32_t* moved) {
  DWORD got = 0;
  const BOOL ok = ReadFile(ToHandle(handle), buffer, count, &got, nullptr);
  if (moved) *moved = got;
  return ok != FALSE;
}

bool WriteToFile(FileHandle handle, const void* buffer, uint32_t count, uint32_t* moved) {
  DWORD put = 0;
  const BOOL ok = WriteFile(ToHandle(handle), buffer, count, &put, nullptr);
  if (moved) *moved = put;
  return ok != FALSE;
}

// The position goes in an OVERLAPPED, so threads that share a handle do not
// race on its file pointer. A read that starts at or past the end fails with
// ERROR_HANDLE_EOF: that is a read of nothing, as a plain ReadFile reports it.
namespace {
bool AtPosition(uint64_t position, uint32_t* moved, OVERLAPPED* at) {
  if (moved) *moved = 0;
  if (position > static_cast<uint64_t>(INT64_MAX)) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return false;
  }
  *at = OVERLAPPED{};
  at->Offset = static_cast<DWORD>(position);
  at->OffsetHigh = static_cast<DWORD>(position >> 32);
  return true;
}
}  // namespace

bool ReadFromFileAt(FileHandle handle, uint64_t position, void* buffer, uint32_t count,
                    uint32_t* moved) {
  OVERLAPPED at;
  if (!AtPosition(position, moved, &at)) return false;
  DWORD got = 0;
  const BOOL ok = ReadFile(ToHandle(handle), buffer, count, &got, &at);
  if (moved) *moved = got;
  return ok != FALSE || GetLastError() == ERROR_HANDLE_EOF;
}

bool WriteToFileAt(FileHandle handle, uint64_t position, const void* buffer, uint32_t count,
                   uint32_t* moved) {
  OVERLAPPED at;
  if (!AtPosition(position, moved, &at)) return false;
  DWORD put = 0;
  const BOOL ok = WriteFile(ToHandle(handle), buffer, count, &put, &at);
  if (moved) *moved = put;
  return ok != FALSE;
}

// The cache manager's lazy writer already writes changed data behind.
void StartWriteBack(FileHandle) {}

bool FlushFile(FileHandle handle) { return FlushFileBuffers(ToHandle(handle)) != FALSE; }

bool QueryFileSize(FileHandle handle, uint64_t* size) {
  DWORD high = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD low = GetFileSize(ToHandle(handle), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return false;
  *size = (static_cast<uint64_t>(high) << 32) | low;
  return true;
}

// --- Sizes -------------------------------------------------------------------

bool GetFileSize64(const char* name, uint64_t* size) {
  FileHandle handle = kInvalidFile;
  if (OpenExistingForRead(name, 0, &handle)) {
    DWORD high = 0;
    SetLastError(ERROR_SUCCESS);
    const DWORD low = GetFileSize(ToHandle(handle), &high);
    const DWORD error = GetLastError();
    const bool ok = !(low == INVALID_FILE_SIZE && error != ERROR_SUCCESS);
    CloseFileHandle(&handle);
    if (size) *size = (static_cast<uint64_t>(high) << 32) | low;
    if (!ok) SetLastError(error);
    return ok;
  }
  // The directory entry also has the size of a file that another program
  // holds open exclusively. A wildcard would match some other file.
  if (name == nullptr || std::strpbrk(name, "*?") != nullptr) return false;
  WIN32_FIND_DATAA data;
  std::memset(&data, 0, sizeof data);
  const HANDLE find = FindFirstFileA(name, &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  if (size) *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

// --- Held files ------------------------------------------------------------------
//
// The hold is an open handle: a sweep opens a leftover without sharing, which
// fails while any handle of it is open. The holder shares deletion, so that
// it can rename or remove the file while still holding it.

bool QueryPathKind(const char* name, PathKind* kind) {
  const DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
    *kind = PathKind::kMissing;
    return true;
  }
  *kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? PathKind::kLink
          : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? PathKind::kOther
                                                      : PathKind::kFile;
  return true;
}

bool QueryFileIdentity(const char* name, FileIdentity* identity) {
  // No access rights are needed to read a file's information; backup
  // semantics also open a folder.
  const HANDLE h = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL ok = GetFileInformationByHandle(h, &info);
  const DWORD error = GetLastError();
  CloseHandle(h);
  if (!ok) {
    SetLastError(error);
    return false;
  }
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

bool CreateHeldFile(const char* name, FileHandle* handle) {
  // CREATE_NEW fails on any existing name, a link included.
  const HANDLE h = UsableOrInvalid(CreateFileA(name, GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  *handle = FromHandle(h);
  return h != INVALID_HANDLE_VALUE;
}

bool DuplicateFileHandle(FileHandle handle, FileHandle* copy) {
  HANDLE out = INVALID_HANDLE_VALUE;
  const HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, ToHandle(handle), self, &out, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    *copy = kInvalidFile;
    return false;
  }
  *copy = FromHandle(out);
  return true;
}

bool CommitHeldFile(FileHandle* held, const char* name, const char* target) {
  if (!FlushFileBuffers(ToHandle(*held)) ||
      !MoveFileExA(name, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return false;
  CloseFileHandle(held);
  return true;
}

void DiscardHeldFile(FileHandle* held, const char* name) {
  if (!IsValidHandle(*held)) return;
  // Deleted while held (it goes with the last handle), so no one can take it in between.
  DeleteFileA(name);
  CloseFileHandle(held);
}

uint32_t SweepLeftovers(const char* prefix, const char* suffix) {
  // Built without the heap, which may be out.
  const char* base = FileNamePart(prefix);
  const int folderLength = static_cast<int>(base - prefix);
  char pattern[2 * MAX_PATH], path[2 * MAX_PATH];
  if (std::snprintf(pattern, sizeof pattern, "%s*%s", prefix, suffix) >= static_cast<int>(sizeof pattern)) return 0;
  WIN32_FIND_DATAA data;
  const HANDLE find = FindFirstFileA(pattern, &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  uint32_t removed = 0;
  do {
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    if (!fileio_backend::IsLeftoverName(data.cFileName, base, suffix)) continue;
    // Opened without sharing, which a held file refuses, and deleted on closing.
    if (std::snprintf(path, sizeof path, "%.*s%s", folderLength, prefix, data.cFileName) >= static_cast<int>(sizeof path)) continue;
    const HANDLE h = CreateFileA(path, DELETE, 0, nullptr,
                                 OPEN_EXISTING,
                                 FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) continue;
    CloseHandle(h);
    ++removed;
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return removed;
}

// --- Dialog and libraries ----------------------------------------------------

bool ChooseOpenFile(void* owner, const char* filter, char* path, uint32_t size, bool* several) {
  if (path == nullptr || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // The structure as the oldest supported systems know it (76 bytes on
  // 32-bit Windows).
  OPENFILENAMEA ofn;
  std::memset(&ofn, 0, sizeof ofn);
  ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  ofn.hwndOwner = static_cast<HWND>(owner);
  ofn.lpstrFilter = filter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = path;
  ofn.nMaxFile = size;
  ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_SHAREAWARE |
              OFN_EXPLORER | OFN_LONGNAMES;
  if (several) {
    ofn.Flags |= OFN_ALLOWMULTISELECT;
    *several = false;
  }
  if (!GetOpenFileNameA(&ofn)) return false;
  // Several files: the buffer holds the folder, then each name, and the
  // offset points past the folder's terminator.
  if (several) *several = ofn.nFileOffset > strnlen(path, size);
  return true;
}

#ifndef _WIN64
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76);
#endif
static_assert((OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_SHAREAWARE |
               OFN_EXPLORER | OFN_LONGNAMES) == 0x285804);

bool LoadLibraryByName(const char* name, LibraryHandle* module) {
  HMODULE h = LoadLibraryA(name);
  *module = h;
  return h != nullptr;
}

void* GetLibrarySymbol(LibraryHandle module, const char* symbol) {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  FARPROC proc = GetProcAddress(static_cast<HMODULE>(module), symbol);
  return reinterpret_cast<void*>(proc);
}

bool FreeLibraryModule(LibraryHandle module) {
  return FreeLibrary(static_cast<HMODULE>(module)) != FALSE;
}

// --- Backend probes ----------------------------------------------------------

uint32_t fileio_backend::CurrentTick() { return GetTickCount(); }

uint32_t fileio_backend::ProcessNumber() { return GetCurrentProcessId(); }

bool fileio_backend::ProbeAttributes(const char* name, uint32_t* attributes) {
  const DWORD value = GetFileAttributesA(name);
  if (value == INVALID_FILE_ATTRIBUTES) return false;
  *attributes = value;
  return true;
}
