#include <windows.h>

#include <cstdio>

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

std::string Describe(DWORD error) {
  char text[256] = "";
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, text, sizeof text, nullptr);
  std::string out(text, length);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
    out.pop_back();
  if (out.empty()) out = "error " + std::to_string(error);
  return out;
}

// Opens a folder without following a reparse point and holds it: without
// delete sharing it cannot be renamed, removed or replaced while held. Null
// when it is no plain folder (*reparse tells a reparse point).
HANDLE HoldFolder(const std::wstring& path, bool* reparse) {
  *reparse = false;
  HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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
  LeaveFolders();
  if (rootHandle_) CloseHandle(rootHandle_);
}

bool OutputTree::Open(const char* folder, std::string* error) {
  if (!CreateDirectoryA(folder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    *error = "Cannot create the folder: " + Describe(GetLastError()) + ".";
    return false;
  }
  char full[32768];
  const DWORD length = GetFullPathNameA(folder, sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) {
    *error = "Cannot find the folder's full path.";
    return false;
  }
  // From here on the wide API, and no name normalization: every name was
  // checked beforehand.
  const int wide = MultiByteToWideChar(CP_ACP, 0, full, -1, nullptr, 0);
  std::wstring path(static_cast<size_t>(wide > 0 ? wide : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, full, -1, path.data(), wide);
  path.resize(path.size() - 1);
  if (path.rfind(L"\\\\", 0) == 0)
    root_ = L"\\\\?\\UNC\\" + path.substr(2);
  else
    root_ = L"\\\\?\\" + path;
  while (!root_.empty() && root_.back() == L'\\') root_.pop_back();
  bool reparse = false;
  rootHandle_ = HoldFolder(root_, &reparse);
  if (!rootHandle_) {
    *error = "Cannot open the folder: " + Describe(GetLastError()) + ".";
    return false;
  }
  return true;
}

void OutputTree::LeaveFolders() {
  for (void* handle : held_) CloseHandle(static_cast<HANDLE>(handle));
  held_.clear();
  current_.clear();
}

bool OutputTree::EnterFolders(const std::vector<std::string>& components, std::string* why) {
  const size_t depth = components.size() - 1;
  size_t same = 0;
  while (same < depth && same < current_.size() && current_[same] == components[same]) ++same;
  while (current_.size() > same) {
    CloseHandle(static_cast<HANDLE>(held_.back()));
    held_.pop_back();
    current_.pop_back();
  }
  std::wstring path = root_;
  for (size_t i = 0; i < same; ++i) path += L"\\" + Wide(components[i]);
  for (size_t i = same; i < depth; ++i) {
    path += L"\\" + Wide(components[i]);
    if (CreateDirectoryW(path.c_str(), nullptr)) {
      if (folderCreatedHook) folderCreatedHook(components[i].c_str());
    } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
      *why = "cannot create folder '" + components[i] + "': " + Describe(GetLastError());
      return false;
    }
    bool reparse = false;
    HANDLE handle = HoldFolder(path, &reparse);
    if (!handle) {
      *why = reparse ? "'" + components[i] + "' is a link (reparse point), not a folder"
                     : "cannot enter folder '" + components[i] + "': " + Describe(GetLastError());
      return false;
    }
    held_.push_back(handle);
    current_.push_back(components[i]);
  }
  return true;
}

WriteOutcome OutputTree::Write(const std::vector<std::string>& components, const void* data,
                               size_t size, bool replace, std::string* why) {
  if (!EnterFolders(components, why)) {
    LeaveFolders();
    return WriteOutcome::kFailed;
  }
  std::wstring folder = root_;
  for (size_t i = 0; i + 1 < components.size(); ++i) folder += L"\\" + Wide(components[i]);
  const std::wstring target = folder + L"\\" + Wide(components.back());
  if (!replace && GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES)
    return WriteOutcome::kExists;

  std::wstring temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    wchar_t stem[64];
    swprintf(stem, 64, L"\\.slimgrf-%lu-%u.tmp", GetCurrentProcessId(), temporaryNumber_++);
    temporary = folder + stem;
    file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
        GetLastError() != ERROR_ALREADY_EXISTS)
      break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    *why = "cannot create a file: " + Describe(GetLastError());
    return WriteOutcome::kFailed;
  }
  const auto* bytes = static_cast<const char*>(data);
  size_t done = 0;
  DWORD error = 0;
  while (done < size && !error) {
    const DWORD chunk = static_cast<DWORD>(size - done > (1u << 30) ? (1u << 30) : size - done);
    DWORD wrote = 0;
    if (!WriteFile(file, bytes + done, chunk, &wrote, nullptr)) error = GetLastError();
    done += wrote;
  }
  if (!CloseHandle(file) && !error) error = GetLastError();
  if (!error && !MoveFileExW(temporary.c_str(), target.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
    error = GetLastError();
    if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
      DeleteFileW(temporary.c_str());
      return WriteOutcome::kExists;
    }
  }
  if (error) {
    DeleteFileW(temporary.c_str());
    *why = (done < size ? "cannot write the file: " : "cannot give the file its name: ") +
           Describe(error);
    return WriteOutcome::kFailed;
  }
  return WriteOutcome::kWritten;
}
