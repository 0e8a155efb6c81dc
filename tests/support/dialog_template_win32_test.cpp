#include "support/dialog_template_win32.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/pool.h"
#include "tests/support/display_win32.h"

namespace {

size_t FaceUnits(const LOGFONTW& font) {
  size_t n = 0;
  while (n < LF_FACESIZE && font.lfFaceName[n]) ++n;
  return n;
}

size_t Round4(size_t n) { return (n + 3) & ~size_t{3}; }

}  // namespace

TEST(DialogTemplateWin32, NarrowFontRecordConvertsToWide) {
  LOGFONTA narrow;
  std::memset(&narrow, 0, sizeof narrow);
  narrow.lfHeight = -12;
  narrow.lfWidth = 3;
  narrow.lfEscapement = 4;
  narrow.lfOrientation = 5;
  narrow.lfWeight = 700;
  narrow.lfItalic = 1;
  narrow.lfUnderline = 1;
  narrow.lfStrikeOut = 1;
  narrow.lfCharSet = 2;
  narrow.lfOutPrecision = 3;
  narrow.lfClipPrecision = 4;
  narrow.lfQuality = 5;
  narrow.lfPitchAndFamily = 6;
  std::strcpy(narrow.lfFaceName, "Tahoma");
  LOGFONTW wide;
  std::memset(&wide, 0xCC, sizeof wide);
  ASSERT_TRUE(WideFontFromAnsi(&narrow, &wide));
  EXPECT_EQ(wide.lfHeight, -12);
  EXPECT_EQ(wide.lfWidth, 3);
  EXPECT_EQ(wide.lfEscapement, 4);
  EXPECT_EQ(wide.lfOrientation, 5);
  EXPECT_EQ(wide.lfWeight, 700);
  EXPECT_EQ(wide.lfItalic, 1);
  EXPECT_EQ(wide.lfUnderline, 1);
  EXPECT_EQ(wide.lfStrikeOut, 1);
  EXPECT_EQ(wide.lfCharSet, 2);
  EXPECT_EQ(wide.lfOutPrecision, 3);
  EXPECT_EQ(wide.lfClipPrecision, 4);
  EXPECT_EQ(wide.lfQuality, 5);
  EXPECT_EQ(wide.lfPitchAndFamily, 6);
  EXPECT_EQ(std::wstring(wide.lfFaceName), L"Tahoma");

  // A face filling all 32 bytes has no terminator; it is cut to 31 characters.
  std::memset(narrow.lfFaceName, 'x', LF_FACESIZE);
  ASSERT_TRUE(WideFontFromAnsi(&narrow, &wide));
  EXPECT_EQ(FaceUnits(wide), 31u);
}

TEST(DialogTemplateWin32, AnsiToWideNeedsRoomForTheTerminator) {
  wchar_t buffer[4];
  EXPECT_TRUE(AnsiToWide("abc", buffer, 4));
  EXPECT_EQ(std::wstring(buffer), L"abc");
  EXPECT_FALSE(AnsiToWide("abcd", buffer, 4));
}

TEST(DialogTemplateWin32, MessageFontDrivesTheLiveTemplate) {
  LOGFONTW font;
  std::memset(&font, 0, sizeof font);
  ASSERT_TRUE(QueryMessageFont(&font));
  EXPECT_GT(FaceUnits(font), 0u);
  EXPECT_NE(font.lfHeight, 0);

  LOGFONTA narrow;
  ASSERT_TRUE(QueryMessageFontAnsi(&narrow));
  EXPECT_EQ(narrow.lfHeight, font.lfHeight);

  LOGFONTW resolved;
  std::memset(&resolved, 0, sizeof resolved);
  int points = ResolveDialogFont(&resolved);
  HDC dc = GetDC(nullptr);
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc) ReleaseDC(nullptr, dc);
  EXPECT_EQ(points, PointSizeFromHeight(resolved.lfHeight, dpi));

  size_t length = 0;
  EXPECT_FALSE(BuildDialogTemplate(&kMainWindowDialog, nullptr, &length));
  EXPECT_EQ(length, Round4(40 + 2 * FaceUnits(resolved)) + 4 * 32 + 64);
}

