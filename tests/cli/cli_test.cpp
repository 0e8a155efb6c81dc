// The JSON writer's numbers and the exit status of a run (the writer's
// strings: json_writer_posix_test.cpp).

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/json_writer.h"

namespace {

TEST(JsonWriter, NumbersAndNull) {
  const std::string line = JsonObjectWriter()
                               .Unsigned("u", 18446744073709551615ull)
                               .Signed("i", -5)
                               .Number("n", 1.25, 3)
                               .Number("nan", std::nan(""), 1)
                               .Null("z")
                               .Finish();
  EXPECT_EQ(line, R"({"u":18446744073709551615,"i":-5,"n":1.250,"nan":0.0,"z":null})");
  EXPECT_EQ(JsonObjectWriter().Finish(), "{}");
}

TEST(ExitStatus, WorstArchiveDecides) {
  using O = JobOutcome;
  const struct {
    std::vector<O> outcomes;
    int status;
  } cases[] = {
      {{O::CleanedCopyKept, O::CleanedCopyKept}, 0},
      {{O::OverwriteDeclined, O::CleanedCopyKept}, 1},
      {{O::CleanedCopyKept, O::NothingSaved, O::CleanedCopyKept}, 1},
      {{O::NothingSaved, O::PassFailed}, 2},
      {{O::DestinationFailed}, 2},
      {{O::FinalizeFailed, O::NothingSaved, O::CleanedCopyKept}, 2},
      {{O::CleanedCopyKept, O::NothingSaved, O::SourceNotOpened}, 2},
  };
  for (const auto& c : cases) {
    int status = kExitKept;
    for (O outcome : c.outcomes) status = CombineExitStatus(status, ExitStatusFor(outcome));
    EXPECT_EQ(status, c.status) << "first outcome " << static_cast<int>(c.outcomes[0]);
  }
}

}  // namespace
