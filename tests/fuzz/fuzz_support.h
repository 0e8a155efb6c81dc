#pragma once
// Shared pieces of the fuzz targets: strict checks, scratch files, an archive read in full.

#include <cstdint>
#include <string>
#include <vector>

#include "grf/grf.h"
#include "tests/fixtures/archive_builder.h"

namespace fuzz {

using fixture::Bytes;

void Init();  // once per process: the program's pool options; debug assertions end the run
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

// Reads every entry, checking ascending offsets, the size query and failed reads' statuses.
std::vector<EntryResult> ReadEverything(GrfArchive* archive);
const EntryResult* FindResult(const std::vector<EntryResult>& results, const std::string& name);  // ASCII folded
uint32_t LivePoolBlocks();
std::string ScratchPath(const char* name);  // a file of this process (in /dev/shm if there), removed at exit

}  // namespace fuzz
