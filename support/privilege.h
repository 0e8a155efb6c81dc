#pragma once
// Queries about the operating system and about security tokens: the version,
// membership in the Administrators group and mandatory integrity levels.
//
// Security calls newer than the oldest supported system are looked up at run
// time in advapi32.dll, loaded by full path from the system directory; a
// missing one leaves ERROR_CALL_NOT_IMPLEMENTED as the last error.

#include <windows.h>

#include <cstddef>
#include <cstdint>

// The cached version record; dwOSVersionInfoSize is 0 until it is filled.
using OsVersionInfo = OSVERSIONINFOEXA;

// The cached version record, filled on first use; null when the system gives
// no version (the next call tries again).
const OsVersionInfo* GetOsVersionInfo();

// 1 on Win32s and the Windows 95 family; 0 otherwise and when the version is
// unknown.
int IsWin9xFamily();

// 1 on the NT platform from major version 6 on; 0 otherwise and when the
// version is unknown.
int IsVistaOrLater();

// Joins the system directory and a file name into `out` (a separator is added
// unless the directory ends in one). False when the result does not fit.
bool JoinSystemPath(const char* directory, const char* fileName, char* out, size_t size);

// Loads a DLL by its full path in the system directory. *module is null on
// failure. The caller releases it with FreeLibrary.
bool LoadSystemLibrary(const char* fileName, HMODULE* module);

// Mandatory integrity of a token, reduced to an ordered class.
enum IntegrityClass : int {
  kIntegrityUntrusted = 0,  // also: not determined
  kIntegrityLow = 1,
  kIntegrityMedium = 2,
  kIntegrityMediumPlus = 3,
  kIntegrityHigh = 4,
  kIntegritySystem = 5,
  kIntegrityProtected = 6,
};

// The class of an integrity label's relative identifier.
int IntegrityClassFromRid(uint32_t rid);

// An impersonation copy of a process's primary token; the caller closes it.
// 0 on failure (then *token is not written).
int DuplicateProcessToken(HANDLE process, HANDLE* token);
int DuplicateTokenOfProcessId(DWORD processId, HANDLE* token);

// The token's integrity class (and, when rid is not null, the raw RID). The
// class is set to 0 first; 1 on success.
int GetTokenIntegrityLevel(HANDLE token, int* integrityClass, DWORD* rid);
int GetProcessIntegrityLevel(HANDLE process, int* integrityClass, DWORD* rid);

// 1 when the token (null: the calling thread's effective token) is a member of
// the built-in Administrators group; 0 otherwise and on any failure.
int IsTokenAdministrator(HANDLE token);
int IsRunningAsAdministrator();

// 1 with the id of the process that owns the desktop shell window; 0 when there
// is no shell window.
int GetShellProcessId(DWORD* processId);

// Looks up an export of a module; when it is missing, sets the last error to
// ERROR_CALL_NOT_IMPLEMENTED and returns null.
FARPROC GetProcAddressOrNotImplemented(HMODULE module, const char* name);

// ---- The administrator check of the main window ----
//
// What the queries found, in the order the check makes them. Fields after a
// query that was not made keep their defaults.
struct AdminCheckFacts {
  bool win9x = false;
  bool administrator = false;
  bool ownLevelKnown = false;
  int ownLevel = kIntegrityUntrusted;
  bool shellFound = false;
  bool shellTokenOpened = false;
  bool shellAdministrator = false;
  bool shellLevelKnown = false;
  int shellLevel = kIntegrityUntrusted;
};

// Which boxes to show: the administrator warning, and after it the note that
// drag and drop from other programs might not work.
struct AdminCheckOutcome {
  bool showWarning = false;
  bool showNote = false;
  int ownLevel = kIntegrityUntrusted;    // as used for the comparison
  int shellLevel = kIntegrityUntrusted;  // as used for the comparison
};

// Runs the queries of the check in order, skipping those whose answer cannot
// matter (nothing beyond the first two on Win9x or without administrator
// rights). The shell's duplicated token is closed before it returns.
AdminCheckFacts GatherAdminCheckFacts();

// The decision: no boxes on Win9x or without administrator rights; otherwise
// the warning, and the note when the shell's level is below the own level.
// Unknown own level counts as high; a shell whose token cannot be opened as
// one above the own level; a shell that is no administrator as medium; an
// administrator shell of unknown level as high.
AdminCheckOutcome DecideAdminWarnings(const AdminCheckFacts& facts);

