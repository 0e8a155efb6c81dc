// slimgrf list ARCHIVE [PATTERN...]: one line (or JSON object) per entry.

#include <cinttypes>
#include <cstdio>

#include "console/json_writer.h"
#include "console/terminal_host.h"
#include "slimgrf/catalog.h"
#include "slimgrf/name_conversion.h"
#include "slimgrf/options.h"
#include "slimgrf/output.h"
#include "slimgrf/pattern.h"
#include "slimgrf/subcommands.h"

namespace {

std::string EntryLine(const CatalogEntry& entry, const ToolOptions& options, NameConverter* names) {
  const GrfBlockInfo& info = entry.info;
  const char* problem = RecordProblem(info);
  if (options.json) {
    JsonObjectWriter json;
    AddJsonName(&json, "name", names, entry.name);
    json.Unsigned("size", info.realSize)
        .Unsigned("stored", info.alignedSize)
        .Unsigned("compressed", info.compressedSize)
        .Unsigned("offset", info.offset)
        .String("storage", StorageName(info));
    if (const char* cipher = CipherName(info))
      json.String("cipher", cipher);
    else
      json.Null("cipher");
    json.Bool("readable", problem == nullptr);
    if (problem) json.String("problem", problem);
    return json.Finish();
  }
  const char* cipher = CipherName(info);
  char columns[128];
  if (options.longFormat)
    std::snprintf(columns, sizeof columns, "%10" PRIu32 " %10" PRIu32 " %10" PRIu32 " %12" PRIu64
                  " %-6s %-6s ",
                  info.realSize, info.alignedSize, info.compressedSize, info.offset,
                  StorageName(info), cipher ? cipher : "-");
  else
    std::snprintf(columns, sizeof columns, "%10" PRIu32 " %10" PRIu32 " %-6s %-6s ", info.realSize,
                  info.alignedSize, StorageName(info), cipher ? cipher : "-");
  std::string line = columns + ShownName(names, entry.name);
  if (problem) line += std::string("  (unreadable: ") + problem + ")";
  return line;
}

}  // namespace

// Reports the patterns that match no entry; true when every one matched.
bool EveryPatternMatched(const char* archive, const std::vector<const char*>& patterns,
                         const std::vector<CatalogEntry>& entries) {
  bool all = true;
  for (const char* pattern : patterns) {
    bool matched = false;
    for (size_t i = 0; i < entries.size() && !matched; ++i)
      matched = GlobMatches(pattern, entries[i].name);
    if (!matched) {
      PrintProblem(RenderForConsole(archive),
                   "no entry matches '" + RenderForConsole(pattern) + "'.");
      all = false;
    }
  }
  return all;
}

int RunList(const ToolOptions& options) {
  const char* archive = options.operands[0];
  const std::vector<const char*> patterns(options.operands.begin() + 1, options.operands.end());
  NameConverter names;
  std::string error;
  if (!names.Open(options.encoding, options.rawNames, &error)) {
    PrintProblem("slimgrf", error);
    return kExitNotOpened;
  }
  Catalog catalog;
  if (!OpenCatalog(archive, patterns, &catalog, &error)) {
    PrintProblem(RenderForConsole(archive), error);
    return kExitNotOpened;
  }
  for (const CatalogEntry& entry : catalog.entries)
    if (!PrintOutputLine(stdout, EntryLine(entry, options, &names))) break;
  if (OutputFailed()) {
    PrintProblem("slimgrf", "Cannot write the listing.");
    return kExitNotOpened;
  }
  return EveryPatternMatched(archive, patterns, catalog.entries) ? kExitAllDone
                                                                 : kExitSomeSkipped;
}
