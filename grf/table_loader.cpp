// Header detection and file table loading: one read of the table, one pass
// over it, one allocation per entry.

#include "grf/table_loader.h"

#include <cstring>

#include "grf/archive.h"
#include "grf/cipher.h"
#include "grf/codec.h"
#include "grf/entry_index.h"
#include "grf/format.h"
#include "grf/free_space_map.h"
#include "grf/stream.h"
#include "support/pool.h"
#include "support/text.h"

namespace {


bool ParseRecords12(GrfArchive* archive, unsigned char* table, uint32_t length);
bool ParseRecords1xx(GrfArchive* archive, unsigned char* table, uint32_t length);
bool ParseRecords200(GrfArchive* archive, const unsigned char* table, uint32_t length);
bool ParseRecords300(GrfArchive* archive, const unsigned char* table, uint32_t length);

// ---- header readers ----

bool ReadHeaderBytes(GrfArchive* archive, unsigned char* header) {
  if (!StreamReadAtExact(archive->stream, 0, header, grf::kHeaderSize))
    return FailDetail(archive, GRF_E_UNSUPPORTED, GRF_DETAIL_HEADER_UNREADABLE);
  return true;
}

bool CheckTablePosition(GrfArchive* archive) {
  if (archive->tablePosition >= archive->fileSize)
    return FailDetail(archive, GRF_E_BAD_DATA, GRF_DETAIL_TABLE_PAST_END);
  return true;
}

bool ReadWideHeader(GrfArchive* archive) {
  unsigned char header[grf::kHeaderSize];
  if (!ReadHeaderBytes(archive, header)) return false;
  if (std::memcmp(header, grf::kWideSignature, sizeof(grf::kWideSignature)) != 0)
    return FailDetail(archive, GRF_E_UNSUPPORTED, GRF_DETAIL_SIGNATURE);
  const grf::HeaderFields fields = grf::LoadHeaderFields(header, true);
  archive->tablePosition = fields.storedTablePosition + grf::kHeaderSize;
  archive->entryCount = fields.entryCount;
  archive->version = fields.version;
  if (!CheckTablePosition(archive)) return false;
  archive->headerKind = HEADER_WIDE;
  return true;
}

bool ReadClassicHeader(GrfArchive* archive) {
  unsigned char header[grf::kHeaderSize];
  if (!ReadHeaderBytes(archive, header)) return false;
  if (std::memcmp(header, grf::kClassicSignature, sizeof(grf::kClassicSignature)) != 0)
    return FailDetail(archive, GRF_E_UNSUPPORTED, GRF_DETAIL_SIGNATURE);
  const grf::HeaderFields fields = grf::LoadHeaderFields(header, false);
  archive->tablePosition = static_cast<uint32_t>(fields.storedTablePosition + grf::kHeaderSize);
  archive->entryCount = fields.entryCount;
  archive->version = fields.version;
  if (!CheckTablePosition(archive)) return false;
  archive->headerKind = HEADER_CLASSIC;
  return true;
}

bool ReadTrailer(GrfArchive* archive) {
  if (archive->fileSize < grf::kTrailerSize)
    return FailDetail(archive, GRF_E_UNSUPPORTED, GRF_DETAIL_HEADER_UNREADABLE);
  unsigned char trailer[grf::kTrailerSize];
  const uint64_t trailerPosition = archive->fileSize - grf::kTrailerSize;
  if (!StreamReadAtExact(archive->stream, trailerPosition, trailer, sizeof(trailer)))
    return FailDetail(archive, GRF_E_UNSUPPORTED, GRF_DETAIL_HEADER_UNREADABLE);
  if (trailer[8] != grf::kTrailerMarker)
    return FailDetail(archive, GRF_E_UNSUPPORTED, GRF_DETAIL_SIGNATURE);
  const uint64_t position = grf::LoadU32(trailer);
  if (position > trailerPosition || trailerPosition - position > 0xFFFFFFFFull)
    return FailDetail(archive, GRF_E_UNSUPPORTED, GRF_DETAIL_TRAILER_TABLE);
  archive->tablePosition = position;
  archive->tableSize = static_cast<uint32_t>(trailerPosition - position);
  const uint32_t count = grf::LoadU32(trailer + 4);
  archive->entryCount = (count >> 16) | (count << 16);
  archive->version = grf::kVersion12;
  archive->flags |= GRF_OPEN_READ_ONLY;
  archive->headerKind = HEADER_TAIL;
  return true;
}

// ---- table helpers ----

bool AllocTable(GrfArchive* archive, PoolBuffer* table, uint32_t length) {
  if (!table->Allocate(length)) return FailDetail(archive, GRF_E_OUT_OF_MEMORY, GRF_DETAIL_TABLE_ALLOC);
  return true;
}

bool CreateIndexFor(GrfArchive* archive) {
  if (!CreateArchiveIndex(archive))
    return FailDetail(archive, GRF_E_OUT_OF_MEMORY, GRF_DETAIL_INDEX_CREATE);
  return true;
}

// Ends a parse: a failed one drops the index.
bool FinishParse(GrfArchive* archive, bool ok) {
  if (!ok) {
    DestroyArchiveIndex(archive);
    return false;
  }
  return true;
}

void NotifyRecord(GrfArchive* archive, uint32_t index) {
  uint32_t data[2] = {index, archive->entryCount};
  NotifyEvent(archive, grf::kEventRecord, data);
}

bool IsPlaceholder(const EntryRecord& record) {
  return record.compressedSize == grf::kPlaceholderCompressed &&
         record.alignedSize == grf::kPlaceholderAligned &&
         record.realSize == grf::kPlaceholderReal && record.offset == grf::kPlaceholderOffset;
}

bool ParseRaw12(GrfArchive* archive) {
  if (archive->version != grf::kVersion12)
    return FailDetail(archive, GRF_E_UNSUPPORTED, GRF_DETAIL_VERSION_NOT_12);
  if (!CreateIndexFor(archive)) return false;
  // Only a trailer gives a 0x12 table its size; behind a 46-byte header it is empty.
  const uint32_t length = archive->headerKind == HEADER_TAIL ? archive->tableSize : 0;
  if (length == 0) {
    if (archive->entryCount == 0) return true;
    return FinishParse(archive, FailDetail(archive, GRF_E_BAD_DATA, GRF_DETAIL_EMPTY_12_TABLE));
  }
  PoolBuffer table;
  if (!AllocTable(archive, &table, length)) return FinishParse(archive, false);
  if (!StreamReadAtExact(archive->stream, archive->tablePosition, table.bytes(), length))
    return FinishParse(archive, FailDetail(archive, GRF_E_IO, GRF_DETAIL_TABLE_12_UNREADABLE));
  return FinishParse(archive, ParseRecords12(archive, table.bytes(), length));
}

bool ParseRaw1xx(GrfArchive* archive) {
  if (archive->version > grf::kVersion103)
    return FailDetail(archive, GRF_E_UNSUPPORTED, GRF_DETAIL_VERSION_ABOVE_103);
  if (!CreateIndexFor(archive)) return false;
  const uint64_t size = archive->fileSize > archive->tablePosition
                            ? archive->fileSize - archive->tablePosition
                            : 0;
  if (size > 0xFFFFFFFFull)
    return FinishParse(archive, FailDetail(archive, GRF_E_UNSUPPORTED, GRF_DETAIL_TABLE_1XX_TOO_LARGE));
  // Not empty: the header's table position is before the end of the file.
  const auto length = static_cast<uint32_t>(size);
  archive->tableSize = length;
  PoolBuffer table;
  if (!AllocTable(archive, &table, length)) return FinishParse(archive, false);
  if (!StreamReadAtExact(archive->stream, archive->tablePosition, table.bytes(), length))
    return FinishParse(archive, FailDetail(archive, GRF_E_IO, GRF_DETAIL_TABLE_1XX_UNREADABLE));
  return FinishParse(archive, ParseRecords1xx(archive, table.bytes(), length));
}

struct CompressedLayout {
  uint32_t maxVersion;
  uint32_t versionDetail;
  uint32_t prefixSize;
  uint32_t lengthsAt;      // position of the compressed length in the prefix
  uint32_t unreadableDetail;
  bool (*parse)(GrfArchive*, const unsigned char*, uint32_t);
};

constexpr CompressedLayout kLayout200 = {grf::kVersion200, GRF_DETAIL_VERSION_ABOVE_200,
                                         grf::kPrefix200Size, 0, GRF_DETAIL_TABLE_200_UNREADABLE,
                                         ParseRecords200};
constexpr CompressedLayout kLayout300 = {grf::kVersion300, GRF_DETAIL_VERSION_ABOVE_300,
                                         grf::kPrefix300Size, 4, GRF_DETAIL_TABLE_300_UNREADABLE,
                                         ParseRecords300};

bool ParseCompressed(GrfArchive* archive, const CompressedLayout& layout) {
  if (archive->version > layout.maxVersion)
    return FailDetail(archive, GRF_E_UNSUPPORTED, layout.versionDetail);
  unsigned char prefix[grf::kPrefix300Size];
  if (!StreamReadAtExact(archive->stream, archive->tablePosition, prefix, layout.prefixSize))
    return FailDetail(archive, GRF_E_IO, GRF_DETAIL_PREFIX_UNREADABLE);
  if (!CreateIndexFor(archive)) return false;
  const uint32_t compressedLength = grf::LoadU32(prefix + layout.lengthsAt);
  const uint32_t uncompressedLength = grf::LoadU32(prefix + layout.lengthsAt + 4);
  archive->tableSize = compressedLength;
  if (compressedLength == 0) {
    if (archive->entryCount == 0) return true;
    return FinishParse(archive, FailDetail(archive, GRF_E_BAD_DATA, GRF_DETAIL_EMPTY_200_TABLE));
  }
  PoolBuffer table;
  {
    PoolBuffer compressed;
    if (!AllocTable(archive, &compressed, compressedLength)) return FinishParse(archive, false);
    // The stream stands right behind the prefix.
    if (!StreamReadExact(archive->stream, compressed.bytes(), compressedLength))
      return FinishParse(archive, FailDetail(archive, GRF_E_IO, layout.unreadableDetail));
    table.Adopt(InflateTable(archive, compressed.bytes(), compressedLength, uncompressedLength));
  }
  if (!table) return FinishParse(archive, false);
  return FinishParse(archive, layout.parse(archive, table.bytes(), uncompressedLength));
}

bool NameHasNul(const unsigned char* field, uint32_t length) {
  return std::memchr(field, 0, length) != nullptr;
}

bool ParseTable(GrfArchive* archive) {
  switch (archive->version & grf::kFamilyMask) {
    case grf::kFamily12:
      return ParseRaw12(archive);
    case grf::kFamily1xx:
      return ParseRaw1xx(archive);
    case grf::kFamily200:
      return ParseCompressed(archive, kLayout200);
    case grf::kFamily300:
      return ParseCompressed(archive, kLayout300);
    default:
      return FailDetail(archive, GRF_E_UNSUPPORTED, GRF_DETAIL_UNKNOWN_FAMILY);
  }
}

bool AddEntry(GrfArchive* archive, const char* name, const EntryRecord& record) {
  GrfEntry* entry = NewEntry(name, record);
  if (!entry) return FailDetail(archive, GRF_E_OUT_OF_MEMORY, GRF_DETAIL_ENTRY_ALLOC);
  if (!InsertEntry(archive, entry))
    return FailDetail(archive, GRF_E_OUT_OF_MEMORY, GRF_DETAIL_ENTRY_INSERT);
  return true;
}

// ---- names ----

bool DecodeName12(GrfArchive* archive, char** name, uint32_t fieldLength) {
  auto* field = reinterpret_cast<unsigned char*>(*name);
  SwapNibbles(field, fieldLength);
  if (!NameHasNul(field, fieldLength))
    return FailDetail(archive, GRF_E_BAD_DATA, GRF_DETAIL_NAME_12_NO_NUL);
  if (archive->flags & GRF_OPEN_BACKSLASH_NAMES) ReplaceChar(*name, '/', '\\');
  return true;
}

bool DecodeName1xx(GrfArchive* archive, char** name, uint32_t fieldLength) {
  auto* field = reinterpret_cast<unsigned char*>(*name);
  if (archive->version == grf::kVersion100) {
    const void* nul = std::memchr(field, 0, fieldLength);
    if (!nul) return FailDetail(archive, GRF_E_BAD_DATA, GRF_DETAIL_NAME_1XX_NO_NUL);
    SwapNibbles(field, static_cast<size_t>(static_cast<const unsigned char*>(nul) - field));
    return true;
  }
  if (fieldLength < grf::kName1xxOverhead)
    return FailDetail(archive, GRF_E_BAD_DATA, GRF_DETAIL_NAME_1XX_TOO_SHORT);
  const uint32_t n = fieldLength - grf::kName1xxOverhead;
  if (n % 8 != 0) return FailDetail(archive, GRF_E_BAD_DATA, GRF_DETAIL_NAME_1XX_NOT_BLOCKS);
  unsigned char* encoded = field + 2;
  SwapNibbles(encoded, n);
  GrfDesTransform(encoded, n);
  if (!NameHasNul(encoded, n)) return FailDetail(archive, GRF_E_BAD_DATA, GRF_DETAIL_NAME_1XX_NO_NUL);
  *name = reinterpret_cast<char*>(encoded);
  return true;
}

// ---- record parsers ----

bool ParseRecords12(GrfArchive* archive, unsigned char* table, uint32_t length) {
  uint32_t p = 0;
  for (uint32_t i = 0; i < archive->entryCount; ++i) {
    const uint32_t left = length - p;
    if (left < grf::kRecord12Fixed) return FailDetail(archive, GRF_E_BAD_DATA, GRF_DETAIL_RECORD_12_SHORT);
    const uint32_t nameLength = table[p];
    if (left - grf::kRecord12Fixed < nameLength + 1)
      return FailDetail(archive, GRF_E_BAD_DATA, GRF_DETAIL_RECORD_12_NAME_PAST_END);
    char* name = reinterpret_cast<char*>(table + p + grf::kRecord12Fixed);
    if (!DecodeName12(archive, &name, nameLength + 1)) return false;
    const uint8_t type = table[p + 1];
    if (type != grf::kType12Skip) {
      EntryRecord record{};
      record.compressedSize = grf::LoadU32(table + p + 6);
      record.alignedSize = record.compressedSize;
      record.realSize = grf::LoadU32(table + p + 10);
      record.offset = grf::LoadU32(table + p + 2);
      record.flags = type == grf::kType12Compressed ? ENTRY_COMPRESSED : 0;
      if (!AddEntry(archive, name, record)) return false;
      NotifyRecord(archive, i);
    }
    p += grf::kRecord12Fixed + 1 + nameLength;
  }
  NotifyRecord(archive, archive->entryCount);
  return true;
}

bool ParseRecords1xx(GrfArchive* archive, unsigned char* table, uint32_t length) {
  uint32_t p = 0;
  for (uint32_t i = 0; i < archive->entryCount; ++i) {
    if (length - p < 4) return FailDetail(archive, GRF_E_BAD_DATA, GRF_DETAIL_RECORD_1XX_NO_LENGTH);
    const uint32_t fieldLength = grf::LoadU32(table + p);
    p += 4;
    if (length - p < fieldLength)
      return FailDetail(archive, GRF_E_BAD_DATA, GRF_DETAIL_RECORD_1XX_NAME_PAST_END);
    char* name = reinterpret_cast<char*>(table + p);
    if (!DecodeName1xx(archive, &name, fieldLength)) return false;
    p += fieldLength;
    if (length - p < grf::kRecord1xxTail)
      return FailDetail(archive, GRF_E_BAD_DATA, GRF_DETAIL_RECORD_1XX_SHORT);
    const unsigned char* r = table + p;
    EntryRecord record{};
    record.realSize = grf::LoadU32(r + 8);
    record.compressedSize = grf::LoadU32(r) - record.realSize - grf::kOffset1xxCompressedBias;
    record.alignedSize = grf::LoadU32(r + 4) - grf::kOffset1xxAlignedBias;
    record.flags = r[12];
    record.offset = static_cast<uint32_t>(grf::LoadU32(r + 13) + grf::kHeaderSize);
    p += grf::kRecord1xxTail;
    if (IsPlaceholder(record)) continue;
    record.flags |= GrfIsHeaderCipherName(name) ? ENTRY_CIPHER_HEADER : ENTRY_CIPHER_MIXED;
    if (!AddEntry(archive, name, record)) return false;
    NotifyRecord(archive, i);
  }
  NotifyRecord(archive, archive->entryCount);
  return true;
}

bool ParseRecordsCompressed(GrfArchive* archive, const unsigned char* table, uint32_t length,
                            bool wide) {
  const uint32_t tail = wide ? grf::kRecord300Tail : grf::kRecord200Tail;
  uint32_t p = 0;
  for (uint32_t i = 0; i < archive->entryCount; ++i) {
    const auto* nul = static_cast<const unsigned char*>(std::memchr(table + p, 0, length - p));
    if (!nul)
      return FailDetail(archive, GRF_E_BAD_DATA, wide ? GRF_DETAIL_RECORD_300_NO_NUL : GRF_DETAIL_RECORD_200_NO_NUL);
    const char* name = reinterpret_cast<const char*>(table + p);
    p = static_cast<uint32_t>(nul - table) + 1;
    if (length - p < tail)
      return FailDetail(archive, GRF_E_BAD_DATA, wide ? GRF_DETAIL_RECORD_300_SHORT : GRF_DETAIL_RECORD_200_SHORT);
    const unsigned char* r = table + p;
    EntryRecord record{};
    record.compressedSize = grf::LoadU32(r);
    record.alignedSize = grf::LoadU32(r + 4);
    record.realSize = grf::LoadU32(r + 8);
    record.flags = r[12];
    record.offset = wide ? grf::LoadU64(r + 13) + grf::kHeaderSize
                         : static_cast<uint32_t>(grf::LoadU32(r + 13) + grf::kHeaderSize);
    p += tail;
    if (IsPlaceholder(record)) continue;
    if (!AddEntry(archive, name, record)) return false;
    NotifyRecord(archive, i);
  }
  NotifyRecord(archive, archive->entryCount);
  return true;
}

bool ParseRecords200(GrfArchive* archive, const unsigned char* table, uint32_t length) {
  return ParseRecordsCompressed(archive, table, length, false);
}

bool ParseRecords300(GrfArchive* archive, const unsigned char* table, uint32_t length) {
  return ParseRecordsCompressed(archive, table, length, true);
}

}  // namespace

