#pragma once
// Names of written entries grouped by the CRC-32 of their content.
//
// Within one checksum the names are kept in the order they were added, so the
// first entry written with a given content is the first one visited. Each name
// is an owned copy. Nothing here throws: memory exhaustion is reported by the
// result of Create and Insert.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class ContentIndex {
 public:
  // Called with each stored name (NUL-terminated, empty for an empty name);
  // returns false to stop the visit.
  using Visitor = bool (*)(const char* name, void* context);

  // An empty index, or null when memory is exhausted.
  static std::unique_ptr<ContentIndex> Create() noexcept;

  ContentIndex() = default;
  ContentIndex(const ContentIndex&) = delete;
  ContentIndex& operator=(const ContentIndex&) = delete;

  // Whether at least one name is stored under the checksum.
  bool Contains(uint32_t checksum) const noexcept;

  // Visits the names under the checksum, oldest first, until the visitor
  // returns false or the names are exhausted.
  void VisitNames(uint32_t checksum, Visitor visitor, void* context) const;

  // Appends a copy of the name to the checksum's list, creating the list for
  // a new checksum. False when memory ran out; the index is then as before.
  // A null name is stored as an empty one.
  bool Insert(uint32_t checksum, const char* name) noexcept;
  bool Insert(uint32_t checksum, std::string_view name) noexcept;

 private:
  std::map<uint32_t, std::vector<std::string>> names_;
};
