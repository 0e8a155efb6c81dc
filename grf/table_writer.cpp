// File table writing: the record sequence of the index in offset order,
// compressed behind its prefix, then the header that points to it.

#include <algorithm>
#include <cstring>

#include "grf/archive.h"
#include "grf/entry_index.h"
#include "grf/format.h"
#include "grf/free_space_map.h"
#include "grf/stream.h"
#include "grf/transfer.h"
#include "support/pool.h"

namespace {

// Where a table went and what it holds.
struct WrittenTable {
  uint64_t position;          // absolute position of the prefix
  uint32_t compressedLength;  // without the prefix
  uint32_t entryCount;
  uint64_t usedEnd;           // one past the last byte the table or any entry uses
};

constexpr uint64_t kMax32 = 0xFFFFFFFFull;

uint32_t RecordTail(bool wide) { return wide ? grf::kRecord300Tail : grf::kRecord200Tail; }

// The record sequence of the index, compressed.
struct PackedRecords {
  PoolBuffer bytes;  // empty for an empty index
  uint32_t length = 0;
  uint32_t plainLength = 0;
  uint64_t usedEnd = 0;  // one past the last byte an entry uses
};

// The index's entries in ascending offset order, in a new pool array.
bool CollectSorted(GrfArchive* archive, uint32_t count, PoolBuffer* sorted) {
  const uint64_t arrayBytes = static_cast<uint64_t>(count) * sizeof(GrfEntry*);
  if (arrayBytes > pool::kMaxBlock || !sorted->Allocate(static_cast<size_t>(arrayBytes)))
    return Fail(archive, GRF_E_OUT_OF_MEMORY);
  IndexCollectByOffset(archive->entries, sorted->As<GrfEntry*>(), count);
  return true;
}

// Length of the record sequence, which the prefix keeps in 32 bits.
bool MeasureRecords(GrfArchive* archive, GrfEntry* const* entries, uint32_t count, bool wide,
                    PackedRecords* records) {
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) {
    total += std::strlen(entries[i]->name) + 1 + RecordTail(wide);
    records->usedEnd = std::max(records->usedEnd, entries[i]->offset + entries[i]->alignedSize);
  }
  if (total > kMax32) return Fail(archive, GRF_E_LIMIT);
  records->plainLength = static_cast<uint32_t>(total);
  return true;
}

void SerializeRecords(GrfEntry* const* entries, uint32_t count, bool wide, unsigned char* p) {
  for (uint32_t i = 0; i < count; ++i) {
    const GrfEntry* e = entries[i];
    const size_t nameBytes = std::strlen(e->name) + 1;
    std::memcpy(p, e->name, nameBytes);
    p += nameBytes;
    grf::StoreU32(p, e->compressedSize);
    grf::StoreU32(p + 4, e->alignedSize);
    grf::StoreU32(p + 8, e->realSize);
    p[12] = e->flags;
    // Blockless entries (offset 0) wrap to 0 - 46, as readers expect.
    if (wide) {
      grf::StoreU64(p + 13, e->offset - grf::kHeaderSize);
    } else {
      grf::StoreU32(p + 13, static_cast<uint32_t>(e->offset - grf::kHeaderSize));
    }
    p += RecordTail(wide);
  }
}

// A 32-bit layout cannot point at an entry beyond 4 GiB (GRF_E_LIMIT), which
// makes the caller move to the wide layout.
bool PackRecords(GrfArchive* archive, bool wide, PackedRecords* records) {
  const uint32_t count = IndexCount(archive->entries);
  if (count == 0) return true;
  PoolBuffer sorted;
  if (!CollectSorted(archive, count, &sorted)) return false;
  GrfEntry* const* entries = sorted.As<GrfEntry*>();
  if (!wide && entries[count - 1]->offset > kMax32) return Fail(archive, GRF_E_LIMIT);
  if (!MeasureRecords(archive, entries, count, wide, records)) return false;

  PoolBuffer plain;
  if (records->plainLength > pool::kMaxBlock || !plain.Allocate(records->plainLength))
    return Fail(archive, GRF_E_OUT_OF_MEMORY);
  SerializeRecords(entries, count, wide, plain.bytes());
  records->bytes.Adopt(
      CompressWithHook(archive, plain.bytes(), records->plainLength, &records->length));
  return static_cast<bool>(records->bytes);
}

// Writes the prefix and the packed records where the space allocator puts them.
bool StoreTable(GrfArchive* archive, bool wide, const PackedRecords& records,
                uint64_t* position, uint64_t* storedLength) {
  unsigned char prefix[grf::kPrefix300Size] = {};
  const uint32_t prefixSize = wide ? grf::kPrefix300Size : grf::kPrefix200Size;
  const uint32_t lengthsAt = wide ? 4 : 0;
  grf::StoreU32(prefix + lengthsAt, records.length);
  grf::StoreU32(prefix + lengthsAt + 4, records.plainLength);

  *storedLength = static_cast<uint64_t>(prefixSize) + records.length;
  bool appended = true;
  if (!AllocateSpace(archive, *storedLength, position, &appended)) return false;
  const uint32_t failure = appended ? GRF_E_IO_GROW : GRF_E_IO;
  if (!StreamWriteAtExact(archive->stream, *position, prefix, prefixSize))
    return Fail(archive, failure);
  if (records.length > 0 &&
      !StreamWriteExact(archive->stream, records.bytes.bytes(), records.length))
    return Fail(archive, failure);
  if (!MarkSpaceUsed(archive, *position, *storedLength)) return Fail(archive, GRF_E_OUT_OF_MEMORY);
  return true;
}

