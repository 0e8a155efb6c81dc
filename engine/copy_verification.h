#pragma once
// Read-back verification of a finished copy: every entry of the written file
// is read through a fresh, read-only open and checked against what the entry
// pass computed from the source.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/name_arena.h"
#include "engine/ordered_pipeline.h"

// What one entry of the copy must read back as.
struct CopyExpectation {
  uint32_t realSize;
  uint32_t checksum;      // CRC-32 of the content, or of the stored bytes when `stored`
  uint32_t storedLength;  // stored: how many bytes the copy carries
  bool stored;            // checked by its stored bytes: a block carried as it is
  uint8_t flags;          // stored: the entry's flags in the copy
  bool operator==(const CopyExpectation&) const = default;
};

// Names of the copy's entries and their expectations. Nothing throws.
class CopyExpectations {
 public:
  static std::unique_ptr<CopyExpectations> Create() noexcept;

  // Records (or replaces) the expectation of a name; false when out of memory.
  bool Expect(const char* name, const CopyExpectation& expectation) noexcept;
  const CopyExpectation* Find(std::string_view name) const noexcept;
  // Room for this many names; only a hint.
  void Reserve(size_t names) noexcept;
  size_t Count() const noexcept { return byName_.size(); }

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const noexcept {
      return std::hash<std::string_view>()(text);
    }
  };
  std::unordered_map<std::string_view, CopyExpectation, Hash, std::equal_to<>> byName_;
  NameArena names_;  // the keys
};

// True when the archive at `path` holds exactly the expected names and each
// reads back with the expected size and checksum. Nothing is shown. Blocks
// are read and checked on `threads` workers
// (as for the entry pass: 0 one per hardware thread, 1 none).
bool VerifyCopy(const char* path, const CopyExpectations& expected, uint32_t threads = 1,
                WorkerStartHook onStart = nullptr, void* startContext = nullptr);
