#include "engine/consolidation_job.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <thread>
#include <utility>

#include "engine/codec_library.h"
#include "engine/copy_verification.h"
#include "engine/entry_pass.h"
#include "engine/format.h"
#include "engine/job_host.h"
#include "engine/job_summary.h"
#include "engine/report.h"
#include "support/clock.h"
#include "support/file_util.h"
#include "support/pool.h"
#include "support/text.h"
#include "support/zlib_pool.h"

ConsolidationJob* CreateConsolidationJob(JobHost* host, const char* sourcePath,
                                         bool bestCompression, const char* soundPath) {
  void* memory = PoolAllocZeroed(sizeof(ConsolidationJob));
  if (!memory) return nullptr;
  auto* job = new (memory) ConsolidationJob{};
  job->host = host;
  job->progress.host = host;
  job->progress.lastPercent = 100;
  CopyBounded(job->sourcePath, sourcePath, sizeof job->sourcePath);
  job->recompressionLevel = bestCompression ? kBestDeflateLevel : 0;
  if (soundPath && soundPath[0]) CopyBounded(job->soundPath, soundPath, sizeof job->soundPath);
  return job;
}

bool OpenSourceArchive(const char* path, const CodecLibrary& codec, GrfArchive** archive) {
  GrfArchive* local = nullptr;
  if (!GrfOpen(path, GRF_OPEN_READ_ONLY | GRF_OPEN_DEFER_TABLE, nullptr, &local)) return false;
  codec.Install(local);
  const bool loaded = GrfLoadTable(local);
  if (loaded) GrfRetain(local, archive);
  GrfClose(&local);
  return loaded;
}

namespace {

// A file name part longer than this is refused by the file systems the copy goes to.
constexpr size_t kLongestFileName = 255;
constexpr size_t kHexDigits = 8;

// Whether a copy can be written to `name`: the name fits a path, and so does
// a temporary file beside it.
bool CopyNameFits(const char* name) {
  char prefix[kPathCapacity];
  return std::strlen(name) < kPathCapacity && BuildTemporaryPrefix(name, prefix, sizeof prefix);
}

}  // namespace

bool BuildTemporaryPrefix(const char* name, char* prefix, size_t capacity) {
  const size_t limit = std::min(kPathCapacity, capacity);  // a name and its terminator
  const size_t length = std::strlen(name);
  const size_t folder = static_cast<size_t>(FileNamePart(name) - name);
  const size_t fixed = kHexDigits + sizeof kPartialSuffix - 1;
  if (folder + fixed >= limit) return false;
  // What of "<file name>." the temporary file's name keeps.
  const size_t keep =
      std::min(length - folder + 1, std::min(kLongestFileName, limit - 1 - folder) - fixed);
  if (keep == length - folder + 1) {
    FormatBounded(prefix, capacity, "%s.", name);
    return true;
  }
  size_t end = folder + keep;
  // A cut name ends before any byte of a character beyond ASCII.
  while (end > folder && static_cast<unsigned char>(name[end - 1]) >= 0x80) --end;
  std::memcpy(prefix, name, end);
  prefix[end] = '\0';
  return true;
}

bool BuildDestinationName(const char* sourcePath, char* name, size_t capacity) {
  char stem[kPathCapacity];
  CopyBounded(stem, sourcePath, sizeof stem);
  const char* extension = "grf";
  char* fileName = stem + (FileNamePart(stem) - stem);
  if (char* dot = FindLastChar(fileName, '.')) {
    *dot = '\0';
    extension = dot + 1;
  }
  const int length = FormatBounded(name, capacity, "%s-cleaned.%s", stem, extension);
  const bool fits = std::strlen(sourcePath) < sizeof stem && length >= 0 &&
                    static_cast<size_t>(length) < capacity &&
                    CopyNameFits(name);
  // A name cut short could be any file, the source included: none is given.
  if (!fits && capacity != 0) name[0] = '\0';
  return fits;
}

bool BuildDestinationNameIn(const char* sourcePath, const char* folder, char* name,
                            size_t capacity) {
#ifdef _WIN32
  constexpr char kSeparator[] = "\\";
  const auto endsFolder = [](char c) { return c == '\\' || c == '/'; };
#else
  constexpr char kSeparator[] = "/";
  const auto endsFolder = [](char c) { return c == '/'; };
#endif
  char cleaned[kPathCapacity];
  const bool built = BuildDestinationName(FileNamePart(sourcePath), cleaned, sizeof cleaned);
  const size_t folderLength = std::strlen(folder);
  const bool separated = folderLength == 0 || endsFolder(folder[folderLength - 1]);
  const int length =
      FormatBounded(name, capacity, "%s%s%s", folder, separated ? "" : kSeparator, cleaned);
  const bool fits = built && length >= 0 && static_cast<size_t>(length) < capacity &&
                    CopyNameFits(name);
  if (!fits && capacity != 0) name[0] = '\0';
  return fits;
}

