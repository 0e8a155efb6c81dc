#pragma once
// One consolidation job: a source archive becomes its "-cleaned" copy beside
// it, or, merged with patch archives, one archive that replaces it. The job talks to whoever started it only through its JobHost.

#include <cstddef>
#include <cstdint>

#include "engine/job_host.h"
#include "engine/progress.h"
#include "support/text.h"
#include "grf/grf.h"

class CodecLibrary;  // engine/codec_library.h
struct JobSummary;   // engine/job_summary.h

struct ConsolidationJob {
  JobHost* host;              // shows the job's texts and answers its questions
  char sourcePath[kPathCapacity];  // the dropped archive
  JobProgress progress;       // progress bar percentage and completion estimate
  char soundPath[kPathCapacity];  // WAV file to play when the job succeeds, or empty
  uint32_t skipVerification;  // 1: keep the copy without reading it back
  JobSummary* summary;        // filled when the job ends, if not null (owned by the caller)
  uint32_t threads;           // threads at work: 0 one per hardware thread, 1 none besides the job's
  void (*workerStart)(void* context);  // called first on each worker thread, if not null
  void* workerStartContext;
  int32_t recompressionLevel; // 0: entries keep their streams; else the deflate level (1-12) of every
                              // written entry, for DeflateToNewBuffer
  uint32_t dryRun;            // 1: the pass runs into an archive that keeps nothing; the report
                              // tells what a copy would weigh; no file is made, nothing asked
  char destinationPath[kPathCapacity];   // the copy's name; empty: the cleaned name beside it
  char codecLibraryPath[kPathCapacity];  // the codec library that reads the source, or empty
  const char* const* patchPaths;  // archives whose entries replace the source's of the same
  uint32_t patchCount;            // name, a later one's an earlier one's (owned by the caller)
  uint32_t merge;  // 1: the copy is kept whatever its size, with the merge report; with an
                   // empty destinationPath it replaces the source (renamed over it when read back)
  bool (*keepsEntry)(const char* name, void* context);  // if not null: an entry it refuses
  void* keepsEntryContext;                               // is left out of the copy
  uint32_t createsSource;  // 1 (merge): a source that does not exist is taken as an empty
                           // archive, and the result is made under its name
};

// How a job ended.
enum class JobOutcome {
  SourceNotOpened,     // "Failed to open source archive." (or a patch archive)
  OverwriteDeclined,   // an existing cleaned copy was kept
  DestinationRefused,  // the cleaned name is too long, is the source, or is not a file
  DestinationFailed,   // "Failed to create destination archive."
  PassFailed,          // an entry could not be transferred, or a stop was requested
  FinalizeFailed,      // the table could not be written
  VerificationFailed,  // the finished copy did not read back as written; removed
  NothingSaved,        // report shown; the copy was not smaller and is deleted
  CleanedCopyKept,     // report shown; the copy is kept
  WouldSave,           // dry run: report shown; a copy would be smaller
  WouldSaveNothing,    // dry run: report shown; a copy would not be smaller
};

// A zero-filled job record from the memory pool, ready to run; null when out
// of memory. The path is copied bounded. Best compression recompresses at
// kBestDeflateLevel.
ConsolidationJob* CreateConsolidationJob(JobHost* host, const char* sourcePath,
                                         bool bestCompression, const char* soundPath);

// Runs the job to its end and frees the record. Returns how it ended.
JobOutcome ExecuteConsolidationJob(ConsolidationJob* job);

// Thread routine around ExecuteConsolidationJob: takes ownership of the
// record (passed as the thread argument) and returns 0.
uint32_t RunConsolidationJob(void* job);

// Opens a source archive read-only with the codec library's hooks installed,
// and completes its table load. On success *archive holds one reference.
bool OpenSourceArchive(const char* path, const CodecLibrary& codec, GrfArchive** archive);

// "<path up to the last '.' of its file name>-cleaned.<extension>" (with no
// dot in the file name: "<path>-cleaned.grf"). False when that name does
// not fit `capacity`, or no temporary file fits beside it.
bool BuildDestinationName(const char* sourcePath, char* name, size_t capacity);

// The cleaned name of BuildDestinationName, in another folder: "<folder>/<its
// file name>" (no separator added after one that ends the folder). False as
// BuildDestinationName when it does not fit.
bool BuildDestinationNameIn(const char* sourcePath, const char* folder, char* name,
                            size_t capacity);

// The copy is written to a temporary file "<prefix><8 hex digits>.part" in
// the cleaned name's folder and renamed onto the cleaned name only when it is
// kept. The prefix is "<cleaned name>.", cut short at its end where the whole
// would be too long: the temporary name is never longer than the cleaned name
// (nor its file name part) when that has 13 characters or more.
inline constexpr char kPartialSuffix[] = ".part";
// False when no temporary name fits beside `name` (a path of kPathCapacity).
bool BuildTemporaryPrefix(const char* name, char* prefix, size_t capacity);
