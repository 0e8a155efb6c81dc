#pragma once
// The archive handle and the helpers every module of the library shares.

#include "grf/internal.h"

#include <cstdint>

#include "grf/grf.h"

struct GrfStream;
struct EntryIndex;    // grf/entry_index.h
struct FreeSpaceMap;  // grf/free_space_map.h

struct GrfArchive {
  GrfStream* stream;          // one reference owned
  EntryIndex* entries;        // null until a table load succeeds
  FreeSpaceMap* freeSpace;    // null unless built
  GrfEventHook eventHook;
  uint32_t eventCookie;
  GrfCodecHook compressHook;
  GrfCompress2Hook compress2Hook;  // called instead of compressHook when set
  GrfCodecHook uncompressHook;
  uint64_t fileSize;          // at open and after every header write
  uint64_t tablePosition;     // absolute
  uint32_t tableSize;         // compressed length (0x2xx/0x3xx) or raw length
  uint32_t entryCount;        // as the header read at open gives it, for the table loader
  uint32_t version;
  int32_t refCount;
  int32_t enumerationDepth;
  uint32_t maxRealSize;
  int32_t headerKind;
  uint32_t lastStatus;
  uint32_t lastDetail;
  uint32_t flags;             // GRF_OPEN_* and GRF_STATE_*
};

// Status helpers. Fail* set lastStatus (and lastDetail) and return false.
inline void SetStatus(GrfArchive* archive, uint32_t status) { archive->lastStatus = status; }
inline bool Fail(GrfArchive* archive, uint32_t status) {
  archive->lastStatus = status;
  return false;
}
inline bool FailDetail(GrfArchive* archive, uint32_t status, uint32_t detail) {
  archive->lastStatus = status;
  archive->lastDetail = detail;
  return false;
}

inline bool IsDirty(const GrfArchive* archive) {
  return (archive->flags & GRF_STATE_DIRTY) != 0;
}
// Changes are refused on read-only archives and while an enumeration runs.
inline bool ChangesRefused(const GrfArchive* archive) {
  return (archive->flags & (GRF_OPEN_READ_ONLY | GRF_STATE_ENUMERATING)) != 0;
}
inline uint32_t VersionFamily(const GrfArchive* archive) { return archive->version & 0xFF00; }

// Opens an archive on a stream; the archive takes its own reference on it.
bool OpenOnStream(GrfStream* stream, uint32_t flags, uint32_t* status, uint32_t* detail,
                  GrfArchive** archive);

// Calls the event hook; an answer other than 0 is a fatal assertion.
void NotifyEvent(GrfArchive* archive, uint32_t code, void* data);

// Seed of a classic header: 0 with GRF_OPEN_NO_SEED, else a pseudo-random
// 0..5 plus storedTablePosition / 15.
uint32_t HeaderSeed(const GrfArchive* archive, uint32_t storedTablePosition);

// The last reference's discard of unfinalized changes (discard.cpp): tells
// the hook code 4; a dirty archive is cut back to fileSize and made clean,
// a clean one gets GRF_S_UNCHANGED.
bool DiscardChanges(GrfArchive* archive);