namespace {

// The copy being written: a held temporary file beside the cleaned name.
struct Destination {
  const char* name;                // the cleaned name
  char partialName[kPathCapacity];  // the temporary file
  FileHandle held;
  GrfArchive* archive;
};

// Checks what is at the cleaned name before any work: nothing, or an old
// copy the user agrees to discard (*discard is then set; a dry run does not
// ask). CleanedCopyKept means the job goes on; any other outcome ends it
// (with its message shown).
JobOutcome CheckDestination(JobHost* host, const char* sourcePath, const char* name, bool ask,
                            bool* discard) {
  PathKind kind = PathKind::kMissing;
  if (!QueryPathKind(name, &kind) || kind == PathKind::kOther) {
    host->ShowError(
        "Something that is not an archive is in the way of the slim version. Please move it "
        "away and try again.");
    return JobOutcome::DestinationRefused;
  }
  if (kind == PathKind::kMissing) return JobOutcome::CleanedCopyKept;
  FileIdentity source{}, existing{};
  if (!QueryFileIdentity(sourcePath, &source) ||
      (QueryFileIdentity(name, &existing) && SameFile(source, existing))) {
    host->ShowError(
        "The slim version would take the place of the archive itself. Please rename the archive "
        "and try again.");
    return JobOutcome::DestinationRefused;
  }
  // The old copy (or a link, which is never followed) is replaced only when
  // the new one is complete.
  if (ask && !host->AskYesNo(
          "There already seems to be slim version of this archive around. Do you want to "
          "discard it?"))
    return JobOutcome::OverwriteDeclined;
  *discard = ask;
  return JobOutcome::CleanedCopyKept;
}

bool CreateDestination(Destination* destination) {
  char prefix[kPathCapacity];
  if (!BuildTemporaryPrefix(destination->name, prefix, sizeof prefix)) return false;
  SweepLeftovers(prefix, kPartialSuffix);
  if (!CreateHeldUniqueFile(prefix, kPartialSuffix, destination->partialName,
                            sizeof destination->partialName, &destination->held))
    return false;
  // The copy is made durable once, before it takes its name, so finalize
  // does not wait for the disk: the writing goes on under the read-back.
  FileHandle own = kInvalidFile;
  if (DuplicateFileHandle(destination->held, &own) &&
      GrfOpenHandle(own, GRF_OPEN_CALLER_FLUSHES, nullptr, &destination->archive) &&
      destination->archive)
    return true;
  GrfClose(&destination->archive);
  DiscardHeldFile(&destination->held, destination->partialName);
  return false;
}

// Closes archives on a thread of its own: freeing their indexes goes on
// beside the single-threaded steps that follow (finalize, the copy's table
// load). A job held to one thread, or without a thread to be had, closes an
// archive at once.
class BackgroundClose {
 public:
  explicit BackgroundClose(bool aside) : aside_(aside) {}
  BackgroundClose(const BackgroundClose&) = delete;
  BackgroundClose& operator=(const BackgroundClose&) = delete;
  ~BackgroundClose() { Wait(); }
  void Close(GrfArchive** archive) noexcept {
    Wait();
    GrfArchive* taken = std::exchange(*archive, nullptr);
    try {
      if (aside_) thread_ = std::thread([taken]() mutable { GrfClose(&taken); });
    } catch (...) {
      aside_ = false;
    }
    if (!aside_) GrfClose(&taken);
  }
  void Wait() noexcept {
    if (thread_.joinable()) thread_.join();
  }

