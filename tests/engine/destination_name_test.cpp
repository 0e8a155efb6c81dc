// The cleaned copy's name: the extension is found in the file name only, and
// a name that does not fit (with its temporary sibling) is refused, never cut
// (a 259-character source without a dot used to be cut back to itself).

#include <gtest/gtest.h>

#include <string>

#include "engine/consolidation_job.h"
#include "engine/format.h"

namespace {

TEST(DestinationName, ExtensionComesFromTheFileNameOnly) {
#ifdef _WIN32
  const bool backslash = true;
#else
  const bool backslash = false;
#endif
  struct Row {
    const char* source;
    const char* cleaned;
  };
  const Row rows[] = {
      {"a.grf", "a-cleaned.grf"},
      {"archive", "archive-cleaned.grf"},
      {"./archive", "./archive-cleaned.grf"},
      {"x.y/archive", "x.y/archive-cleaned.grf"},
      {"x.y/a.b.grf", "x.y/a.b-cleaned.grf"},
      {"/srv/data/a.grf", "/srv/data/a-cleaned.grf"},
      {"/srv/my.files/archive", "/srv/my.files/archive-cleaned.grf"},
      {"dir/.hidden", "dir/-cleaned.hidden"},
      {"E:\\my.files/archive", "E:\\my.files/archive-cleaned.grf"},
      {"E:\\my.files\\archive",
       backslash ? "E:\\my.files\\archive-cleaned.grf" : "E:\\my-cleaned.files\\archive"},
  };
  for (const Row& row : rows) {
    char name[kPathCapacity];
    EXPECT_TRUE(BuildDestinationName(row.source, name, sizeof name)) << row.source;
    EXPECT_STREQ(name, row.cleaned) << row.source;
  }
}

TEST(DestinationName, TooLongIsRefusedAtTheLimit) {
  // "-cleaned" adds 8 characters, the temporary file's ".XXXXXXXX.partial" 17
  // more; the whole must stay below the 260-character path limit.
  const size_t longest = kPathCapacity - 1 - kPartialExtra - 8;
  for (size_t length = longest - 1; length <= kPathCapacity - 1; ++length) {
    for (const bool dot : {true, false}) {
      std::string source = "/t/" + std::string(length - 3 - (dot ? 4 : 0), 'x');
      if (dot) source += ".grf";
      ASSERT_EQ(source.size(), length);
      const size_t cleanedLength = length + 8 + (dot ? 0 : 4);
      char name[kPathCapacity];
      const bool fits = cleanedLength + kPartialExtra < kPathCapacity;
      EXPECT_EQ(BuildDestinationName(source.c_str(), name, sizeof name), fits) << length;
      EXPECT_EQ(std::string(name).size(), fits ? cleanedLength : 0u);
    }
  }
}

}  // namespace
