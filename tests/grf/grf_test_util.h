#pragma once
// Helpers shared by the archive library tests: archives on disk, entry lists,
// pool leak checks.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "grf/grf.h"
#include "support/pool.h"
#include "tests/fixtures/archive_builder.h"

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

// Live pool blocks at construction must be live again at the check.
class PoolBalance {
 public:
  PoolBalance() : blocks_(GetPoolCounters().liveBlocks), bytes_(GetPoolCounters().liveBytes) {}
  void Expect(const char* where = "") const {
    const PoolCounters now = GetPoolCounters();
    EXPECT_EQ(now.liveBlocks, blocks_) << where;
    EXPECT_EQ(now.liveBytes, bytes_) << where;
  }

 private:
  uint32_t blocks_;
  uint32_t bytes_;
};

}  // namespace grftest
