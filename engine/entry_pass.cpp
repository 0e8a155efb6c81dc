#include "engine/entry_pass.h"

#include <zlib.h>

#include <memory>

#include "engine/consolidation_job.h"
#include "engine/content_index.h"
#include "engine/format.h"
#include "support/pool.h"
#include "support/text.h"
#include "support/zlib_pool.h"

namespace {

struct EntryPass {
  EntryProgressCallback progress;
  void* progressContext;
  GrfArchive* destination;
  GrfArchive* source;
  uint32_t unreadableCount;
  uint32_t linkedCount;
  unsigned char* work;
  uint32_t workSize;
  ConsolidationJob* job;
  ContentIndex* index;
};

struct DuplicateProbe {
  GrfArchive* source;
  uint32_t realSize;
  const unsigned char* content;
  const char* name;
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

// Visits one name stored under the entry's checksum; false when it matched.
bool MatchCandidate(const char* candidate, void* context) {
  auto* probe = static_cast<DuplicateProbe*>(context);
  uint32_t size = 0;
  GrfReadEntry(probe->source, candidate, nullptr, 0, &size);
  if (IsIsolatedExtension(probe->name) != IsIsolatedExtension(candidate)) return true;
  if (size != probe->realSize) return true;  // cannot be equal; spare the read
  auto* buffer = static_cast<unsigned char*>(PoolAlloc(size));
  if (!buffer) return true;
  if (GrfReadEntry(probe->source, candidate, buffer, size, nullptr) &&
      CompareBuffers(buffer, size, probe->content, probe->realSize) == 0) {
    probe->foundName = candidate;
  }
  PoolFree(buffer);
  return probe->foundName == nullptr;
}

bool ProcessEntry(uint32_t current, uint32_t total, const EntryView* view, void* context) {
  auto* pass = static_cast<EntryPass*>(context);
  if (pass->job->host->IsStopRequested()) return false;
  if (pass->progress && !pass->progress(current, total, pass->progressContext)) return false;

  const char* name = view->name;
  const uint32_t realSize = view->realSize;
  if (realSize == 0) {
    if (!GrfCopyEntry(pass->destination, pass->source, name, nullptr, 0))
      return Report(*pass, "Failed to copy item '%s'.", name);
    return true;
  }

  if (!GrfReadEntry(pass->source, name, pass->work, pass->workSize, nullptr)) {
    ++pass->unreadableCount;
    if (!GrfCopyEntry(pass->destination, pass->source, name, nullptr, 0))
      return Report(*pass, "Failed to copy unreadable item '%s'.", name);
    return true;
  }

  const auto checksum = static_cast<uint32_t>(crc32(0L, pass->work, realSize));
  if (pass->index->Contains(checksum)) {
    DuplicateProbe probe{pass->source, realSize, pass->work, name, nullptr};
    pass->index->VisitNames(checksum, &MatchCandidate, &probe);
    if (probe.foundName) {
      if (!GrfLinkEntry(pass->destination, probe.foundName, name))
        return Report(*pass, "Failed to link item '%s'->'%s'.", name, probe.foundName);
      ++pass->linkedCount;
      return true;
    }
  }

  if (!pass->index->Insert(checksum, name)) {
    pass->job->host->ShowError("Out of memory while allocating hash map.");
    return false;
  }

  if (pass->job->bestCompression) {
    unsigned char* packed = nullptr;
    uint32_t packedLength = 0;
    if (CompressToNewBuffer(pass->work, realSize, Z_BEST_COMPRESSION, &packedLength, &packed) !=
        Z_OK)
      return Report(*pass, "Failed to recompress item '%s'.", name);
    const bool put = GrfPutCompressed(pass->destination, name, packed, packedLength, realSize);
    PoolFree(packed);
    if (!put) return Report(*pass, "Failed to put recompressed item '%s'.", name);
    return true;
  }

  if (!GrfCopyEntry(pass->destination, pass->source, name, nullptr, 0))
    return Report(*pass, "Failed to copy item '%s'.", name);
  return true;
}

}  // namespace

bool ConsolidateEntries(GrfArchive* destination, GrfArchive* source,
                        EntryProgressCallback progress, void* progressContext,
                        ConsolidationJob* job) {
  std::unique_ptr<ContentIndex> index = ContentIndex::Create();
  if (!index) {
    job->host->ShowError("Out of memory while allocating hash map.");
    return false;
  }
  EntryPass pass{progress, progressContext, destination, source, 0, 0, nullptr,
                 GrfGetMaxRealSize(source), job, index.get()};
  if (pass.workSize != 0) {
    pass.work = static_cast<unsigned char*>(PoolAlloc(pass.workSize));
    if (!pass.work) {
      job->host->ShowError("Out of memory while allocating working buffer.");
      return false;
    }
  }

  const bool done = GrfForEachEntry(source, &ProcessEntry, &pass);
  if (done) {
    job->linkedCount = pass.linkedCount;
    job->unreadableCount = pass.unreadableCount;
  } else if (GrfGetLastStatus(source) != GRF_E_ABORTED) {
    job->host->ShowError("Out of memory while allocating iterator.");
  }
  if (pass.work) PoolFree(pass.work);
  return done;
}

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
  unsigned long capacity = compressBound(length);
  for (;;) {
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
    if (status != Z_BUF_ERROR) {
      *compressedLength = 0;
      return status;
    }
    capacity += 1024;
  }
}
