#pragma once
// Built-in codec hooks and decompression through an archive's hook.

#include "grf/internal.h"

#include <cstdint>

#include "grf/grf.h"

// zlib compress (default level) and uncompress, with the library's result
// codes, over pool-backed zlib working memory.
int DefaultCompressHook(unsigned char* destination, unsigned long* destinationLength,
                        const unsigned char* source, unsigned long sourceLength);
int DefaultUncompressHook(unsigned char* destination, unsigned long* destinationLength,
                          const unsigned char* source, unsigned long sourceLength);

// Decompresses through the archive's uncompress hook into a new pool buffer of
// max(expectedLength, 1) bytes that must hold exactly expectedLength bytes.
// Failures: GRF_E_OUT_OF_MEMORY/0xA0000018; GRF_E_OUT_OF_MEMORY, GRF_E_CODEC_IO
// or GRF_E_BAD_DATA with 0xA0000060.
unsigned char* InflateTable(GrfArchive* archive, const unsigned char* source,
                            uint32_t sourceLength, uint32_t expectedLength);
