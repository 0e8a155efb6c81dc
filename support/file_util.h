#pragma once
// Careful wrappers over the system's file calls.
//
// Every wrapper returns a boolean (or a handle, or a number with a stated
// failure value) and leaves the reason in the system's last-error value
// (support/sys_error.h). Paths are narrow strings. The Win32 backend follows
// the Windows calls step by step; the POSIX backend gives the same contracts
// with open/pread/ftruncate and translates errno into the same codes.

#include <cstddef>
#include <cstdint>

// A native file handle: a Windows HANDLE or a POSIX descriptor, widened to a
// pointer-sized integer. kInvalidFile (all bits set) means no file is open.
using FileHandle = intptr_t;
constexpr FileHandle kInvalidFile = -1;

// A loaded library (HMODULE or dlopen handle); null when none.
using LibraryHandle = void*;

namespace fileio {
// Access rights.
constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;
// Share modes.
constexpr uint32_t kShareRead = 0x1;
constexpr uint32_t kShareWrite = 0x2;
constexpr uint32_t kShareDelete = 0x4;
// Creation dispositions.
constexpr uint32_t kCreateNew = 1;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kOpenAlways = 4;
constexpr uint32_t kTruncateExisting = 5;
// Attributes and flags.
constexpr uint32_t kAttributeReadOnly = 0x1;
constexpr uint32_t kAttributeHidden = 0x2;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeNormal = 0x80;
constexpr uint32_t kAttributeTemporary = 0x100;
constexpr uint32_t kFlagWriteThrough = 0x80000000;
constexpr uint32_t kFlagRandomAccess = 0x10000000;
constexpr uint32_t kFlagSequentialScan = 0x08000000;
constexpr uint32_t kFlagDeleteOnClose = 0x04000000;
// Seek methods.
constexpr uint32_t kFileBegin = 0;
constexpr uint32_t kFileCurrent = 1;
constexpr uint32_t kFileEnd = 2;
}  // namespace fileio

bool IsValidHandle(FileHandle handle);

// Opens an existing file for reading, trying the share modes 1, 5, 3, 7 in
// turn, so that a file another program holds open for writing can be read.
bool OpenExistingForRead(const char* name, uint32_t flagsAndAttributes, FileHandle* handle);

// The seven CreateFileA arguments; a null result with error 120 becomes
// kInvalidFile. `security` and `templateFile` are passed through on Windows
// (a templateFile of kInvalidFile or 0 means none); elsewhere they are ignored.
FileHandle CreateFileChecked(const char* name, uint32_t access, uint32_t share, void* security,
                             uint32_t disposition, uint32_t flagsAndAttributes,
                             FileHandle templateFile);

// Resets the variable to kInvalidFile, then closes the old handle.
bool CloseFileHandle(FileHandle* handle);

bool SeekFile64(FileHandle handle, int64_t distance, uint64_t* newPosition, uint32_t method);
// Sets the end of the file at the given position; the file position is kept,
// also when setting the end fails.
bool SetFileEnd64(FileHandle handle, int64_t distance, uint32_t method);

// Reads or writes at the current position; true when the call succeeded, with
// the number of bytes moved (which may be short) in *moved.
bool ReadFromFile(FileHandle handle, void* buffer, uint32_t count, uint32_t* moved);
bool WriteToFile(FileHandle handle, const void* buffer, uint32_t count, uint32_t* moved);
// The same at a position, in one call, safe on several threads over one
// handle. Where the file position moves too, it ends after the bytes moved;
// callers that go on at the current position seek first.
bool ReadFromFileAt(FileHandle handle, uint64_t position, void* buffer, uint32_t count,
                    uint32_t* moved);
bool WriteToFileAt(FileHandle handle, uint64_t position, const void* buffer, uint32_t count,
                   uint32_t* moved);
bool FlushFile(FileHandle handle);
// Asks the system to start writing the file's changed data to disk without
// waiting for it, so that a later flush has less left to do. Only a hint:
// where the system has no such call (or lazy writing of its own) it does nothing.
void StartWriteBack(FileHandle handle);
// Size of an open file, 64 bits.
bool QueryFileSize(FileHandle handle, uint64_t* size);

bool GetFileSize64(const char* name, uint64_t* size);
bool RemoveFile(const char* name);

// --- Replacing a file without ever exposing a partial one -------------------

