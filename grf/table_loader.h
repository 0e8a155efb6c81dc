#pragma once
// Header detection and file table loading.

#include "grf/internal.h"

#include <cstdint>

struct GrfArchive;

// Wide header, classic header, then trailer. Fills headerKind, tablePosition,
// entryCount, version (and tableSize for trailers). Uses fileSize.
bool DetectHeader(GrfArchive* archive);
// Reads the table of the archive's version into one buffer, creates the
// entry index and parses it (a failure leaves no index), then builds the
// free-space map when the open flags ask for it.
bool LoadTable(GrfArchive* archive);
