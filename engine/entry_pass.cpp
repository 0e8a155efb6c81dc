#include "engine/entry_pass.h"

#include <zlib.h>

#include <memory>

#include "engine/consolidation_job.h"
#include "engine/content_index.h"
#include "engine/copy_verification.h"
#include "engine/format.h"
#include "support/pool.h"
#include "support/text.h"
#include "support/zlib_pool.h"

namespace {

// A pool buffer that grows as entries need it; its contents are not kept.
struct WorkBuffer {
  unsigned char* bytes = nullptr;
  uint32_t capacity = 0;
  WorkBuffer() = default;
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;
  ~WorkBuffer() {
    if (bytes) PoolFree(bytes);
  }
  bool Reserve(uint32_t size) {
    if (size <= capacity) return true;
    // Released first, so two large buffers never live at once.
    if (bytes) PoolFree(bytes);
    capacity = 0;
    bytes = static_cast<unsigned char*>(PoolAlloc(size));
    if (!bytes) return false;
    capacity = size;
    return true;
  }
};

struct EntryPass {
  EntryProgressCallback progress;
  void* progressContext;
  GrfArchive* destination;
  GrfArchive* source;
  uint32_t unreadableCount;
  uint32_t linkedCount;
  ConsolidationJob* job;
  ContentIndex* index;
  PassLedger* ledger;
  DigestKey digestKey;
  WorkBuffer block;    // the stored block, deciphered
  WorkBuffer content;  // the decoded entry
};

struct DuplicateProbe {
  EntryPass* pass;
  uint32_t realSize;
  const unsigned char* content;
  const char* foundName;
};

// Shows a failure of one entry and stops the pass.
bool Report(const EntryPass& pass, const char* format, const char* name,
            const char* other = nullptr) {
  char text[kMessageCapacity];
  if (other)
    FormatBounded(text, sizeof text, format, name, other);
  else
    FormatBounded(text, sizeof text, format, name);
  pass.job->host->ShowError(text);
  return false;
}

bool OutOfMemory(const EntryPass& pass, const char* message) {
  pass.job->host->ShowError(message);
  return false;
}

bool Expect(EntryPass* pass, const char* name, const CopyExpectation& expectation) {
  if (!pass->ledger || !pass->ledger->expectations) return true;
  if (pass->ledger->expectations->Expect(name, expectation)) return true;
  return OutOfMemory(*pass, "Out of memory while allocating hash map.");
}

// Visits one name stored under the entry's key (same size, class, CRC-32 and
// digest); false when it matched byte for byte.
bool MatchCandidate(const char* candidate, void* context) {
  auto* probe = static_cast<DuplicateProbe*>(context);
  if (probe->pass->ledger) ++probe->pass->ledger->candidateComparisons;
  auto* buffer = static_cast<unsigned char*>(PoolAlloc(probe->realSize));
  if (!buffer) return true;
  if (GrfReadEntry(probe->pass->source, candidate, buffer, probe->realSize, nullptr) &&
      CompareBuffers(buffer, probe->realSize, probe->content, probe->realSize) == 0) {
    probe->foundName = candidate;
  }
  PoolFree(buffer);
  return probe->foundName == nullptr;
}

// Copies an entry that does not decode: its deciphered bytes as recorded.
bool CopyUndecoded(EntryPass* pass, const char* name, const GrfBlockInfo& info, bool blockRead) {
  ++pass->unreadableCount;
  // Given no room for content, the decode only tells what a copy carries.
  uint32_t keep = 0;
  GrfDecodeBlock(pass->source, &info, pass->block.bytes, nullptr, 0, &keep);
  if (!blockRead || !GrfPutBlock(pass->destination, name, &info, pass->block.bytes, keep, nullptr))
    return Report(*pass, "Failed to copy unreadable item '%s'.", name);
  return Expect(pass, name,
                CopyExpectation{info.realSize, static_cast<uint32_t>(crc32(0L, pass->block.bytes, keep)),
                                keep, true});
}

bool ProcessEntry(uint32_t current, uint32_t total, const EntryView* view, void* context) {
  auto* pass = static_cast<EntryPass*>(context);
  if (pass->job->host->IsStopRequested()) return false;
  if (pass->progress && !pass->progress(current, total, pass->progressContext)) return false;

  const char* name = view->name;
  GrfBlockInfo info;
  if (!GrfGetEntryInfo(pass->source, name, &info))
    return Report(*pass, "Failed to copy item '%s'.", name);
  if (info.realSize == 0) {
    if (!GrfPutBlock(pass->destination, name, &info, nullptr, 0, nullptr))
      return Report(*pass, "Failed to copy item '%s'.", name);
    return Expect(pass, name, CopyExpectation{0, 0, 0, false});
  }

  // Only blocks inside the file are read, and only sizes that can come out of
  // them are allocated: hostile declarations cost nothing.
  bool blockRead = false;
  if (info.inFile) {
    if (!pass->block.Reserve(info.alignedSize))
      return OutOfMemory(*pass, "Out of memory while allocating working buffer.");
    blockRead = GrfReadBlock(pass->source, &info, pass->block.bytes, pass->block.capacity);
  }
  if (!blockRead || !info.decodable) return CopyUndecoded(pass, name, info, blockRead);
  if (!pass->content.Reserve(info.realSize))
    return OutOfMemory(*pass, "Out of memory while allocating working buffer.");
  uint32_t keep = 0;
  if (!GrfDecodeBlock(pass->source, &info, pass->block.bytes, pass->content.bytes,
                      pass->content.capacity, &keep))
    return CopyUndecoded(pass, name, info, true);

  const unsigned char* content = pass->content.bytes;
  const uint32_t realSize = info.realSize;
  const auto checksum = static_cast<uint32_t>(crc32(0L, content, realSize));
  const ContentKey key(checksum, realSize, ContentDigest(pass->digestKey, content, realSize),
                       IsIsolatedExtension(name));
  if (pass->index->Contains(key)) {
    DuplicateProbe probe{pass, realSize, content, nullptr};
    pass->index->VisitNames(key, &MatchCandidate, &probe);
    if (probe.foundName) {
      if (!GrfLinkEntry(pass->destination, probe.foundName, name))
        return Report(*pass, "Failed to link item '%s'->'%s'.", name, probe.foundName);
      ++pass->linkedCount;
      const CopyExpectations* known = pass->ledger ? pass->ledger->expectations : nullptr;
      const CopyExpectation* target = known ? known->Find(probe.foundName) : nullptr;
      return !target || Expect(pass, name, *target);
    }
  }

  if (!pass->index->Insert(key, name))
    return OutOfMemory(*pass, "Out of memory while allocating hash map.");

  CopyExpectation decoded{realSize, checksum, 0, false};
  if (pass->job->bestCompression) {
    unsigned char* packed = nullptr;
    uint32_t packedLength = 0;
    if (CompressToNewBuffer(content, realSize, Z_BEST_COMPRESSION, &packedLength, &packed) != Z_OK)
      return Report(*pass, "Failed to recompress item '%s'.", name);
    const bool put = GrfPutCompressed(pass->destination, name, packed, packedLength, realSize);
    PoolFree(packed);
    if (!put) return Report(*pass, "Failed to put recompressed item '%s'.", name);
    return Expect(pass, name, decoded);
  }

  if (!GrfPutBlock(pass->destination, name, &info, pass->block.bytes, keep, content))
    return Report(*pass, "Failed to copy item '%s'.", name);
  // A codec library's data is carried as it is; zlib cannot read it back.
  const bool carried = info.viaHook && (info.flags & ENTRY_COMPRESSED);
  if (carried)
    return Expect(pass, name,
                  CopyExpectation{realSize, static_cast<uint32_t>(crc32(0L, pass->block.bytes, keep)),
                                  keep, true});
  return Expect(pass, name, decoded);
}

}  // namespace

