// slimgrf list ARCHIVE [PATTERN...]: one line (or JSON object) per entry.

#include <cinttypes>
#include <cstdio>

#include "cli/console/json_writer.h"
#include "cli/console/terminal_host.h"
#include "slimgrf/catalog.h"
#include "slimgrf/operands.h"
#include "slimgrf/options.h"
#include "slimgrf/output.h"
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

int RunList(const ToolOptions& options) {
  NameConverter names;
  Catalog catalog;
  bool allMatched = true;
  if (!OpenArchiveOperands(options, &names, &catalog, &allMatched)) return kExitNotOpened;
  for (const CatalogEntry& entry : catalog.entries)
    if (!PrintOutputLine(stdout, EntryLine(entry, options, &names))) break;
  if (OutputFailed()) {
    PrintProblem("slimgrf", "Cannot write the listing.");
    return kExitNotOpened;
  }
  return allMatched ? kExitAllDone : kExitSomeSkipped;
}
