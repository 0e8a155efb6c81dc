#include "support/privilege.h"
#include <gtest/gtest.h>

namespace {
// An administrator at `own` whose shell token was opened; level 0: not known.
AdminCheckFacts Shell(int own, bool shellAdministrator, int shell) {
  return {.administrator = true, .ownLevelKnown = own != 0, .ownLevel = own, .shellFound = true,
          .shellTokenOpened = true, .shellAdministrator = shellAdministrator,
          .shellLevelKnown = shell != 0, .shellLevel = shell};
}

TEST(Privilege, AdministratorCheckDecision) {
  constexpr int kHigh = kIntegrityHigh, kMedium = kIntegrityMedium;
  const AdminCheckFacts noShell = {.administrator = true, .ownLevelKnown = true, .ownLevel = kHigh};
  const AdminCheckFacts noToken = {.administrator = true, .ownLevelKnown = true, .ownLevel = kHigh,
                                   .shellFound = true};
  // Warning, note, and the shell level compared when warning: "WN2".
  const std::pair<AdminCheckFacts, std::string> rows[] = {
      {{.win9x = true, .administrator = true}, "--"}, {{}, "--"},
      {noShell, "W-4"},                               {noToken, "W-5"},
      {Shell(kHigh, false, 0), "WN2"},                {Shell(kHigh, true, kHigh), "W-4"},
      {Shell(kHigh, true, kMedium), "WN2"},           {Shell(kHigh, true, 0), "W-4"},
      {Shell(0, true, kMedium), "WN2"},               {Shell(kMedium, false, 0), "W-2"},
      {Shell(kIntegritySystem, true, kHigh), "WN4"},
  };
  for (const auto& [facts, expected] : rows) {
    const AdminCheckOutcome o = DecideAdminWarnings(facts);
    EXPECT_EQ(std::string(o.showWarning ? "W" : "-") + (o.showNote ? "N" : "-") +
                  (o.showWarning ? std::to_string(o.shellLevel) : ""),
              expected) << &expected - &rows[0].second;
  }
}
}  // namespace
