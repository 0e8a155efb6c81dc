#include "support/text.h"
#include <gtest/gtest.h>
#include <cstring>

TEST(Text, BoundedCopiesAndFormatsNeverRunPastTheBuffer) {
  char out[8] = "xxxxxxx", small[3];
  EXPECT_STREQ(CopyBounded(out, "abcdef", 1), "");
  EXPECT_STREQ(CopyBounded(out, "abcdefghijk", sizeof out), "abcdefg");
  size_t length = 99;
  EXPECT_TRUE(CopyStringBounded("ab\0zz", 5, out, sizeof out, &length));
  EXPECT_EQ(std::string(out) + std::to_string(length), "ab2");
  EXPECT_FALSE(CopyStringBounded("abcd", 4, nullptr, 0, &length)) << "no terminator";
  EXPECT_FALSE(CopyStringBounded("abc\0", 4, small, sizeof small, &length));
  char buffer[12];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(FormatBounded(buffer, 8, "item '%s'", "abcdef"), 13);
  EXPECT_EQ(std::string(buffer, 12), std::string("item 'a\0####", 12));
  EXPECT_TRUE(FormatBounded(buffer + 1, 0, "%s", "abc") == 3 && buffer[0] == 'i' && buffer[1] == 't');  // nothing touched
}

TEST(Text, SearchReplaceEscapeAndPercentages) {
  char path[] = "a/b.c/d.e";
  EXPECT_STREQ(FindLastChar(path, '.'), ".e");
  EXPECT_EQ(FindLastChar("abc", 'x'), nullptr);
  EXPECT_EQ(ReplaceChar(path, '/', '\\') - path, 9);
  EXPECT_STREQ(path, "a\\b.c\\d.e");
  unsigned char nibbles[] = {0x12, 0xF0, 0x0F};
  SwapNibbles(nibbles, 2);
  EXPECT_TRUE(nibbles[0] == 0x21 && nibbles[1] == 0x0F && nibbles[2] == 0x0F);
  char escaped[16];
  EXPECT_EQ(EscapeControlBytes("a\x1b[\t\x7f\n", "\n", escaped, sizeof escaped), 15u);
  EXPECT_STREQ(escaped, "a\\x1b[\\x09\\x7f\n");
  EXPECT_EQ(EscapeControlBytes("ab\x01z", "", escaped, 6), 7u);
  EXPECT_STREQ(escaped, "ab") << "an escape is never cut in half";
  EXPECT_EQ(EscapeControlBytes("ab", "", nullptr, 0), 2u);
  const struct { uint64_t part, whole; int percent; } rows[] = {
      {1, 3, 33}, {2, 3, 66}, {65535, 65535, 100}, {70000, 65535, 106}, {5, 0, 0}, {99999, 100000, 99},
      {100000, 100000, 100}, {150, 100, 150}, {0x300000000ull, 0x800000000ull, 37}};
  for (const auto& r : rows) {
    EXPECT_EQ(PercentOf64(r.part, r.whole), r.percent) << r.part << "/" << r.whole;
    EXPECT_TRUE(r.whole > UINT32_MAX || PercentOf(static_cast<uint32_t>(r.part), static_cast<uint32_t>(r.whole)) == r.percent);
  }
}
