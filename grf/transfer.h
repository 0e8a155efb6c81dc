#pragma once
// Entry transfer (put, copy, link; their operations are in grf/grf.h): the
// parts the table writer uses too.

#include "grf/internal.h"

#include <cstdint>

struct GrfArchive;

// Compresses through the archive's compress hook into a new pool buffer.
unsigned char* CompressWithHook(GrfArchive* archive, const void* data, uint32_t size,
                                uint32_t* compressedSize);

// Picks the position for `length` new bytes: the best-fitting free range
// under gap reuse, else the end of the file (*appended true).
bool AllocateSpace(GrfArchive* archive, uint64_t length, uint64_t* position, bool* appended);
