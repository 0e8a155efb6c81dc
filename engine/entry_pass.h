#pragma once
// The entry pass: every entry of the source archives is transferred into the
// destination once (an entry of a later source replaces the entry of the same
// name in earlier ones) — linked to an identical entry already written, copied
// (recompressed at the chosen level with the best-compression option), or copied
// undecoded when it cannot be read.

#include <cstdint>
#include <optional>

#include "engine/ordered_pipeline.h"
#include "grf/grf.h"

class CopyExpectations;
class JobHost;
struct JobProgress;

struct PassOptions {
  JobHost* host = nullptr;          // shows failures, tells about stop requests
  JobProgress* progress = nullptr;  // updated before each entry, when given
  int32_t recompressionLevel = 0;   // 0: streams are kept; else the level (1-12) of every entry
  uint32_t threads = 1;             // 0 one per hardware thread, 1 none besides the caller's
  WorkerStartHook workerStart = nullptr;  // called first on each worker thread, if not null
  void* workerStartContext = nullptr;
  CopyExpectations* expectations = nullptr;  // when given: every name written, as it must read back
  // When given: an entry whose name it refuses is left out.
  bool (*keepsEntry)(const char* name, void* context) = nullptr;
  void* keepsEntryContext = nullptr;
};

struct PassCounts {
  uint32_t linked = 0;      // entries stored as links
  uint32_t unreadable = 0;  // entries copied undecoded
  uint32_t unchanged = 0;   // entries of the first source written
  uint32_t replaced = 0;    // entries of a later source that replaced an earlier one's
  uint32_t added = 0;       // entries of a later source whose name no earlier one has
  uint32_t removed = 0;     // entries left out by keepsEntry
};

// The entries in an archive's table.
uint32_t CountEntries(GrfArchive* archive);

// The counts when every entry was handled. Nothing after a failure that has
// already been shown through the host (or after a stop request, which shows
// nothing). Each entry is read and decoded once; the working buffers grow
// with the entries that need them. Names are the same as the library's lookup
// finds them: an entry is written from the last source that has its name.
std::optional<PassCounts> ConsolidateEntries(GrfArchive* destination,
                                             GrfArchive* const* sources, uint32_t sourceCount,
                                             const PassOptions& options);
