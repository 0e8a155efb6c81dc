#include "support/content_crc.h"

#ifdef SLIMWICK_CODEC_ZLIB_ONLY
#include <zlib.h>

#include <algorithm>
#include <climits>
#else
#include <libdeflate.h>
#endif

uint32_t ContentCrc32Update(uint32_t crc, const void* data, size_t length) {
#ifdef SLIMWICK_CODEC_ZLIB_ONLY
  auto* bytes = static_cast<const unsigned char*>(data);
  while (length) {
    const auto chunk = static_cast<uInt>(std::min<size_t>(length, UINT_MAX));
    crc = static_cast<uint32_t>(crc32(crc, bytes, chunk));
    bytes += chunk;
    length -= chunk;
  }
  return crc;
#else
  return libdeflate_crc32(crc, data, length);
#endif
}

uint32_t ContentCrc32(const void* data, size_t length) { return ContentCrc32Update(0, data, length); }
