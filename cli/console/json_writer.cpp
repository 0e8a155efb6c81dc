#include "cli/console/json_writer.h"

#include <cinttypes>
#include <cstdio>

namespace {

// Length of the well-formed UTF-8 sequence starting at text[i], or 0.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return length;
}

void AppendEscape(std::string* out, unsigned char c) {
  char escape[7];
  std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
  out->append(escape, 6);
}

}  // namespace

void AppendJsonString(std::string* out, std::string_view text) {
  out->push_back('"');
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      AppendEscape(out, c);
      ++i;
    } else if (c < 0x80) {
      out->push_back(static_cast<char>(c));
      ++i;
    } else if (const size_t length = Utf8SequenceLength(text, i)) {
      out->append(text.substr(i, length));
      i += length;
    } else {
      AppendEscape(out, c);  // Latin-1 reading of a stray byte
      ++i;
    }
  }
  out->push_back('"');
}

void JsonObjectWriter::Key(std::string_view name) {
  if (text_.size() > 1) text_.push_back(',');
  AppendJsonString(&text_, name);
  text_.push_back(':');
}

JsonObjectWriter& JsonObjectWriter::String(std::string_view name, std::string_view value) {
  Key(name);
  AppendJsonString(&text_, value);
  return *this;
}

JsonObjectWriter& JsonObjectWriter::Unsigned(std::string_view name, uint64_t value) {
  Key(name);
  char digits[24];
  std::snprintf(digits, sizeof digits, "%" PRIu64, value);
  text_ += digits;
  return *this;
}

JsonObjectWriter& JsonObjectWriter::Signed(std::string_view name, int64_t value) {
  Key(name);
  char digits[24];
  std::snprintf(digits, sizeof digits, "%" PRId64, value);
  text_ += digits;
  return *this;
}

JsonObjectWriter& JsonObjectWriter::Number(std::string_view name, double value, int decimals) {
  Key(name);
  // JSON has no NaN or infinity, and the C locale is assumed for the point.
  if (!(value == value) || value > 1e15 || value < -1e15) value = 0;
  if (decimals < 0) decimals = 0;
  if (decimals > 9) decimals = 9;
  char digits[48];
  std::snprintf(digits, sizeof digits, "%.*f", decimals, value);
  text_ += digits;
  return *this;
}

JsonObjectWriter& JsonObjectWriter::Null(std::string_view name) {
  Key(name);
  text_ += "null";
  return *this;
}

JsonObjectWriter& JsonObjectWriter::Bool(std::string_view name, bool value) {
  Key(name);
  text_ += value ? "true" : "false";
  return *this;
}
