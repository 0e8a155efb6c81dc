#include <errno.h>
#include <iconv.h>

#include "slimgrf/name_conversion.h"

namespace {
iconv_t Handle(void* state) { return static_cast<iconv_t>(state); }
const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

// Converts the whole name through one iconv direction; false at the first
// sequence that does not convert.
bool Convert(void* state, std::string_view name, std::string* out) {
  iconv(Handle(state), nullptr, nullptr, nullptr, nullptr);  // a fresh shift state
  out->assign(name.size() * 4 + 8, '\0');
  char* in = const_cast<char*>(name.data());
  size_t inLeft = name.size();
  char* put = out->data();
  size_t outLeft = out->size();
  if (iconv(Handle(state), &in, &inLeft, &put, &outLeft) == static_cast<size_t>(-1) ||
      iconv(Handle(state), nullptr, nullptr, &put, &outLeft) == static_cast<size_t>(-1)) {
    out->clear();
    return false;
  }
  out->resize(out->size() - outLeft);
  return true;
}
}  // namespace

NameConverter::~NameConverter() {
  if (iconv_) iconv_close(Handle(iconv_));
  if (back_) iconv_close(Handle(back_));
}

bool NameConverter::Open(const char* encoding, bool raw, std::string* error) {
  raw_ = raw;
  if (raw) return true;
  const char* from = encoding ? encoding : "CP949";
  const iconv_t handle = iconv_open("UTF-8", from);
  const iconv_t back = handle == kNoIconv ? kNoIconv : iconv_open(from, "UTF-8");
  if (back == kNoIconv) {
    if (handle != kNoIconv) iconv_close(handle);
    *error = std::string("The encoding '") + from + "' is not known here (see iconv -l).";
    return false;
  }
  iconv_ = handle;
  back_ = back;
  return true;
}

bool NameConverter::ToUtf8(std::string_view name, std::string* out) {
  if (!raw_) return Convert(iconv_, name, out);
  out->assign(name);
  return true;
}

bool NameConverter::FromUtf8(std::string_view name, std::string* out) {
  if (!raw_) return Convert(back_, name, out);
  out->assign(name);
  return true;
}
