#include "support/window_place.h"
#include <gtest/gtest.h>

TEST(WindowPlace, BoxIsPlacedOverItsOwnerAndKeptInsideTheWorkArea) {
  const RECT box = {0, 0, 200, 300}, work = {-1920, 40, 0, 1080};
  const struct {
    RECT owner;
    int percent;  // vertical shift, in percent of the owner's height
    LONG left, top;
  } rows[] = {{{-1500, 100, -1100, 500}, -5, -1400, 130},   // centred, 5 % up
              {{-100, 100, 300, 500}, -5, -200, 130},       // pushed back from the right
              {{-2300, 900, -1900, 1300}, 0, -1920, 780},   // from the left and the bottom
              {{-2300, -400, -1900, 0}, -5, -1920, 40}};    // from the top
  for (const auto& row : rows) {
    const RECT got = ComputePlacement(&box, &row.owner, &work, row.percent);
    EXPECT_EQ(std::vector<LONG>({got.left, got.top, got.right - got.left, got.bottom - got.top}),
              std::vector<LONG>({row.left, row.top, 200, 300})) << row.owner.left;
  }
}
