// The archive handle: open by path or stream, the new-archive image, deferred
// table load, references and close, hooks and getters.

#include "grf/archive.h"

#include <cstdlib>
#include <cstring>

#include "grf/codec.h"
#include "grf/entry_index.h"
#include "grf/format.h"
#include "grf/free_space_map.h"
#include "grf/stream.h"
#include "grf/table_loader.h"
#include "support/diag.h"
#include "support/pool.h"

namespace {

// The hook installed at open: checks the cookie (fatal assertion) and answers 0.
int DefaultEventHook(GrfArchive*, uint32_t, void*, uint32_t cookie) {
  SLIM_FATAL_ASSERT(cookie == grf::kEventCookie);
  return 0;
}

}  // namespace

void NotifyEvent(GrfArchive* archive, uint32_t code, void* data) {
  const int answer = archive->eventHook(archive, code, data, archive->eventCookie);
  SLIM_FATAL_ASSERT(answer == 0);
}

uint32_t HeaderSeed(const GrfArchive* archive, uint32_t storedTablePosition) {
  if (archive->flags & GRF_OPEN_NO_SEED) return 0;
  return static_cast<uint32_t>(std::rand() % 6) + storedTablePosition / 15;
}

namespace {

// A classic header with an empty 0x200 table right behind it.
bool WriteNewArchive(GrfArchive* archive) {
  if (archive->flags & (GRF_OPEN_READ_ONLY | GRF_STATE_ENUMERATING))
    return Fail(archive, GRF_E_READ_ONLY);
  unsigned char image[grf::kNewArchiveSize] = {};
  std::memcpy(image, grf::kClassicSignature, sizeof(grf::kClassicSignature));
  const uint32_t seed = HeaderSeed(archive, 0);
  grf::StoreHeaderFields(image, false, grf::HeaderFields{0, 0, grf::kVersion200}, seed);
  if (!StreamWriteAtExact(archive->stream, 0, image, sizeof(image)))
    return Fail(archive, GRF_E_IO_GROW);
  archive->headerKind = HEADER_CLASSIC;
  return true;
}

bool QueryFileSize(GrfArchive* archive) {
  if (!StreamGetSize(archive->stream, &archive->fileSize))
    return FailDetail(archive, GRF_E_IO, GRF_DETAIL_SIZE_QUERY);
  return true;
}

bool OpenSteps(GrfArchive* archive) {
  if (!QueryFileSize(archive)) return false;
  if (archive->fileSize == 0) {
    if (!WriteNewArchive(archive)) return false;
    if (!QueryFileSize(archive)) return false;
  }
  if (!DetectHeader(archive)) return false;
  if (!(archive->flags & GRF_OPEN_DEFER_TABLE)) return LoadTable(archive);
  return true;
}

void FreeArchive(GrfArchive* archive) {
  DestroyFreeSpaceMap(archive->freeSpace);
  archive->freeSpace = nullptr;
  DestroyArchiveIndex(archive);
  StreamRelease(&archive->stream);
  PoolFree(archive);
}

}  // namespace

bool OpenOnStream(GrfStream* stream, uint32_t flags, uint32_t* status, uint32_t* detail,
                   GrfArchive** handle) {
  *handle = nullptr;
  auto* archive = static_cast<GrfArchive*>(PoolAllocZeroed(sizeof(GrfArchive)));
  if (!archive) {
    if (status) *status = GRF_E_OUT_OF_MEMORY;
    if (detail) *detail = GRF_DETAIL_HANDLE_ALLOC;
    return false;
  }
  archive->eventHook = DefaultEventHook;
  archive->eventCookie = grf::kEventCookie;
  archive->compressHook = DefaultCompressHook;
  archive->uncompressHook = DefaultUncompressHook;
  archive->refCount = 1;
  archive->flags = flags;
  StreamRetain(stream, &archive->stream);
  archive->lastStatus = GRF_S_OK;

  if (!OpenSteps(archive)) {
    const uint32_t failure = archive->lastStatus;
    if (status) *status = failure;
    if (detail) *detail = archive->lastDetail;
    FreeArchive(archive);
    return !GrfFailed(failure);
  }
  if (status) *status = GRF_S_OK;
  if (detail) *detail = GRF_S_OK;
  *handle = archive;
  return true;
}

