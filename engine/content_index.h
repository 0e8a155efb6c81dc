#pragma once
// Names of written entries grouped by a key of their content: CRC-32, size,
// extension class and a keyed 64-bit digest.
//
// Within one key the names are kept in the order they were added, so the
// first entry written with a given content is the first one visited. Each name
// is an owned copy that stays in place. Nothing here throws: memory
// exhaustion is reported by the result of Create and Insert.
//
// The digest narrows candidates so that a flood of equal CRC-32s costs linear
// time; its key is chosen at random per run, so an archive cannot be built to
// collide. Identity is still proven byte for byte by the caller.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/name_arena.h"

struct ContentKey {
  uint32_t checksum = 0;  // CRC-32 of the content
  uint32_t size = 0;
  uint64_t digest = 0;
  bool isolated = false;  // extension class (.gnd .gat .act .str)

  ContentKey() = default;
  // A key of just a checksum.
  ContentKey(uint32_t crc) : checksum(crc) {}  // NOLINT(google-explicit-constructor)
  ContentKey(uint32_t crc, uint32_t length, uint64_t hash, bool isolatedClass)
      : checksum(crc), size(length), digest(hash), isolated(isolatedClass) {}
  bool operator==(const ContentKey&) const = default;
};

struct ContentKeyHash {
  size_t operator()(const ContentKey& key) const noexcept {
    return static_cast<size_t>(key.digest ^ (static_cast<uint64_t>(key.checksum) << 32) ^
                               key.size ^ (key.isolated ? 0x9E3779B97F4A7C15ull : 0));
  }
};

// A keyed digest: NH over 1 KB chunks (ε = 2^-32 for two different
// contents under a random key), the chunk sums and the length folded by
// SipHash-1-3. It only narrows candidates, under a key chosen after the archive.
struct DigestKey {
  static constexpr size_t kChunkWords = 256;
  uint64_t k0;
  uint64_t k1;
  uint32_t nh[kChunkWords];
};
uint64_t ContentDigest(const DigestKey& key, const void* data, size_t length);
// A key that differs from run to run.
DigestKey MakeRunDigestKey();
// Tests: the key of every later run (null: a random one again), so that contents can be made to collide.
void SetRunDigestKeyForTest(const DigestKey* key);

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

  // Room for this many keys; only a hint.
  void Reserve(size_t keys) noexcept;

  // Whether at least one name is stored under the key.
  bool Contains(const ContentKey& key) const noexcept;

  // Visits the names under the key, oldest first, until the visitor
  // returns false or the names are exhausted.
  void VisitNames(const ContentKey& key, Visitor visitor, void* context) const;
  // The name at a position of the key's list (0 is the oldest), or null.
  const char* NameAt(const ContentKey& key, uint32_t position) const noexcept;

  // Appends a copy of the name to the key's list, creating the list for a
  // new key, and tells its position there. False when memory ran out; the
  // index is then as before. A null name is stored as an empty one.
  bool Insert(const ContentKey& key, const char* name, uint32_t* position = nullptr) noexcept;
  bool Insert(const ContentKey& key, std::string_view name,
              uint32_t* position = nullptr) noexcept;

 private:
  // Most contents have one name: it needs no list of its own.
  struct Names {
    std::string_view first;
    std::vector<std::string_view> more;
  };
  std::unordered_map<ContentKey, Names, ContentKeyHash> names_;
  NameArena arena_;
};
