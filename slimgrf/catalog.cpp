#include "slimgrf/catalog.h"

#include <new>

#include "slimgrf/pattern.h"

namespace {

struct Collect {
  GrfArchive* archive;
  const std::vector<const char*>* patterns;
  std::vector<CatalogEntry>* entries;
  bool failed = false;
};

bool CollectEntry(uint32_t position, uint32_t total, const EntryView* view, void* user) {
  auto* collect = static_cast<Collect*>(user);
  if (!AnyGlobMatches(*collect->patterns, view->name)) return true;
  try {
    if (position == 1) collect->entries->reserve(total);
    collect->entries->push_back(CatalogEntry{view->name, {}});
  } catch (...) {
    collect->failed = true;
    return false;
  }
  if (!GrfGetEntryInfo(collect->archive, view->name, &collect->entries->back().info)) {
    collect->failed = true;
    return false;
  }
  return true;
}

}  // namespace

bool OpenCatalog(const char* path, const std::vector<const char*>& patterns, Catalog* catalog,
                 std::string* error) {
  uint32_t status = GRF_S_OK;
  if (!GrfOpen(path, GRF_OPEN_READ_ONLY, &status, &catalog->archive)) {
    catalog->archive = nullptr;
    if (status == GRF_E_OPEN_FAILED)
      *error = "Cannot open the file.";
    else if (status == GRF_E_OUT_OF_MEMORY)
      *error = "Out of memory while reading the archive's table.";
    else
      *error = "Not a GRF archive, or its table is damaged.";
    return false;
  }
  Collect collect{catalog->archive, &patterns, &catalog->entries};
  if (!GrfForEachEntry(catalog->archive, &CollectEntry, &collect) || collect.failed) {
    *error = "Out of memory while reading the archive's entries.";
    return false;
  }
  return true;
}

const char* RecordProblem(const GrfBlockInfo& info) {
  if (info.realSize == 0) return nullptr;
  if (!info.inFile) return "block outside the file";
  if (!info.decodable) return "impossible sizes";
  return nullptr;
}

const char* StorageName(const GrfBlockInfo& info) {
  if (info.lzss) return "lzss";
  return (info.flags & ENTRY_COMPRESSED) ? "zlib" : "stored";
}

const char* CipherName(const GrfBlockInfo& info) {
  if (info.flags & ENTRY_CIPHER_MIXED) return "mixed";
  if (info.flags & ENTRY_CIPHER_HEADER) return "header";
  return nullptr;
}
