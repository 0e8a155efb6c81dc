// slimwick-cli: the consolidation job without a window.
//
//   slimwick-cli [--dry-run] [--output PATH | --output-dir DIR] [--best] [--level N] [--jobs N]
//                [--yes] [--quiet] [--json] [--codec LIBRARY] ARCHIVE...
//
// Exit status: 0 when every cleaned copy was kept, 1 when some archive saved
// nothing (no copy left behind), 2 when any archive failed. A dry run answers
// the same for the copies it measured.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/options.h"
#include "cli/console/stop_signals.h"
#include "cli/console/terminal_host.h"
#include "engine/codec_library.h"
#include "engine/consolidation_job.h"
#include "engine/format.h"
#include "engine/job_summary.h"
#include "support/file_util.h"
#include "support/pool.h"
#include "support/text.h"
#include "version.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

constexpr const char kVersion[] = SLIMWICK_VERSION;

// Checks the codec library each job will load; false (with the error
// printed) when it is not one.
bool CheckCodecLibrary(const char* codec) {
  if (std::strlen(codec) >= kPathCapacity) {
    std::fprintf(stderr, "The codec library path is too long.\n");
    return false;
  }
  LibraryHandle module = nullptr;
  const bool usable = LoadLibraryByName(codec, &module) && HasCodecExports(module);
  if (module) FreeLibraryModule(module);
  if (!usable) {
    std::fprintf(stderr,
                 "'%s' is not a codec library: it must load and export compress (or "
                 "compress2) and uncompress.\n",
                 RenderForConsole(codec).c_str());
    return false;
  }
  return true;
}

void PrintError(const std::string& text) {
  std::fprintf(stderr, "%s\n", RenderForConsole(text.c_str()).c_str());
}

bool SameName(const std::string& a, const std::string& b) {
#ifdef _WIN32
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(static_cast<unsigned char>(a[i])) != AsciiLower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
#else
  return a == b;
#endif
}

// Whether two copies' names lead to one file: the same file name in one
// folder, however the folder is spelled.
bool SameDestination(const std::string& a, const std::string& b) {
  const char* fileA = FileNamePart(a.c_str());
  const char* fileB = FileNamePart(b.c_str());
  if (!SameName(fileA, fileB)) return false;
  const std::string folderA(a.c_str(), fileA), folderB(b.c_str(), fileB);
  FileIdentity identityA{}, identityB{};
  return folderA == folderB ||
         (QueryFileIdentity(folderA.empty() ? "." : folderA.c_str(), &identityA) &&
          QueryFileIdentity(folderB.empty() ? "." : folderB.c_str(), &identityB) &&
          SameFile(identityA, identityB));
}

// The copy's name for each archive that --output or --output-dir gives
// (none without them). False, with the error printed, when the folder is
// missing, a name is too long or two archives would be written to one name
// (beside their sources too). The copy's folder is never created here.
bool PlanDestinations(const CliOptions& options, std::vector<std::string>* names) {
  if (options.output) {
    if (std::strlen(options.output) >= kPathCapacity) {  // cut short, it would name another file
      PrintError("The name '" + std::string(options.output) + "' is too long for the copy.");
      return false;
    }
    const std::string folder(options.output, FileNamePart(options.output));
    if (!IsExistingFolder(folder.empty() ? "." : folder.c_str())) {
      PrintError("The folder of '" + std::string(options.output) + "' does not exist.");
      return false;
    }
    names->assign(1, options.output);
    return true;
  }
  if (options.outputDir && !IsExistingFolder(options.outputDir)) {
    PrintError("The folder '" + std::string(options.outputDir) + "' does not exist.");
    return false;
  }
  std::vector<std::string> planned;
  for (const char* archive : options.archives) {
    char name[kPathCapacity];
    if (options.outputDir && !BuildDestinationNameIn(archive, options.outputDir, name, sizeof name)) {
      PrintError("The copy of '" + std::string(archive) + "' would get too long a name in '" +
                 options.outputDir + "'.");
      return false;
    }
    // A name too long beside its source is refused by its own job.
    if (!options.outputDir) BuildDestinationName(archive, name, sizeof name);
    for (size_t i = 0; i < planned.size(); ++i) {
      if (name[0] && SameDestination(planned[i], name)) {
        PrintError("'" + std::string(options.archives[i]) + "' and '" + archive +
                   "' would both be written to '" + name + "'.");
        return false;
      }
    }
    planned.push_back(name);
  }
  if (options.outputDir) *names = std::move(planned);
  return true;
}

