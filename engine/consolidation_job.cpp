#include "engine/consolidation_job.h"

#include <new>

#include "engine/clock.h"
#include "engine/codec_library.h"
#include "engine/entry_pass.h"
#include "engine/format.h"
#include "engine/job_summary.h"
#include "engine/report.h"
#include "support/file_util.h"
#include "support/pool.h"
#include "support/text.h"

ConsolidationJob* CreateConsolidationJob(JobHost* host, const char* sourcePath,
                                         bool bestCompression, const char* soundPath) {
  void* memory = PoolAllocZeroed(sizeof(ConsolidationJob));
  if (!memory) return nullptr;
  auto* job = new (memory) ConsolidationJob{};
  job->host = host;
  job->progress.host = host;
  job->progress.lastPercent = 100;
  CopyBounded(job->sourcePath, sourcePath, sizeof job->sourcePath);
  job->bestCompression = bestCompression ? 1 : 0;
  if (soundPath && soundPath[0]) CopyBounded(job->soundPath, soundPath, sizeof job->soundPath);
  return job;
}

bool OpenSourceArchive(const char* path, GrfArchive** archive) {
  GrfArchive* local = nullptr;
  if (!GrfOpen(path, GRF_OPEN_READ_ONLY | GRF_OPEN_DEFER_TABLE, nullptr, &local)) return false;
  const CodecHooks hooks = ReloadCodecLibrary();
  GrfSetCompressHook(local, hooks.compress);
  GrfSetUncompressHook(local, hooks.uncompress);
  const bool loaded = GrfLoadTable(local);
  if (loaded) GrfRetain(local, archive);
  GrfClose(&local);
  return loaded;
}

void BuildDestinationName(const char* sourcePath, char* name, size_t capacity) {
  char stem[kPathCapacity];
  CopyBounded(stem, sourcePath, sizeof stem);
  const char* extension = "grf";
  if (char* dot = FindLastChar(stem, '.')) {
    *dot = '\0';
    extension = dot + 1;
  }
  FormatBounded(name, capacity, "%s-cleaned.%s", stem, extension);
}

namespace {

uint32_t CountEntries(GrfArchive* archive) {
  uint32_t count = 0;
  // The total comes with the first entry; no need to visit the others.
  GrfForEachEntry(
      archive,
      [](uint32_t, uint32_t total, const EntryView*, void* user) {
        *static_cast<uint32_t*>(user) = total;
        return false;
      },
      &count);
  return count;
}

// Steps between a created destination and its report; the destination is
// closed (and deleted unless kept) by the caller.
JobOutcome ConsolidateInto(ConsolidationJob* job, GrfArchive* source, GrfArchive* destination) {
  JobHost* host = job->host;
  host->SetStatusText("Consolidating...");
  const uint64_t start = ReadSystemTime();
  if (!ConsolidateEntries(destination, source, &OnEntryProgress, &job->progress, job))
    return JobOutcome::PassFailed;

  host->SetProgress(100);
  host->SetStatusText("Finalizing...");
  if (!GrfFinalize(destination)) {
    host->ShowError(
        "Your archive failed to finalize, you might not have enough disk space available.");
    return JobOutcome::FinalizeFailed;
  }

  ReportFacts facts{};
  facts.seconds = ElapsedSeconds(start, ReadSystemTime());
  if (job->soundPath[0]) host->PlaySoundFile(job->soundPath);
  facts.sourceSize = GrfGetFileSize(source);
  facts.destinationSize = GrfGetFileSize(destination);
  facts.linkedCount = job->linkedCount;
  facts.unreadableCount = job->unreadableCount;
  if (JobSummary* summary = job->summary) {
    summary->sourceBytes = facts.sourceSize;
    summary->destinationBytes = facts.destinationSize;
    summary->linked = facts.linkedCount;
    summary->unreadable = facts.unreadableCount;
  }
  char text[kMessageCapacity];
  const ReportKind kind = ComposeReport(facts, text, sizeof text);
  host->ShowReport(text);
  return KeepsCleanedCopy(kind) ? JobOutcome::CleanedCopyKept : JobOutcome::NothingSaved;
}

JobOutcome RunSteps(ConsolidationJob* job) {
  JobHost* host = job->host;
  host->SetProgress(0);
  host->SetStatusText("Preparing...");

  GrfArchive* source = nullptr;
  if (!OpenSourceArchive(job->sourcePath, &source)) {
    host->ShowError("Failed to open source archive.");
    return JobOutcome::SourceNotOpened;
  }

  char destinationName[kPathCapacity];
  BuildDestinationName(job->sourcePath, destinationName, sizeof destinationName);
  if (JobSummary* summary = job->summary) {
    summary->sourceBytes = GrfGetFileSize(source);
    summary->entries = CountEntries(source);
    CopyBounded(summary->destinationPath, destinationName, sizeof summary->destinationPath);
  }
  if (GetFileSize32(destinationName, nullptr)) {
    const bool discard = host->AskYesNo(
        "There already seems to be slim version of this archive around. Do you want to "
        "discard it?");
    if (!discard || !RemoveFile(destinationName)) {
      GrfClose(&source);
      return JobOutcome::OverwriteDeclined;
    }
  }

  GrfArchive* destination = nullptr;
  if (!GrfOpen(destinationName, 0, nullptr, &destination)) {
    host->ShowError("Failed to create destination archive.");
    // No file of that name existed: whatever the failed open created (an
    // empty file, a partial header on a full disk) is removed.
    RemoveFile(destinationName);
    GrfClose(&source);
    return JobOutcome::DestinationFailed;
  }

  const JobOutcome outcome = ConsolidateInto(job, source, destination);
  GrfClose(&destination);
  if (outcome != JobOutcome::CleanedCopyKept) RemoveFile(destinationName);
  GrfClose(&source);
  return outcome;
}

}  // namespace

JobOutcome ExecuteConsolidationJob(ConsolidationJob* job) {
  JobHost* host = job->host;
  JobSummary* summary = job->summary;
  if (summary) {
    *summary = JobSummary{};
    CopyBounded(summary->sourcePath, job->sourcePath, sizeof summary->sourcePath);
  }
  const uint64_t start = ReadSystemTime();
  host->SetDropAcceptance(false);
  const JobOutcome outcome = RunSteps(job);
  if (summary) {
    const uint64_t end = ReadSystemTime();
    summary->outcome = outcome;
    summary->seconds = end < start ? 0.0 : static_cast<double>(end - start) / kHundredNsPerSecond;
  }
  host->SetProgress(0);
  host->SetEstimateText("");
  host->SetStatusText("");
  host->ReleaseDrop();
  host->SetDropAcceptance(true);
  job->~ConsolidationJob();
  PoolFree(job);
  return outcome;
}

uint32_t RunConsolidationJob(void* job) {
  ExecuteConsolidationJob(static_cast<ConsolidationJob*>(job));
  return 0;
}
