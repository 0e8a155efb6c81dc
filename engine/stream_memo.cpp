#include "engine/stream_memo.h"

#include <algorithm>
#include <new>

#include "support/content_crc.h"

size_t StreamKeyHash::operator()(const StreamKey& key) const noexcept {
  uint64_t h = key.checksum;
  h = h * 0x9E3779B97F4A7C15ull ^ key.compressedSize;
  h = h * 0x9E3779B97F4A7C15ull ^ key.alignedSize;
  h = h * 0x9E3779B97F4A7C15ull ^ key.realSize;
  h = h * 0x9E3779B97F4A7C15ull ^
      (key.flags | key.lzss << 8 | key.viaHook << 9 | uint32_t{key.isolated} << 10);
  return static_cast<size_t>(h ^ (h >> 29));
}

void StreamMemo::Reserve(size_t decodes) noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  try {
    byKey_.reserve(std::min(decodes, capacity_));
  } catch (...) {
  }
}

bool StreamMemo::Find(const StreamKey& key, StreamDecode* found) const noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto at = byKey_.find(key);
  if (at == byKey_.end()) return false;
  *found = at->second;
  return true;
}

void StreamMemo::File(const StreamKey& key, const StreamDecode& decode) noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  if (byKey_.size() >= capacity_) return;
  try {
    const auto [at, added] = byKey_.try_emplace(key, decode);
    // Of two racing entries the earlier one stays: a later entry may take
    // only an earlier entry's result.
    if (!added && decode.sequence < at->second.sequence) at->second = decode;
  } catch (const std::bad_alloc&) {
  }
}

StreamKey StreamKeyOf(const GrfBlockInfo& info, const unsigned char* block, bool isolated) {
  return StreamKey{ContentCrc32(block, info.decodeSpan),
                   info.compressedSize,
                   info.alignedSize,
                   info.realSize,
                   info.flags,
                   info.lzss,
                   info.viaHook,
                   isolated};
}
