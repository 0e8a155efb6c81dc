#pragma once
// Decode results by stored stream. Entries whose stored blocks are equal
// decode equally, so an entry whose block equals an earlier entry's takes
// that entry's results instead of decoding again. Workers file and look up
// at once; the caller proves the blocks equal byte for byte before it takes
// a result, so the key may collide. Nothing here throws.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "grf/grf.h"

struct StreamKey {
  uint32_t checksum = 0;  // CRC-32 of the bytes a decode reads
  uint32_t compressedSize = 0;
  uint32_t alignedSize = 0;
  uint32_t realSize = 0;
  uint8_t flags = 0;
  uint8_t lzss = 0;
  uint8_t viaHook = 0;
  bool isolated = false;  // extension class, as in the content key
  bool operator==(const StreamKey&) const = default;
};

struct StreamKeyHash {
  size_t operator()(const StreamKey& key) const noexcept;
};

// What a decode of the block found.
struct StreamDecode {
  uint64_t sequence = 0;  // the entry's position in the pass
  const GrfArchive* source = nullptr;  // the archive its block is in
  GrfBlockInfo info{};    // where its block is, what a copy carries
  uint32_t checksum = 0;  // of the content
  uint64_t digest = 0;
};

class StreamMemo {
 public:
  explicit StreamMemo(size_t capacity) noexcept : capacity_(capacity) {}
  StreamMemo(const StreamMemo&) = delete;
  StreamMemo& operator=(const StreamMemo&) = delete;

  // Room for this many decodes (at most the capacity); only a hint.
  void Reserve(size_t decodes) noexcept;
  // The first decode filed under the key; false when there is none.
  bool Find(const StreamKey& key, StreamDecode* found) const noexcept;
  // Files a decode unless the key has one already (the earlier entry is
  // kept) or the memo is full or memory ran out.
  void File(const StreamKey& key, const StreamDecode& decode) noexcept;

 private:
  size_t capacity_;
  mutable std::mutex mutex_;
  std::unordered_map<StreamKey, StreamDecode, StreamKeyHash> byKey_;
};

// The key of a deciphered block: only the bytes a decode reads are summed.
StreamKey StreamKeyOf(const GrfBlockInfo& info, const unsigned char* block, bool isolated);
