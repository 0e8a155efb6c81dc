#include <windows.h>

#include "slimgrf/input_files.h"

const char kInputSeparator = '\\';

namespace {

std::wstring Wide(const std::string& text, UINT codePage) {
  const int length = static_cast<int>(text.size());
  const int wide = length ? MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0) : 0;
  std::wstring out(static_cast<size_t>(wide > 0 ? wide : 0), L'\0');
  if (wide > 0) MultiByteToWideChar(codePage, 0, text.data(), length, out.data(), wide);
  return out;
}

std::string Utf8(const wchar_t* text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes > 0 ? bytes : 1), '\0');
  if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

// The full path with the "\\?\" prefix: no length limit, no name normalization.
std::wstring SystemPath(const std::string& path) {
  const std::wstring given = Wide(path, CP_UTF8);
  const DWORD length = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  std::wstring full(length ? length : 1, L'\0');
  const DWORD written = length ? GetFullPathNameW(given.c_str(), length, full.data(), nullptr) : 0;
  if (written == 0 || written >= length) return given;
  full.resize(written);
  // "dir\" as typed (or completed) names the folder; with the prefix it would be an invalid name.
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  return full.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
}

bool Fail(std::string* why) {
  char text[256] = "";
  const DWORD error = GetLastError();
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.'))
    --length;
  *why = length ? std::string(text, length) : "error " + std::to_string(error);
  return false;
}

// Opens for reading without following a reparse point (a folder too).
HANDLE OpenForRead(const std::string& path) {
  return CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                     nullptr);
}

bool Describe(HANDLE file, InputProbe* probe, std::string* why) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return Fail(why);
  const DWORD attributes = info.dwFileAttributes;
  probe->kind = attributes & FILE_ATTRIBUTE_REPARSE_POINT ? InputKind::kLink
                : attributes & FILE_ATTRIBUTE_DIRECTORY   ? InputKind::kFolder
                : GetFileType(file) == FILE_TYPE_DISK     ? InputKind::kFile
                                                          : InputKind::kOther;
  probe->size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  probe->identity = FileIdentity{info.dwVolumeSerialNumber,
                                 (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  return true;
}

}  // namespace

std::string InputPathOf(const char* operand) { return Utf8(Wide(operand, CP_ACP).c_str()); }

bool ProbeInput(const std::string& path, InputProbe* probe, std::string* why) {
  const HANDLE file = OpenForRead(path);
  if (file == INVALID_HANDLE_VALUE) return Fail(why);
  const bool described = Describe(file, probe, why);
  CloseHandle(file);
  return described;
}

bool ListInputFolder(const std::string& path, std::vector<std::string>* names, std::string* why) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileExW((SystemPath(path) + L"\\*").c_str(), FindExInfoBasic,
                                         &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return Fail(why);
  do {
    const std::string name = Utf8(found.cFileName);
    if (name != "." && name != "..") names->push_back(name);
  } while (FindNextFileW(search, &found));
  const bool listed = GetLastError() == ERROR_NO_MORE_FILES || Fail(why);
  FindClose(search);
  return listed;
}

bool ReadInputFile(const InputFile& file, std::vector<unsigned char>* content, std::string* why) {
  const HANDLE handle = OpenForRead(file.path);
  if (handle == INVALID_HANDLE_VALUE) return Fail(why);
  InputProbe probe;
  bool read = Describe(handle, &probe, why);
  if (read && (probe.kind != InputKind::kFile || probe.size != file.size ||
               !SameFile(probe.identity, file.identity))) {
    *why = "it changed while being added";
    read = false;
  }
  try {
    if (read) content->resize(static_cast<size_t>(file.size));
  } catch (...) {
    *why = "not enough memory to hold it";
    read = false;
  }
  for (size_t done = 0; read && done < content->size();) {
    const size_t left = content->size() - done;
    DWORD got = 0;
    if (!ReadFile(handle, content->data() + done, left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left),
                  &got, nullptr))
      read = Fail(why);
    else if (got == 0)
      *why = "it became shorter while being read", read = false;
    done += got;
  }
  CloseHandle(handle);
  return read;
}
