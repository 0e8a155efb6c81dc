#pragma once
// Helpers of the write-side tests: access to the index records of an open
// archive, byte slices, fresh writable archives. What a finalize leaves on
// disk is read with fixture::ParseWrittenArchive (tests/fixtures/archive_inspect.h).

#include <cstring>
#include <string>
#include <vector>

#include "grf/archive.h"
#include "grf/entry_index.h"
#include "tests/fixtures/archive_inspect.h"
#include "tests/grf/grf_test_util.h"

namespace grftest {

// An archive handle closed when it goes out of scope.
struct Archive {
  GrfArchive* a = nullptr;
  ~Archive() { GrfClose(&a); }
};

// Opens (or creates) the file as a writable archive.
inline Archive OpenWritable(const TempFile& file, uint32_t flags = 0) {
  Archive r;
  uint32_t status = 0;
  EXPECT_TRUE(GrfOpen(file.c_str(), flags, &status, &r.a)) << std::hex << status;
  return r;
}

// The index record of a name, or null.
inline const GrfEntry* Record(GrfArchive* archive, const std::string& name) {
  return FindEntry(archive, name.c_str());
}

inline fixture::Bytes Slice(const fixture::Bytes& bytes, uint64_t at, uint64_t length) {
  if (at > bytes.size() || bytes.size() - at < length) return {};
  return fixture::Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
}

// Opens a fresh archive for writing at a new empty file.
inline GrfArchive* CreateArchive(const std::string& path, uint32_t flags = 0) {
  fixture::WriteBytesToFile(path, {});
  GrfArchive* archive = nullptr;
  uint32_t status = 0;
  if (!GrfOpen(path.c_str(), flags, &status, &archive)) return nullptr;
  return archive;
}

}  // namespace grftest
