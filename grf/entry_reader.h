#pragma once
// Reading and decoding of entry data.

#include <cstdint>

struct GrfArchive;
struct GrfEntry;

// Decodes a known entry into the buffer. A lent work buffer is used when it
// holds at least alignedSize bytes; otherwise one is allocated for the call.
bool ReadEntryData(GrfArchive* archive, const GrfEntry* entry, void* buffer, uint32_t capacity,
                   uint32_t* realSize, void* work, uint32_t workCapacity);

// Reads the stored block (alignedSize bytes at offset) and removes its cipher.
bool ReadStoredBlock(GrfArchive* archive, const GrfEntry* entry, void* buffer,
                     uint32_t capacity, uint32_t* alignedSize);

// Guard for every use of the first compressedSize bytes of a stored block:
// fails with GRF_E_BAD_DATA when compressedSize exceeds alignedSize.
bool CheckCompressedSize(GrfArchive* archive, const GrfEntry* entry);

// LZSS-decodes exactly realSize bytes into a new pool buffer
// (GRF_E_OUT_OF_MEMORY/0xA0000019, GRF_E_BAD_DATA/0xA0000080).
unsigned char* LzssDecodeEntry(GrfArchive* archive, const unsigned char* source,
                               uint32_t compressedSize, uint32_t realSize);
