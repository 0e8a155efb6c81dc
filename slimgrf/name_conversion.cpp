#include "slimgrf/name_conversion.h"

#include <cstdlib>

#include "support/text.h"

unsigned CodePageNumber(const char* encoding) {
  std::string text;
  for (const char* p = encoding; *p; ++p) text += static_cast<char>(AsciiLower(static_cast<unsigned char>(*p)));
  if (text == "utf-8" || text == "utf8") return 65001;
  for (const char* prefix : {"cp", "windows-", "ms"}) {
    if (text.rfind(prefix, 0) == 0) {
      text.erase(0, std::string(prefix).size());
      break;
    }
  }
  if (text == "uhc") return 949;
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  return static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10));
}
