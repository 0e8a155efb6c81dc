#pragma once
// Shared pieces of the fuzz targets: strict assertions, archives in memory,
// an archive read in full with the reading contract checked on the way, and
// scratch files.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "grf/grf.h"

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// Once per process: the pool options the program sets at start, and debug
// assertions that end the run (a should-not-happen condition is a finding).
void Init();

[[noreturn]] void Fail(const char* what, const char* file, int line);

#define FUZZ_CHECK(cond) ((cond) ? (void)0 : ::fuzz::Fail(#cond, __FILE__, __LINE__))

// Opens a copy of `bytes` held in memory (the test memory stream type).
// `file` must outlive the archive. Null when the open fails (*status says why).
struct MemoryArchive;
MemoryArchive* NewMemoryArchive(const uint8_t* data, size_t size);
void DeleteMemoryArchive(MemoryArchive* memory);
GrfArchive* OpenInMemory(MemoryArchive* memory, uint32_t flags, uint32_t* status);
const Bytes& MemoryBytes(const MemoryArchive* memory);

// What reading one entry gave.
struct EntryResult {
  std::string name;
  uint32_t realSize = 0;
  uint32_t storedSize = 0;
  bool readable = false;
  uint32_t status = 0;  // of the read
  Bytes content;        // when readable
};

// Enumerates the archive and reads every entry, checking: enumeration in
// ascending data offset order, the size query, statuses of failed reads.
// Entries whose real size exceeds `maxRead` are only size-queried.
std::vector<EntryResult> ReadEverything(GrfArchive* archive, uint64_t maxRead = 1ull << 32);

// Names compared as the entry index compares them (ASCII case folded).
bool SameName(const std::string& a, const std::string& b);
// The result of that name, or null.
const EntryResult* FindResult(const std::vector<EntryResult>& results, const std::string& name);

// Live pool blocks now; CheckPoolBalance fails when the count differs.
uint32_t LivePoolBlocks();
void CheckPoolBalance(uint32_t before, const char* where);

// A directory for scratch files of this process, on a memory file system
// when there is one (files go through fixture::WriteBytesToFile and
// ReadBytesFromFile).
const std::string& ScratchDir();

}  // namespace fuzz
