// Arbitrary bytes as the source of a whole consolidation job (a file in a
// scratch directory, as a dropped archive would be). When the job keeps a
// copy, the copy is opened at its report and every entry that the source
// could read must read back identical; every source name must be there. Whatever the outcome, the source bytes never change, exactly the
// failures show one message, and only a kept copy stays on disk.
//
// Odd-sized inputs run with the best-compression option.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/consolidation_job.h"
#include "tests/e2e/leftovers.h"
#include "tests/fixtures/archive_builder.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::EntryResult;

class VerifyingHost : public JobHost {
 public:
  const std::vector<EntryResult>* expected = nullptr;
  std::string destination;
  int errors = 0;
  int reports = 0;
  bool verified = false;

  void SetProgress(uint32_t percent) override { FUZZ_CHECK(percent <= 100); }
  void SetStatusText(const char*) override {}
  void SetEstimateText(const char*) override {}
  void ShowError(const char* text) override {
    FUZZ_CHECK(text && text[0]);
    ++errors;
  }
  bool AskYesNo(const char*) override { return true; }
  void ShowReport(const char* text) override {
    FUZZ_CHECK(text && text[0]);
    ++reports;
    // A copy that saves nothing was never renamed into place.
    if (std::filesystem::exists(destination)) Verify();
  }
  void PlaySoundFile(const char*) override {}
  void SetDropAcceptance(bool) override {}
  void ReleaseDrop() override {}
  bool IsStopRequested() override { return false; }

 private:
  void Verify() {
    GrfArchive* written = nullptr;
    uint32_t status = 0;
    FUZZ_CHECK(GrfOpen(destination.c_str(), GRF_OPEN_READ_ONLY, &status, &written));
    const std::vector<EntryResult> got = fuzz::ReadEverything(written);
    GrfClose(&written);
    FUZZ_CHECK(got.size() == expected->size());
    for (const EntryResult& want : *expected) {
      const EntryResult* have = fuzz::FindResult(got, want.name);
      FUZZ_CHECK(have != nullptr);
      // An unreadable entry is copied undecoded; one without a stored
      // block becomes empty, whatever size its record claimed.
      if (!want.readable) continue;
      if (!have->readable || have->realSize != want.realSize)
        std::fprintf(stderr, "'%s': %u bytes in the source, %u in the copy (status %08x)\n",
                     want.name.c_str(), want.realSize, have->realSize, have->status);
      FUZZ_CHECK(have->readable);
      FUZZ_CHECK(have->content == want.content);
    }
    verified = true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Init();
  const uint32_t live = fuzz::LivePoolBlocks();
  const std::string source = fuzz::ScratchDir() + "/source.grf";
  const std::string cleaned = fuzz::ScratchDir() + "/source-cleaned.grf";
  std::remove(cleaned.c_str());
  FUZZ_CHECK(fixture::WriteBytesToFile(source, fuzz::Bytes(data, data + size)));

  // What the job's own source open reads.
  std::vector<EntryResult> expected;
  GrfArchive* archive = nullptr;
  const bool readable = OpenSourceArchive(source.c_str(), &archive);
  if (readable) {
    expected = fuzz::ReadEverything(archive);
    GrfClose(&archive);
  }

  VerifyingHost host;
  host.expected = &expected;
  host.destination = cleaned;
  ConsolidationJob* job = CreateConsolidationJob(&host, source.c_str(), size & 1, nullptr);
  FUZZ_CHECK(job != nullptr);
  const JobOutcome outcome = ExecuteConsolidationJob(job);

  fuzz::Bytes after;
  FUZZ_CHECK(fixture::ReadBytesFromFile(source, &after));
  FUZZ_CHECK(after.size() == size && (size == 0 || std::memcmp(after.data(), data, size) == 0));
  FUZZ_CHECK((outcome == JobOutcome::SourceNotOpened) == !readable);
  FUZZ_CHECK(outcome != JobOutcome::VerificationFailed);  // every copy reads back as written
  const bool reported = outcome == JobOutcome::NothingSaved || outcome == JobOutcome::CleanedCopyKept;
  FUZZ_CHECK(host.reports == (reported ? 1 : 0));
  FUZZ_CHECK(host.verified == (outcome == JobOutcome::CleanedCopyKept));
  FUZZ_CHECK(host.errors == (reported || outcome == JobOutcome::OverwriteDeclined ? 0 : 1));
  FUZZ_CHECK(std::filesystem::exists(cleaned) == (outcome == JobOutcome::CleanedCopyKept));
  FUZZ_CHECK(PartialFilesBeside(cleaned).empty());
  std::remove(cleaned.c_str());
  fuzz::CheckPoolBalance(live, "job");
  return 0;
}