// Cleans one archive (into `destination` when not null); fills *summary and
// returns the error text shown, if any.
std::string CleanArchive(const CliOptions& options, const char* archive, const char* destination,
                         bool batch, JobSummary* summary) {
  *summary = JobSummary{};
  CopyBounded(summary->sourcePath, archive, sizeof summary->sourcePath);
  summary->outcome = JobOutcome::SourceNotOpened;

  TerminalSettings settings = CommandLineSettings(options.json, options.quiet, options.yes);
  if (batch) settings.errorPrefix = RenderForConsole(archive) + ": ";
  GetFileSize64(archive, &settings.sourceBytes);
  // A file the job could not open still counts with its size on disk.
  summary->sourceBytes = settings.sourceBytes;
  TerminalHost host(settings);

  if (std::strlen(archive) >= kPathCapacity) {
    host.ShowError(
        "Cannot pull the dropped archive from that location. Please move it elsewhere and try "
        "again.");
    return host.lastError();
  }
  ConsolidationJob* job = CreateConsolidationJob(&host, archive, options.best || options.level, nullptr);
  if (!job) {
    host.ShowError("Your memory seems to be occupied by a heavy-weight as well. Try again later.");
    return host.lastError();
  }
  job->summary = summary;
  job->dryRun = options.dryRun ? 1 : 0;
  if (destination) CopyBounded(job->destinationPath, destination, sizeof job->destinationPath);
  if (options.codec) CopyBounded(job->codecLibraryPath, options.codec, sizeof job->codecLibraryPath);
  job->skipVerification = options.verify ? 0 : 1;
  job->threads = options.jobs;
  if (options.level) job->recompressionLevel = options.level;
  ExecuteConsolidationJob(job);
  if (summary->outcome == JobOutcome::SourceNotOpened) summary->sourceBytes = settings.sourceBytes;
  return host.lastError();
}

}  // namespace

int main(int argc, char** argv) {
  SetPoolOptions(pool::kAssertNullFree | pool::kAssertZeroSize | pool::kAssertBadGuard);
#ifdef __GLIBC__
  // Every compressed entry sets up a fresh deflate state of a few hundred
  // kilobytes. By default glibc maps and unmaps such blocks on every call;
  // keeping them in the heap makes stored entries about a third cheaper.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
  CliOptions options;
  std::string error;
  switch (ParseCommandLine(argc, argv, &options, &error)) {
    case CliCommand::Help:
      std::fputs(UsageText(), stdout);
      return kExitKept;
    case CliCommand::Version:
      std::printf("slimwick-cli %s\n", kVersion);
      return kExitKept;
    case CliCommand::Error:
      std::fprintf(stderr, "%s\n\n%s", RenderForConsole(error.c_str()).c_str(), UsageText());
      return kExitFailure;
    case CliCommand::Run:
      break;
  }
  if (options.codec && !CheckCodecLibrary(options.codec)) return kExitFailure;
  std::vector<std::string> destinations;
  if (!PlanDestinations(options, &destinations)) return kExitFailure;

  InstallStopSignalHandlers();
  const bool batch = options.archives.size() > 1;
  FILE* text = options.json ? stderr : stdout;
  int status = kExitKept;
  BatchTotals totals;
  totals.dryRun = options.dryRun;
  for (size_t i = 0; i < options.archives.size(); ++i) {
    const char* archive = options.archives[i];
    if (batch && !options.quiet)
      std::fprintf(text, "%s[%u/%u] %s\n", i ? "\n" : "", static_cast<unsigned>(i + 1),
                   static_cast<unsigned>(options.archives.size()), RenderForConsole(archive).c_str());
    JobSummary summary;
    const char* destination = destinations.empty() ? nullptr : destinations[i].c_str();
    const std::string shownError = CleanArchive(options, archive, destination, batch, &summary);
    status = CombineExitStatus(status, ExitStatusFor(summary.outcome));
    AddToTotals(&totals, summary);
    if (options.json) {
      std::string why = shownError;
      if (why.empty())
        why = TerminalHost::stopRequested.load() ? "stopped" : OutcomeName(summary.outcome);
      const bool failed = ExitStatusFor(summary.outcome) == kExitFailure;
      const std::string line = SummaryJson(summary, archive, failed ? why.c_str() : nullptr) + "\n";
      // A line that did not get out is a failure of the run, told where it can be read.
      if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "Failed to write the result of '%s' to standard output.\n",
                     RenderForConsole(archive).c_str());
        status = kExitFailure;
      }
    }
    // A stop ends the whole run: later archives are not started. A copy that
    // took its name before the stop came is kept, and reported as kept.
    if (TerminalHost::stopRequested.load()) {
      if (summary.outcome != JobOutcome::CleanedCopyKept) {
        std::fprintf(stderr, "Stopped; no copy was kept.\n");
        return kExitFailure;
      }
      if (i + 1 == options.archives.size()) return status;
      std::fprintf(stderr, "Stopped; the archives after '%s' were not cleaned.\n",
                   RenderForConsole(archive).c_str());
      return kExitFailure;
    }
  }
  if (batch && !options.quiet) std::fprintf(text, "\n%s\n", FormatTotals(totals).c_str());
  return status;
}
