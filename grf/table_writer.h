#pragma once
// File table writing, header rewrite and finalize.

#include <cstdint>

struct GrfArchive;

// Where a table went and what it holds.
struct WrittenTable {
  uint64_t position;          // absolute position of the prefix
  uint32_t compressedLength;  // without the prefix
  uint32_t entryCount;
  uint64_t usedEnd;           // one past the last byte the table or any entry uses
};

// Writes the table in the archive's layout (0x1xx as 0x200; 0x200 moves to
// 0x300 when an entry lies at or beyond 4 GiB) and rewrites the header.
bool WriteTable(GrfArchive* archive);

// Build, compress and store the table of the index, sorted by offset.
bool BuildTable200(GrfArchive* archive, WrittenTable* table);
bool BuildTable300(GrfArchive* archive, WrittenTable* table);

// Bytes 30-45 of the existing header kind, or a whole wide header when a
// classic one cannot hold the position. Refreshes fileSize and the table fields.
bool WriteHeader(GrfArchive* archive, const WrittenTable& table, uint32_t version);
