#include "support/window_place.h"

#include <gtest/gtest.h>

TEST(WindowPlace, BoxIsPlacedOverItsOwnerAndKeptInsideTheWorkArea) {
  const RECT screen = {0, 0, 1920, 1040};
  const RECT leftMonitor = {-1920, 0, 0, 1040};
  const RECT box = {0, 0, 200, 300};
  const RECT huge = {0, 0, 3000, 2000};
  struct Row {
    const char* what;
    RECT box, owner, workArea;
    int percent;  // vertical shift, in percent of the owner's height
    RECT expected;
  } rows[] = {
      {"5 % above the centre", box, {100, 100, 500, 500}, screen, -5, {200, 130, 400, 430}},
      {"centred", box, {100, 100, 500, 500}, screen, 0, {200, 150, 400, 450}},
      {"-1.5 truncated toward zero", {0, 0, 10, 10}, {0, 100, 100, 130}, screen, -5,
       {45, 109, 55, 119}},
      {"pushed back from the right", box, {1800, 100, 2200, 500}, screen, -5,
       {1720, 130, 1920, 430}},
      {"pushed back from bottom and left", box, {-300, 900, 100, 1300}, screen, 0,
       {0, 740, 200, 1040}},
      {"pushed back from the top", box, {500, -400, 900, 0}, screen, -5, {600, 0, 800, 300}},
      {"work area in negative coordinates", box, {-100, 100, 300, 500}, leftMonitor, 0,
       {-200, 150, 0, 450}},
      {"larger than the work area: left and top edges", huge, {100, 100, 500, 500}, screen, -5,
       {0, 0, 3000, 2000}},
      {"larger, on the left monitor", huge, {100, 100, 500, 500}, {-1920, 40, 0, 1080}, 0,
       {-1920, 40, 1080, 2040}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const RECT got = ComputePlacement(&row.box, &row.owner, &row.workArea, row.percent);
    EXPECT_EQ(got.left, row.expected.left);
    EXPECT_EQ(got.top, row.expected.top);
    EXPECT_EQ(got.right, row.expected.right);
    EXPECT_EQ(got.bottom, row.expected.bottom);
  }
}