// Collects and sorts, serializes, compresses, places and writes the table.
bool BuildTable(GrfArchive* archive, bool wide, WrittenTable* table) {
  PackedRecords records;
  uint64_t position = 0;
  uint64_t storedLength = 0;
  if (!PackRecords(archive, wide, &records) ||
      !StoreTable(archive, wide, records, &position, &storedLength))
    return false;
  table->position = position;
  table->compressedLength = records.length;
  table->entryCount = IndexCount(archive->entries);
  table->usedEnd = std::max(records.usedEnd, position + storedLength);
  return true;
}

// Bytes 30-45 of the existing header kind, or a whole wide header when a
// classic one cannot hold the position. Refreshes fileSize and the table fields.
bool WriteHeader(GrfArchive* archive, const WrittenTable& table, uint32_t version) {
  int32_t kind = archive->headerKind;
  bool whole = false;
  if (kind == HEADER_CLASSIC && table.position > kMax32) {
    if (archive->flags & GRF_OPEN_KEEP_VERSION) return Fail(archive, GRF_E_LIMIT);
    kind = HEADER_WIDE;
    whole = true;
  }
  if (kind != HEADER_CLASSIC && kind != HEADER_WIDE) return Fail(archive, GRF_E_UNSUPPORTED);

  unsigned char header[grf::kHeaderSize] = {};
  const uint64_t stored = table.position - grf::kHeaderSize;
  uint32_t seed = 0;
  if (kind == HEADER_CLASSIC) {
    seed = HeaderSeed(archive, static_cast<uint32_t>(stored));
  } else {
    std::memcpy(header, grf::kWideSignature, sizeof(grf::kWideSignature));
    std::memcpy(header + sizeof(grf::kWideSignature), grf::kWideSignatureTail,
                sizeof(grf::kWideSignatureTail));
  }
  grf::StoreHeaderFields(header, kind == HEADER_WIDE, grf::HeaderFields{stored, table.entryCount, version},
                         seed);

  // The bytes this write replaces are kept: a failed or short write puts
  // them back, so that the header still points at the previous table.
  // The data and the table reach the disk before the header that points at
  // them, and the header itself before the finalize counts as done, unless
  // the caller makes the file durable itself.
  const uint32_t at = whole ? 0 : grf::kHeaderTableOffset;
  const uint32_t span = grf::kHeaderSize - at;
  unsigned char previous[grf::kHeaderSize];
  const bool flush = !(archive->flags & GRF_OPEN_CALLER_FLUSHES);
  if (flush && !StreamFlush(archive->stream)) return Fail(archive, GRF_E_IO);
  if (!StreamReadAtExact(archive->stream, at, previous, span)) return Fail(archive, GRF_E_IO);
  if (!StreamWriteAtExact(archive->stream, at, header + at, span) ||
      (flush && !StreamFlush(archive->stream))) {
    StreamWriteAtExact(archive->stream, at, previous, span);
    return Fail(archive, GRF_E_IO);
  }
  if (whole) archive->headerKind = HEADER_WIDE;

  uint64_t size = 0;
  if (StreamGetSize(archive->stream, &size)) {
    archive->fileSize = size;
  } else {
    // The header already points at the new table: a later discard must not
    // cut into anything it refers to.
    archive->fileSize = std::max(archive->fileSize, table.usedEnd);
  }
  archive->version = version;
  archive->tablePosition = table.position;
  archive->tableSize = table.compressedLength;
  return true;
}

bool WriteLayout(GrfArchive* archive, uint32_t version) {
  WrittenTable table{};
  return BuildTable(archive, version == grf::kVersion300, &table) &&
         WriteHeader(archive, table, version);
}

// Rebuilds the map from the table just written; a free range at the end of
// the file is cut off. Failures here leave the finalize successful.
void RefreshFreeSpace(GrfArchive* archive) {
  if (!BuildFreeSpaceMap(archive)) {
    archive->lastStatus = GRF_S_OK;
    return;
  }
  FreeSpaceMap* map = archive->freeSpace;
  if (map->count == 0) return;
  const FreeRange last = map->ranges[map->count - 1];
  if (last.end != archive->fileSize) return;
  if (!StreamSetSize(archive->stream, last.start)) return;
  // The file ends with its last used byte now; a later discard must not cut
  // below it, and the cut range is no longer part of the file.
  archive->fileSize = last.start;
  FreeSpaceRemove(map, last.start, last.end - last.start);
}

// Writes the table in the archive's layout (0x1xx as 0x200; 0x200 moves to
// 0x300 when an entry lies at or beyond 4 GiB) and rewrites the header.
bool WriteTable(GrfArchive* archive) {
  switch (VersionFamily(archive)) {
    case grf::kFamily1xx:
      if (archive->flags & GRF_OPEN_KEEP_VERSION) return Fail(archive, GRF_E_UNSUPPORTED);
      [[fallthrough]];
    case grf::kFamily200:
      if (WriteLayout(archive, grf::kVersion200)) return true;
      if (archive->lastStatus != GRF_E_LIMIT || (archive->flags & GRF_OPEN_KEEP_VERSION))
        return false;
      return WriteLayout(archive, grf::kVersion300);
    case grf::kFamily300:
      return WriteLayout(archive, grf::kVersion300);
    default:
      return Fail(archive, GRF_E_UNSUPPORTED);
  }
}

}  // namespace

bool GrfFinalize(GrfArchive* archive) {
  archive->lastStatus = GRF_S_OK;
  if (!IsDirty(archive)) {
    SetStatus(archive, GRF_S_UNCHANGED);
    return true;
  }
  if (archive->flags & GRF_STATE_ENUMERATING) return Fail(archive, GRF_E_READ_ONLY);
  if (!WriteTable(archive)) return false;
  archive->flags &= ~GRF_STATE_DIRTY;
  if (archive->freeSpace) RefreshFreeSpace(archive);
  return true;
}
