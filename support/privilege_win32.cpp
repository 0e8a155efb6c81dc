#include "support/privilege.h"

#include <cstring>

#include "support/pool.h"

namespace {

OsVersionInfo g_osVersion;  // dwOSVersionInfoSize 0: not filled yet

constexpr DWORD kSystemPathChars = MAX_PATH + 1;
constexpr TOKEN_INFORMATION_CLASS kTokenIntegrityLevel = static_cast<TOKEN_INFORMATION_CLASS>(25);

using GetTokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
using GetSidSubAuthorityFn = PDWORD(WINAPI*)(PSID, DWORD);
using GetSidSubAuthorityCountFn = PUCHAR(WINAPI*)(PSID);
using CheckTokenMembershipFn = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);

template <typename Fn>
Fn LookUp(HMODULE module, const char* name) {
  FARPROC proc = GetProcAddressOrNotImplemented(module, name);
  // Through the generic function pointer type, which any function pointer
  // converts to and from without a warning.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(proc));
}

// Releases a library without disturbing the last error of the call that failed.
void ReleaseLibrary(HMODULE module) {
  DWORD error = GetLastError();
  FreeLibrary(module);
  SetLastError(error);
}

void CloseKeepingError(HANDLE handle) {
  DWORD error = GetLastError();
  CloseHandle(handle);
  SetLastError(error);
}

}  // namespace

const OsVersionInfo* GetOsVersionInfo() {
  if (g_osVersion.dwOSVersionInfoSize != 0) return &g_osVersion;
  OsVersionInfo info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) {
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return nullptr;
  }
  // The Windows 95 family keeps the major and minor version in the high word.
  if (info.dwPlatformId == VER_PLATFORM_WIN32s || info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
    info.dwBuildNumber &= 0xFFFF;
  g_osVersion = info;
  return &g_osVersion;
}

int IsWin9xFamily() {
  const OsVersionInfo* v = GetOsVersionInfo();
  if (!v) return 0;
  return (v->dwPlatformId == VER_PLATFORM_WIN32s || v->dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
             ? 1
             : 0;
}

int IsVistaOrLater() {
  const OsVersionInfo* v = GetOsVersionInfo();
  if (!v) return 0;
  return (v->dwPlatformId == VER_PLATFORM_WIN32_NT && v->dwMajorVersion >= 6) ? 1 : 0;
}

bool JoinSystemPath(const char* directory, const char* fileName, char* out, size_t size) {
  size_t dirLength = std::strlen(directory);
  size_t nameLength = std::strlen(fileName);
  bool separator = dirLength == 0 || directory[dirLength - 1] != '\\';
  size_t need = dirLength + (separator ? 1 : 0) + nameLength + 1;
  if (need < dirLength || need > size) return false;
  std::memcpy(out, directory, dirLength);
  size_t at = dirLength;
  if (separator) out[at++] = '\\';
  std::memcpy(out + at, fileName, nameLength + 1);
  return true;
}

bool LoadSystemLibrary(const char* fileName, HMODULE* module) {
  *module = nullptr;
  char directory[kSystemPathChars];
  UINT length = GetSystemDirectoryA(directory, kSystemPathChars);
  if (length == 0) return false;
  if (length >= kSystemPathChars) {  // the buffer was too small and holds nothing usable
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  char path[kSystemPathChars];
  if (!JoinSystemPath(directory, fileName, path, sizeof path)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  *module = LoadLibraryA(path);
  return *module != nullptr;
}

FARPROC GetProcAddressOrNotImplemented(HMODULE module, const char* name) {
  FARPROC proc = GetProcAddress(module, name);
  if (!proc) SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return proc;
}

int IntegrityClassFromRid(uint32_t rid) {
  if (rid >= 0x5000) return kIntegrityProtected;
  if (rid >= 0x4000) return kIntegritySystem;
  if (rid >= 0x3000) return kIntegrityHigh;
  if (rid >= 0x2100) return kIntegrityMediumPlus;
  if (rid >= 0x2000) return kIntegrityMedium;
  if (rid >= 0x1000) return kIntegrityLow;
  return kIntegrityUntrusted;
}

int DuplicateProcessToken(HANDLE process, HANDLE* token) {
  HANDLE primary = nullptr;
  if (!OpenProcessToken(process, TOKEN_DUPLICATE, &primary)) return 0;
  HANDLE copy = nullptr;
  BOOL ok = DuplicateToken(primary, SecurityImpersonation, &copy);
  CloseKeepingError(primary);
  if (!ok) return 0;
  *token = copy;
  return 1;
}

int DuplicateTokenOfProcessId(DWORD processId, HANDLE* token) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
  if (!process) return 0;
  int result = DuplicateProcessToken(process, token);
  CloseKeepingError(process);
  return result;
}

int GetTokenIntegrityLevel(HANDLE token, int* integrityClass, DWORD* rid) {
  *integrityClass = kIntegrityUntrusted;
  HMODULE advapi = nullptr;
  if (!LoadSystemLibrary("advapi32.dll", &advapi)) return 0;
  auto getTokenInformation = LookUp<GetTokenInformationFn>(advapi, "GetTokenInformation");
  auto getSidSubAuthority = LookUp<GetSidSubAuthorityFn>(advapi, "GetSidSubAuthority");
  auto getSidSubAuthorityCount =
      LookUp<GetSidSubAuthorityCountFn>(advapi, "GetSidSubAuthorityCount");
  if (!getTokenInformation || !getSidSubAuthority || !getSidSubAuthorityCount) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    ReleaseLibrary(advapi);
    return 0;
  }

  DWORD size = 0;
  if (getTokenInformation(token, kTokenIntegrityLevel, nullptr, 0, &size) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(SID_AND_ATTRIBUTES)) {
    ReleaseLibrary(advapi);
    return 0;
  }
  void* buffer = PoolAlloc(size);
  if (!buffer) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    ReleaseLibrary(advapi);
    return 0;
  }

  int result = 0;
  if (getTokenInformation(token, kTokenIntegrityLevel, buffer, size, &size)) {
    // The buffer begins with the label: SID_AND_ATTRIBUTES, its SID first.
    PSID sid = nullptr;
    std::memcpy(&sid, buffer, sizeof sid);
    PUCHAR count = sid ? getSidSubAuthorityCount(sid) : nullptr;
    if (count && *count > 0) {
      PDWORD last = getSidSubAuthority(sid, *count - 1u);
      if (last) {
        *integrityClass = IntegrityClassFromRid(*last);
        if (rid) *rid = *last;
        result = 1;
      }
    } else {
      SetLastError(ERROR_INVALID_SID);  // a label without RID names no level
    }
  }
  DWORD error = GetLastError();
  PoolFree(buffer);
  SetLastError(error);
  ReleaseLibrary(advapi);
  return result;
}

