#pragma once
// The entry pass: every entry of the source archive is transferred into the
// destination once — linked to an identical entry already written, copied
// (recompressed at the chosen level with the best-compression option), or copied
// undecoded when it cannot be read.

#include <cstddef>
#include <cstdint>

#include "grf/grf.h"

struct ConsolidationJob;
class CopyExpectations;

// What a pass leaves besides the destination's entries.
struct PassLedger {
  CopyExpectations* expectations = nullptr;  // when given: every name written, as it must read back
  uint32_t candidateComparisons = 0;         // earlier entries read back to prove identity
};

// Called before each entry with its 1-based position and the entry count;
// false stops the pass.
using EntryProgressCallback = bool (*)(uint32_t current, uint32_t total, void* context);

// True when every entry was handled; the job's linkedCount and
// unreadableCount are then set. False after a failure that has already been
// reported through the job's host (or after a stop request, which shows
// nothing). Each entry is read and decoded once; the working buffers grow
// with the entries that need them.
bool ConsolidateEntries(GrfArchive* destination, GrfArchive* source,
                        EntryProgressCallback progress, void* progressContext,
                        ConsolidationJob* job, PassLedger* ledger = nullptr);

// Worker threads for a thread count (0: one per hardware thread); a count
// of 1 runs every step on the calling thread.
unsigned PipelineWorkers(uint32_t threads);
// Bytes of entries in flight at once, for an archive's largest entry.
uint64_t PipelineBudget(uint32_t largestEntry);

// -1, 0 or 1: a shorter buffer sorts first, then bytes compare unsigned.
int CompareBuffers(const void* first, size_t firstLength, const void* second,
                   size_t secondLength);

// Compresses into a new pool buffer (released by the caller with PoolFree).
// Returns zlib's status; on failure the buffer is null. Retries after
// Z_BUF_ERROR are bounded.
int CompressToNewBuffer(const void* data, uint32_t length, int level,
                        uint32_t* compressedLength, unsigned char** buffer);
