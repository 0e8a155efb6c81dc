#pragma once
// An archive opened for reading and the record of every entry, in table order.

#include <cstdint>
#include <string>
#include <vector>

#include "grf/grf.h"

struct CatalogEntry {
  std::string name;  // the archive's bytes
  GrfBlockInfo info{};
};

struct Catalog {
  GrfArchive* archive = nullptr;
  std::vector<CatalogEntry> entries;

  Catalog() = default;
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;
  ~Catalog() { GrfClose(&archive); }
};

// Opens the archive read-only and reads its entries (those matching one of
// the patterns, all when there are none). False with *error set when the
// archive cannot be opened or read.
bool OpenCatalog(const char* path, const std::vector<const char*>& patterns, Catalog* catalog,
                 std::string* error);

// Why an entry cannot be read as its record stands ("block outside the file",
// "impossible sizes"), or null when the record allows reading. Empty entries
// need no block.
const char* RecordProblem(const GrfBlockInfo& info);

// "zlib", "lzss" or "stored".
const char* StorageName(const GrfBlockInfo& info);
// "mixed", "header" or null for an entry without cipher.
const char* CipherName(const GrfBlockInfo& info);
