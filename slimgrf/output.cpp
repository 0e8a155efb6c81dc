#include "slimgrf/output.h"

#include "cli/console/json_writer.h"
#include "cli/console/terminal_host.h"
#include "slimgrf/name_conversion.h"

namespace {
bool outputFailed = false;
}

std::string ShownName(NameConverter* names, const std::string& raw) {
  std::string converted;
  const bool converts = names && names->ToUtf8(raw, &converted);
  return RenderForConsole(converts ? converted.c_str() : raw.c_str());
}

std::string QuotedName(NameConverter* names, const std::string& raw) {
  std::string quoted(1, '\'');
  quoted += ShownName(names, raw);
  quoted += '\'';
  return quoted;
}

void AddJsonName(JsonObjectWriter* json, const char* key, NameConverter* names,
                 const std::string& raw) {
  std::string converted;
  const bool converts = names && names->ToUtf8(raw, &converted);
  json->String(key, converts ? converted : raw);
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : raw) {
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[static_cast<unsigned char>(c) & 15];
  }
  json->String(std::string(key) + "_hex", hex);
}

bool PrintOutputLine(FILE* stream, const std::string& line) {
  if (std::fwrite(line.data(), 1, line.size(), stream) != line.size() ||
      std::fputc('\n', stream) == EOF)
    outputFailed = true;
  return !outputFailed;
}

bool OutputFailed() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) outputFailed = true;
  return outputFailed;
}

void PrintProblem(const std::string& prefix, const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", prefix.c_str(), text.c_str());
}
