#include "engine/report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/clock.h"
#include "engine/format.h"

namespace {

struct Report {
  ReportKind kind;
  std::string text;
};

Report Compose(uint64_t source, uint64_t destination, uint32_t linked, uint32_t unreadable,
               uint64_t seconds = 0) {
  char text[kMessageCapacity];
  std::memset(text, '#', sizeof text);
  const ReportKind kind =
      ComposeReport({source, destination, linked, unreadable, seconds}, text, sizeof text);
  return {kind, text};
}

}  // namespace

TEST(Report, GainedWeight) {
  const Report report = Compose(1000, 1001, 5, 1, 30);
  EXPECT_EQ(report.kind, ReportKind::GainedWeight);
  EXPECT_FALSE(KeepsCleanedCopy(report.kind));
  EXPECT_EQ(report.text,
            "Congratulations!\r\n\r\nYour archive is built better than you think and the "
            "treatment would actually make it gain weight!");
}

TEST(Report, NothingSaved) {
  const Report treated = Compose(5000, 5000, 3, 1);
  EXPECT_EQ(treated.kind, ReportKind::AlreadyTreated);
  EXPECT_FALSE(KeepsCleanedCopy(treated.kind));
  EXPECT_EQ(treated.text,
            "I have to disappoint you, but this archive will not get any lighter. It seems that "
            "it has been treated already.\r\n\r\nTechnical facts:\r\n\t- 3 entries are replaced "
            "with links and 1 could not be read.\r\n\t- The effect goes away as the linked files "
            "are updated or when the archive is repacked.\r\n\t- Software does not need any "
            "adjustments to support treated archives.");

  const Report fine = Compose(5000, 5000, 0, 2);
  EXPECT_EQ(fine.kind, ReportKind::JustFine);
  EXPECT_FALSE(KeepsCleanedCopy(fine.kind));
  EXPECT_EQ(fine.text,
            "Congratulations!\r\n\r\nYour archive is just fine the way it is, do not force it to "
            "lose any more weight!");
}

TEST(Report, LostWeightWithLinks) {
  // 50,000 bytes saved of 200,000: the copy keeps 75 %, so it is 25 % slimmer.
  const Report report = Compose(200000, 150000, 12, 0, 61);
  EXPECT_EQ(report.kind, ReportKind::LostWithLinks);
  EXPECT_TRUE(KeepsCleanedCopy(report.kind));
  EXPECT_EQ(report.text,
            "Congratulations!\r\n\r\nYour archive lost 50 kilobytes in just 1 minute!\r\nBy the "
            "way that means that it's about 25% slimmer, than before.\r\n\r\nTechnical "
            "facts:\r\n\t- 12 entries were replaced with links and 0 could not be read.\r\n\t- "
            "The effect goes away as the linked files are updated or when the archive is "
            "repacked.\r\n\t- Software does not need any adjustments to support treated "
            "archives.");
}

TEST(Report, LostWeightWithoutLinks) {
  const Report report = Compose(10999, 10000, 0, 4, 7199);
  EXPECT_EQ(report.kind, ReportKind::Repacked);
  EXPECT_TRUE(KeepsCleanedCopy(report.kind));
  // 10000 * 100 / 10999 = 90 kept.
  EXPECT_EQ(report.text,
            "Congratulations!\r\n\r\nWhile your archive seems quite alright, it still lost 0.999 "
            "kilobytes in just 1 hour!\r\nBy the way that means that it's about 10% slimmer, "
            "than before.\r\n\r\nTechnical facts:\r\n\t- The archive was repacked and 4 entries "
            "could not be read.");
}

TEST(Report, KilobytesAndPercentages) {
  // Below 1000 bytes three decimals, from 1000 on none.
  EXPECT_NE(Compose(1999, 1000, 0, 0).text.find("lost 0.999 kilobytes"), std::string::npos);
  EXPECT_NE(Compose(1001, 1000, 0, 0).text.find("lost 0.001 kilobytes"), std::string::npos);
  EXPECT_NE(Compose(2000, 1000, 0, 0).text.find("lost 1 kilobytes"), std::string::npos);
  const Report big = Compose(1123456, 1000000, 1, 0);
  EXPECT_NE(big.text.find("lost 123 kilobytes"), std::string::npos);
  EXPECT_NE(big.text.find("about 11% slimmer"), std::string::npos);  // 1000000 / 11234 = 89
  // Sizes beyond 4 GiB keep all their bits.
  const Report huge = Compose(6000000000ull, 1500000000ull, 1, 0);
  EXPECT_NE(huge.text.find("lost 4500000 kilobytes"), std::string::npos);
  EXPECT_NE(huge.text.find("about 75% slimmer"), std::string::npos);
  // Everything saved.
  EXPECT_NE(Compose(4096, 0, 0, 0).text.find("about 100% slimmer"), std::string::npos);
}

TEST(Report, Durations) {
  const uint64_t start = 133604281890000000ull;
  EXPECT_EQ(ElapsedSeconds(start, start + 4 * kHundredNsPerSecond / 10), 0u);
  EXPECT_EQ(ElapsedSeconds(start, start + 61 * kHundredNsPerSecond), 61u);
  EXPECT_EQ(ElapsedSeconds(start, start + 7199 * kHundredNsPerSecond + 9999999), 7199u);
  // A clock set back during the job does not give a duration of centuries.
  EXPECT_EQ(ElapsedSeconds(start, start - kHundredNsPerSecond), 0u);

  EXPECT_NE(Compose(2000, 1000, 0, 0, 0).text.find("in just 0 seconds!"), std::string::npos);
  EXPECT_NE(Compose(2000, 1000, 1, 0, 61).text.find("in just 1 minute!"), std::string::npos);
  EXPECT_NE(Compose(2000, 1000, 0, 0, 7199).text.find("in just 1 hour!"), std::string::npos);
  EXPECT_NE(Compose(2000, 1000, 0, 0, 360000).text.find("in just 100 hours!"), std::string::npos);
}

TEST(Report, LongestTextFitsTheMessageBuffer) {
  const Report report = Compose(UINT64_MAX, 1, 0xFFFFFFFFu, 0xFFFFFFFFu, UINT64_MAX);
  EXPECT_EQ(report.kind, ReportKind::LostWithLinks);
  EXPECT_NE(report.text.find("4294967295 entries were replaced with links and 4294967295 could "
                             "not be read.\r\n"),
            std::string::npos);
  EXPECT_NE(report.text.find("archives."), std::string::npos);
  EXPECT_LT(report.text.size(), kMessageCapacity - 1);
}