bool GrfOpenFile(const char* path, uint32_t flags, uint32_t* status, uint32_t* detail,
                 GrfArchive** handle) {
  GrfStream* stream = nullptr;
  if (flags & GRF_OPEN_READ_ONLY) {
    const uint32_t hint =
        (flags & GRF_OPEN_SEQUENTIAL) ? fileio::kFlagSequentialScan : fileio::kFlagRandomAccess;
    if (!FileStreamOpenRead(path, hint, nullptr, &stream)) {
      if (status) *status = GRF_E_OPEN_FAILED;
      return false;
    }
  } else {
    if (!FileStreamCreate(path, fileio::kGenericRead | fileio::kGenericWrite, fileio::kShareRead,
                          nullptr, fileio::kOpenAlways,
                          fileio::kFlagRandomAccess | fileio::kAttributeNormal, kInvalidFile,
                          nullptr, &stream)) {
      if (status) *status = GRF_E_CREATE_FAILED;
      return false;
    }
  }
  const bool ok = OpenOnStream(stream, flags, status, detail, handle);
  StreamRelease(&stream);
  return ok;
}

bool GrfOpenHandle(intptr_t handle, uint32_t flags, uint32_t* status, GrfArchive** archive) {
  *archive = nullptr;
  GrfStream* stream = nullptr;
  if (!FileStreamWrap(handle, &stream)) {
    CloseFileHandle(&handle);
    if (status) *status = GRF_E_OUT_OF_MEMORY;
    return false;
  }
  const bool ok = OpenOnStream(stream, flags, status, nullptr, archive);
  StreamRelease(&stream);
  return ok;
}

bool GrfOpen(const char* path, uint32_t flags, uint32_t* status, GrfArchive** handle) {
  return GrfOpenFile(path, flags, status, nullptr, handle);
}

bool GrfLoadTable(GrfArchive* archive) {
  archive->lastStatus = GRF_S_OK;
  if (!(archive->flags & GRF_OPEN_DEFER_TABLE)) return true;
  archive->flags &= ~GRF_OPEN_DEFER_TABLE;
  if (!LoadTable(archive)) {
    archive->flags |= GRF_OPEN_DEFER_TABLE;
    return false;
  }
  return true;
}

void GrfRetain(GrfArchive* archive, GrfArchive** handle) {
  SLIM_FATAL_ASSERT(archive->refCount > 0 && archive->refCount < INT32_MAX);
  ++archive->refCount;
  if (handle) *handle = archive;
}

void GrfClose(GrfArchive** handle) {
  GrfArchive* archive = *handle;
  *handle = nullptr;
  if (!archive) return;
  SLIM_FATAL_ASSERT(archive->refCount > 0);
  if (--archive->refCount > 0) {
    archive->lastStatus = GRF_S_STILL_OPEN;
    return;
  }
  archive->flags |= GRF_STATE_CLOSING;
  DiscardChanges(archive);
  FreeArchive(archive);
}

uint64_t GrfGetFileSize(const GrfArchive* archive) { return archive->fileSize; }
uint32_t GrfGetMaxRealSize(const GrfArchive* archive) { return archive->maxRealSize; }
uint32_t GrfGetLastStatus(const GrfArchive* archive) { return archive->lastStatus; }
uint32_t GrfGetLastDetail(const GrfArchive* archive) { return archive->lastDetail; }

void GrfSetCompressHook(GrfArchive* archive, GrfCodecHook hook) {
  archive->compressHook = hook ? hook : DefaultCompressHook;
  archive->compress2Hook = nullptr;
}

void GrfSetCompress2Hook(GrfArchive* archive, GrfCompress2Hook hook) {
  GrfSetCompressHook(archive, nullptr);
  archive->compress2Hook = hook;
}

void GrfSetUncompressHook(GrfArchive* archive, GrfCodecHook hook) {
  archive->uncompressHook = hook ? hook : DefaultUncompressHook;
}
