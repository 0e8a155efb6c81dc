#include "engine/content_index.h"

#include <algorithm>
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

uint64_t SplitMix(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Little-endian; one load on such a machine.
uint32_t LoadWord(const unsigned char* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

// NH of one chunk, zero-padded to whole pairs of words: the sum of
// (m[2i] + k[2i]) * (m[2i+1] + k[2i+1]), the additions mod 2^32.
uint64_t NhChunk(const uint32_t* key, const unsigned char* bytes, size_t length) {
  uint64_t sum = 0;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    const uint32_t a = LoadWord(bytes + i) + key[i / 4];
    const uint32_t b = LoadWord(bytes + i + 4) + key[i / 4 + 1];
    sum += uint64_t{a} * b;
  }
  if (i < length) {
    unsigned char tail[8] = {};
    std::memcpy(tail, bytes + i, length - i);
    sum += uint64_t{LoadWord(tail) + key[i / 4]} * (LoadWord(tail + 4) + key[i / 4 + 1]);
  }
  return sum;
}

}  // namespace

uint64_t ContentDigest(const DigestKey& key, const void* data, size_t length) {
  constexpr size_t kChunk = DigestKey::kChunkWords * 4;
  SipState s{key.k0 ^ 0x736F6D6570736575ull, key.k1 ^ 0x646F72616E646F6Dull,
             key.k0 ^ 0x6C7967656E657261ull, key.k1 ^ 0x7465646279746573ull};
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (size_t done = 0; done < length; done += kChunk)
    s.Absorb(NhChunk(key.nh, bytes + done, std::min(kChunk, length - done)));
  s.Absorb(static_cast<uint64_t>(length));
  s.v2 ^= 0xFF;
  for (int i = 0; i < 3; ++i) s.Round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

namespace {
const DigestKey* g_testKey = nullptr;
}  // namespace

void SetRunDigestKeyForTest(const DigestKey* key) { g_testKey = key; }

DigestKey MakeRunDigestKey() {
  if (g_testKey) return *g_testKey;
  static uint64_t runs = 0;
  int local = 0;
  uint64_t state = ReadSystemTime() ^ (reinterpret_cast<uintptr_t>(&local) << 16) ^
                   reinterpret_cast<uintptr_t>(&runs) ^ ++runs * 0xD1B54A32D192ED03ull;
  DigestKey key{SplitMix(&state), SplitMix(&state), {}};
  for (uint32_t& word : key.nh) word = static_cast<uint32_t>(SplitMix(&state));
  return key;
}

std::unique_ptr<ContentIndex> ContentIndex::Create() noexcept {
  return std::unique_ptr<ContentIndex>(new (std::nothrow) ContentIndex());
}

void ContentIndex::Reserve(size_t keys) noexcept {
  try {
    names_.reserve(keys);
  } catch (...) {
  }
}

bool ContentIndex::Contains(const ContentKey& key) const noexcept {
  return names_.find(key) != names_.end();
}

void ContentIndex::VisitNames(const ContentKey& key, Visitor visitor, void* context) const {
  const auto found = names_.find(key);
  if (found == names_.end() || !visitor(found->second.first.data(), context)) return;
  for (const std::string_view name : found->second.more) {
    if (!visitor(name.data(), context)) return;
  }
}

const char* ContentIndex::NameAt(const ContentKey& key, uint32_t position) const noexcept {
  const auto found = names_.find(key);
  if (found == names_.end() || position > found->second.more.size()) return nullptr;
  return position == 0 ? found->second.first.data() : found->second.more[position - 1].data();
}

bool ContentIndex::Insert(const ContentKey& key, const char* name, uint32_t* position) noexcept {
  return Insert(key, name ? std::string_view(name) : std::string_view(), position);
}

// A failure leaves at most an unused copy in the arena.
bool ContentIndex::Insert(const ContentKey& key, std::string_view name,
                          uint32_t* at) noexcept {
  std::string_view copy;
  if (!arena_.Copy(name, &copy)) return false;
  try {
    auto [slot, created] = names_.try_emplace(key, Names{copy, {}});
    if (!created) slot->second.more.push_back(copy);
    if (at) *at = static_cast<uint32_t>(created ? 0 : slot->second.more.size());
    return true;
  } catch (...) {
    return false;
  }
}