 private:
  bool aside_;
  std::thread thread_;
};

// The job's open archives: the source, then its patches.
struct SourceSet {
  GrfArchive* alone = nullptr;  // a job without patches allocates no list
  GrfArchive** archives = &alone;
  uint32_t count = 0;
  bool created = false;  // the source did not exist: it is an empty archive of no bytes
  SourceSet() = default;
  SourceSet(const SourceSet&) = delete;
  SourceSet& operator=(const SourceSet&) = delete;
  ~SourceSet() {
    ClosePatches();
    GrfClose(&archives[0]);
    if (archives != &alone) PoolFree(archives);
  }
  bool Reserve(uint32_t patches) {
    if (patches == 0) return true;
    archives = static_cast<GrfArchive**>(PoolAllocZeroed((1 + patches) * sizeof(GrfArchive*)));
    if (!archives) archives = &alone;
    return archives != &alone;
  }
  void ClosePatches() {
    for (uint32_t i = 1; i < count; ++i) GrfClose(&archives[i]);
  }
  uint64_t SourceBytes() const { return created ? 0 : GrfGetFileSize(archives[0]); }
};

// The report of a merge (or removal): what became of the entries, and the sizes.
void ComposeMergeReport(const ReportFacts& facts, const PassCounts& counts, char* text,
                        size_t capacity) {
  FormatBounded(text, capacity,
                "Done: %u entries added, %u replaced, %u removed, %u unchanged, %u linked.\r\n"
                "The archive was %llu bytes and is now %llu bytes.",
                counts.added, counts.replaced, counts.removed, counts.unchanged, counts.linked,
                static_cast<unsigned long long>(facts.sourceSize),
                static_cast<unsigned long long>(facts.destinationSize));
}

// Steps between a created destination and its report. The archives are
// closed here; the temporary file is renamed onto the cleaned name when the
// copy is kept, and otherwise left to the caller to discard.
JobOutcome ConsolidateInto(ConsolidationJob* job, SourceSet* sources, Destination* destination) {
  GrfArchive** source = &sources->archives[0];
  JobHost* host = job->host;
  host->SetStatusText("Consolidating...");
  const uint64_t start = ReadSystemTime();
  std::unique_ptr<CopyExpectations> expectations;
  if (!job->dryRun && !job->skipVerification && !(expectations = CopyExpectations::Create())) {
    host->ShowError(kNoMemoryForHashMap);
    return JobOutcome::PassFailed;
  }
  PassOptions options;
  options.host = host;
  options.progress = &job->progress;
  options.recompressionLevel = job->recompressionLevel;
  options.threads = job->threads;
  options.workerStart = job->workerStart;
  options.workerStartContext = job->workerStartContext;
  options.expectations = expectations.get();
  options.keepsEntry = job->keepsEntry;
  options.keepsEntryContext = job->keepsEntryContext;
  const std::optional<PassCounts> counts =
      ConsolidateEntries(destination->archive, sources->archives, sources->count, options);
  if (!counts) return JobOutcome::PassFailed;
  sources->ClosePatches();
  ReportFacts facts{};
  facts.sourceSize = sources->SourceBytes();
  facts.linkedCount = counts->linked;
  facts.unreadableCount = counts->unreadable;
  // Joined before the copy is committed or discarded.
  BackgroundClose closing(PipelineWorkers(job->threads) > 0);
  closing.Close(source);

  host->SetProgress(100);
  host->SetStatusText("Finalizing...");
  constexpr char kFinalizeFailed[] =
      "Your archive failed to finalize, you might not have enough disk space available.";
  if (!GrfFinalize(destination->archive)) {
    host->ShowError(kFinalizeFailed);
    return JobOutcome::FinalizeFailed;
  }

  facts.destinationSize = GrfGetFileSize(destination->archive);
  if (JobSummary* summary = job->summary) {
    summary->sourceBytes = facts.sourceSize;
    summary->destinationBytes = facts.destinationSize;
    summary->linked = facts.linkedCount;
    summary->unreadable = facts.unreadableCount;
    summary->unchanged = counts->unchanged;
    summary->replaced = counts->replaced;
    summary->added = counts->added;
    summary->removed = counts->removed;
  }
  closing.Close(&destination->archive);
  const bool keep = job->merge || KeepsCleanedCopy(KindOfReport(facts));
  if (!job->dryRun) {
    // Only a copy that reads back as the pass wrote it is kept.
    if (keep && expectations && !VerifyCopy(destination->partialName, *expectations, job->threads,
                                           job->workerStart, job->workerStartContext)) {
      host->ShowError(
          "The slim copy did not read back as it was written, so it was removed. Your archive is "
          "untouched.");
      return JobOutcome::VerificationFailed;
    }
    closing.Wait();
  }
  // A stop that came after the pass still keeps nothing.
  if (host->IsStopRequested()) return JobOutcome::PassFailed;
  if (!job->dryRun && keep &&
      !CommitHeldFile(&destination->held, destination->partialName, destination->name)) {
    host->ShowError(kFinalizeFailed);
    return JobOutcome::FinalizeFailed;
  }
  // The time includes the read-back.
  facts.seconds = ElapsedSeconds(start, ReadSystemTime());
  char report[kMessageCapacity];
  if (job->merge)
    ComposeMergeReport(facts, *counts, report, sizeof report);
  else
    ComposeReport(facts, report, sizeof report);
  if (job->dryRun) {
    char text[kMessageCapacity];
    FormatBounded(text, sizeof text,
                  "Dry run, nothing was written. A clean would report:\r\n\r\n%s", report);
    host->ShowReport(text);
    return keep ? JobOutcome::WouldSave : JobOutcome::WouldSaveNothing;
  }
  if (job->soundPath[0]) host->PlaySoundFile(job->soundPath);
  host->ShowReport(report);
  return keep ? JobOutcome::CleanedCopyKept : JobOutcome::NothingSaved;
}

JobOutcome RunSteps(ConsolidationJob* job) {
  JobHost* host = job->host;
  host->SetProgress(0);
  host->SetStatusText("Preparing...");

  // Declared first: the library outlives every archive its hooks are on.
  CodecLibrary codec;
  codec.Load(job->codecLibraryPath);
  SourceSet sources;
  if (!sources.Reserve(job->patchCount)) {
    host->ShowError(kNoMemoryForBuffer);
    return JobOutcome::SourceNotOpened;
  }
  sources.count = 1;
  // A source the job creates starts as an empty archive that keeps nothing.
  PathKind kind = PathKind::kFile;
  sources.created = job->createsSource && QueryPathKind(job->sourcePath, &kind) &&
                    kind == PathKind::kMissing;
  if (sources.created ? !GrfOpenMeasuring(0, nullptr, &sources.archives[0])
                      : !OpenSourceArchive(job->sourcePath, codec, &sources.archives[0])) {
    host->ShowError("Failed to open source archive.");
    return JobOutcome::SourceNotOpened;
  }
  // Every patch opens before anything is written.
  for (; sources.count <= job->patchCount; ++sources.count) {
    const char* patch = job->patchPaths[sources.count - 1];
    if (!OpenSourceArchive(patch, codec, &sources.archives[sources.count])) {
      char text[kMessageCapacity];
      FormatBounded(text, sizeof text, "Failed to open patch archive '%s'.", patch);
      host->ShowError(text);
      return JobOutcome::SourceNotOpened;
    }
  }
  GrfArchive* source = sources.archives[0];

  char destinationName[kPathCapacity];
  bool named = true;
  const bool replacesSource = job->merge && !job->destinationPath[0];
  if (replacesSource) {
    named = CopyNameFits(job->sourcePath);
    CopyBounded(destinationName, named ? job->sourcePath : "", sizeof destinationName);
  } else if (!job->destinationPath[0]) {
    named = BuildDestinationName(job->sourcePath, destinationName, sizeof destinationName);
  } else {
    // A given name must leave room for its temporary sibling too.
    named = CopyNameFits(job->destinationPath);
    CopyBounded(destinationName, named ? job->destinationPath : "", sizeof destinationName);
  }
  if (!named) {
    host->ShowError(
        "The slim version's name would be too long in this folder. Please move the archive to "
        "a shorter path and try again.");
    return JobOutcome::DestinationRefused;
  }
  if (JobSummary* summary = job->summary) {
    summary->sourceBytes = sources.SourceBytes();
    summary->entries = CountEntries(source);
    CopyBounded(summary->destinationPath, destinationName, sizeof summary->destinationPath);
  }
  bool discard = false;
  if (const JobOutcome checked =
          replacesSource ? JobOutcome::CleanedCopyKept
                         : CheckDestination(host, job->sourcePath, destinationName, !job->dryRun,
                                            &discard);
      checked != JobOutcome::CleanedCopyKept)
    return checked;

  Destination destination{};
  destination.name = destinationName;
  destination.held = kInvalidFile;
  if (job->dryRun ? !GrfOpenMeasuring(0, nullptr, &destination.archive) || !destination.archive
                  : !CreateDestination(&destination)) {
    host->ShowError("Failed to create destination archive.");
    return JobOutcome::DestinationFailed;
  }

  const JobOutcome outcome = ConsolidateInto(job, &sources, &destination);
  GrfClose(&destination.archive);
  if (outcome != JobOutcome::CleanedCopyKept)
    DiscardHeldFile(&destination.held, destination.partialName);
  // The old copy was to go: a run that completes without a new one removes it
  // (a link, not what it leads to). A failed or stopped run keeps it.
  if (outcome == JobOutcome::NothingSaved && discard) RemoveFile(destinationName);
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
