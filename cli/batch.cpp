#include "cli/batch.h"

#include <algorithm>
#include <cstdio>

#include "cli/console/json_writer.h"

int ExitStatusFor(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::CleanedCopyKept:
    case JobOutcome::WouldSave:
      return kExitKept;
    case JobOutcome::NothingSaved:
    case JobOutcome::OverwriteDeclined:
    case JobOutcome::WouldSaveNothing:
      return kExitNothingSaved;
    default:
      return kExitFailure;
  }
}

int CombineExitStatus(int so_far, int next) { return std::max(so_far, next); }

const char* OutcomeName(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::SourceNotOpened:
      return "source-not-opened";
    case JobOutcome::OverwriteDeclined:
      return "overwrite-declined";
    case JobOutcome::DestinationRefused:
      return "destination-refused";
    case JobOutcome::DestinationFailed:
      return "destination-not-created";
    case JobOutcome::PassFailed:
      return "pass-failed";
    case JobOutcome::FinalizeFailed:
      return "finalize-failed";
    case JobOutcome::VerificationFailed:
      return "verification-failed";
    case JobOutcome::NothingSaved:
      return "nothing-saved";
    case JobOutcome::CleanedCopyKept:
      return "kept";
    case JobOutcome::WouldSave:
      return "would-save";
    case JobOutcome::WouldSaveNothing:
      return "would-save-nothing";
  }
  return "failed";
}

std::string SummaryJson(const JobSummary& s, const char* source, const char* error) {
  const uint64_t after = BytesAfter(s);
  JsonObjectWriter json;
  json.String("source", source);
  if (CopyKept(s)) {
    json.String("destination", s.destinationPath);
  } else {
    json.Null("destination");
  }
  json.String("outcome", OutcomeName(s.outcome))
      .Unsigned("bytesBefore", s.sourceBytes)
      .Unsigned("bytesAfter", after)
      .Signed("bytesSaved", static_cast<int64_t>(s.sourceBytes) - static_cast<int64_t>(after))
      .Unsigned("entries", s.entries)
      .Unsigned("links", s.linked)
      .Unsigned("unreadable", s.unreadable)
      .Number("seconds", s.seconds, 3);
  if (error) json.String("error", error);
  return json.Finish();
}

void AddToTotals(BatchTotals* totals, const JobSummary& summary) {
  ++totals->archives;
  if (ExitStatusFor(summary.outcome) == kExitFailure) ++totals->failed;
  totals->bytesBefore += summary.sourceBytes;
  totals->bytesAfter += BytesAfter(summary);
  totals->seconds += summary.seconds;
}

std::string FormatTotals(const BatchTotals& t) {
  const double megabyte = 1e6;
  const uint64_t saved = t.bytesBefore - t.bytesAfter;  // a kept (or measured) copy is smaller
  const unsigned percent =
      t.bytesBefore ? static_cast<unsigned>(saved * 100 / t.bytesBefore) : 0;
  char text[256];
  std::snprintf(text, sizeof text,
                "%u archives: %.2f MB before, %.2f MB after, %.2f MB saved (%u%%) in %.1f s.",
                t.archives, static_cast<double>(t.bytesBefore) / megabyte,
                static_cast<double>(t.bytesAfter) / megabyte, static_cast<double>(saved) / megabyte,
                percent, t.seconds);
  std::string line = t.dryRun ? std::string("Dry run, nothing was written. ") + text : text;
  if (t.failed) {
    std::snprintf(text, sizeof text, " %u failed.", t.failed);
    line += text;
  }
  return line;
}
