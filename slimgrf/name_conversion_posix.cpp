#include <errno.h>
#include <iconv.h>

#include "slimgrf/name_conversion.h"

namespace {
iconv_t Handle(void* state) { return static_cast<iconv_t>(state); }
const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);
}  // namespace

NameConverter::~NameConverter() {
  if (iconv_) iconv_close(Handle(iconv_));
}

bool NameConverter::Open(const char* encoding, bool raw, std::string* error) {
  raw_ = raw;
  if (raw) return true;
  const char* from = encoding ? encoding : "CP949";
  const iconv_t handle = iconv_open("UTF-8", from);
  if (handle == kNoIconv) {
    *error = std::string("The encoding '") + from + "' is not known here (see iconv -l).";
    return false;
  }
  iconv_ = handle;
  return true;
}

bool NameConverter::ToUtf8(std::string_view name, std::string* out) {
  if (raw_) {
    out->assign(name);
    return true;
  }
  iconv(Handle(iconv_), nullptr, nullptr, nullptr, nullptr);  // a fresh shift state
  out->assign(name.size() * 4 + 8, '\0');
  char* in = const_cast<char*>(name.data());
  size_t inLeft = name.size();
  char* put = out->data();
  size_t outLeft = out->size();
  if (iconv(Handle(iconv_), &in, &inLeft, &put, &outLeft) == static_cast<size_t>(-1) ||
      iconv(Handle(iconv_), nullptr, nullptr, &put, &outLeft) == static_cast<size_t>(-1)) {
    out->clear();
    return false;
  }
  out->resize(out->size() - outLeft);
  return true;
}