int GetProcessIntegrityLevel(HANDLE process, int* integrityClass, DWORD* rid) {
  *integrityClass = kIntegrityUntrusted;
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return 0;
  int result = GetTokenIntegrityLevel(token, integrityClass, rid);
  CloseKeepingError(token);
  return result;
}

int IsTokenAdministrator(HANDLE token) {
  HMODULE advapi = nullptr;
  if (!LoadSystemLibrary("advapi32.dll", &advapi)) return 0;
  auto checkTokenMembership = LookUp<CheckTokenMembershipFn>(advapi, "CheckTokenMembership");
  if (!checkTokenMembership) {
    ReleaseLibrary(advapi);
    return 0;
  }
  SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
    ReleaseLibrary(advapi);
    return 0;
  }
  BOOL member = FALSE;
  int result = checkTokenMembership(token, administrators, &member) && member ? 1 : 0;
  DWORD error = GetLastError();
  FreeSid(administrators);
  SetLastError(error);
  ReleaseLibrary(advapi);
  return result;
}

int IsRunningAsAdministrator() { return IsTokenAdministrator(nullptr); }

int GetShellProcessId(DWORD* processId) {
  HWND shell = GetShellWindow();
  if (!shell) return 0;
  DWORD id = 0;
  if (GetWindowThreadProcessId(shell, &id) == 0) return 0;
  *processId = id;
  return 1;
}

AdminCheckFacts GatherAdminCheckFacts() {
  AdminCheckFacts facts;
  facts.win9x = IsWin9xFamily() != 0;
  if (facts.win9x) return facts;
  facts.administrator = IsRunningAsAdministrator() != 0;
  if (!facts.administrator) return facts;

  int level = kIntegrityUntrusted;
  facts.ownLevelKnown = GetProcessIntegrityLevel(GetCurrentProcess(), &level, nullptr) != 0;
  facts.ownLevel = level;

  DWORD shellId = 0;
  facts.shellFound = GetShellProcessId(&shellId) != 0;
  if (!facts.shellFound) return facts;
  HANDLE shellToken = nullptr;
  facts.shellTokenOpened = DuplicateTokenOfProcessId(shellId, &shellToken) != 0;
  if (!facts.shellTokenOpened) return facts;
  facts.shellAdministrator = IsTokenAdministrator(shellToken) != 0;
  if (facts.shellAdministrator) {
    level = kIntegrityUntrusted;
    facts.shellLevelKnown = GetTokenIntegrityLevel(shellToken, &level, nullptr) != 0;
    facts.shellLevel = level;
  }
  CloseHandle(shellToken);
  return facts;
}

AdminCheckOutcome DecideAdminWarnings(const AdminCheckFacts& facts) {
  AdminCheckOutcome outcome;
  if (facts.win9x || !facts.administrator) return outcome;
  outcome.ownLevel = facts.ownLevelKnown ? facts.ownLevel : kIntegrityHigh;
  if (!facts.shellFound)
    outcome.shellLevel = outcome.ownLevel;
  else if (!facts.shellTokenOpened)
    outcome.shellLevel = outcome.ownLevel + 1;
  else if (!facts.shellAdministrator)
    outcome.shellLevel = kIntegrityMedium;
  else
    outcome.shellLevel = facts.shellLevelKnown ? facts.shellLevel : kIntegrityHigh;
  outcome.showWarning = true;
  outcome.showNote = outcome.shellLevel < outcome.ownLevel;
  return outcome;
}
