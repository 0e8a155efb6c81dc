#include "engine/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

TEST(FormatBounded, TruncatesAndAlwaysTerminates) {
  char buffer[12];
  std::memset(buffer, '#', sizeof buffer);
  // Only the first 8 characters are the formatter's; the rest stay untouched.
  EXPECT_EQ(FormatBounded(buffer, 8, "item '%s'", "abcdef"), 13);
  EXPECT_STREQ(buffer, "item 'a");
  EXPECT_EQ(std::string(buffer + 8, 4), "####");

  EXPECT_EQ(FormatBounded(buffer, 8, "%d-%d", 12, 345), 6);
  EXPECT_STREQ(buffer, "12-345");

  // Exactly capacity - 1 characters fit whole.
  EXPECT_EQ(FormatBounded(buffer, 8, "%s", "1234567"), 7);
  EXPECT_STREQ(buffer, "1234567");
  FormatBounded(buffer, 8, "%s", "12345678");
  EXPECT_STREQ(buffer, "1234567");

  std::memset(buffer, '#', sizeof buffer);
  FormatBounded(buffer, 1, "%s", "abc");
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], '#');

  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(FormatBounded(buffer, 0, "%s", "abc"), 3);
  EXPECT_EQ(buffer[0], '#');
}

TEST(PercentOf, EntryPositions) {
  // Three entries: 33, 66, 100 as they begin.
  EXPECT_EQ(PercentOf(1, 3), 33);
  EXPECT_EQ(PercentOf(2, 3), 66);
  EXPECT_EQ(PercentOf(3, 3), 100);
  // 200,000 entries: the divisor is 200,000 / 100 = 2000.
  EXPECT_EQ(PercentOf(1, 200000), 0);
  EXPECT_EQ(PercentOf(1999, 200000), 0);
  EXPECT_EQ(PercentOf(2000, 200000), 1);
  EXPECT_EQ(PercentOf(200000, 200000), 100);
  // The two branches meet at 65535 / 65536.
  EXPECT_EQ(PercentOf(65535, 65535), 100);
  EXPECT_EQ(PercentOf(65534, 65535), 99);
  EXPECT_EQ(PercentOf(65536, 65536), 100);  // 65536 / 655
  EXPECT_EQ(PercentOf(655, 65536), 1);
  EXPECT_EQ(PercentOf(0, 0), 0);
  EXPECT_EQ(PercentOf(5, 0), 0);
}

TEST(PercentOf, ResultKeepsItsLow8BitsWithoutOverflowingOnTheWay) {
  EXPECT_EQ(PercentOf(300, 100), 300 & 0xFF);
  // 4294967295 * 100 / 3 = 143165576500 does not fit 32 bits; its low byte is 52.
  EXPECT_EQ(PercentOf(0xFFFFFFFFu, 3), 52);
  EXPECT_EQ(PercentOf(0xFFFFFFFFu, 0xFFFFFFFFu), 100);
}

TEST(PercentOf64, EdgeCases) {
  EXPECT_EQ(PercentOf64(0, 0), 0);
  EXPECT_EQ(PercentOf64(12345, 0), 0);
  EXPECT_EQ(PercentOf64(1000, 1000), 100);
  // The report: a 200,000-byte source cleaned to 150,000 bytes keeps 75 %.
  EXPECT_EQ(PercentOf64(150000, 200000), 75);
  EXPECT_EQ(100 - PercentOf64(150000, 200000), 25);
  // A whole with high bits set takes the division branch: 2^32 / (2^33 / 100).
  EXPECT_EQ(PercentOf64(1ull << 32, 1ull << 33), 50);
  EXPECT_EQ(PercentOf64(3000000000ull, 6000000000ull), 50);
  EXPECT_EQ(PercentOf64(UINT64_MAX, UINT64_MAX), 100);
  // 2^64 - 1 = 65535 * 281479271743489: the percentage is exact, then cut to 8 bits.
  EXPECT_EQ(PercentOf64(UINT64_MAX, 65535), static_cast<uint8_t>(281479271743489ull * 100));
  EXPECT_EQ(PercentOf64(600000, 200000), 300 & 0xFF);
}

TEST(FormatDuration, PicksOneTruncatedUnit) {
  const struct {
    uint64_t seconds;
    const char* text;
  } cases[] = {
      {0, "0 seconds"},      {1, "1 second"},         {2, "2 seconds"},
      {59, "59 seconds"},    {60, "1 minute"},        {61, "1 minute"},
      {119, "1 minute"},     {120, "2 minutes"},      {3599, "59 minutes"},
      {3600, "1 hour"},      {7199, "1 hour"},        {7200, "2 hours"},
      {86400, "24 hours"},   {360000, "100 hours"},
      {UINT64_MAX, "5124095576030431 hours"},
  };
  for (const auto& c : cases) {
    char buffer[kDurationCapacity];
    EXPECT_STREQ(FormatDuration(c.seconds, buffer, sizeof buffer), c.text) << c.seconds;
  }
}

TEST(FormatLocalDateTime, FillsTwentyCharactersExactly) {
  char buffer[kDateTimeCapacity + 1];
  std::memset(buffer, '#', sizeof buffer);
  const LocalTime time = {2024, 5, 5, 17, 14, 3, 9, 500};
  EXPECT_EQ(FormatLocalDateTime(time, buffer, kDateTimeCapacity), buffer);
  EXPECT_STREQ(buffer, "2024-05-17 14:03:09");
  EXPECT_EQ(std::strlen(buffer), kDateTimeCapacity - 1);
  EXPECT_EQ(buffer[kDateTimeCapacity], '#');

  const LocalTime early = {1601, 1, 1, 1, 0, 0, 0, 0};
  EXPECT_STREQ(FormatLocalDateTime(early, buffer, kDateTimeCapacity), "1601-01-01 00:00:00");
  const LocalTime late = {30827, 12, 0, 31, 23, 59, 59, 999};
  // A fifth year digit no longer fits: the text is cut, not overrun.
  EXPECT_STREQ(FormatLocalDateTime(late, buffer, kDateTimeCapacity), "30827-12-31 23:59:5");
}
