#pragma once
// Reads and decodes entries on every core: batches of neighbouring blocks are
// read in one go and decoded on worker threads, and the results come back to
// the calling thread in the order given.

#include <cstdint>
#include <vector>

#include "slimgrf/catalog.h"

struct DecodedEntry {
  const CatalogEntry* entry;
  const char* problem;            // why it cannot be read, null when it was
  const unsigned char* content;   // entry->info.realSize bytes when read (null when empty)
};

// Called for each entry on the calling thread; false stops the run.
using DecodedEntryCallback = bool (*)(const DecodedEntry& decoded, void* context);

// Sorts entries by where their blocks lie (then by size): the order in which
// they read fastest and in which shared blocks are neighbours.
void SortInBlockOrder(std::vector<const CatalogEntry*>* order);

// Decodes the entries in `order` with `threads` threads (0: every hardware
// thread) and hands each to the callback in that order. An entry whose record
// equals the one before it in the order (a link) takes that one's result
// without a second decode. False when the callback stopped the run.
bool DecodeEntries(const GrfArchive* archive, const std::vector<const CatalogEntry*>& order,
                   unsigned threads, DecodedEntryCallback callback, void* context);
