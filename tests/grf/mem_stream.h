#pragma once
// An in-memory stream type for tests: no 64-bit slots, no 64-bit size
// control, so the 32-bit fallbacks are exercised, and no file system cost.

#include "grf/stream.h"
#include "tests/fixtures/archive_builder.h"

namespace grftest {

constexpr uint32_t kMemStreamTag = 0x4D454D31;

struct MemFile {
  fixture::Bytes bytes;
  uint64_t position = 0;
  int calls = 0;  // operations that reached the type (close and control excluded)
  bool closed = false;
};

// Registered once per process on first use.
bool MemStreamCreate(MemFile* file, GrfStream** stream);
const GrfStreamOps* MemStreamOps();

}  // namespace grftest
