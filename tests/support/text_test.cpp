#include "support/text.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Text, CopyBoundedTruncatesAndTerminates) {
  char out[8];
  std::memset(out, 'x', sizeof out);
  CopyBounded(out, "abcdef", 1);
  EXPECT_STREQ(out, "");
  CopyBounded(out, "abc", sizeof out);
  EXPECT_STREQ(out, "abc");
  CopyBounded(out, "abcdefghijk", sizeof out);
  EXPECT_STREQ(out, "abcdefg");
}

TEST(Text, CopyStringBoundedNeverRunsPastTheBuffer) {
  size_t len = 99;
  EXPECT_TRUE(CopyStringBounded("abc\0", 4, nullptr, 0, &len));
  EXPECT_EQ(len, 3u);
  EXPECT_FALSE(CopyStringBounded("abcd", 4, nullptr, 0, &len));
  char out[3];
  // The destination size limits the search too.
  EXPECT_FALSE(CopyStringBounded("abc\0", 4, out, sizeof out, &len));
  EXPECT_EQ(std::memcmp(out, "abc", 3), 0);
  char big[8];
  EXPECT_TRUE(CopyStringBounded("ab\0zz", 5, big, sizeof big, &len));
  EXPECT_STREQ(big, "ab");
  EXPECT_EQ(len, 2u);
}

TEST(Text, FindAndReplace) {
  char path[] = "E:\\data\\a.grf";
  EXPECT_EQ(FindLastChar(path, '\\'), path + 7);
  EXPECT_EQ(FindLastChar("a.grf", '\\'), nullptr);
  EXPECT_EQ(FindLastChar("abc", '\0'), nullptr);
  char name[] = "data/texture/a.bmp";
  char* end = ReplaceChar(name, '/', '\\');
  EXPECT_STREQ(name, "data\\texture\\a.bmp");
  EXPECT_EQ(*end, '\0');
  EXPECT_EQ(end, name + std::strlen(name));
}

TEST(Text, LowercaseOnlyTouchesAsciiLetters) {
  const char src[] = "AbC\xC4Z[@";
  char out[sizeof src];
  CopyLowercase(out, src);
  EXPECT_STREQ(out, "abc\xC4z[@");
}

TEST(Text, SwapNibbles) {
  unsigned char bytes[] = {0x1F, 0x00, 0x11, 0xFF, 0xA5};
  SwapNibbles(bytes, sizeof bytes);
  const unsigned char expect[] = {0xF1, 0x00, 0x11, 0xFF, 0x5A};
  EXPECT_EQ(std::memcmp(bytes, expect, sizeof bytes), 0);
  char s[] = "\x16\x26";
  SwapNibblesString(s);
  EXPECT_STREQ(s, "ab");
}