bool DetectHeader(GrfArchive* archive) {
  if (ReadWideHeader(archive)) return true;
  if (archive->lastStatus != GRF_E_UNSUPPORTED) return false;
  if (ReadClassicHeader(archive)) return true;
  if (archive->lastStatus != GRF_E_UNSUPPORTED) return false;
  return ReadTrailer(archive);
}

bool LoadTable(GrfArchive* archive) {
  if (!ParseTable(archive)) return false;
  if (archive->flags & (GRF_OPEN_TRACK_SPACE | GRF_OPEN_REUSE_GAPS)) {
    if (!BuildFreeSpaceMap(archive)) {
      DestroyArchiveIndex(archive);
      return false;
    }
  }
  return true;
}

bool GrfProbeHead(const void* head, uint32_t length) {
  static_assert(sizeof grf::kClassicSignature <= GRF_PROBE_HEAD_SIZE &&
                sizeof grf::kWideSignature <= GRF_PROBE_HEAD_SIZE);
  const auto starts = [head, length](const char* signature, uint32_t size) {
    return length >= size && std::memcmp(head, signature, size) == 0;
  };
  return starts(grf::kClassicSignature, sizeof grf::kClassicSignature) ||
         starts(grf::kWideSignature, sizeof grf::kWideSignature);
}

bool GrfProbeTail(const void* tail, uint32_t length) {
  return length > 0 && static_cast<const unsigned char*>(tail)[length - 1] == grf::kTrailerMarker;
}

bool GrfIsHeaderCipherName(const char* name) {
  const char* dot = FindLastChar(name, '.');
  if (!dot || std::strlen(dot + 1) != 3) return false;
  char ext[4];
  for (int i = 0; i < 4; ++i) ext[i] = static_cast<char>(AsciiLower(static_cast<unsigned char>(dot[1 + i])));
  return std::strcmp(ext, "act") == 0 || std::strcmp(ext, "gat") == 0 ||
         std::strcmp(ext, "gnd") == 0 || std::strcmp(ext, "str") == 0;
}
