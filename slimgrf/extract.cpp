// slimgrf extract ARCHIVE [PATTERN...] [-C DIR]: writes entries as files.
//
// Every name is planned before anything is written: converted from the
// archive's code page, checked (path_safety.h) and compared with the names
// before it, so that no two entries are written to one file. Entries are then
// read and decoded on every core and written in block order.

#include <string>
#include <unordered_map>
#include <vector>

#include "cli/console/terminal_host.h"
#include "slimgrf/catalog.h"
#include "slimgrf/entry_decoder.h"
#include "slimgrf/operands.h"
#include "slimgrf/options.h"
#include "slimgrf/output.h"
#include "slimgrf/output_tree.h"
#include "slimgrf/path_safety.h"
#include "slimgrf/progress_line.h"
#include "slimgrf/subcommands.h"
#include "support/file_util.h"

namespace {

// The folders and the file name an entry is written to.
using PlannedFile = std::vector<std::string>;

struct ExtractRun {
  const ToolOptions* options;
  NameConverter* names;
  OutputTree* tree;
  ProgressLine* progress;
  std::string shownArchive;
  const CatalogEntry* base;
  std::vector<PlannedFile>* plan;  // by catalog position
  uint32_t done = 0, total = 0, written = 0, skipped = 0;
};

void Skip(ExtractRun* run, const CatalogEntry& entry, const std::string& why) {
  ++run->skipped;
  if (run->progress) run->progress->Clear();
  PrintProblem(run->shownArchive, QuotedName(run->names, entry.name) + " not extracted: " + why + ".");
}

// Converts and checks every name, and refuses those that land on a file (or
// folder) an earlier name took. Leaves the accepted entries in *accepted.
void PlanFiles(ExtractRun* run, const std::vector<CatalogEntry>& entries,
               std::vector<const CatalogEntry*>* accepted) {
  // Paths already taken (under the file system's comparison): files and the
  // folders above them, with the entry that took them.
  std::unordered_map<std::string, const CatalogEntry*> files, folders;
  for (const CatalogEntry& entry : entries) {
    PlannedFile& planned = (*run->plan)[&entry - run->base];
    std::string converted;
    if (!run->names->ToUtf8(entry.name, &converted)) {
      Skip(run, entry,
           std::string("the name does not convert from ") +
               (run->options->encoding ? run->options->encoding : "CP949") +
               " (--encoding names another code page, --raw-names keeps the bytes)");
      continue;
    }
    if (const char* refusal = SplitSafePath(converted, kWindowsNameRules, &planned)) {
      Skip(run, entry, std::string("unsafe name (") + refusal + ")");
      continue;
    }
    // The keys of the folders on the way, then of the file: a file taken
    // where one of them goes, or a folder where the file goes, is a clash.
    std::vector<std::string> keys;
    std::string path;
    for (const std::string& component : planned) {
      path += (path.empty() ? "" : "/") + component;
      keys.push_back(FileSystemKey(path));
    }
    const CatalogEntry* clash = nullptr;
    for (const std::string& key : keys)
      if (const auto found = files.find(key); !clash && found != files.end()) clash = found->second;
    if (const auto found = folders.find(keys.back()); !clash && found != folders.end())
      clash = found->second;
    if (clash) {
      Skip(run, entry, "it maps to the same file as " + QuotedName(run->names, clash->name));
      continue;
    }
    for (size_t i = 0; i + 1 < keys.size(); ++i) folders.emplace(keys[i], &entry);
    files.emplace(keys.back(), &entry);
    accepted->push_back(&entry);
  }
}

bool WriteDecoded(const DecodedEntry& decoded, void* context) {
  auto* run = static_cast<ExtractRun*>(context);
  const CatalogEntry& entry = *decoded.entry;
  if (decoded.problem) {
    Skip(run, entry, std::string("it cannot be read (") + decoded.problem + ")");
  } else {
    std::string why;
    const PlannedFile& planned = (*run->plan)[&entry - run->base];
    switch (run->tree->Write(planned, decoded.content, entry.info.realSize,
                             run->options->force, &why)) {
      case WriteOutcome::kWritten:
        ++run->written;
        break;
      case WriteOutcome::kExists:
        Skip(run, entry, "a file of that name exists (--force replaces it)");
        break;
      case WriteOutcome::kFailed:
        Skip(run, entry, why);
        break;
    }
  }
  run->progress->Update(++run->done, run->total);
  return !TerminalHost::stopRequested.load();
}

}  // namespace

int RunExtract(const ToolOptions& options) {
  const char* archive = options.operands[0];
  const std::string shown = RenderForConsole(archive);
  NameConverter names;
  Catalog catalog;
  bool allMatched = true;
  if (!OpenArchiveOperands(options, &names, &catalog, &allMatched)) return kExitNotOpened;
  std::string error;
  OutputTree tree;
  if (!tree.Open(options.directory, &error)) {
    PrintProblem(RenderForConsole(options.directory), error);
    return kExitNotOpened;
  }
  std::vector<PlannedFile> plan(catalog.entries.size());
  ExtractRun run{&options, &names, &tree, nullptr, shown, catalog.entries.data(), &plan};
  std::vector<const CatalogEntry*> order;
  PlanFiles(&run, catalog.entries, &order);
  SortInBlockOrder(&order);  // neighbouring blocks are read together
  uint64_t bytes = 0;
  GetFileSize64(archive, &bytes);
  ProgressLine progress("Extracting " + shown, bytes, options.quiet, false);
  run.progress = &progress;
  run.total = static_cast<uint32_t>(order.size());
  if (!DecodeEntries(catalog.archive, order, options.jobs, &WriteDecoded, &run)) {
    progress.Clear();
    PrintProblem(shown, "Stopped; not every entry was extracted.");
    return kExitNotOpened;
  }
  progress.Clear();
  if (!options.quiet) {
    char summary[160];
    std::snprintf(summary, sizeof summary, "%u of %zu entries extracted, %u not", run.written,
                  catalog.entries.size(), run.skipped);
    PrintOutputLine(stdout, shown + ": " + summary + " (into " + RenderForConsole(options.directory) + ").");
  }
  return run.skipped || !allMatched ? kExitSomeSkipped : kExitAllDone;
}
