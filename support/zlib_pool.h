#pragma once
// zlib's compress2/uncompress with the same result codes, but with zlib's
// working memory taken from the memory pool.

int ZlibCompressPooled(unsigned char* destination, unsigned long* destinationLength,
                       const unsigned char* source, unsigned long sourceLength, int level);
int ZlibUncompressPooled(unsigned char* destination, unsigned long* destinationLength,
                         const unsigned char* source, unsigned long sourceLength);
// ZlibUncompressPooled that also tells how many source bytes were consumed
// (at Z_STREAM_END: the length of the stream).
int ZlibUncompressCounted(unsigned char* destination, unsigned long* destinationLength,
                          const unsigned char* source, unsigned long sourceLength,
                          unsigned long* consumed);
