#include "tests/fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "grf/entry_index.h"
#include "support/diag.h"
#include "support/pool.h"
#include "grf/stream.h"
#include "tests/grf/test_stream.h"

// Allocations above 64 MiB fail (null, not a report). An input of at most a
// few dozen KiB cannot decode to that much, so only hostile sizes get there;
// they meet the library's out-of-memory paths, as on a crowded 32-bit
// address space, instead of costing the sanitizer a shadow of gigabytes per
// run. ASAN_OPTIONS still overrides.
extern "C" const char* __asan_default_options() {
  return "max_allocation_size_mb=64:allocator_may_return_null=1";
}

namespace fuzz {

void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "fuzz check failed: %s at %s:%d\n", what, file, line);
  std::abort();
}

namespace {

void AbortOnDebugAssert(const char* what, const char* file, int line) {
  std::fprintf(stderr, "debug assertion: %s at %s:%d\n", what, file, line);
  std::abort();
}

std::string Fold(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

struct Collected {
  std::vector<EntryResult> entries;
};

bool Collect(uint32_t position, uint32_t total, const EntryView* view, void* user) {
  auto* collected = static_cast<Collected*>(user);
  FUZZ_CHECK(position == collected->entries.size() + 1);
  FUZZ_CHECK(position <= total);
  FUZZ_CHECK(view->name != nullptr);
  FUZZ_CHECK(view->reserved == 0);
  EntryResult r;
  r.name = view->name;
  r.realSize = view->realSize;
  r.storedSize = view->storedSize;
  collected->entries.push_back(std::move(r));
  return true;
}

}  // namespace

void Init() {
  static const bool done = [] {
    SetPoolOptions(pool::kAssertNullFree | pool::kAssertZeroSize | pool::kAssertBadGuard);
    SetDebugAssertHandler(AbortOnDebugAssert);
    return true;
  }();
  (void)done;
}

struct MemoryArchive {
  teststream::Memory file;
};

MemoryArchive* NewMemoryArchive(const uint8_t* data, size_t size) {
  auto* memory = new MemoryArchive;
  memory->file.bytes.assign(data, data + size);
  return memory;
}

void DeleteMemoryArchive(MemoryArchive* memory) { delete memory; }

const Bytes& MemoryBytes(const MemoryArchive* memory) { return memory->file.bytes; }

GrfArchive* OpenInMemory(MemoryArchive* memory, uint32_t flags, uint32_t* status) {
  GrfStream* stream = nullptr;
  FUZZ_CHECK(teststream::OpenMemory(&memory->file, nullptr, &stream));
  GrfArchive* archive = nullptr;
  uint32_t detail = 0;
  const bool ok = GrfOpenStream(stream, flags, status, &detail, &archive);
  StreamRelease(&stream);
  FUZZ_CHECK(ok == (archive != nullptr));
  FUZZ_CHECK(ok == !GrfFailed(*status));
  return archive;
}

std::vector<EntryResult> ReadEverything(GrfArchive* archive, uint64_t maxRead) {
  Collected collected;
  const bool listed = GrfForEachEntry(archive, Collect, &collected);
  FUZZ_CHECK(listed || GrfGetLastStatus(archive) == GRF_E_OUT_OF_MEMORY);
  if (!listed) return {};

  uint64_t lastOffset = 0;
  for (EntryResult& r : collected.entries) {
    const GrfEntry* entry = FindEntry(archive, r.name.c_str());
    FUZZ_CHECK(entry != nullptr);
    FUZZ_CHECK(entry->offset >= lastOffset);
    lastOffset = entry->offset;
    FUZZ_CHECK(entry->realSize == r.realSize);
    FUZZ_CHECK(entry->realSize <= GrfGetMaxRealSize(archive));

    uint32_t size = 0xFFFFFFFF;
    const bool queried = GrfReadEntry(archive, r.name.c_str(), nullptr, 0, &size);
    FUZZ_CHECK(size == r.realSize);
    if (r.realSize == 0) {
      FUZZ_CHECK(queried);
      r.readable = true;
      r.status = GRF_S_OK;
      continue;
    }
    FUZZ_CHECK(!queried && GrfGetLastStatus(archive) == GRF_E_BUFFER_TOO_SMALL);
    if (r.realSize > maxRead) continue;

    // Untouched heap memory: a hostile size costs address space, not pages.
    auto* buffer = static_cast<uint8_t*>(std::malloc(r.realSize));
    if (!buffer) continue;
    uint32_t got = 0;
    r.readable = GrfReadEntry(archive, r.name.c_str(), buffer, r.realSize, &got);
    r.status = GrfGetLastStatus(archive);
    FUZZ_CHECK(got == r.realSize);
    if (r.readable) {
      FUZZ_CHECK(r.status == GRF_S_OK);
      r.content.assign(buffer, buffer + r.realSize);
    } else {
      FUZZ_CHECK(GrfFailed(r.status));
      FUZZ_CHECK(r.status != GRF_E_NOT_FOUND && r.status != GRF_E_BUFFER_TOO_SMALL);
    }
    std::free(buffer);
  }
  return std::move(collected.entries);
}

bool SameName(const std::string& a, const std::string& b) { return Fold(a) == Fold(b); }

const EntryResult* FindResult(const std::vector<EntryResult>& results, const std::string& name) {
  const std::string key = Fold(name);
  for (const EntryResult& r : results) {
    if (Fold(r.name) == key) return &r;
  }
  return nullptr;
}

uint32_t LivePoolBlocks() { return GetPoolCounters().liveBlocks; }

void CheckPoolBalance(uint32_t before, const char* where) {
  const uint32_t now = GetPoolCounters().liveBlocks;
  if (now != before) {
    std::fprintf(stderr, "pool blocks leaked (%s): %u live, %u before\n", where, now, before);
    std::abort();
  }
}

const std::string& ScratchDir() {
  // Never destroyed: the exit handler below still needs it.
  static const std::string& dir = *new std::string([] {
    std::error_code ignored;
    std::string base = std::filesystem::is_directory("/dev/shm", ignored)
                           ? std::string("/dev/shm")
                           : std::filesystem::temp_directory_path(ignored).string();
    std::string path = base + "/slimwick-fuzz-" + std::to_string(getpid());
    std::filesystem::create_directories(path, ignored);
    std::atexit([] {
      std::error_code ignoredToo;
      std::filesystem::remove_all(ScratchDir(), ignoredToo);
    });
    return path;
  }());
  return dir;
}

}  // namespace fuzz
