#include "slimgrf/path_safety.h"

#include "support/text.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// CON, PRN, AUX, NUL, COM1-9, LPT1-9 (also with superscript digits),
// CONIN$ and CONOUT$: what comes before the first dot, trailing spaces
// ignored, ASCII case ignored.
bool IsDeviceName(std::string_view component) {
  std::string stem;
  for (const char c : component.substr(0, component.find('.')))
    stem += static_cast<char>(AsciiLower(static_cast<unsigned char>(c)));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"})
    if (stem == device) return true;
  if (stem.size() >= 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0)) {
    const std::string_view digit = std::string_view(stem).substr(3);
    if (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') return true;
    // superscript one, two and three in UTF-8
    if (digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3") return true;
  }
  return false;
}

const char* WindowsProblem(std::string_view component) {
  const char last = component.back();
  if (last == '.' || last == ' ') return "name ends in a dot or a space";
  for (const char c : component) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
      return "character that Windows names cannot hold";
  }
  return nullptr;
}

}  // namespace

const char* SplitSafePath(std::string_view name, bool windowsRules,
                          std::vector<std::string>* components) {
  components->clear();
  if (name.find('\0') != std::string_view::npos) return "NUL byte in the name";
  if (name.empty()) return "empty name";
  if (IsSeparator(name[0])) return "absolute path";
  if (name.size() >= 2 && name[1] == ':' && AsciiLower(static_cast<unsigned char>(name[0])) >= 'a' &&
      AsciiLower(static_cast<unsigned char>(name[0])) <= 'z')
    return "drive letter";
  if (IsSeparator(name.back())) return "names a folder, not a file";
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    const std::string_view component = name.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == ".") continue;
    if (component == "..") return "'..' in the path";
    if (IsDeviceName(component)) return "Windows device name";
    if (windowsRules) {
      if (const char* problem = WindowsProblem(component)) return problem;
    }
    components->emplace_back(component);
  }
  if (components->empty()) return "empty name";
  return nullptr;
}
