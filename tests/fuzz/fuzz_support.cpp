#include "tests/fuzz/fuzz_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "grf/entry_index.h"
#include "support/diag.h"
#include "support/pool.h"

// Allocations above 64 MiB return null: hostile sizes meet the library's out-of-memory paths.
extern "C" const char* __asan_default_options() { return "max_allocation_size_mb=64:allocator_may_return_null=1"; }

namespace fuzz {

void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "fuzz check failed: %s at %s:%d\n", what, file, line);
  std::abort();
}

void Init() {
  static const bool done = (SetPoolOptions(pool::kAssertNullFree | pool::kAssertZeroSize | pool::kAssertBadGuard),
                            SetDebugAssertHandler([](const char* what, const char* file, int line) { Fail(what, file, line); }), true);
  (void)done;
}

std::vector<EntryResult> ReadEverything(GrfArchive* archive) {
  std::vector<EntryResult> all;
  const bool listed = GrfForEachEntry(
      archive,
      [](uint32_t position, uint32_t total, const EntryView* view, void* user) {
        auto* out = static_cast<std::vector<EntryResult>*>(user);
        FUZZ_CHECK(position == out->size() + 1 && position <= total && view->name);
        out->emplace_back().name = view->name;
        out->back().realSize = view->realSize;
        return true;
      },
      &all);
  FUZZ_CHECK(listed || GrfGetLastStatus(archive) == GRF_E_OUT_OF_MEMORY);
  if (!listed) return {};
  uint64_t lastOffset = 0;
  for (EntryResult& r : all) {
    const GrfEntry* entry = FindEntry(archive, r.name.c_str());
    FUZZ_CHECK(entry && entry->offset >= lastOffset && entry->realSize == r.realSize);
    r.offset = lastOffset = entry->offset;
    uint32_t size = 0xFFFFFFFF;
    const bool queried = GrfReadEntry(archive, r.name.c_str(), nullptr, 0, &size);
    FUZZ_CHECK(size == r.realSize && queried == (r.realSize == 0));
    r.readable = queried;
    if (queried) continue;
    FUZZ_CHECK(GrfGetLastStatus(archive) == GRF_E_BUFFER_TOO_SMALL);
    auto* buffer = static_cast<uint8_t*>(std::malloc(r.realSize));  // untouched pages cost nothing
    if (!buffer) continue;
    uint32_t got = 0;
    r.readable = GrfReadEntry(archive, r.name.c_str(), buffer, r.realSize, &got);
    r.status = GrfGetLastStatus(archive);
    FUZZ_CHECK(got == r.realSize && r.readable == !GrfFailed(r.status));
    FUZZ_CHECK(r.status != GRF_E_NOT_FOUND && r.status != GRF_E_BUFFER_TOO_SMALL);
    if (r.readable) r.content.assign(buffer, buffer + r.realSize);
    std::free(buffer);
  }
  return all;
}

const EntryResult* FindResult(const std::vector<EntryResult>& results, const std::string& name) {
  const auto at = std::ranges::find_if(results, [&](const EntryResult& r) { return fixture::SameFolded(r.name, name); });
  return at == results.end() ? nullptr : &*at;
}

uint32_t LivePoolBlocks() { return GetPoolCounters().liveBlocks; }
std::string ScratchPath(const char* name) {
  static const std::string& dir = *new std::string([] {  // never destroyed: the exit handler needs it
    std::error_code e;
    const std::string base = std::filesystem::is_directory("/dev/shm", e) ? "/dev/shm" : std::filesystem::temp_directory_path(e).string();
    std::filesystem::create_directories(base + "/slimwick-fuzz-" + std::to_string(getpid()), e);
    std::atexit([] { std::error_code ignored; std::filesystem::remove_all(dir, ignored); });
    return base + "/slimwick-fuzz-" + std::to_string(getpid());
  }());
  return dir + "/" + name;
}

}  // namespace fuzz
