#include "grf/lzss.h"

#include <cstring>

// Groups of one control byte and up to eight items, least significant bit
// first: a clear bit is a literal byte, a set bit a 16-bit little-endian
// reference word (distance in the low 12 bits, length - 2 in the high 4).
// A reference copies from data already produced and never overlaps its
// destination, since its distance is at least its length.
int LzssDecode(void* output, uint32_t* length, const void* input, uint32_t inputLength) {
  unsigned char* out = static_cast<unsigned char*>(output);
  const unsigned char* in = static_cast<const unsigned char*>(input);
  const uint32_t capacity = *length;
  uint32_t consumed = 0;
  uint32_t produced = 0;
  *length = 0;
  while (consumed < inputLength) {
    unsigned control = in[consumed++];
    for (int bit = 0; bit < 8; ++bit, control >>= 1) {
      if (consumed >= inputLength) break;
      if ((control & 1) == 0) {
        if (produced >= capacity) return lzss::kOutputFull;
        out[produced++] = in[consumed++];
        continue;
      }
      if (inputLength - consumed < 2) {
        *length = produced;
        return lzss::kTruncated;
      }
      uint32_t word = in[consumed] | (static_cast<uint32_t>(in[consumed + 1]) << 8);
      uint32_t distance = word & 0x0FFF;
      uint32_t count = (word >> 12) + 2;
      if (distance > produced || distance < count) return lzss::kBadReference;
      if (count > capacity - produced) return lzss::kOutputFull;
      std::memcpy(out + produced, out + produced - distance, count);
      consumed += 2;
      produced += count;
    }
  }
  *length = produced;
  return lzss::kOk;
}