// What a name refers to, without following a final symbolic link.
enum class PathKind { kMissing, kFile, kLink, kOther };
// False (last error set) when the name cannot be examined; a name that does
// not exist, or whose folder does not, is kMissing.
bool QueryPathKind(const char* name, PathKind* kind);

// The identity of the file a name leads to (links followed): device and
// inode, or volume serial number and file index.
struct FileIdentity {
  uint64_t volume;
  uint64_t index;
};
bool QueryFileIdentity(const char* name, FileIdentity* identity);
inline bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.volume == b.volume && a.index == b.index;
}

// Whether the name leads to a folder (links followed).
bool IsExistingFolder(const char* name);

// The file-name part of a path: what follows the last folder separator ('/',
// and on Windows also '\\').
const char* FileNamePart(const char* path);

// Creates a new file exclusively (an existing name, a link included, fails
// with error 80), for reading and writing, and holds it while the handle is
// open: a held file cannot be removed by SweepLeftovers. A file that a sweep
// took before it was held fails with error 80 too (another name is then tried).
bool CreateHeldFile(const char* name, FileHandle* handle);
// CreateHeldFile on "<prefix><8 hex digits><suffix>", passing over names
// that exist. The name is stored in `name`.
bool CreateHeldUniqueFile(const char* prefix, const char* suffix, char* name, uint32_t size,
                          FileHandle* handle);
// A second handle on the same open file; the hold lasts until both are closed.
bool DuplicateFileHandle(FileHandle handle, FileHandle* copy);
// Flushes the held file to disk, moves it onto `target` while still holding
// it (whatever is there is replaced; a link is replaced, not followed) and
// closes the handle. On failure the file keeps its name and the handle stays open.
bool CommitHeldFile(FileHandle* held, const char* name, const char* target);
// Removes the held file and closes the handle.
void DiscardHeldFile(FileHandle* held, const char* name);
// Removes the files "<prefix><8 hex digits><suffix>" that no one holds,
// whatever their age. Returns how many went.
uint32_t SweepLeftovers(const char* prefix, const char* suffix);

// Creates "<folder>[\]<prefix:4><NNNN>.tmp" (hidden, temporary) and returns its
// 16-bit number; with a non-zero number only formats the name. 0 with a
// non-zero last error is failure (0 with error 0 is the number 0). The
// separator is a backslash on Windows and '/' elsewhere.
uint32_t CreateUniqueTempFile(const char* folder, const char* prefix, uint32_t number,
                              char* name, uint32_t size);

// Test seam for CreateUniqueTempFile's search: a non-zero `candidates` fixes
// the starting tick and the number of names tried; 0 restores the system tick
// and 65536 candidates.
void SetUniqueTempSearchForTest(uint32_t startTick, uint32_t candidates);

bool LoadLibraryByName(const char* name, LibraryHandle* module);
// Null when the module is null or does not export the symbol.
void* GetLibrarySymbol(LibraryHandle module, const char* symbol);
bool FreeLibraryModule(LibraryHandle module);

#ifdef _WIN32
// --- What only the window uses -------------------------------------------------

// Opens for reading with read sharing only; of the flags only write-through,
// random-access, sequential-scan and delete-on-close pass. The handle is
// stored in any case.
bool OpenFileShared(const char* name, uint32_t flags, FileHandle* handle);
bool SeekFile32(FileHandle handle, int32_t distance, uint32_t method);
// True only when exactly `count` bytes were read.
bool ReadExact(FileHandle handle, void* buffer, uint32_t count, uint32_t* bytesRead);
// True only when the file's first `count` bytes were read.
bool ReadFileHead(const char* name, void* buffer, uint32_t count);
bool ReopenDeleteOnClose(const char* name, FileHandle* handle);
// Lets the user pick an existing file. With `several` non-null, several files
// may be chosen and *several tells whether they were.
bool ChooseOpenFile(void* owner, const char* filter, char* path, uint32_t size, bool* several);

// Test seam: replaces the cached SetFilePointerEx entry point (for example by
// the substitute that fails with error 120). Null resolves it again.
using SeekEntryPoint = int(__stdcall*)(void* handle, int64_t distance, int64_t* newPosition,
                                       uint32_t method);
void SetSeekEntryPointForTest(SeekEntryPoint entry);
#endif
