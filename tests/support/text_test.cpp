#include "support/text.h"
#include <gtest/gtest.h>

TEST(Text, BoundedCopiesNeverRunPastTheBuffer) {
  char out[8] = "xxxxxxx", small[3];
  EXPECT_STREQ(CopyBounded(out, "abcdef", 1), "");
  EXPECT_STREQ(CopyBounded(out, "abcdefghijk", sizeof out), "abcdefg");
  size_t length = 99;
  EXPECT_TRUE(CopyStringBounded("ab\0zz", 5, out, sizeof out, &length));
  EXPECT_EQ(std::string(out) + std::to_string(length), "ab2");
  EXPECT_FALSE(CopyStringBounded("abcd", 4, nullptr, 0, &length)) << "no terminator";
  EXPECT_FALSE(CopyStringBounded("abc\0", 4, small, sizeof small, &length));
}
