#include "engine/content_index.h"

#include <bit>
#include <cstring>
#include <new>

#include "support/clock.h"

namespace {

uint64_t Rotate(uint64_t value, int bits) { return (value << bits) | (value >> (64 - bits)); }

struct SipState {
  uint64_t v0, v1, v2, v3;
  void Round() {
    v0 += v1;
    v1 = Rotate(v1, 13);
    v1 ^= v0;
    v0 = Rotate(v0, 32);
    v2 += v3;
    v3 = Rotate(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = Rotate(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = Rotate(v1, 17);
    v1 ^= v2;
    v2 = Rotate(v2, 32);
  }
  void Absorb(uint64_t word) {
    v3 ^= word;
    Round();
    v0 ^= word;
  }
};

uint64_t LoadLittle(const unsigned char* bytes, size_t count) {
  uint64_t word = 0;
  for (size_t i = 0; i < count; ++i) word |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  return word;
}

uint64_t SplitMix(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

uint64_t ContentDigest(const DigestKey& key, const void* data, size_t length) {
  SipState s{key.k0 ^ 0x736F6D6570736575ull, key.k1 ^ 0x646F72616E646F6Dull,
             key.k0 ^ 0x6C7967656E657261ull, key.k1 ^ 0x7465646279746573ull};
  const auto* bytes = static_cast<const unsigned char*>(data);
  const size_t whole = length & ~static_cast<size_t>(7);
  for (size_t i = 0; i < whole; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    if constexpr (std::endian::native == std::endian::big) word = LoadLittle(bytes + i, 8);
    s.Absorb(word);
  }
  s.Absorb(LoadLittle(bytes + whole, length & 7) | (static_cast<uint64_t>(length) << 56));
  s.v2 ^= 0xFF;
  for (int i = 0; i < 3; ++i) s.Round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

DigestKey MakeRunDigestKey() {
  static uint64_t runs = 0;
  int local = 0;
  uint64_t state = ReadSystemTime() ^ (reinterpret_cast<uintptr_t>(&local) << 16) ^
                   reinterpret_cast<uintptr_t>(&runs) ^ ++runs * 0xD1B54A32D192ED03ull;
  return DigestKey{SplitMix(&state), SplitMix(&state)};
}

std::unique_ptr<ContentIndex> ContentIndex::Create() noexcept {
  return std::unique_ptr<ContentIndex>(new (std::nothrow) ContentIndex());
}

bool ContentIndex::Contains(const ContentKey& key) const noexcept {
  const auto found = names_.find(key);
  return found != names_.end() && !found->second.empty();
}

void ContentIndex::VisitNames(const ContentKey& key, Visitor visitor, void* context) const {
  const auto found = names_.find(key);
  if (found == names_.end()) return;
  for (const std::string& name : found->second) {
    if (!visitor(name.c_str(), context)) return;
  }
}

const char* ContentIndex::NameAt(const ContentKey& key, uint32_t position) const noexcept {
  const auto found = names_.find(key);
  if (found == names_.end() || position >= found->second.size()) return nullptr;
  return found->second[position].c_str();
}

bool ContentIndex::Insert(const ContentKey& key, const char* name, uint32_t* position) noexcept {
  return Insert(key, name ? std::string_view(name) : std::string_view(), position);
}

bool ContentIndex::Insert(const ContentKey& key, std::string_view name,
                          uint32_t* at) noexcept {
  auto slot = names_.end();
  bool created = false;
  try {
    auto [position, inserted] = names_.try_emplace(key);
    slot = position;
    created = inserted;
    slot->second.emplace_back(name);
    if (at) *at = static_cast<uint32_t>(slot->second.size() - 1);
    return true;
  } catch (const std::bad_alloc&) {
    // Leave no empty list behind for a key whose first name failed.
    if (created) names_.erase(slot);
    return false;
  } catch (const std::length_error&) {
    if (created) names_.erase(slot);
    return false;
  }
}
