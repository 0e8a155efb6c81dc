// The report: which kind, whether the copy is kept, and its text.

#include "engine/report.h"
#include <gtest/gtest.h>
#include <string>
#include "engine/format.h"
#include "support/clock.h"

TEST(Report, KindCopyAndText) {
  const std::string facts = "\r\n\r\nTechnical facts:\r\n\t- ";
  const std::string links = " could not be read.\r\n\t- The effect goes away as the linked files are "
                            "updated or when the archive is repacked.\r\n\t- Software does not need "
                            "any adjustments to support treated archives.";
  const struct {
    uint64_t source, destination;
    uint32_t linked, unreadable;
    uint64_t seconds;
    ReportKind kind;
    std::string text;  // whole, or a part when it starts with '~'
  } rows[] = {
      {1000, 1001, 5, 1, 30, ReportKind::GainedWeight, "~would actually make it gain weight!"},
      {5000, 5000, 0, 2, 0, ReportKind::JustFine,
       "Congratulations!\r\n\r\nYour archive is just fine the way it is, do not force it to lose any more weight!"},
      {5000, 5000, 3, 1, 0, ReportKind::AlreadyTreated,
       "I have to disappoint you, but this archive will not get any lighter. It seems that it has "
       "been treated already." + facts + "3 entries are replaced with links and 1" + links},
      {200000, 150000, 12, 0, 60, ReportKind::LostWithLinks,
       "Congratulations!\r\n\r\nYour archive lost 50 kilobytes in just 1 minute!\r\nBy the way that "
       "means that it's about 25% slimmer, than before." + facts + "12 entries were replaced with links and 0" + links},
      {10999, 10000, 0, 4, 7199, ReportKind::Repacked,
       "Congratulations!\r\n\r\nWhile your archive seems quite alright, it still lost 0.999 kilobytes "
       "in just 1 hour!\r\nBy the way that means that it's about 10% slimmer, than before." + facts +
       "The archive was repacked and 4 entries could not be read."},
      {1001, 1000, 0, 0, 0, ReportKind::Repacked, "~lost 0.001 kilobytes in just 0 seconds!"},
      {2000, 1000, 1, 0, 360000, ReportKind::LostWithLinks, "~lost 1 kilobytes in just 100 hours!"},
      {1123456, 1000000, 1, 0, 0, ReportKind::LostWithLinks, "~lost 123 kilobytes in just 0 seconds!\r\nBy the way that means that it's about 11%"},
      {6000000000ull, 1500000000ull, 1, 0, 0, ReportKind::LostWithLinks, "~lost 4500000 kilobytes in just 0 seconds!\r\nBy the way that means that it's about 75%"},
      {4096, 0, 0, 0, 0, ReportKind::Repacked, "~about 100% slimmer"},
      {UINT64_MAX, 1, 0xFFFFFFFFu, 0xFFFFFFFFu, UINT64_MAX, ReportKind::LostWithLinks,
       "~4294967295 entries were replaced with links and 4294967295" + links},
  };
  for (const auto& row : rows) {
    char text[kMessageCapacity];
    const ReportKind kind = ComposeReport({row.source, row.destination, row.linked, row.unreadable, row.seconds}, text, sizeof text);
    EXPECT_EQ(kind, row.kind) << row.source;
    EXPECT_EQ(KeepsCleanedCopy(kind), row.source > row.destination) << row.source;
    if (row.text[0] == '~') EXPECT_NE(std::string(text).find(row.text.substr(1)), std::string::npos) << text;
    else EXPECT_EQ(text, row.text);
  }
  // A clock set back during the job gives no duration of centuries.
  EXPECT_TRUE(ElapsedSeconds(1000 * kHundredNsPerSecond, 999 * kHundredNsPerSecond) == 0 &&
              ElapsedSeconds(kHundredNsPerSecond, 62 * kHundredNsPerSecond + 9999999) == 61);
}
