// The entry index: chained hash table over ASCII-folded names with a last-hit
// cache, and the snapshot enumeration of an archive's entries.

#include "grf/entry_index.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "grf/archive.h"
#include "support/pool.h"
#include "support/text.h"

namespace {

constexpr uint32_t kEntryBuckets = 65536;

// An entry with its place in the index, in one allocation that goes on with
// the name as stored and then its folded key.
struct IndexNode {
  IndexNode* next;
  IndexNode* prev;
  const char* key;   // the folded name
  uint32_t keyHash;  // FNV-1a of the key, compared before the key itself
  GrfEntry entry;
};

IndexNode* NodeOf(GrfEntry* entry) {
  return reinterpret_cast<IndexNode*>(reinterpret_cast<char*>(entry) -
                                      offsetof(IndexNode, entry));
}

void FoldAscii(char* destination, const char* source, size_t length) {
  for (size_t i = 0; i < length; ++i)
    destination[i] = static_cast<char>(AsciiLower(static_cast<unsigned char>(source[i])));
  destination[length] = '\0';
}

// Folded keys of names shorter than this are built on the stack.
constexpr size_t kStackKey = 256;

// FNV-1a over the bytes of a key (without the terminator).
uint32_t FnvHash(const char* key) {
  uint32_t h = 0x811C9DC5u;
  for (const auto* p = reinterpret_cast<const unsigned char*>(key); *p; ++p) {
    h ^= *p;
    h *= 16777619u;
  }
  return h;
}

// A key's hash folded to 16 bits by h ^ (h >> 16), masked to the buckets.
uint32_t FnvBucket(uint32_t keyHash, uint32_t bucketCount) {
  return (keyHash ^ (keyHash >> 16)) & (bucketCount - 1);
}

}  // namespace

struct EntryIndex {
  IndexNode** heads;
  IndexNode** tails;
  uint32_t count;
  uint32_t bucketCount;
  IndexNode* lastHit;
};

GrfEntry* NewEntry(const char* name, const EntryRecord& record) {
  const size_t length = std::strlen(name);
  auto* node = static_cast<IndexNode*>(PoolAlloc(sizeof(IndexNode) + 2 * (length + 1)));
  if (!node) return nullptr;
  char* stored = reinterpret_cast<char*>(node + 1);
  std::memcpy(stored, name, length + 1);
  char* key = stored + length + 1;
  FoldAscii(key, name, length);
  node->key = key;  // next and prev are set when the index takes the node in
  node->keyHash = FnvHash(key);
  GrfEntry* entry = &node->entry;
  entry->name = stored;
  entry->compressedSize = record.compressedSize;
  entry->alignedSize = record.alignedSize;
  entry->realSize = record.realSize;
  entry->offset = record.offset;
  entry->flags = record.flags;
  return entry;
}

namespace {

void ReleaseEntry(GrfEntry* entry) {
  if (entry) PoolFree(NodeOf(entry));
}

// bucketCount must be a power of two. Null when out of memory.
EntryIndex* IndexCreate(uint32_t bucketCount) {
  if (bucketCount == 0 || (bucketCount & (bucketCount - 1)) != 0) return nullptr;
  const size_t arrayBytes = sizeof(IndexNode*) * static_cast<size_t>(bucketCount);
  auto* block = static_cast<unsigned char*>(PoolAllocZeroed(sizeof(EntryIndex) + 2 * arrayBytes));
  if (!block) return nullptr;
  auto* table = reinterpret_cast<EntryIndex*>(block);
  table->heads = reinterpret_cast<IndexNode**>(block + sizeof(EntryIndex));
  table->tails = reinterpret_cast<IndexNode**>(block + sizeof(EntryIndex) + arrayBytes);
  table->bucketCount = bucketCount;
  return table;
}

IndexNode* LookupFolded(EntryIndex* table, const char* folded, uint32_t keyHash,
                        uint32_t bucket) {
  if (table->lastHit && table->lastHit->keyHash == keyHash &&
      std::strcmp(table->lastHit->key, folded) == 0)
    return table->lastHit;
  for (IndexNode* node = table->heads[bucket]; node; node = node->next) {
    if (node->keyHash == keyHash && std::strcmp(node->key, folded) == 0) {
      table->lastHit = node;
      return node;
    }
  }
  return nullptr;
}

// Looks a name up through a temporary folded copy.
IndexNode* Lookup(EntryIndex* table, const char* name, bool* outOfMemory) {
  if (outOfMemory) *outOfMemory = false;
  const size_t length = std::strlen(name);
  char stackKey[kStackKey];
  char* folded = stackKey;
  if (length >= kStackKey) {
    folded = static_cast<char*>(PoolAlloc(length + 1));
    if (!folded) {
      if (outOfMemory) *outOfMemory = true;
      return nullptr;
    }
  }
  FoldAscii(folded, name, length);
  const uint32_t keyHash = FnvHash(folded);
  const uint32_t bucket = FnvBucket(keyHash, table->bucketCount);
  IndexNode* node = LookupFolded(table, folded, keyHash, bucket);
  if (folded != stackKey) PoolFree(folded);
  return node;
}

void Unlink(EntryIndex* table, IndexNode* node, uint32_t bucket) {
  if (node->prev) node->prev->next = node->next;
  else table->heads[bucket] = node->next;
  if (node->next) node->next->prev = node->prev;
  else table->tails[bucket] = node->prev;
  if (table->lastHit == node) table->lastHit = nullptr;
  --table->count;
}

// Takes the entry in; an entry of the same folded name is released.
void IndexInsert(EntryIndex* table, GrfEntry* entry) {
  IndexNode* node = NodeOf(entry);
  const uint32_t bucket = FnvBucket(node->keyHash, table->bucketCount);
  if (IndexNode* old = LookupFolded(table, node->key, node->keyHash, bucket)) {
    if (old == node) return;
    Unlink(table, old, bucket);
    ReleaseEntry(&old->entry);
  }
  node->next = nullptr;
  node->prev = table->tails[bucket];
  if (node->prev) node->prev->next = node;
  else table->heads[bucket] = node;
  table->tails[bucket] = node;
  ++table->count;
}

}  // namespace

