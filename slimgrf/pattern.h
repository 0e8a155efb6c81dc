#pragma once
// Shell-glob matching of entry names: * (any run), ? (one byte), [...] (a set,
// ranges and a leading ! or ^ to negate), ASCII case ignored, '/' and '\'
// alike. Bytes are matched as they are, so multi-byte names match by their
// bytes.

#include <string_view>
#include <vector>

bool GlobMatches(std::string_view pattern, std::string_view name);
// True when there are no patterns or any of them matches.
bool AnyGlobMatches(const std::vector<const char*>& patterns, std::string_view name);
