#include "engine/report.h"

#include "engine/format.h"
#include "support/clock.h"

namespace {

constexpr const char kGainedWeightText[] =
    "Congratulations!\r\n\r\nYour archive is built better than you think and the treatment would "
    "actually make it gain weight!";

constexpr const char kAlreadyTreatedText[] =
    "I have to disappoint you, but this archive will not get any lighter. It seems that it has "
    "been treated already.\r\n\r\nTechnical facts:\r\n\t- %u entries are replaced with links and "
    "%u could not be read.\r\n\t- The effect goes away as the linked files are updated or when "
    "the archive is repacked.\r\n\t- Software does not need any adjustments to support treated "
    "archives.";

constexpr const char kLostWithLinksText[] =
    "Congratulations!\r\n\r\nYour archive lost %.*f kilobytes in just %s!\r\nBy the way that "
    "means that it's about %u%% slimmer, than before.\r\n\r\nTechnical facts:\r\n\t- %u entries "
    "were replaced with links and %u could not be read.\r\n\t- The effect goes away as the "
    "linked files are updated or when the archive is repacked.\r\n\t- Software does not need "
    "any adjustments to support treated archives.";

constexpr const char kJustFineText[] =
    "Congratulations!\r\n\r\nYour archive is just fine the way it is, do not force it to lose "
    "any more weight!";

constexpr const char kRepackedText[] =
    "Congratulations!\r\n\r\nWhile your archive seems quite alright, it still lost %.*f "
    "kilobytes in just %s!\r\nBy the way that means that it's about %u%% slimmer, than "
    "before.\r\n\r\nTechnical facts:\r\n\t- The archive was repacked and %u entries could not "
    "be read.";

}  // namespace

uint64_t ElapsedSeconds(uint64_t start, uint64_t end) {
  return end < start ? 0 : (end - start) / kHundredNsPerSecond;
}

ReportKind KindOfReport(const ReportFacts& facts) {
  if (facts.sourceSize < facts.destinationSize) return ReportKind::GainedWeight;
  const bool saved = facts.sourceSize > facts.destinationSize;
  if (facts.linkedCount != 0) return saved ? ReportKind::LostWithLinks : ReportKind::AlreadyTreated;
  return saved ? ReportKind::Repacked : ReportKind::JustFine;
}

ReportKind ComposeReport(const ReportFacts& facts, char* text, size_t capacity) {
  const uint64_t s = facts.sourceSize;
  const uint64_t d = facts.destinationSize;
  const ReportKind kind = KindOfReport(facts);
  if (kind == ReportKind::GainedWeight) {
    FormatBounded(text, capacity, "%s", kGainedWeightText);
    return kind;
  }
  const uint64_t saved = s - d;
  const uint8_t slimmer = static_cast<uint8_t>(100 - PercentOf64(d, s));
  const int precision = saved < 1000 ? 3 : 0;
  // A kilobyte is 1000 bytes here.
  const double kilobytes = static_cast<double>(saved) * 0.001;
  char duration[kDurationCapacity];
  FormatDuration(facts.seconds, duration, sizeof duration);

  const unsigned linked = facts.linkedCount;
  const unsigned unreadable = facts.unreadableCount;
  switch (kind) {
    case ReportKind::AlreadyTreated:
      FormatBounded(text, capacity, kAlreadyTreatedText, linked, unreadable);
      break;
    case ReportKind::LostWithLinks:
      FormatBounded(text, capacity, kLostWithLinksText, precision, kilobytes, duration,
                    unsigned{slimmer}, linked, unreadable);
      break;
    case ReportKind::JustFine:
      FormatBounded(text, capacity, "%s", kJustFineText);
      break;
    default:
      FormatBounded(text, capacity, kRepackedText, precision, kilobytes, duration,
                    unsigned{slimmer}, unreadable);
  }
  return kind;
}
