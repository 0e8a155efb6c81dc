#pragma once
// zlib's compress2/uncompress with the same result codes and verdicts. The
// common path runs through libdeflate (one cached compressor per level and one
// decompressor per thread); zlib, with its working memory taken from the
// memory pool, judges every stream libdeflate does not take and does any
// partial-output work. All routines are thread-safe.

#include <cstdint>

int ZlibCompressPooled(unsigned char* destination, unsigned long* destinationLength,
                       const unsigned char* source, unsigned long sourceLength, int level);
int ZlibUncompressPooled(unsigned char* destination, unsigned long* destinationLength,
                         const unsigned char* source, unsigned long sourceLength);
// ZlibUncompressPooled that also tells how many source bytes were consumed
// (at Z_STREAM_END: the length of the stream).
int ZlibUncompressCounted(unsigned char* destination, unsigned long* destinationLength,
                          const unsigned char* source, unsigned long sourceLength,
                          unsigned long* consumed);

// Recompression levels run 1 (fastest) to 12 (smallest); 9 and below are
// close to zlib's levels of the same number.
inline constexpr int kMinDeflateLevel = 1;
inline constexpr int kMaxDeflateLevel = 12;
inline constexpr int kBestDeflateLevel = 12;

// Deflates `length` bytes at `level` (kMinDeflateLevel..kMaxDeflateLevel) into
// a zlib stream in a new pool block (*buffer, to be released with PoolFree).
// Returns Z_OK, Z_STREAM_ERROR for a level out of range, Z_MEM_ERROR (with
// *compressedLength the size that could not be had) or Z_BUF_ERROR.
int DeflateToNewBuffer(const void* data, uint32_t length, int level, uint32_t* compressedLength,
                       unsigned char** buffer);

// "libdeflate 1.14" or "zlib 1.2.13": what does the common path in this build.
const char* CodecDescription();
