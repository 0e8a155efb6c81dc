// Arbitrary bytes as an archive: read whole and deferred (they agree), then one more entry
// put and finalized, after which everything readable reads back unchanged.

#include <cstring>

#include "grf/archive.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr char kProbeName[] = "fuzz\\probe.bin";
constexpr char kProbe[] = "probe data written by the fuzz target";

GrfArchive* Open(const std::string& path, uint32_t flags, uint32_t* status) {
  GrfArchive* archive = nullptr;
  const bool ok = GrfOpenFile(path.c_str(), flags, status, nullptr, &archive);
  FUZZ_CHECK(ok == (archive != nullptr) && ok == !GrfFailed(*status));
  return archive;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Init();
  const uint32_t live = fuzz::LivePoolBlocks();
  const std::string path = fuzz::ScratchPath("read.grf");
  const fuzz::Bytes input(data, data + size);
  FUZZ_CHECK(fixture::WriteBytesToFile(path, input));

  uint32_t status = 0, deferredStatus = 0;
  std::vector<fuzz::EntryResult> direct;
  GrfArchive* archive = Open(path, GRF_OPEN_READ_ONLY, &status);
  const bool opened = archive != nullptr;
  if (archive) direct = fuzz::ReadEverything(archive);
  GrfClose(&archive);

  // Deferred: the header alone, then the table, which may be retried.
  archive = Open(path, GRF_OPEN_READ_ONLY | GRF_OPEN_DEFER_TABLE, &deferredStatus);
  if (!archive) {
    FUZZ_CHECK(!opened && deferredStatus == status);
  } else if (!GrfLoadTable(archive)) {
    FUZZ_CHECK(!opened && GrfGetLastStatus(archive) == status && archive->entries == nullptr);
    FUZZ_CHECK(!GrfLoadTable(archive) && GrfGetLastStatus(archive) == status);
  } else {
    FUZZ_CHECK(opened && fuzz::ReadEverything(archive) == direct);
    FUZZ_CHECK(GrfLoadTable(archive) && fuzz::ReadEverything(archive) == direct);
  }
  GrfClose(&archive);
  FUZZ_CHECK(fuzz::LivePoolBlocks() == live);
  fuzz::Bytes now;
  FUZZ_CHECK(fixture::ReadBytesFromFile(path, &now) && now == input);

  // Writable (odd sizes place the new block in a free range): one put, then finalize.
  archive = Open(path, (size & 1) ? GRF_OPEN_REUSE_GAPS : 0, &status);
  FUZZ_CHECK(archive || !opened);
  if (archive && opened && !(archive->flags & GRF_OPEN_READ_ONLY)) {
    const bool put = GrfPutData(archive, kProbeName, kProbe, sizeof kProbe);
    const bool finalized = put && GrfFinalize(archive);
    FUZZ_CHECK(finalized || GrfFailed(GrfGetLastStatus(archive)));
    GrfClose(&archive);
    archive = Open(path, GRF_OPEN_READ_ONLY, &status);  // what was finalized must load
    FUZZ_CHECK(archive != nullptr);
    const std::vector<fuzz::EntryResult> after = fuzz::ReadEverything(archive);
    for (const fuzz::EntryResult& old : direct) {
      // The header rewrite may touch a block a hostile record points into.
      if (!old.readable || old.offset < 46 || fuzz::FindResult({old}, kProbeName)) continue;
      const fuzz::EntryResult* kept = fuzz::FindResult(after, old.name);
      FUZZ_CHECK(kept && kept->readable && kept->content == old.content);
    }
    const fuzz::EntryResult* probe = fuzz::FindResult(after, kProbeName);
    FUZZ_CHECK(!finalized || (probe && probe->content == fuzz::Bytes(kProbe, kProbe + sizeof kProbe)));
  }
  GrfClose(&archive);
  FUZZ_CHECK(fuzz::LivePoolBlocks() == live);
  return 0;
}
