#include "support/text.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Text, BoundedCopiesNeverRunPastTheBuffer) {
  char out[8];
  std::memset(out, 'x', sizeof out);
  CopyBounded(out, "abcdef", 1);
  EXPECT_STREQ(out, "");
  CopyBounded(out, "abcdefghijk", sizeof out);
  EXPECT_STREQ(out, "abcdefg");

  size_t length = 99;
  EXPECT_TRUE(CopyStringBounded("ab\0zz", 5, out, sizeof out, &length));
  EXPECT_STREQ(out, "ab");
  EXPECT_EQ(length, 2u);
  EXPECT_FALSE(CopyStringBounded("abcd", 4, nullptr, 0, &length)) << "no terminator";
  char small[3];
  EXPECT_FALSE(CopyStringBounded("abc\0", 4, small, sizeof small, &length))
      << "the destination size limits the search";
}
