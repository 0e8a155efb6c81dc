// slimgrf merge BASE PATCH...: one archive from a base and its patches, an
// entry of a later archive replacing the entry of the same name in earlier
// ones. The consolidation job writes it beside its target, reads it back and
// only then renames it over the target (BASE unless --output is given).

#include <cstdio>
#include <cstring>
#include <string>

#include "console/json_writer.h"
#include "console/terminal_host.h"
#include "engine/consolidation_job.h"
#include "engine/job_summary.h"
#include "slimgrf/options.h"
#include "slimgrf/subcommands.h"
#include "support/file_util.h"
#include "support/text.h"

namespace {

std::string MergeJson(const JobSummary& s, const char* error) {
  JsonObjectWriter json;
  json.String("base", s.sourcePath).String("output", s.destinationPath);
  json.String("outcome", s.outcome == JobOutcome::CleanedCopyKept ? "merged" : "failed")
      .Unsigned("added", s.added)
      .Unsigned("replaced", s.replaced)
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

int RunMerge(const ToolOptions& options) {
  if (options.operands.size() < 2) {
    std::fprintf(stderr, "'merge' needs a base archive and at least one patch archive.\n");
    return kExitNotOpened;
  }
  const char* base = options.operands[0];
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
    job->patchPaths = options.operands.data() + 1;
    job->patchCount = static_cast<uint32_t>(options.operands.size() - 1);
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
