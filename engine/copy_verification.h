#pragma once
// Read-back verification of a finished copy: every entry of the written file
// is read through a fresh, read-only open and checked against what the entry
// pass computed from the source.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

// Names of the copy's entries and their expectations, in an open-addressed
// table of positions: a lookup touches a slot, a record and a name. Nothing
// throws.
class CopyExpectations {
 public:
  static std::unique_ptr<CopyExpectations> Create() noexcept;

  // Records (or replaces) the expectation of a name; false when out of memory.
  bool Expect(const char* name, const CopyExpectation& expectation) noexcept;
  // Valid until the next Expect.
  const CopyExpectation* Find(std::string_view name) const noexcept;
  // Room for this many names; only a hint.
  void Reserve(size_t names) noexcept;
  size_t Count() const noexcept { return named_.size(); }

 private:
  struct Named {
    std::string_view name;
    size_t hash;
    CopyExpectation want;
  };
  // The slot of the name, or the free slot where it would go.
  size_t Locate(std::string_view name, size_t hash) const noexcept;
  bool Rehash(size_t slotCount) noexcept;

  std::vector<Named> named_;
  std::vector<uint32_t> slots_;  // 1 + position in named_, 0 when free; at most half in use
  NameArena names_;             // the names
};

// True when the archive at `path` holds exactly the expected names and each
// reads back with the expected size and checksum. Nothing is shown. Blocks
// are read and checked on `threads` workers
// (as for the entry pass: 0 one per hardware thread, 1 none).
bool VerifyCopy(const char* path, const CopyExpectations& expected, uint32_t threads = 1,
                WorkerStartHook onStart = nullptr, void* startContext = nullptr);
