#include "support/privilege.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(Privilege, AdministratorCheckDecision) {
  auto admin = [] {
    AdminCheckFacts f;
    f.administrator = true;
    f.ownLevelKnown = true;
    f.ownLevel = kIntegrityHigh;
    return f;
  };
  struct Row {
    const char* what;
    AdminCheckFacts facts;
    bool warning;
    bool note;
    int shellLevel;
  };
  AdminCheckFacts win9x;
  win9x.win9x = true;
  win9x.administrator = true;  // ignored on that family
  AdminCheckFacts standard;    // no administrator rights

  AdminCheckFacts noShell = admin();
  AdminCheckFacts shellClosed = admin();
  shellClosed.shellFound = true;
  AdminCheckFacts shellStandard = shellClosed;
  shellStandard.shellTokenOpened = true;
  AdminCheckFacts shellHigh = shellStandard;
  shellHigh.shellAdministrator = true;
  shellHigh.shellLevelKnown = true;
  shellHigh.shellLevel = kIntegrityHigh;
  AdminCheckFacts shellMediumAdmin = shellHigh;  // a filtered administrator shell
  shellMediumAdmin.shellLevel = kIntegrityMedium;
  AdminCheckFacts shellUnknown = shellHigh;
  shellUnknown.shellLevelKnown = false;
  shellUnknown.shellLevel = kIntegrityUntrusted;
  AdminCheckFacts ownUnknown = shellMediumAdmin;
  ownUnknown.ownLevelKnown = false;
  ownUnknown.ownLevel = kIntegrityUntrusted;
  AdminCheckFacts ownMedium = shellStandard;  // an administrator without integrity levels
  ownMedium.ownLevel = kIntegrityMedium;
  AdminCheckFacts systemOverHigh = shellHigh;
  systemOverHigh.ownLevel = kIntegritySystem;

  const Row rows[] = {
      {"win9x", win9x, false, false, 0},
      {"standard user", standard, false, false, 0},
      {"no shell window", noShell, true, false, kIntegrityHigh},
      {"shell token not opened", shellClosed, true, false, kIntegrityHigh + 1},
      {"shell not administrator", shellStandard, true, true, kIntegrityMedium},
      {"shell elevated too", shellHigh, true, false, kIntegrityHigh},
      {"shell at medium", shellMediumAdmin, true, true, kIntegrityMedium},
      {"shell level unknown", shellUnknown, true, false, kIntegrityHigh},
      {"own level unknown", ownUnknown, true, true, kIntegrityMedium},
      {"own medium, shell standard", ownMedium, true, false, kIntegrityMedium},
      {"system over high shell", systemOverHigh, true, true, kIntegrityHigh},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    AdminCheckOutcome o = DecideAdminWarnings(r.facts);
    EXPECT_EQ(o.showWarning, r.warning);
    EXPECT_EQ(o.showNote, r.note);
    if (r.warning) {
      EXPECT_EQ(o.shellLevel, r.shellLevel);
    }
  }
  EXPECT_EQ(DecideAdminWarnings(ownUnknown).ownLevel, kIntegrityHigh);
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
