#include "support/privilege.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(Privilege, IntegrityRidMapsToClassAtEveryBoundary) {
  struct Case {
    uint32_t rid;
    int cls;
  };
  const Case cases[] = {
      {0x0000, 0}, {0x0FFF, 0}, {0x1000, 1}, {0x1FFF, 1}, {0x2000, 2},
      {0x20FF, 2}, {0x2100, 3}, {0x2FFF, 3}, {0x3000, 4}, {0x3FFF, 4},
      {0x4000, 5}, {0x4FFF, 5}, {0x5000, 6}, {0xFFFFFFFF, 6},
  };
  for (const Case& c : cases) EXPECT_EQ(IntegrityClassFromRid(c.rid), c.cls) << std::hex << c.rid;
}

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

TEST(Privilege, VersionIsCachedAndClassifiesThePlatform) {
  const OsVersionInfo* v = GetOsVersionInfo();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(GetOsVersionInfo(), v);
  EXPECT_EQ(v->dwOSVersionInfoSize, sizeof(OSVERSIONINFOEXA));  // the extended record is taken
  EXPECT_EQ(v->dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_EQ(IsWin9xFamily(), 0);
  EXPECT_EQ(IsVistaOrLater(), v->dwMajorVersion >= 6 ? 1 : 0);
}

TEST(Privilege, SystemLibrariesLoadByFullPath) {
  HMODULE module = reinterpret_cast<HMODULE>(1);
  ASSERT_TRUE(LoadSystemLibrary("advapi32.dll", &module));
  ASSERT_NE(module, nullptr);
  char path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(module, path, sizeof path), 0u);
  char system[MAX_PATH];
  GetSystemDirectoryA(system, sizeof system);
  EXPECT_EQ(_strnicmp(path, system, std::strlen(system)), 0) << path;

  SetLastError(0);
  EXPECT_EQ(GetProcAddressOrNotImplemented(module, "NoSuchExportAnywhere"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_NE(GetProcAddressOrNotImplemented(module, "GetTokenInformation"), nullptr);
  FreeLibrary(module);

  module = reinterpret_cast<HMODULE>(1);
  EXPECT_FALSE(LoadSystemLibrary("no-such-library-here.dll", &module));
  EXPECT_EQ(module, nullptr);
}

TEST(Privilege, TokenQueriesAgreeWithEachOther) {
  int processClass = -1;
  DWORD processRid = 0;
  int haveProcessLevel = GetProcessIntegrityLevel(GetCurrentProcess(), &processClass, &processRid);
  if (haveProcessLevel) {
    EXPECT_EQ(processClass, IntegrityClassFromRid(processRid));
  } else {
    EXPECT_EQ(processClass, 0);
  }

  HANDLE token = nullptr;
  ASSERT_EQ(DuplicateProcessToken(GetCurrentProcess(), &token), 1);
  ASSERT_NE(token, nullptr);
  EXPECT_EQ(IsTokenAdministrator(token), IsRunningAsAdministrator());
  int tokenClass = -1;
  EXPECT_EQ(GetTokenIntegrityLevel(token, &tokenClass, nullptr), haveProcessLevel);
  EXPECT_EQ(tokenClass, processClass);
  CloseHandle(token);

  HANDLE viaId = nullptr;
  ASSERT_EQ(DuplicateTokenOfProcessId(GetCurrentProcessId(), &viaId), 1);
  CloseHandle(viaId);

  // Failures write the promised presets and nothing else.
  HANDLE notAToken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  EXPECT_EQ(IsTokenAdministrator(notAToken), 0);
  CloseHandle(notAToken);
  HANDLE untouched = reinterpret_cast<HANDLE>(7);
  EXPECT_EQ(DuplicateTokenOfProcessId(0xFFFFFFF0u, &untouched), 0);
  EXPECT_EQ(untouched, reinterpret_cast<HANDLE>(7));
}

TEST(Privilege, GatheredFactsFollowTheCheckOrder) {
  AdminCheckFacts facts = GatherAdminCheckFacts();
  EXPECT_FALSE(facts.win9x);
  EXPECT_EQ(facts.administrator, IsRunningAsAdministrator() != 0);
  DWORD shellId = 0;
  if (!facts.administrator) {
    EXPECT_FALSE(facts.ownLevelKnown);
    EXPECT_FALSE(facts.shellFound);
  } else {
    EXPECT_EQ(facts.shellFound, GetShellProcessId(&shellId) != 0);
    if (!facts.shellFound) {
      EXPECT_FALSE(facts.shellTokenOpened);
    }
  }
  AdminCheckOutcome outcome = DecideAdminWarnings(facts);
  EXPECT_EQ(outcome.showWarning, facts.administrator);
}
