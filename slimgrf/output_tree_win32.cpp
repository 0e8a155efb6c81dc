#include <windows.h>

#include "slimgrf/output_tree.h"

namespace {

void (*folderCreatedHook)(const char*) = nullptr;

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int length = static_cast<int>(utf8.size());
  const int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  std::wstring text(static_cast<size_t>(wide > 0 ? wide : 0), L'\0');
  if (wide > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, text.data(), wide);
  return text;
}

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }

// Opens a folder and holds it: without delete sharing it cannot be renamed,
// removed or replaced while held. A reparse point is refused, not followed,
// unless `follow` (the folder the user named). Null when it is no folder
// (*reparse tells a reparse point).
HANDLE HoldFolder(const std::wstring& path, bool follow, bool* reparse) {
  *reparse = false;
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) !=
          FILE_ATTRIBUTE_DIRECTORY) {
    *reparse = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    CloseHandle(handle);
    SetLastError(ERROR_DIRECTORY);
    return nullptr;
  }
  return handle;
}

}  // namespace

void SetFolderCreatedHookForTest(void (*hook)(const char* name)) { folderCreatedHook = hook; }

std::string FileSystemKey(const std::string& utf8Path) {
  std::wstring wide = Wide(utf8Path);
  if (!wide.empty()) CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  const int length = static_cast<int>(wide.size());
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, out.data(), bytes, nullptr, nullptr);
  return out;
}

OutputTree::~OutputTree() {
  LeaveFolders(0);
  if (root_ != -1) CloseHandle(AsHandle(root_));
}

unsigned long OutputTree::ProcessNumber() { return GetCurrentProcessId(); }

std::string OutputTree::LastError() const {
  char text[256] = "";
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error_, 0, text, sizeof text, nullptr);
  std::string out(text, length);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
    out.pop_back();
  return out.empty() ? "error " + std::to_string(error_) : out;
}

std::wstring OutputTree::Path(const std::string& name) const {
  std::wstring path = rootPath_;
  for (const std::string& folder : current_) path += L"\\" + Wide(folder);
  return path + L"\\" + Wide(name);
}

bool OutputTree::OpenRoot(const char* folder, std::string* error) {
  if (!CreateDirectoryA(folder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    error_ = GetLastError();
    *error = "Cannot create the folder: " + LastError() + ".";
    return false;
  }
  char full[32768];
  const DWORD length = GetFullPathNameA(folder, sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) {
    *error = "Cannot find the folder's full path.";
    return false;
  }
  // From here on the wide API without name normalization: every name below
  // was checked beforehand.
  const int wide = MultiByteToWideChar(CP_ACP, 0, full, -1, nullptr, 0);
  std::wstring path(static_cast<size_t>(wide > 0 ? wide : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, full, -1, path.data(), wide);
  path.resize(path.size() - 1);
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  rootPath_ = path.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + path.substr(2) : L"\\\\?\\" + path;
  bool reparse = false;
  HANDLE handle = HoldFolder(rootPath_, true, &reparse);
  if (!handle) {
    error_ = GetLastError();
    *error = "Cannot open the folder: " + LastError() + ".";
    return false;
  }
  root_ = FromHandle(handle);
  return true;
}

bool OutputTree::EnterFolder(const std::string& name, std::string* why) {
  const std::wstring path = Path(name);
  if (CreateDirectoryW(path.c_str(), nullptr)) {
    if (folderCreatedHook) folderCreatedHook(name.c_str());
  } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
    error_ = GetLastError();
    *why = "cannot create folder '" + name + "': " + LastError();
    return false;
  }
  bool reparse = false;
  HANDLE handle = HoldFolder(path, false, &reparse);
  if (!handle) {
    error_ = GetLastError();
    *why = reparse ? "'" + name + "' is a link (reparse point), not a folder"
                   : "cannot enter folder '" + name + "': " + LastError();
    return false;
  }
  held_.push_back(FromHandle(handle));
  return true;
}

void OutputTree::LeaveFolder() {
  CloseHandle(AsHandle(held_.back()));
  held_.pop_back();
}

bool OutputTree::Exists(const std::string& name) {
  return GetFileAttributesW(Path(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

OutputTree::Step OutputTree::CreateExclusive(const std::string& name) {
  HANDLE file = CreateFileW(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    file_ = FromHandle(file);
    return Step::kDone;
  }
  error_ = GetLastError();
  return error_ == ERROR_FILE_EXISTS || error_ == ERROR_ALREADY_EXISTS ? Step::kExists
                                                                        : Step::kFailed;
}

bool OutputTree::WriteAndClose(const void* data, size_t size) {
  HANDLE file = AsHandle(file_);
  file_ = -1;
  const auto* bytes = static_cast<const char*>(data);
  size_t done = 0;
  error_ = 0;
  while (done < size && !error_) {
    const DWORD chunk = static_cast<DWORD>(size - done > (1u << 30) ? (1u << 30) : size - done);
    DWORD wrote = 0;
    if (!WriteFile(file, bytes + done, chunk, &wrote, nullptr)) error_ = GetLastError();
    done += wrote;
  }
  if (!CloseHandle(file) && !error_) error_ = GetLastError();
  return error_ == 0;
}

OutputTree::Step OutputTree::Rename(const std::string& from, const std::string& to, bool replace) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the name exists;
  // with it a link at the name is replaced, not followed.
  if (MoveFileExW(Path(from).c_str(), Path(to).c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0))
    return Step::kDone;
  error_ = GetLastError();
  return !replace && (error_ == ERROR_ALREADY_EXISTS || error_ == ERROR_FILE_EXISTS) ? Step::kExists
                                                                                    : Step::kFailed;
}

void OutputTree::Remove(const std::string& name) { DeleteFileW(Path(name).c_str()); }
