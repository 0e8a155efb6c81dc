// Arbitrary bytes as a job's source: a kept copy reads back what the source could read, the source
// stays unchanged, a failure shows one message and only a kept copy stays.

#include <filesystem>

#include "engine/codec_library.h"
#include "engine/consolidation_job.h"
#include "tests/e2e/leftovers.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

class VerifyingHost : public JobHost {
 public:
  std::vector<fuzz::EntryResult> expected;
  std::string destination;
  int errors = 0, reports = 0;

  void SetProgress(uint32_t percent) override { FUZZ_CHECK(percent <= 100); }
  void SetStatusText(const char*) override {}
  void SetEstimateText(const char*) override {}
  void ShowError(const char* text) override { FUZZ_CHECK(text && text[0]), ++errors; }
  bool AskYesNo(const char*) override { return true; }
  void PlaySoundFile(const char*) override {}
  void SetDropAcceptance(bool) override {}
  void ReleaseDrop() override {}
  bool IsStopRequested() override { return false; }
  void ShowReport(const char* text) override {
    FUZZ_CHECK(text && text[0]);
    ++reports;
    if (!std::filesystem::exists(destination)) return;  // nothing saved: never renamed into place
    GrfArchive* written = nullptr;
    uint32_t status = 0;
    FUZZ_CHECK(GrfOpen(destination.c_str(), GRF_OPEN_READ_ONLY, &status, &written));
    const std::vector<fuzz::EntryResult> got = fuzz::ReadEverything(written);
    GrfClose(&written);
    FUZZ_CHECK(got.size() == expected.size());
    for (const fuzz::EntryResult& want : expected) {
      const fuzz::EntryResult* have = fuzz::FindResult(got, want.name);
      FUZZ_CHECK(have && (!want.readable || (have->readable && have->content == want.content)));
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Init();
  const uint32_t live = fuzz::LivePoolBlocks();
  const std::string source = fuzz::ScratchPath("source.grf");
  VerifyingHost host;
  host.destination = fuzz::ScratchPath("source-cleaned.grf");
  std::filesystem::remove(host.destination);
  const fuzz::Bytes input(data, data + size);
  FUZZ_CHECK(fixture::WriteBytesToFile(source, input));
  GrfArchive* archive = nullptr;
  const bool readable = OpenSourceArchive(source.c_str(), CodecLibrary(), &archive);
  if (readable) host.expected = fuzz::ReadEverything(archive);
  GrfClose(&archive);

  ConsolidationJob* job = CreateConsolidationJob(&host, source.c_str(), size & 1, nullptr);
  FUZZ_CHECK(job != nullptr);
  const JobOutcome outcome = ExecuteConsolidationJob(job);
  fuzz::Bytes after;
  FUZZ_CHECK(fixture::ReadBytesFromFile(source, &after) && after == input);
  FUZZ_CHECK((outcome == JobOutcome::SourceNotOpened) == !readable);
  FUZZ_CHECK(outcome != JobOutcome::VerificationFailed);
  const bool reported = outcome == JobOutcome::NothingSaved || outcome == JobOutcome::CleanedCopyKept;
  FUZZ_CHECK(host.reports == (reported ? 1 : 0));
  FUZZ_CHECK(host.errors == (reported || outcome == JobOutcome::OverwriteDeclined ? 0 : 1));
  FUZZ_CHECK(std::filesystem::exists(host.destination) == (outcome == JobOutcome::CleanedCopyKept));
  FUZZ_CHECK(PartialFilesBeside(host.destination).empty());
  std::filesystem::remove(host.destination);
  FUZZ_CHECK(fuzz::LivePoolBlocks() == live);
  return 0;
}
