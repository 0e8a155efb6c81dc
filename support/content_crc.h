#pragma once
// CRC-32 (the zlib/PNG polynomial) of an entry's content.

#include <cstddef>
#include <cstdint>

uint32_t ContentCrc32(const void* data, size_t length);
// Continues a CRC-32 over more bytes (start with crc = 0).
uint32_t ContentCrc32Update(uint32_t crc, const void* data, size_t length);
