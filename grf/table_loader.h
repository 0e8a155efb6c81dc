#pragma once
// Header detection and file table loading.

#include <cstdint>

#include "grf/entry_index.h"

struct GrfArchive;

// Wide header, classic header, then trailer. Fills headerKind, tablePosition,
// entryCount, version (and tableSize for trailers). Uses fileSize.
bool DetectHeader(GrfArchive* archive);
// ParseTable, then the free-space map when the open flags ask for it.
bool LoadTable(GrfArchive* archive);
// Reads the table of the archive's version into one buffer, creates the
// entry index and parses. A failure leaves no index.
bool ParseTable(GrfArchive* archive);

bool ParseRecords12(GrfArchive* archive, unsigned char* table, uint32_t length);
bool ParseRecords1xx(GrfArchive* archive, unsigned char* table, uint32_t length);
bool ParseRecords200(GrfArchive* archive, const unsigned char* table, uint32_t length);
bool ParseRecords300(GrfArchive* archive, const unsigned char* table, uint32_t length);

// Decode a name field in place; *name points at the decoded, terminated name.
bool DecodeName12(GrfArchive* archive, char** name, uint32_t fieldLength);
bool DecodeName1xx(GrfArchive* archive, char** name, uint32_t fieldLength);

// Builds the GrfEntry and inserts it (details 0xA0000013, 0xA0000014).
bool AddEntry(GrfArchive* archive, const char* name, const EntryRecord& record);

// True for the names whose 0x1xx entries use the header cipher: extension
// "act", "gat", "gnd" or "str" in any case.
bool IsHeaderCipherName(const char* name);
