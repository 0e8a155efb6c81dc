// Arbitrary bytes as an archive held in memory: opened whole and with the
// table load deferred (both must agree), every entry enumerated and read,
// then opened for writing, given one more entry and finalized, after which
// everything that was readable must read back unchanged.

#include <cstring>
#include <string>

#include "grf/archive.h"
#include "grf/entry_index.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::EntryResult;

constexpr char kProbeName[] = "fuzz\\probe.bin";
constexpr uint64_t kHeaderLength = 46;

void CheckSame(const std::vector<EntryResult>& a, const std::vector<EntryResult>& b) {
  FUZZ_CHECK(a.size() == b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    FUZZ_CHECK(a[i].name == b[i].name);
    FUZZ_CHECK(a[i].realSize == b[i].realSize);
    FUZZ_CHECK(a[i].storedSize == b[i].storedSize);
    FUZZ_CHECK(a[i].readable == b[i].readable);
    FUZZ_CHECK(a[i].status == b[i].status);
    FUZZ_CHECK(a[i].content == b[i].content);
  }
}

// Every entry that read before reads the same now, unless the header
// rewrite may have touched its block (a hostile record can point into it)
// or the probe replaced it.
void CheckKept(const std::vector<EntryResult>& before,
               const std::vector<EntryResult>& after, const std::vector<uint64_t>& offsets) {
  for (size_t i = 0; i < before.size(); ++i) {
    const EntryResult& old = before[i];
    if (!old.readable || offsets[i] < kHeaderLength) continue;
    if (fuzz::SameName(old.name, kProbeName)) continue;
    const EntryResult* now = fuzz::FindResult(after, old.name);
    FUZZ_CHECK(now != nullptr);
    FUZZ_CHECK(now->readable);
    FUZZ_CHECK(now->content == old.content);
  }
}

std::vector<uint64_t> Offsets(GrfArchive* archive, const std::vector<EntryResult>& results) {
  std::vector<uint64_t> offsets;
  for (const EntryResult& r : results) offsets.push_back(FindEntry(archive, r.name.c_str())->offset);
  return offsets;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Init();
  const uint32_t live = fuzz::LivePoolBlocks();
  fuzz::MemoryArchive* memory = fuzz::NewMemoryArchive(data, size);

  // Whole open.
  uint32_t status = 0;
  std::vector<EntryResult> direct;
  std::vector<uint64_t> offsets;
  GrfArchive* archive = fuzz::OpenInMemory(memory, GRF_OPEN_READ_ONLY, &status);
  const bool opened = archive != nullptr;
  if (archive) {
    direct = fuzz::ReadEverything(archive);
    offsets = Offsets(archive, direct);
    GrfClose(&archive);
  }
  fuzz::CheckPoolBalance(live, "whole open");

  // Deferred open: the header alone, then the table, which may be retried.
  uint32_t deferredStatus = 0;
  archive = fuzz::OpenInMemory(memory, GRF_OPEN_READ_ONLY | GRF_OPEN_DEFER_TABLE, &deferredStatus);
  if (!archive) {
    FUZZ_CHECK(!opened);
    FUZZ_CHECK(deferredStatus == status);
  } else {
    FUZZ_CHECK(archive->entries == nullptr);
    bool loaded = GrfLoadTable(archive);
    if (!loaded) {
      FUZZ_CHECK(!opened);
      FUZZ_CHECK(GrfGetLastStatus(archive) == status);
      FUZZ_CHECK(archive->flags & GRF_OPEN_DEFER_TABLE);
      FUZZ_CHECK(archive->entries == nullptr);
      loaded = GrfLoadTable(archive);
      FUZZ_CHECK(!loaded && GrfGetLastStatus(archive) == status);
    } else {
      FUZZ_CHECK(opened);
      CheckSame(direct, fuzz::ReadEverything(archive));
      // A second load changes nothing.
      FUZZ_CHECK(GrfLoadTable(archive));
      CheckSame(direct, fuzz::ReadEverything(archive));
    }
    GrfClose(&archive);
  }
  fuzz::CheckPoolBalance(live, "deferred open");
  FUZZ_CHECK(fuzz::MemoryBytes(memory).size() == size);
  FUZZ_CHECK(size == 0 || std::memcmp(fuzz::MemoryBytes(memory).data(), data, size) == 0);

  // Writable open (placing the new block in a free range for odd sizes),
  // one put, finalize or discard.
  const uint32_t writeFlags = (size & 1) ? GRF_OPEN_REUSE_GAPS : 0;
  archive = fuzz::OpenInMemory(memory, writeFlags, &status);
  FUZZ_CHECK(archive || !opened);
  if (archive && opened && !(archive->flags & GRF_OPEN_READ_ONLY)) {
    static const char kProbe[] = "probe data written by the fuzz target";
    const bool put = GrfPutData(archive, kProbeName, kProbe, sizeof kProbe);
    FUZZ_CHECK(put || GrfFailed(GrfGetLastStatus(archive)));
    const bool finalized = put && GrfFinalize(archive);
    FUZZ_CHECK(!put || finalized || GrfFailed(GrfGetLastStatus(archive)));
    GrfClose(&archive);

    uint32_t again = 0;
    archive = fuzz::OpenInMemory(memory, GRF_OPEN_READ_ONLY, &again);
    // A change that was not finalized is discarded at close; what was
    // finalized (a put, or just the conversion of an old table) must load.
    FUZZ_CHECK(archive != nullptr);
    const std::vector<EntryResult> after = fuzz::ReadEverything(archive);
    CheckKept(direct, after, offsets);
    if (finalized) {
      const EntryResult* probe = fuzz::FindResult(after, kProbeName);
      FUZZ_CHECK(probe && probe->readable);
      FUZZ_CHECK(probe->content.size() == sizeof kProbe &&
                 std::memcmp(probe->content.data(), kProbe, sizeof kProbe) == 0);
    }
  }
  GrfClose(&archive);
  fuzz::CheckPoolBalance(live, "writable open");
  fuzz::DeleteMemoryArchive(memory);
  return 0;
}
