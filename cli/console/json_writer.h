#pragma once
// A writer for one-line JSON objects of strings, integers, numbers and null.
//
// Strings are byte strings (archive paths in whatever code page they came
// in). Well-formed UTF-8 passes through unchanged; every byte that is not part
// of a well-formed UTF-8 sequence is written as \u00XX, its Latin-1 reading,
// so no byte is lost and the output is always valid JSON. Quotes,
// backslashes and every control byte (0x00-0x1F, 0x7F) are escaped as well.

#include <cstdint>
#include <string>
#include <string_view>

// Appends `text` as a JSON string literal, quotes included.
void AppendJsonString(std::string* out, std::string_view text);

class JsonObjectWriter {
 public:
  JsonObjectWriter& String(std::string_view name, std::string_view value);
  JsonObjectWriter& Unsigned(std::string_view name, uint64_t value);
  JsonObjectWriter& Signed(std::string_view name, int64_t value);
  // Fixed-point with `decimals` digits after the point.
  JsonObjectWriter& Number(std::string_view name, double value, int decimals);
  JsonObjectWriter& Null(std::string_view name);
  JsonObjectWriter& Bool(std::string_view name, bool value);
  // The object, closed ("{}" when nothing was added).
  std::string Finish() const { return text_ + "}"; }

 private:
  void Key(std::string_view name);
  std::string text_ = "{";
};
