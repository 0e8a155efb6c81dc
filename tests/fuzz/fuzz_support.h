#pragma once
// Shared pieces of the fuzz targets: strict checks, a scratch file, and an
// archive read in full with the reading contract checked on the way.

#include <cstdint>
#include <string>
#include <vector>

#include "grf/grf.h"
#include "tests/fixtures/archive_builder.h"

namespace fuzz {

using fixture::Bytes;

// Once per process: the program's pool options, and debug assertions that end the run.
void Init();
[[noreturn]] void Fail(const char* what, const char* file, int line);
#define FUZZ_CHECK(cond) ((cond) ? (void)0 : ::fuzz::Fail(#cond, __FILE__, __LINE__))

struct EntryResult {
  std::string name;
  uint32_t realSize = 0;
  bool readable = false;
  uint32_t status = 0;  // of the read
  uint64_t offset = 0;
  Bytes content;
  bool operator==(const EntryResult&) const = default;
};

// Enumerates and reads every entry, checking ascending offsets, the size query and
// the statuses of failed reads.
std::vector<EntryResult> ReadEverything(GrfArchive* archive);
const EntryResult* FindResult(const std::vector<EntryResult>& results, const std::string& name);  // ASCII folded

uint32_t LivePoolBlocks();
// A file of this process on a memory file system when there is one; removed at exit.
std::string ScratchPath(const char* name);

}  // namespace fuzz
