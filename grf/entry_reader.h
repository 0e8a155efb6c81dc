#pragma once
// Reading and decoding of entry data.

#include "grf/internal.h"

struct GrfArchive;
struct GrfEntry;
struct GrfBlockInfo;

// Record values of a known entry and the facts every reader and copy share:
// the span a decode reads, what a copy carries, whether the block lies inside
// the file and whether its declared real size can come out of it at all.
void DescribeEntry(GrfArchive* archive, const GrfEntry* entry, GrfBlockInfo* info);