TEST(DialogTemplateWin32, CreateDialogTemplateAllocatesFromThePool) {
  PoolCounters before = GetPoolCounters();
  void* block = nullptr;
  ASSERT_TRUE(CreateDialogTemplate(&kMainWindowDialog, &block));
  ASSERT_NE(block, nullptr);
  size_t length = 0;
  BuildDialogTemplate(&kMainWindowDialog, nullptr, &length);
  PoolCounters during = GetPoolCounters();
  EXPECT_EQ(during.liveBlocks, before.liveBlocks + 1);
  EXPECT_EQ(during.liveBytes, before.liveBytes + length);
  const uint8_t* bytes = static_cast<const uint8_t*>(block);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[2], 0xFF);
  EXPECT_TRUE(PoolFree(block));

  // Out of memory: nothing is built, nothing leaks, and no dialog is run.
  PoolInjectFailures(0, 1);
  block = nullptr;
  EXPECT_FALSE(CreateDialogTemplate(&kMainWindowDialog, &block));
  EXPECT_EQ(block, nullptr);
  PoolInjectFailures(0, 1);
  EXPECT_EQ(RunDialogFromSpec(GetModuleHandleA(nullptr), &kMainWindowDialog, nullptr, nullptr, 0),
            -1);
  PoolInjectFailures(0, 0);
  EXPECT_EQ(GetPoolCounters().liveBlocks, before.liveBlocks);
}

namespace {

struct InitSeen {
  bool called = false;
  LPARAM param = 0;
  bool controlsOk = false;
  LONG_PTR exStyle = 0;
};

bool HasClass(HWND dialog, int id, const char* cls) {
  char name[64] = {};
  HWND control = GetDlgItem(dialog, id);
  return control && GetClassNameA(control, name, sizeof name) && lstrcmpiA(name, cls) == 0;
}

INT_PTR CALLBACK EndAtInit(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_INITDIALOG) return 0;
  auto* seen = reinterpret_cast<InitSeen*>(lParam);
  seen->called = true;
  seen->param = lParam;
  seen->exStyle = GetWindowLongPtrA(dialog, GWL_EXSTYLE);
  seen->controlsOk = HasClass(dialog, 1000, "Static") && HasClass(dialog, 1001, PROGRESS_CLASSA) &&
                     HasClass(dialog, 1003, "Static") && HasClass(dialog, 1006, "Static") &&
                     HasClass(dialog, 1002, "Static") &&
                     !IsWindowEnabled(GetDlgItem(dialog, 1000)) &&
                     IsWindowEnabled(GetDlgItem(dialog, 1003));
  EndDialog(dialog, 42);
  return 1;
}

}  // namespace

TEST(DialogTemplateWin32, RunsTheMainWindowFromItsDescription) {
  SKIP_WITHOUT_DISPLAY();
  InitCommonControls();
  PoolCounters before = GetPoolCounters();
  InitSeen seen;
  INT_PTR result = RunDialogFromSpec(GetModuleHandleA(nullptr), &kMainWindowDialog, nullptr,
                                     &EndAtInit, reinterpret_cast<LPARAM>(&seen));
  EXPECT_EQ(result, 42);
  EXPECT_TRUE(seen.called);
  EXPECT_TRUE(seen.controlsOk);
  EXPECT_TRUE(seen.exStyle & WS_EX_ACCEPTFILES);
  EXPECT_EQ(GetPoolCounters().liveBlocks, before.liveBlocks);  // the template is freed
}

TEST(DialogTemplateWin32, SystemSubmenuGoesOnTopWithSeparator) {
  SKIP_WITHOUT_DISPLAY();
  HWND window = CreateTestWindow(WS_OVERLAPPEDWINDOW, 0, 0, 200, 100);
  ASSERT_NE(window, nullptr);
  HMENU system = GetSystemMenu(window, FALSE);
  ASSERT_NE(system, nullptr);
  int before = GetMenuItemCount(system);

  HMENU submenu = CreatePopupMenu();
  AppendMenuA(submenu, MF_STRING, 1004, "&About...");
  ASSERT_TRUE(InsertSystemSubmenu(window, submenu, "Slimwick", true));
  EXPECT_EQ(GetMenuItemCount(system), before + 2);
  EXPECT_EQ(GetSubMenu(system, 0), submenu);
  char text[32] = {};
  GetMenuStringA(system, 0, text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ(text, "Slimwick");
  EXPECT_TRUE(GetMenuState(system, 1, MF_BYPOSITION) & MF_SEPARATOR);

  // A window without system menu: nothing inserted, nothing left behind.
  HMENU orphan = CreatePopupMenu();
  EXPECT_FALSE(InsertSystemSubmenu(nullptr, orphan, "x", true));
  DestroyMenu(orphan);
  DestroyWindow(window);  // destroys the submenu with the system menu
}