GrfEntry* IndexFind(EntryIndex* table, const char* name, bool* outOfMemory) {
  IndexNode* node = Lookup(table, name, outOfMemory);
  return node ? &node->entry : nullptr;
}

uint32_t IndexCount(const EntryIndex* table) { return table ? table->count : 0; }

namespace {

uint32_t IndexCollect(const EntryIndex* table, GrfEntry** array, uint32_t length) {
  uint32_t n = 0;
  for (uint32_t b = 0; b < table->bucketCount && n < length; ++b) {
    for (IndexNode* node = table->heads[b]; node && n < length; node = node->next)
      array[n++] = &node->entry;
  }
  return n;
}

// Releases every entry. Null is fine.
void IndexDestroy(EntryIndex* table) {
  if (!table) return;
  for (uint32_t b = 0; b < table->bucketCount; ++b) {
    IndexNode* node = table->heads[b];
    while (node) {
      IndexNode* next = node->next;
      PoolFree(node);
      node = next;
    }
  }
  PoolFree(table);
}

bool EntryOffsetLess(const GrfEntry* a, const GrfEntry* b) { return a->offset < b->offset; }

}  // namespace

uint32_t IndexCollectByOffset(const EntryIndex* table, GrfEntry** array, uint32_t length) {
  const uint32_t n = IndexCollect(table, array, length);
  // The offsets are sorted beside their entries, which spares two cache
  // misses per comparison. The comparisons are the same, so is the order,
  // ties included.
  struct Keyed {
    uint64_t offset;
    GrfEntry* entry;
  };
  std::unique_ptr<Keyed[]> keyed(n > 1 ? new (std::nothrow) Keyed[n] : nullptr);
  if (!keyed) {
    std::sort(array, array + n, EntryOffsetLess);
    return n;
  }
  for (uint32_t i = 0; i < n; ++i) keyed[i] = Keyed{array[i]->offset, array[i]};
  std::sort(keyed.get(), keyed.get() + n,
            [](const Keyed& a, const Keyed& b) { return a.offset < b.offset; });
  for (uint32_t i = 0; i < n; ++i) array[i] = keyed[i].entry;
  return n;
}

bool CreateArchiveIndex(GrfArchive* archive) {
  DestroyArchiveIndex(archive);
  archive->entries = IndexCreate(kEntryBuckets);
  return archive->entries != nullptr;
}

void DestroyArchiveIndex(GrfArchive* archive) {
  IndexDestroy(archive->entries);
  archive->entries = nullptr;
}

GrfEntry* FindEntry(GrfArchive* archive, const char* name) {
  if (!archive->entries) return nullptr;
  bool outOfMemory = false;
  GrfEntry* entry = IndexFind(archive->entries, name, &outOfMemory);
  if (outOfMemory) SetStatus(archive, GRF_E_OUT_OF_MEMORY);
  return entry;
}

bool InsertEntry(GrfArchive* archive, GrfEntry* entry) {
  archive->maxRealSize = std::max(archive->maxRealSize, entry->realSize);
  if (!archive->entries) {
    ReleaseEntry(entry);
    return false;
  }
  IndexInsert(archive->entries, entry);
  return true;
}

bool EnumerateEntries(GrfArchive* archive, EnumerateCallback callback, void* user,
                      uint32_t mode) {
  const uint32_t count = IndexCount(archive->entries);
  if (count == 0) return true;
  auto* array = static_cast<GrfEntry**>(PoolAlloc(sizeof(GrfEntry*) * static_cast<size_t>(count)));
  if (!array) return Fail(archive, GRF_E_OUT_OF_MEMORY);
  if (mode & enumerate::kByOffset)
    IndexCollectByOffset(archive->entries, array, count);
  else
    IndexCollect(archive->entries, array, count);

  if (archive->enumerationDepth++ == 0) archive->flags |= GRF_STATE_ENUMERATING;
  bool stopped = false;
  for (uint32_t i = 0; i < count; ++i) {
    // A lookup of the visited entry by its name, which callers make, is a hit.
    archive->entries->lastHit = NodeOf(array[i]);
    if (!callback(i + 1, count, array[i], user)) {
      stopped = true;
      break;
    }
  }
  bool result = true;
  if (stopped && (mode & enumerate::kStopIsFailure)) result = Fail(archive, GRF_E_ABORTED);
  if (--archive->enumerationDepth == 0) archive->flags &= ~GRF_STATE_ENUMERATING;
  PoolFree(array);
  return result;
}

namespace {

struct ViewAdapter {
  GrfEntryCallback callback;
  void* user;
};

bool CallWithView(uint32_t position, uint32_t total, GrfEntry* entry, void* user) {
  const auto* adapter = static_cast<const ViewAdapter*>(user);
  const EntryView view{entry->realSize, entry->alignedSize, entry->name, 0};
  return adapter->callback(position, total, &view, adapter->user);
}

}  // namespace

bool GrfForEachEntry(GrfArchive* archive, GrfEntryCallback callback, void* user) {
  archive->lastStatus = GRF_S_OK;
  ViewAdapter adapter{callback, user};
  return EnumerateEntries(archive, CallWithView, &adapter, enumerate::kMode);
}
