#pragma once
// Reading and decoding of entry data.

#include <cstdint>

struct GrfArchive;
struct GrfEntry;
struct GrfBlockInfo;

// Reads the stored block (alignedSize bytes at offset) and removes its cipher.
bool ReadStoredBlock(GrfArchive* archive, const GrfEntry* entry, void* buffer,
                     uint32_t capacity, uint32_t* alignedSize);

// Guard for every use of the first compressedSize bytes of a stored block:
// fails with GRF_E_BAD_DATA when compressedSize exceeds alignedSize.
bool CheckCompressedSize(GrfArchive* archive, const GrfEntry* entry);

// Record values of a known entry and the judgements every reader and copy
// share: whether its block lies inside the file and whether its declared real
// size can come out of that block at all.
void DescribeEntry(GrfArchive* archive, const GrfEntry* entry, GrfBlockInfo* info);

// What a copy carries of a block it could not decode: the recorded
// compressed size as far as the block holds it (compressed data), or the
// whole block (stored data).
uint32_t FallbackKeepLength(const GrfBlockInfo* info);
