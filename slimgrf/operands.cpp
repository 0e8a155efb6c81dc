#include "slimgrf/operands.h"

#include "cli/console/terminal_host.h"
#include "slimgrf/output.h"
#include "slimgrf/pattern.h"

bool OpenNames(const ToolOptions& options, NameConverter* names) {
  std::string error;
  if (names->Open(options.encoding, options.rawNames, &error)) return true;
  PrintProblem("slimgrf", error);
  return false;
}

bool OpenArchiveOperands(const ToolOptions& options, NameConverter* names, Catalog* catalog,
                         bool* allMatched) {
  const char* archive = options.operands[0];
  const std::vector<const char*> patterns(options.operands.begin() + 1, options.operands.end());
  if (!OpenNames(options, names)) return false;
  std::string error;
  if (!OpenCatalog(archive, patterns, catalog, &error)) {
    PrintProblem(RenderForConsole(archive), error);
    return false;
  }
  *allMatched = true;
  for (const char* pattern : patterns) {
    bool matched = false;
    for (size_t i = 0; i < catalog->entries.size() && !matched; ++i)
      matched = GlobMatches(pattern, catalog->entries[i].name);
    if (!matched) {
      PrintProblem(RenderForConsole(archive), "no entry matches '" + RenderForConsole(pattern) + "'.");
      *allMatched = false;
    }
  }
  return true;
}