bool ConsolidateEntries(GrfArchive* destination, GrfArchive* source,
                        EntryProgressCallback progress, void* progressContext,
                        ConsolidationJob* job, PassLedger* ledger) {
  std::unique_ptr<ContentIndex> index = ContentIndex::Create();
  if (!index) {
    job->host->ShowError("Out of memory while allocating hash map.");
    return false;
  }
  EntryPass pass{progress, progressContext, destination, source, 0, 0, job, index.get(), ledger,
                 MakeRunDigestKey(), {}, {}};

  const bool done = GrfForEachEntry(source, &ProcessEntry, &pass);
  if (done) {
    job->linkedCount = pass.linkedCount;
    job->unreadableCount = pass.unreadableCount;
  } else if (GrfGetLastStatus(source) != GRF_E_ABORTED) {
    job->host->ShowError("Out of memory while allocating iterator.");
  }
  return done;
}

constexpr int kMaxCompressAttempts = 8;

bool IsIsolatedExtension(const char* name) {
  const char* dot = FindLastChar(name, '.');
  if (!dot || dot[1] == '\0') return false;
  static const char* const kIsolated[] = {"gnd", "gat", "act", "str"};
  for (const char* ext : kIsolated) {
    size_t i = 0;
    while (ext[i] && AsciiLower(static_cast<unsigned char>(dot[1 + i])) == ext[i]) ++i;
    if (ext[i] == '\0' && dot[1 + i] == '\0') return true;
  }
  return false;
}

int CompareBuffers(const void* first, size_t firstLength, const void* second,
                   size_t secondLength) {
  if (firstLength != secondLength) return firstLength < secondLength ? -1 : 1;
  const auto* a = static_cast<const unsigned char*>(first);
  const auto* b = static_cast<const unsigned char*>(second);
  for (size_t i = 0; i < firstLength; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

int CompressToNewBuffer(const void* data, uint32_t length, int level,
                        uint32_t* compressedLength, unsigned char** buffer) {
  *buffer = nullptr;
  *compressedLength = 0;
  // compressBound always suffices for zlib; a few retries cover a library
  // that thinks otherwise, and then it is given up.
  unsigned long capacity = compressBound(length);
  for (int attempt = 0; attempt < kMaxCompressAttempts; ++attempt) {
    auto* out = static_cast<unsigned char*>(PoolAlloc(capacity));
    if (!out) {
      *compressedLength = static_cast<uint32_t>(capacity);
      return Z_MEM_ERROR;
    }
    unsigned long produced = capacity;
    const int status = ZlibCompressPooled(out, &produced, static_cast<const unsigned char*>(data),
                                          length, level);
    if (status == Z_OK) {
      *buffer = out;
      *compressedLength = static_cast<uint32_t>(produced);
      return Z_OK;
    }
    PoolFree(out);
    if (status != Z_BUF_ERROR) return status;
    capacity += 1024;
  }
  return Z_BUF_ERROR;
}
