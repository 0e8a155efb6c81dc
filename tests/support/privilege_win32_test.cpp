#include "support/privilege.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(Privilege, AdministratorCheckDecision) {
  constexpr int kHigh = kIntegrityHigh, kMedium = kIntegrityMedium;
  struct Row {
    const char* what;
    AdminCheckFacts facts;
    bool warning, note;
    int shellLevel;  // as compared, when the warning is shown
  } rows[] = {
      {"win9x: administrator ignored", {.win9x = true, .administrator = true}, false, false, 0},
      {"standard user", {}, false, false, 0},
      {"no shell window", {.administrator = true, .ownLevelKnown = true, .ownLevel = kHigh},
       true, false, kHigh},
      {"shell token not opened",
       {.administrator = true, .ownLevelKnown = true, .ownLevel = kHigh, .shellFound = true},
       true, false, kHigh + 1},
      {"shell not administrator",
       {.administrator = true, .ownLevelKnown = true, .ownLevel = kHigh, .shellFound = true,
        .shellTokenOpened = true},
       true, true, kMedium},
      {"shell elevated too",
       {.administrator = true, .ownLevelKnown = true, .ownLevel = kHigh, .shellFound = true,
        .shellTokenOpened = true, .shellAdministrator = true, .shellLevelKnown = true,
        .shellLevel = kHigh},
       true, false, kHigh},
      {"filtered administrator shell at medium",
       {.administrator = true, .ownLevelKnown = true, .ownLevel = kHigh, .shellFound = true,
        .shellTokenOpened = true, .shellAdministrator = true, .shellLevelKnown = true,
        .shellLevel = kMedium},
       true, true, kMedium},
      {"shell level unknown: taken as high",
       {.administrator = true, .ownLevelKnown = true, .ownLevel = kHigh, .shellFound = true,
        .shellTokenOpened = true, .shellAdministrator = true},
       true, false, kHigh},
      {"own level unknown: taken as high",
       {.administrator = true, .shellFound = true, .shellTokenOpened = true,
        .shellAdministrator = true, .shellLevelKnown = true, .shellLevel = kMedium},
       true, true, kMedium},
      {"own medium, shell standard",
       {.administrator = true, .ownLevelKnown = true, .ownLevel = kMedium, .shellFound = true,
        .shellTokenOpened = true},
       true, false, kMedium},
      {"system over a high shell",
       {.administrator = true, .ownLevelKnown = true, .ownLevel = kIntegritySystem,
        .shellFound = true, .shellTokenOpened = true, .shellAdministrator = true,
        .shellLevelKnown = true, .shellLevel = kHigh},
       true, true, kHigh},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const AdminCheckOutcome o = DecideAdminWarnings(r.facts);
    EXPECT_EQ(o.showWarning, r.warning);
    EXPECT_EQ(o.showNote, r.note);
    if (r.warning) {
      EXPECT_EQ(o.shellLevel, r.shellLevel);
    }
  }
}

TEST(Privilege, SystemPathMustFitWithSeparatorAndName) {
  char out[261];
  ASSERT_TRUE(JoinSystemPath("C:\\Windows\\system32", "advapi32.dll", out, sizeof out));
  EXPECT_STREQ(out, "C:\\Windows\\system32\\advapi32.dll");
  ASSERT_TRUE(JoinSystemPath("C:\\", "advapi32.dll", out, sizeof out));
  EXPECT_STREQ(out, "C:\\advapi32.dll");

  // 248 + separator + 12 + terminator = 262 does not fit; 247 does exactly.
  std::string longDir(248, 'd');
  std::memset(out, 'z', sizeof out);
  EXPECT_FALSE(JoinSystemPath(longDir.c_str(), "advapi32.dll", out, sizeof out));
  EXPECT_EQ(out[0], 'z');
  longDir.pop_back();
  ASSERT_TRUE(JoinSystemPath(longDir.c_str(), "advapi32.dll", out, sizeof out));
  EXPECT_EQ(std::strlen(out), 260u);
}
