#pragma once
// Entry cipher: the single-round DES block transform, the header cipher, the
// mixed cipher with its cycle, and the byte shuffle. Removal only; all work is
// in place and on whole 8-byte blocks.

#include "grf/internal.h"

#include <cstddef>
#include <cstdint>

// Applies the block transform to each whole 8-byte block (its own inverse).
void GrfDesTransform(void* buffer, size_t length);

// The mixed cipher's cycle for an entry of this compressed size.
uint32_t CipherCycle(uint32_t compressedSize);

// Transforms the first min(blocks, 20) blocks.
void DecipherHeader(void* buffer, size_t storedLength);

// The mixed pattern: first 20 blocks, every cycle-th later block, and a
// shuffle of every seventh untransformed one. A partial tail is left alone.
void DecipherMixed(void* buffer, size_t storedLength, uint32_t cycle);
