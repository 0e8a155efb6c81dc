#pragma once
// The LZSS decoder of version 0x12 archives.

#include "grf/internal.h"

#include <cstddef>
#include <cstdint>

namespace lzss {
constexpr int kOk = 0;
constexpr int kOutputFull = 1;   // the output would pass the capacity
constexpr int kTruncated = 2;    // a reference word is cut off by the end of input
constexpr int kBadReference = 3; // distance 0, beyond the output, or below the length
}  // namespace lzss

// `length` carries the capacity in and the produced byte count out (0 after
// results 1 and 3). Returns one of the lzss:: results.
int LzssDecode(void* output, uint32_t* length, const void* input, uint32_t inputLength);
