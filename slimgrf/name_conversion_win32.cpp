#include <windows.h>

#include "slimgrf/name_conversion.h"

NameConverter::~NameConverter() = default;

bool NameConverter::Open(const char* encoding, bool raw, std::string* error) {
  raw_ = raw;
  codePage_ = raw ? CP_ACP : encoding ? CodePageNumber(encoding) : 949;
  if (!raw && (codePage_ == 0 || !IsValidCodePage(codePage_))) {
    *error = std::string("The encoding '") + encoding + "' is not a code page of this system.";
    return false;
  }
  return true;
}

bool NameConverter::ToUtf8(std::string_view name, std::string* out) {
  out->clear();
  if (name.empty()) return true;
  const int length = static_cast<int>(name.size());
  const DWORD strict = codePage_ == CP_ACP ? 0 : MB_ERR_INVALID_CHARS;
  const int wide = MultiByteToWideChar(codePage_, strict, name.data(), length, nullptr, 0);
  if (wide <= 0) return false;
  std::wstring text(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(codePage_, strict, name.data(), length, text.data(), wide);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  out->assign(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, out->data(), bytes, nullptr, nullptr);
  return true;
}

bool NameConverter::FromUtf8(std::string_view name, std::string* out) {
  out->clear();
  if (name.empty()) return true;
  const int length = static_cast<int>(name.size());
  const int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), length, nullptr, 0);
  if (wide <= 0) return false;
  if (codePage_ == CP_UTF8) {
    out->assign(name);
    return true;
  }
  std::wstring text(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, name.data(), length, text.data(), wide);
  // No best fit and no default character: what has no exact form is refused.
  BOOL lossy = FALSE;
  const int bytes = WideCharToMultiByte(codePage_, WC_NO_BEST_FIT_CHARS, text.data(), wide, nullptr,
                                        0, nullptr, &lossy);
  if (bytes <= 0 || lossy) return false;
  out->assign(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(codePage_, WC_NO_BEST_FIT_CHARS, text.data(), wide, out->data(), bytes,
                      nullptr, nullptr);
  return true;
}
