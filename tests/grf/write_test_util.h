#pragma once
// Helpers of the write-side tests: an independent reader of the header and
// the 0x200/0x300 table bytes a finalize leaves on disk, and access to the
// index records of an open archive.

#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "grf/archive.h"
#include "grf/entry_index.h"
#include "tests/grf/grf_test_util.h"

namespace grftest {

struct RawRecord {
  std::string name;
  uint32_t compressedSize = 0;
  uint32_t alignedSize = 0;
  uint32_t realSize = 0;
  uint8_t flags = 0;
  uint64_t storedPosition = 0;  // as written: absolute position - 46
};

struct RawArchive {
  bool ok = false;
  bool wide = false;
  uint64_t storedTablePosition = 0;
  uint32_t seed = 0;        // classic only
  uint32_t countField = 0;  // classic: seed + count + 7; wide: the count
  uint32_t version = 0;
  uint32_t compressedLength = 0;
  uint32_t plainLength = 0;
  uint32_t prefixZero = 0;  // 0x300: the first prefix word
  std::vector<RawRecord> records;
};

inline uint32_t RawU32(const fixture::Bytes& b, uint64_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline uint64_t RawU64(const fixture::Bytes& b, uint64_t at) {
  return RawU32(b, at) | (static_cast<uint64_t>(RawU32(b, at + 4)) << 32);
}

// Reads what a finalize wrote, straight from the bytes (plain zlib table).
inline RawArchive ParseWritten(const fixture::Bytes& b) {
  RawArchive r;
  if (b.size() < 46) return r;
  if (std::memcmp(b.data(), "Master of Magic", 16) == 0) {
    r.storedTablePosition = RawU32(b, 30);
    r.seed = RawU32(b, 34);
    r.countField = RawU32(b, 38);
  } else if (std::memcmp(b.data(), "Event Horizon", 14) == 0) {
    r.wide = true;
    r.storedTablePosition = RawU64(b, 30);
    r.countField = RawU32(b, 38);
  } else {
    return r;
  }
  r.version = RawU32(b, 42);
  const uint64_t at = r.storedTablePosition + 46;
  const bool v300 = r.version == 0x300;
  const uint64_t prefix = v300 ? 12 : 8;
  if (at + prefix > b.size()) return r;
  if (v300) r.prefixZero = RawU32(b, at);
  r.compressedLength = RawU32(b, at + prefix - 8);
  r.plainLength = RawU32(b, at + prefix - 4);
  if (at + prefix + r.compressedLength > b.size()) return r;
  std::vector<unsigned char> plain(r.plainLength + 1u);
  if (r.compressedLength > 0) {
    uLongf produced = r.plainLength;
    if (uncompress(plain.data(), &produced, b.data() + at + prefix, r.compressedLength) != Z_OK ||
        produced != r.plainLength)
      return r;
  }
  const uint32_t tail = v300 ? 21 : 17;
  size_t p = 0;
  while (p < r.plainLength) {
    RawRecord rec;
    const auto* nul = static_cast<const unsigned char*>(
        std::memchr(plain.data() + p, 0, r.plainLength - p));
    if (!nul) return r;
    rec.name.assign(reinterpret_cast<const char*>(plain.data() + p), nul - (plain.data() + p));
    p = static_cast<size_t>(nul - plain.data()) + 1;
    if (r.plainLength - p < tail) return r;
    fixture::Bytes rest(plain.begin() + static_cast<std::ptrdiff_t>(p),
                        plain.begin() + static_cast<std::ptrdiff_t>(p + tail));
    rec.compressedSize = RawU32(rest, 0);
    rec.alignedSize = RawU32(rest, 4);
    rec.realSize = RawU32(rest, 8);
    rec.flags = rest[12];
    rec.storedPosition = v300 ? RawU64(rest, 13) : RawU32(rest, 13);
    r.records.push_back(rec);
    p += tail;
  }
  r.ok = true;
  return r;
}

// The index record of a name, or null.
inline const GrfEntry* Record(GrfArchive* archive, const std::string& name) {
  return FindEntry(archive, name.c_str());
}

inline fixture::Bytes Slice(const fixture::Bytes& bytes, uint64_t at, uint64_t length) {
  if (at > bytes.size() || bytes.size() - at < length) return {};
  return fixture::Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
}

// Opens a fresh archive for writing at a new empty file.
inline GrfArchive* CreateArchive(const std::string& path, uint32_t flags = 0) {
  fixture::WriteBytesToFile(path, {});
  GrfArchive* archive = nullptr;
  uint32_t status = 0;
  if (!GrfOpen(path.c_str(), flags, &status, &archive)) return nullptr;
  return archive;
}

}  // namespace grftest
