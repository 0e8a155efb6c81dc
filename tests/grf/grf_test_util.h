#pragma once
// Helpers of the archive library tests: temporary files, handles, entry lists and contents.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "grf/grf.h"
#include "tests/fixtures/archive_builder.h"

namespace grftest {

struct TempFile {  // removed when the object goes
  const std::string p;
  explicit TempFile(std::string_view stem) : p(fixture::TempPath(stem)) {}
  TempFile(std::string_view stem, const fixture::Bytes& bytes) : TempFile(stem) { EXPECT_TRUE(Write(bytes)) << p; }
  ~TempFile() { std::remove(p.c_str()); }
  const std::string& path() const { return p; }
  const char* c_str() const { return p.c_str(); }
  bool Write(const fixture::Bytes& bytes) const { return fixture::WriteBytesToFile(p, bytes); }
  fixture::Bytes Read() const { fixture::Bytes b; fixture::ReadBytesFromFile(p, &b); return b; }
};

struct Opened {
  bool ok = false;
  uint32_t status = 0, detail = 0;
  GrfArchive* archive = nullptr;
};
inline Opened OpenPath(const std::string& path, uint32_t flags) {
  Opened o;
  o.ok = GrfOpenFile(path.c_str(), flags, &o.status, &o.detail, &o.archive);
  return o;
}

struct Archive {  // closed when it goes out of scope
  GrfArchive* a = nullptr;
  ~Archive() { GrfClose(&a); }
};
inline Archive OpenWritable(const TempFile& file, uint32_t flags = 0) {
  Archive r;
  uint32_t status = 0;
  EXPECT_TRUE(GrfOpen(file.c_str(), flags, &status, &r.a)) << std::hex << status;
  return r;
}

inline fixture::Bytes ReadWhole(GrfArchive* archive, const std::string& name, bool* ok) {
  uint32_t size = 0;
  GrfReadEntry(archive, name.c_str(), nullptr, 0, &size);
  fixture::Bytes content(size + 1u);
  *ok = GrfReadEntry(archive, name.c_str(), content.data(), size, &size);
  content.resize(size);
  return content;
}

using Contents = std::map<std::string, fixture::Bytes>;
// Every entry, read whole, in enumeration order; a failed enumeration or read fails the test.
inline Contents ReadAll(GrfArchive* archive, std::vector<std::string>* order = nullptr) {
  std::vector<std::string> names;
  EXPECT_TRUE(GrfForEachEntry(
      archive,
      [](uint32_t position, uint32_t total, const EntryView* view, void* user) {  // positions count from 1
        auto* names = static_cast<std::vector<std::string>*>(user);
        return names->push_back(view->name), position == names->size() && position <= total;
      },
      &names));
  Contents contents;
  for (const std::string& name : names) {
    bool ok = false;
    contents[name] = ReadWhole(archive, name, &ok);
    EXPECT_TRUE(ok) << name << " " << std::hex << GrfGetLastStatus(archive);
  }
  if (order) *order = names;
  return contents;
}

inline Contents ReadAll(const std::string& path) {
  Opened o = OpenPath(path, GRF_OPEN_READ_ONLY);
  EXPECT_TRUE(o.ok) << std::hex << o.status << " " << o.detail;
  const Contents contents = o.ok ? ReadAll(o.archive) : Contents{};
  GrfClose(&o.archive);
  return contents;
}
inline Contents ExpectedOf(const fixture::BuiltArchive& built) {
  Contents contents;
  for (const fixture::ExpectedEntry& e : built.expected) contents[e.name] = e.content;
  return contents;
}

}  // namespace grftest
