#include "slimgrf/pattern.h"

#include "support/text.h"

namespace {

unsigned char Fold(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte == '\\' ? '/' : AsciiLower(byte);
}

// Matches the set starting after '[' at pattern[p] against c; *end is the
// position after ']'. A '[' without its ']' is an ordinary byte (false).
bool SetMatches(std::string_view pattern, size_t p, unsigned char c, size_t* end, bool* valid) {
  bool negate = false;
  if (p < pattern.size() && (pattern[p] == '!' || pattern[p] == '^')) {
    negate = true;
    ++p;
  }
  bool hit = false;
  for (size_t i = p; i < pattern.size(); ++i) {
    if (pattern[i] == ']' && i > p) {
      *end = i + 1;
      *valid = true;
      return hit != negate;
    }
    const unsigned char low = Fold(pattern[i]);
    if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
      if (c >= low && c <= Fold(pattern[i + 2])) hit = true;
      i += 2;
    } else if (c == low) {
      hit = true;
    }
  }
  *valid = false;
  return false;
}

}  // namespace

bool GlobMatches(std::string_view pattern, std::string_view name) {
  // Iterative matching with one backtrack point (the last star): linear
  // enough for names of a few hundred bytes, never recursive.
  size_t p = 0, n = 0;
  size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size()) {
      const char pc = pattern[p];
      if (pc == '*') {
        starP = ++p;
        starN = n;
        continue;
      }
      if (pc == '?') {
        ++p;
        ++n;
        continue;
      }
      if (pc == '[') {
        size_t end = 0;
        bool valid = false;
        const bool hit = SetMatches(pattern, p + 1, Fold(name[n]), &end, &valid);
        if (valid && hit) {
          p = end;
          ++n;
          continue;
        }
        if (!valid && Fold(name[n]) == '[') {
          ++p;
          ++n;
          continue;
        }
      } else if (Fold(pc) == Fold(name[n])) {
        ++p;
        ++n;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    p = starP;
    n = ++starN;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool AnyGlobMatches(const std::vector<const char*>& patterns, std::string_view name) {
  if (patterns.empty()) return true;
  for (const char* pattern : patterns)
    if (GlobMatches(pattern, name)) return true;
  return false;
}
