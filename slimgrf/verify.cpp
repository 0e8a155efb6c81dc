// slimgrf verify ARCHIVE...: reads and decodes every entry; reports the
// entries that cannot be read and why, the links (entries sharing one block)
// and blocks that overlap without being links.

#include <algorithm>
#include <string>
#include <vector>

#include "cli/console/json_writer.h"
#include "cli/console/terminal_host.h"
#include "slimgrf/catalog.h"
#include "slimgrf/entry_decoder.h"
#include "slimgrf/operands.h"
#include "slimgrf/options.h"
#include "slimgrf/output.h"
#include "slimgrf/progress_line.h"
#include "slimgrf/subcommands.h"
#include "support/file_util.h"

namespace {

// What verify finds about one entry besides a clean read.
struct Finding {
  enum Kind { kUnreadable, kLink, kOverlap } kind;
  const CatalogEntry* entry;
  const CatalogEntry* other;  // the link's target, the block overlapped
  const char* problem;        // unreadable: why
};

// Links and overlaps, from the entries in block order: a block starting where
// the previous one starts, with its length, is shared (a link to the first
// entry of that block); a block starting before the furthest end so far is
// an overlap with the entry that reaches there.
void FindSharedBlocks(const std::vector<const CatalogEntry*>& order, std::vector<Finding>* out) {
  const CatalogEntry* first = nullptr;     // first entry of the current block
  const CatalogEntry* furthest = nullptr;  // the block reaching furthest so far
  uint64_t furthestEnd = 0;
  for (const CatalogEntry* entry : order) {
    const GrfBlockInfo& info = entry->info;
    if (info.alignedSize == 0 || !info.inFile) continue;
    const uint64_t end = info.offset + info.alignedSize;
    if (first && first->info.offset == info.offset && first->info.alignedSize == info.alignedSize) {
      out->push_back(Finding{Finding::kLink, entry, first, nullptr});
      continue;
    }
    if (furthest && info.offset < furthestEnd)
      out->push_back(Finding{Finding::kOverlap, entry, furthest, nullptr});
    first = entry;
    if (end > furthestEnd || !furthest) {
      furthestEnd = end;
      furthest = entry;
    }
  }
}

struct VerifyRun {
  ProgressLine* progress;
  std::vector<Finding>* findings;
  uint32_t done = 0;
  uint32_t total = 0;
};

bool TakeDecoded(const DecodedEntry& decoded, void* context) {
  auto* run = static_cast<VerifyRun*>(context);
  if (decoded.problem)
    run->findings->push_back(Finding{Finding::kUnreadable, decoded.entry, nullptr, decoded.problem});
  run->progress->Update(++run->done, run->total);
  return !TerminalHost::stopRequested.load();
}

std::string FindingText(const Finding& f, NameConverter* names) {
  const std::string name = QuotedName(names, f.entry->name);
  switch (f.kind) {
    case Finding::kUnreadable:
      return name + " cannot be read: " + f.problem;
    case Finding::kLink:
      return name + " is a link to " + QuotedName(names, f.other->name);
    case Finding::kOverlap:
      return name + " overlaps " + QuotedName(names, f.other->name) + " (not a link)";
  }
  return name;
}

std::string FindingJson(const char* archive, const Finding& f, NameConverter* names) {
  static const char* const kKinds[] = {"unreadable", "link", "overlap"};
  JsonObjectWriter json;
  json.String("archive", archive).String("finding", kKinds[f.kind]);
  AddJsonName(&json, "name", names, f.entry->name);
  if (f.other) AddJsonName(&json, f.kind == Finding::kLink ? "target" : "with", names, f.other->name);
  if (f.problem) json.String("problem", f.problem);
  return json.Finish();
}

int VerifyArchive(const char* archive, const ToolOptions& options, NameConverter* names) {
  const std::string shown = RenderForConsole(archive);
  std::string error;
  Catalog catalog;
  if (!OpenCatalog(archive, {}, &catalog, &error)) {
    PrintProblem(shown, error);
    if (options.json)
      PrintOutputLine(stdout, JsonObjectWriter().String("archive", archive).String("error", error).Finish());
    return kExitNotOpened;
  }
  uint64_t bytes = 0;
  GetFileSize64(archive, &bytes);
  std::vector<Finding> findings;
  std::vector<const CatalogEntry*> order;
  order.reserve(catalog.entries.size());
  for (const CatalogEntry& entry : catalog.entries) order.push_back(&entry);
  SortInBlockOrder(&order);
  FindSharedBlocks(order, &findings);
  {
    ProgressLine progress("Verifying " + shown, bytes, options.quiet, options.json);
    VerifyRun run{&progress, &findings, 0, static_cast<uint32_t>(order.size())};
    if (!DecodeEntries(catalog.archive, order, options.jobs, &TakeDecoded, &run)) {
      progress.Clear();
      PrintProblem(shown, "Stopped; not every entry was read.");
      return kExitNotOpened;
    }
  }
  // Findings in table order, unreadable entries first.
  const CatalogEntry* base = catalog.entries.data();
  std::stable_sort(findings.begin(), findings.end(), [base](const Finding& a, const Finding& b) {
    if (a.kind != b.kind) return a.kind < b.kind;
    return a.entry - base < b.entry - base;
  });
  uint32_t counts[3] = {0, 0, 0};
  for (const Finding& f : findings) {
    ++counts[f.kind];
    if (options.json)
      PrintOutputLine(stdout, FindingJson(archive, f, names));
    else if (f.kind != Finding::kLink || options.longFormat)
      PrintOutputLine(stdout, shown + ": " + FindingText(f, names));
  }
  if (options.json) {
    PrintOutputLine(stdout, JsonObjectWriter()
                                .String("archive", archive)
                                .Unsigned("entries", catalog.entries.size())
                                .Unsigned("unreadable", counts[Finding::kUnreadable])
                                .Unsigned("links", counts[Finding::kLink])
                                .Unsigned("overlaps", counts[Finding::kOverlap])
                                .Finish());
  } else if (!options.quiet || counts[Finding::kUnreadable]) {
    char summary[160];
    std::snprintf(summary, sizeof summary,
                  "%zu entries: %u unreadable, %u links, %u overlapping blocks", catalog.entries.size(),
                  counts[Finding::kUnreadable], counts[Finding::kLink], counts[Finding::kOverlap]);
    PrintOutputLine(stdout, shown + ": " + summary);
  }
  return counts[Finding::kUnreadable] ? kExitSomeSkipped : kExitAllDone;
}

}  // namespace

int RunVerify(const ToolOptions& options) {
  NameConverter names;
  if (!OpenNames(options, &names)) return kExitNotOpened;
  int status = kExitAllDone;
  for (const char* archive : options.operands) {
    status = std::max(status, VerifyArchive(archive, options, &names));
    if (TerminalHost::stopRequested.load()) break;
  }
  if (OutputFailed()) {
    PrintProblem("slimgrf", "Cannot write the report.");
    return kExitNotOpened;
  }
  return status;
}
