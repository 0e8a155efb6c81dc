#pragma once
// Helpers shared by the archive library tests: temporary files, archive
// handles, entry lists and whole contents. What a finalize leaves on disk is
// read with fixture::ParseWrittenArchive (tests/fixtures/archive_inspect.h).
// Every test's pool balance is checked by tests/fixtures/listener/pool_balance.cpp.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "grf/archive.h"
#include "grf/entry_index.h"
#include "grf/grf.h"
#include "support/pool.h"
#include "tests/fixtures/archive_builder.h"
#include "tests/fixtures/archive_inspect.h"

namespace grftest {

// A temporary file removed when the object goes.
class TempFile {
 public:
  explicit TempFile(std::string_view stem) : path_(fixture::TempPath(stem)) {}
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }
  const char* c_str() const { return path_.c_str(); }
  bool Write(const fixture::Bytes& bytes) const { return fixture::WriteBytesToFile(path_, bytes); }
  fixture::Bytes Read() const {
    fixture::Bytes bytes;
    fixture::ReadBytesFromFile(path_, &bytes);
    return bytes;
  }

 private:
  std::string path_;
};

struct Opened {
  bool ok = false;
  uint32_t status = 0;
  uint32_t detail = 0;
  GrfArchive* archive = nullptr;
};

inline Opened OpenPath(const std::string& path, uint32_t flags) {
  Opened o;
  o.ok = GrfOpenFile(path.c_str(), flags, &o.status, &o.detail, &o.archive);
  return o;
}

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

// Opens a fresh archive for writing at a new empty file.
inline GrfArchive* CreateArchive(const std::string& path, uint32_t flags = 0) {
  fixture::WriteBytesToFile(path, {});
  GrfArchive* archive = nullptr;
  uint32_t status = 0;
  if (!GrfOpen(path.c_str(), flags, &status, &archive)) return nullptr;
  return archive;
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

struct Listed {
  std::string name;
  uint32_t realSize;
  uint32_t storedSize;
};

inline bool CollectEntry(uint32_t, uint32_t, const EntryView* view, void* user) {
  static_cast<std::vector<Listed>*>(user)->push_back({view->name, view->realSize, view->storedSize});
  return true;
}

inline std::vector<Listed> ListEntries(GrfArchive* archive, bool* ok = nullptr) {
  std::vector<Listed> out;
  const bool result = GrfForEachEntry(archive, CollectEntry, &out);
  if (ok) *ok = result;
  return out;
}

inline fixture::Bytes ReadWhole(GrfArchive* archive, const std::string& name, bool* ok) {
  uint32_t size = 0;
  GrfReadEntry(archive, name.c_str(), nullptr, 0, &size);
  fixture::Bytes content(size + 1u);
  *ok = GrfReadEntry(archive, name.c_str(), content.data(), size, &size);
  content.resize(size);
  return content;
}

// Every entry, read whole, by name; a failed enumeration or read fails the test.
using Contents = std::map<std::string, fixture::Bytes>;

inline Contents ReadAll(GrfArchive* archive) {
  Contents contents;
  bool listed = false;
  for (const Listed& l : ListEntries(archive, &listed)) {
    bool ok = false;
    contents[l.name] = ReadWhole(archive, l.name, &ok);
    EXPECT_TRUE(ok) << l.name << " " << std::hex << GrfGetLastStatus(archive);
  }
  EXPECT_TRUE(listed);
  return contents;
}

inline Contents ReadAll(const std::string& path) {
  Opened o = OpenPath(path, GRF_OPEN_READ_ONLY);
  EXPECT_TRUE(o.ok) << std::hex << o.status << " " << o.detail;
  if (!o.ok) return {};
  Contents contents = ReadAll(o.archive);
  GrfClose(&o.archive);
  return contents;
}

inline Contents ExpectedOf(const fixture::BuiltArchive& built) {
  Contents contents;
  for (const fixture::ExpectedEntry& e : built.expected) contents[e.name] = e.content;
  return contents;
}

}  // namespace grftest
