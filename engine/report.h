#pragma once
// The result report of a consolidation job: which of the five texts applies,
// filled with the sizes, counts and duration of the job.

#include <cstddef>
#include <cstdint>

struct ReportFacts {
  uint64_t sourceSize;       // source archive file, bytes
  uint64_t destinationSize;  // finalized cleaned copy, bytes
  uint32_t linkedCount;      // entries stored as links
  uint32_t unreadableCount;  // entries copied without being decoded
  uint64_t seconds;          // duration of the job in whole seconds
};

enum class ReportKind {
  GainedWeight,    // the copy is larger than the source
  AlreadyTreated,  // nothing saved, links present
  LostWithLinks,   // bytes saved, links present
  JustFine,        // nothing saved, no links
  Repacked,        // bytes saved, no links
};

// Only a report that the archive lost weight keeps the cleaned copy.
inline bool KeepsCleanedCopy(ReportKind kind) {
  return kind == ReportKind::LostWithLinks || kind == ReportKind::Repacked;
}

// Whole seconds between two system times in 100-nanosecond units, truncated;
// 0 when the clock was set back in between.
uint64_t ElapsedSeconds(uint64_t start, uint64_t end);

// Which of the texts applies.
ReportKind KindOfReport(const ReportFacts& facts);

// Writes the report text (bounded, normally into kMessageCapacity characters)
// and tells which one it is.
ReportKind ComposeReport(const ReportFacts& facts, char* text, size_t capacity);
