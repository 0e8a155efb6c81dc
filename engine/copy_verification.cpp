#include "engine/copy_verification.h"

#include <new>

#include "grf/grf.h"
#include "grf/stream.h"
#include "support/content_crc.h"
#include "support/file_util.h"
#include "support/pool.h"

std::unique_ptr<CopyExpectations> CopyExpectations::Create() noexcept {
  return std::unique_ptr<CopyExpectations>(new (std::nothrow) CopyExpectations());
}

bool CopyExpectations::Expect(const char* name, const CopyExpectation& expectation) noexcept {
  try {
    byName_.insert_or_assign(std::string(name ? name : ""), expectation);
    return true;
  } catch (...) {
    return false;
  }
}

const CopyExpectation* CopyExpectations::Find(std::string_view name) const noexcept {
  const auto found = byName_.find(name);
  return found == byName_.end() ? nullptr : &found->second;
}

namespace {

// A pool buffer that grows as entries need it.
struct Growing {
  unsigned char* bytes = nullptr;
  uint32_t capacity = 0;
  Growing() = default;
  Growing(const Growing&) = delete;
  Growing& operator=(const Growing&) = delete;
  ~Growing() {
    if (bytes) PoolFree(bytes);
  }
  bool Reserve(uint32_t size) {
    if (size <= capacity) return true;
    if (bytes) PoolFree(bytes);
    capacity = 0;
    bytes = static_cast<unsigned char*>(PoolAlloc(size));
    if (!bytes) return false;
    capacity = size;
    return true;
  }
};

struct ReadBack {
  GrfArchive* copy = nullptr;
  const CopyExpectations* expected = nullptr;
  Growing block;
  Growing content;
  uint32_t matched = 0;
  // The block last verified: a link to it reads the same bytes.
  GrfBlockInfo last{};
  bool lastValid = false;
};

bool SameBlock(const GrfBlockInfo& a, const GrfBlockInfo& b) {
  return a.offset == b.offset && a.compressedSize == b.compressedSize &&
         a.alignedSize == b.alignedSize && a.realSize == b.realSize && a.flags == b.flags;
}

uint32_t Crc(const unsigned char* bytes, uint32_t length) { return ContentCrc32(bytes, length); }

bool CheckEntry(ReadBack* check, const char* name) {
  const CopyExpectation* want = check->expected->Find(name);
  GrfBlockInfo info;
  if (!want || !GrfGetEntryInfo(check->copy, name, &info) || info.realSize != want->realSize)
    return false;
  if (info.realSize == 0) return true;
  if (check->lastValid && SameBlock(info, check->last)) return true;
  if (!check->block.Reserve(info.alignedSize) ||
      !GrfReadBlock(check->copy, &info, check->block.bytes, info.alignedSize))
    return false;
  if (want->stored) {
    if (info.compressedSize != want->storedLength ||
        Crc(check->block.bytes, info.compressedSize) != want->checksum)
      return false;
  } else {
    if (!check->content.Reserve(info.realSize) ||
        !GrfDecodeBlock(check->copy, &info, check->block.bytes, check->content.bytes,
                        info.realSize, nullptr) ||
        Crc(check->content.bytes, info.realSize) != want->checksum)
      return false;
  }
  check->last = info;
  check->lastValid = true;
  return true;
}

bool VisitEntry(uint32_t, uint32_t, const EntryView* view, void* context) {
  auto* check = static_cast<ReadBack*>(context);
  if (!CheckEntry(check, view->name)) return false;
  ++check->matched;
  return true;
}

}  // namespace

bool VerifyCopy(const char* path, const CopyExpectations& expected) {
  // Shared for writing: the writer may still hold the file open.
  GrfStream* stream = nullptr;
  if (!FileStreamCreate(path, fileio::kGenericRead, fileio::kShareRead | fileio::kShareWrite,
                        nullptr, fileio::kOpenExisting, fileio::kFlagSequentialScan, kInvalidFile,
                        nullptr, &stream))
    return false;
  GrfArchive* copy = nullptr;
  const bool opened = GrfOpenStream(stream, GRF_OPEN_READ_ONLY, nullptr, nullptr, &copy);
  StreamRelease(&stream);
  if (!opened) return false;
  ReadBack check;
  check.copy = copy;
  check.expected = &expected;
  const bool all = GrfForEachEntry(copy, &VisitEntry, &check);
  GrfClose(&copy);
  return all && check.matched == expected.Count();
}
