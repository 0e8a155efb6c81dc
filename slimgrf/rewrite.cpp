// slimgrf merge BASE PATCH... and rm ARCHIVE PATTERN...: an archive rewritten
// by the consolidation job. merge takes the base and its patches, an entry of
// a later archive replacing the entry of the same name in earlier ones; rm
// leaves out the entries the patterns match. The job writes the result beside
// its target, reads it back and only then renames it over the target (the
// base, unless merge's --output is given).

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cli/console/json_writer.h"
#include "cli/console/terminal_host.h"
#include "engine/consolidation_job.h"
#include "engine/job_summary.h"
#include "slimgrf/options.h"
#include "slimgrf/pattern.h"
#include "slimgrf/rewrite.h"
#include "slimgrf/subcommands.h"
#include "support/file_util.h"
#include "support/text.h"

namespace {

std::string MergeJson(const JobSummary& s, const char* error) {
  JsonObjectWriter json;
  json.String("base", s.sourcePath).String("output", s.destinationPath);
  json.String("outcome", s.outcome == JobOutcome::CleanedCopyKept ? "done" : "failed")
      .Unsigned("added", s.added)
      .Unsigned("replaced", s.replaced)
      .Unsigned("removed", s.removed)
      .Unsigned("unchanged", s.unchanged)
      .Unsigned("linked", s.linked)
      .Unsigned("unreadable", s.unreadable)
      .Unsigned("bytesBefore", s.sourceBytes)
      .Unsigned("bytesAfter", s.destinationBytes)
      .Number("seconds", s.seconds, 3);
  if (error) json.String("error", error);
  return json.Finish();
}

}  // namespace

int Rewrite(const ToolOptions& options, const char* base, const std::vector<const char*>& patches,
            bool (*keeps)(const char*, void*), void* keepsContext, bool createsBase) {
  TerminalSettings settings = CommandLineSettings(options.json, options.quiet, options.yes);
  GetFileSize64(base, &settings.sourceBytes);
  TerminalHost host(settings);

  JobSummary summary{};
  CopyBounded(summary.sourcePath, base, sizeof summary.sourcePath);
  summary.outcome = JobOutcome::SourceNotOpened;
  ConsolidationJob* job = nullptr;
  if (std::strlen(base) >= kPathCapacity ||
      (options.output && std::strlen(options.output) >= kPathCapacity)) {
    host.ShowError("The archive's path is too long. Please move it to a shorter path and try again.");
  } else if (!(job = CreateConsolidationJob(&host, base, options.best, nullptr))) {
    host.ShowError("Your memory seems to be occupied by a heavy-weight as well. Try again later.");
  } else {
    job->summary = &summary;
    job->threads = options.jobs;
    job->merge = 1;
    job->patchPaths = patches.data();
    job->patchCount = static_cast<uint32_t>(patches.size());
    job->keepsEntry = keeps;
    job->keepsEntryContext = keepsContext;
    job->createsSource = createsBase;
    if (options.output) CopyBounded(job->destinationPath, options.output, sizeof job->destinationPath);
    ExecuteConsolidationJob(job);
  }
  const bool merged = summary.outcome == JobOutcome::CleanedCopyKept;
  // A run that ended before its target was named still tells what it was.
  if (!summary.destinationPath[0])
    CopyBounded(summary.destinationPath, options.output ? options.output : base,
                sizeof summary.destinationPath);
  if (!summary.sourceBytes) summary.sourceBytes = settings.sourceBytes;
  if (options.json) {
    std::string why = host.lastError();
    if (!merged && why.empty()) why = TerminalHost::stopRequested.load() ? "stopped" : "failed";
    std::printf("%s\n", MergeJson(summary, merged ? nullptr : why.c_str()).c_str());
  }
  return merged ? kExitAllDone : kExitNotOpened;
}

int RunMerge(const ToolOptions& options) {
  if (options.operands.size() < 2) {
    std::fprintf(stderr, "'merge' needs a base archive and at least one patch archive.\n");
    return kExitNotOpened;
  }
  const std::vector<const char*> patches(options.operands.begin() + 1, options.operands.end());
  return Rewrite(options, options.operands[0], patches, nullptr, nullptr);
}

int RunRemove(const ToolOptions& options) {
  if (options.operands.size() < 2) {
    std::fprintf(stderr, "'rm' needs an archive and at least one pattern.\n");
    return kExitNotOpened;
  }
  const char* archive = options.operands[0];
  std::vector<const char*> patterns(options.operands.begin() + 1, options.operands.end());
  const auto keeps = [](const char* name, void* context) {
    return !AnyGlobMatches(*static_cast<const std::vector<const char*>*>(context), name);
  };
  // Nothing to leave out: the archive is not rewritten.
  GrfArchive* opened = nullptr;
  if (GrfOpen(archive, GRF_OPEN_READ_ONLY, nullptr, &opened)) {
    std::pair<const std::vector<const char*>*, bool> search{&patterns, false};
    GrfForEachEntry(opened, [](uint32_t, uint32_t, const EntryView* view, void* context) {
          auto* found = static_cast<std::pair<const std::vector<const char*>*, bool>*>(context);
          found->second = AnyGlobMatches(*found->first, view->name);
          return !found->second;
        }, &search);
    GrfClose(&opened);
    if (!search.second) {
      std::fprintf(stderr, "%s: no entry matches; the archive is unchanged.\n",
                   RenderForConsole(archive).c_str());
      return kExitSomeSkipped;
    }
  }
  return Rewrite(options, archive, {}, keeps, &patterns);
}
