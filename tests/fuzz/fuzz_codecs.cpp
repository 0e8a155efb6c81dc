// The LZSS decoder and the two decipher routines on arbitrary input, each
// against an independent counterpart: a plain byte-at-a-time LZSS decoder,
// the fixture builder's encoder, and the fixture builder's DES transform and
// encipher routines (inverse of the decipher).
//
// Input: two bytes of output capacity, four bytes of compressed size (for
// the mixed cipher's cycle), then the data.

#include <cstring>
#include <memory>

#include "grf/cipher.h"
#include "grf/lzss.h"
#include "tests/fixtures/archive_builder.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Bytes;

struct Decoded {
  int code;
  uint32_t length;
  Bytes output;
};

// The decoder written out step by step, one byte at a time.
Decoded ReferenceLzss(const uint8_t* in, uint32_t inLength, uint32_t capacity) {
  Decoded d{lzss::kOk, 0, {}};
  uint32_t pos = 0;
  while (pos < inLength) {
    const uint8_t control = in[pos++];
    for (int bit = 0; bit < 8; ++bit) {
      if (pos >= inLength) break;
      if (((control >> bit) & 1) == 0) {
        if (d.output.size() >= capacity) return {lzss::kOutputFull, 0, {}};
        d.output.push_back(in[pos++]);
        continue;
      }
      if (inLength - pos < 2) return {lzss::kTruncated, static_cast<uint32_t>(d.output.size()), d.output};
      const uint32_t word = in[pos] | (in[pos + 1] << 8);
      const size_t distance = word & 0xFFF;
      const size_t length = (word >> 12) + 2;
      if (distance > d.output.size() || distance < length) return {lzss::kBadReference, 0, {}};
      if (d.output.size() + length > capacity) return {lzss::kOutputFull, 0, {}};
      const size_t from = d.output.size() - distance;
      for (size_t k = 0; k < length; ++k) d.output.push_back(d.output[from + k]);
      pos += 2;
    }
  }
  d.length = static_cast<uint32_t>(d.output.size());
  return d;
}

// Decodes into a heap block of exactly `capacity` bytes, so that a write
// past it is caught.
Decoded Library(const uint8_t* in, uint32_t inLength, uint32_t capacity) {
  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity ? capacity : 1]);
  uint32_t length = capacity;
  const int code = LzssDecode(out.get(), &length, in, inLength);
  FUZZ_CHECK(length <= capacity);
  return {code, length, Bytes(out.get(), out.get() + length)};
}

void CheckLzss(const uint8_t* in, uint32_t inLength, uint32_t capacity) {
  const Decoded got = Library(in, inLength, capacity);
  const Decoded want = ReferenceLzss(in, inLength, capacity);
  FUZZ_CHECK(got.code == want.code);
  FUZZ_CHECK(got.length == want.length);
  // After a truncated stream the bytes produced so far are reported as well.
  FUZZ_CHECK(got.output == Bytes(want.output.begin(), want.output.begin() + want.length));
}

void CheckLzssRoundTrip(const Bytes& plain) {
  const Bytes packed = fixture::LzssEncode(plain);
  const uint32_t n = static_cast<uint32_t>(plain.size());
  const Decoded exact = Library(packed.data(), static_cast<uint32_t>(packed.size()), n);
  FUZZ_CHECK(exact.code == lzss::kOk && exact.output == plain);
  if (n > 0) {
    const Decoded small = Library(packed.data(), static_cast<uint32_t>(packed.size()), n - 1);
    FUZZ_CHECK(small.code == lzss::kOutputFull && small.length == 0);
  }
}

// The decipher works on whole blocks in place: a partial tail stays, and
// the fixture's encipher undoes it. (Stored blocks are never empty here.)
void CheckCiphers(const Bytes& data, uint32_t compressedSize) {
  const size_t n = data.size();
  if (n == 0) return;
  const size_t whole = n / 8 * 8;

  std::unique_ptr<uint8_t[]> header(new uint8_t[n]);
  std::memcpy(header.get(), data.data(), n);
  DecipherHeader(header.get(), n);
  FUZZ_CHECK(std::memcmp(header.get() + whole, data.data() + whole, n - whole) == 0);
  Bytes expected = data;
  fixture::EncipherHeader(expected.data(), n);  // the same transform: its own inverse
  FUZZ_CHECK(std::memcmp(header.get(), expected.data(), n) == 0);

  const uint32_t cycle = CipherCycle(compressedSize);
  FUZZ_CHECK(cycle == fixture::Cycle(compressedSize));
  std::unique_ptr<uint8_t[]> mixed(new uint8_t[n]);
  std::memcpy(mixed.get(), data.data(), n);
  DecipherMixed(mixed.get(), n, cycle);
  FUZZ_CHECK(std::memcmp(mixed.get() + whole, data.data() + whole, n - whole) == 0);
  fixture::EncipherMixed(mixed.get(), n, cycle);
  FUZZ_CHECK(std::memcmp(mixed.get(), data.data(), n) == 0);
}

uint32_t LoadU32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Init();
  if (size < 6) return 0;
  const uint32_t capacity = data[0] | (data[1] << 8);
  const uint32_t compressedSize = LoadU32(data + 2);
  const uint8_t* body = data + 6;
  const uint32_t length = static_cast<uint32_t>(size - 6);

  CheckLzss(body, length, capacity);
  const Bytes plain(body, body + length);
  CheckLzssRoundTrip(plain);
  CheckCiphers(plain, compressedSize);
  return 0;
}
