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
  EXPECT_TRUE(FormatBounded(buffer, 0, "%s", "abc") == 3 && buffer[0] == 'i');
}
