#pragma once
// Compares two archives by content through the library: the same names, and
// for each name the same decoded bytes.

#include <string>

// True when both open and hold the same names with identical contents; else
// false with the first difference in *why.
bool SameArchiveContent(const std::string& first, const std::string& second, std::string* why);
