#include "support/window_place.h"

#include <gtest/gtest.h>

#include "tests/support/display_win32.h"

namespace {

RECT R(LONG l, LONG t, LONG r, LONG b) { return RECT{l, t, r, b}; }

void ExpectRect(const RECT& got, const RECT& want) {
  EXPECT_EQ(got.left, want.left);
  EXPECT_EQ(got.top, want.top);
  EXPECT_EQ(got.right, want.right);
  EXPECT_EQ(got.bottom, want.bottom);
}

const RECT kScreen = R(0, 0, 1920, 1040);

}  // namespace

TEST(WindowPlace, CentresTruncateTowardZero) {
  RECT a = R(0, 0, 101, 101);
  EXPECT_EQ(RectCenter(&a).x, 50);
  EXPECT_EQ(RectCenter(&a).y, 50);
  RECT b = R(-101, -101, 0, 0);
  EXPECT_EQ(RectCenter(&b).x, -51);
  EXPECT_EQ(RectCenter(&b).y, -51);

  RECT r = R(10, 20, 30, 60);
  MoveRectCenterTo(&r, POINT{-100, 100});
  ExpectRect(r, R(-110, 80, -90, 120));
  RECT reference = R(0, 0, 101, 101);
  CenterRectOn(&r, &reference);
  ExpectRect(r, R(40, 30, 60, 70));
}

TEST(WindowPlace, AboutBoxSitsFivePercentAboveTheCentre) {
  RECT box = R(0, 0, 200, 300);
  RECT owner = R(100, 100, 500, 500);  // 400 high, centre 300
  ExpectRect(ComputePlacement(&box, &owner, &kScreen, -5), R(200, 130, 400, 430));
  ExpectRect(ComputePlacement(&box, &owner, &kScreen, 0), R(200, 150, 400, 450));
  ExpectRect(ComputePlacement(&box, &owner, &kScreen, 10), R(200, 190, 400, 490));

  // -5 % of 30 is -1.5: truncated toward zero to -1, not -2.
  RECT small = R(0, 0, 10, 10);
  RECT flat = R(0, 100, 100, 130);
  EXPECT_EQ(ComputePlacement(&small, &flat, &kScreen, -5).top, 109);
}

TEST(WindowPlace, PushedBackInsideTheWorkArea) {
  RECT box = R(0, 0, 200, 300);
  RECT offRight = R(1800, 100, 2200, 500);
  ExpectRect(ComputePlacement(&box, &offRight, &kScreen, -5), R(1720, 130, 1920, 430));

  RECT offBottomLeft = R(-300, 900, 100, 1300);
  ExpectRect(ComputePlacement(&box, &offBottomLeft, &kScreen, 0), R(0, 740, 200, 1040));

  RECT offTop = R(500, -400, 900, 0);
  ExpectRect(ComputePlacement(&box, &offTop, &kScreen, -5), R(600, 0, 800, 300));

  // A second monitor to the left, its work area in negative coordinates.
  RECT left = R(-1920, 0, 0, 1040);
  RECT straddling = R(-100, 100, 300, 500);
  ExpectRect(ComputePlacement(&box, &straddling, &left, 0), R(-200, 150, 0, 450));
}

TEST(WindowPlace, LargerThanTheWorkAreaMeetsLeftAndTopEdges) {
  RECT huge = R(0, 0, 3000, 2000);
  RECT owner = R(100, 100, 500, 500);
  ExpectRect(ComputePlacement(&huge, &owner, &kScreen, -5), R(0, 0, 3000, 2000));
  RECT area = R(-1920, 40, 0, 1080);
  ExpectRect(ComputePlacement(&huge, &owner, &area, 0), R(-1920, 40, 1080, 2040));
}

TEST(WindowPlace, WorkAreaAndMonitorLookups) {
  RECT work{};
  ASSERT_TRUE(GetWorkArea(nullptr, &work));
  EXPECT_GT(work.right - work.left, 0);
  EXPECT_GT(work.bottom - work.top, 0);

  HMONITOR monitor = MonitorFromWindowDynamic(nullptr, MONITOR_DEFAULTTOPRIMARY);
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(monitor, MonitorFromWindow(nullptr, MONITOR_DEFAULTTOPRIMARY));
  MONITORINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetMonitorInfoDynamic(monitor, &info));
  RECT primary{};
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, sizeof primary, &primary, 0));
  ExpectRect(info.rcWork, primary);
}

TEST(WindowPlace, MovesRealWindows) {
  SKIP_WITHOUT_DISPLAY();
  HWND owner = CreateTestWindow(WS_POPUP, 100, 100, 400, 400);
  HWND box = CreateTestWindow(WS_POPUP, 0, 0, 200, 300, owner);
  ASSERT_NE(owner, nullptr);
  ASSERT_NE(box, nullptr);
  RECT ownerRect, boxRect, work;
  GetWindowRect(owner, &ownerRect);
  GetWindowRect(box, &boxRect);
  ASSERT_TRUE(GetWorkArea(owner, &work));
  RECT want = ComputePlacement(&boxRect, &ownerRect, &work, -5);

  ASSERT_TRUE(CenterOverWindow(box, owner));
  RECT got;
  GetWindowRect(box, &got);
  ExpectRect(got, want);

  // Without a reference: centred on the work area.
  ASSERT_TRUE(CenterOverWindow(box, nullptr));
  GetWindowRect(box, &got);
  RECT centred = ComputePlacement(&boxRect, &work, &work, -5);
  ExpectRect(got, centred);

  // A child is placed by screen coordinates, converted to its parent's client area.
  HWND child = CreateTestWindow(WS_CHILD | WS_VISIBLE, 0, 0, 20, 10, owner);
  ASSERT_NE(child, nullptr);
  POINT origin{0, 0};
  ClientToScreen(owner, &origin);
  RECT target = R(origin.x + 30, origin.y + 40, origin.x + 50, origin.y + 50);
  ASSERT_TRUE(MoveWindowToRect(child, &target));
  GetWindowRect(child, &got);
  ExpectRect(got, target);

  DestroyWindow(box);
  DestroyWindow(owner);
}
