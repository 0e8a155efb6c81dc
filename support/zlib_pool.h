#pragma once
// zlib's compress2/uncompress with the same result codes, but with zlib's
// working memory taken from the memory pool.

int ZlibCompressPooled(unsigned char* destination, unsigned long* destinationLength,
                       const unsigned char* source, unsigned long sourceLength, int level);
int ZlibUncompressPooled(unsigned char* destination, unsigned long* destinationLength,
                         const unsigned char* source, unsigned long sourceLength);
