#include "support/about_box.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "support/dialog_template_win32.h"
#include "support/privilege.h"
#include "support/window_place.h"
#include "tests/support/display_win32.h"

TEST(AboutBox, CopyrightLineHasOneOrTwoYears) {
  char line[128];
  EXPECT_EQ(FormatCopyrightLine(line, sizeof line, 2014, 2024, "The Slimwick authors"), 44u);
  EXPECT_STREQ(line, "Copyright (c) 2014-2024 The Slimwick authors");
  FormatCopyrightLine(line, sizeof line, 2024, 2024, "The Slimwick authors");
  EXPECT_STREQ(line, "Copyright (c) 2024 The Slimwick authors");
  char small[10];
  EXPECT_EQ(FormatCopyrightLine(small, sizeof small, 2014, 2024, "x"), 9u);
  EXPECT_STREQ(small, "Copyright");
}

TEST(AboutBox, TextHasMottoDisclaimerAndLinkedZlibVersion) {
  char text[1024];
  size_t length = ComposeAboutText("9.8.7", text, sizeof text);
  ASSERT_EQ(length, std::strlen(text));
  const char* motto = "\r\n\"This tool does not include an escalator, sorry.\"\r\n\r\n";
  EXPECT_EQ(std::strncmp(text, motto, std::strlen(motto)), 0);
  EXPECT_NE(std::strstr(text, "zlib library, version 9.8.7"), nullptr);
  EXPECT_NE(std::strstr(text, "own risk"), nullptr);
  EXPECT_GT(length, 700u);
  EXPECT_LT(length, 1023u);  // fits the dialog's text buffer uncut
  // The edit control breaks lines only at CR LF.
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '\n') {
      EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << i;
    }
    if (text[i] == '\r') {
      EXPECT_EQ(text[i + 1], '\n') << i;
    }
  }
  // Cut to a small buffer, still terminated.
  char tiny[8];
  EXPECT_EQ(ComposeAboutText("1", tiny, sizeof tiny), 7u);
  EXPECT_EQ(tiny[7], 0);
}

TEST(AboutBox, ProductValues) {
  AboutInfo info = ProductAboutInfo(nullptr, "1.3.1");
  uint32_t years = 0;
  static_assert(offsetof(AboutInfo, lastYear) == offsetof(AboutInfo, firstYear) + 2);
  std::memcpy(&years, &info.firstYear, sizeof years);
  EXPECT_EQ(years, 0x07E807DEu);
  EXPECT_STREQ(info.title, "About Slimwick...");
  EXPECT_STREQ(info.productName, "Slimwick");
  EXPECT_STREQ(info.version, "1.5.0.47");
  EXPECT_STREQ(info.copyrightHolder, "The Slimwick authors");
  EXPECT_EQ(info.homepage, nullptr);
  EXPECT_NE(std::strstr(info.text, "version 1.3.1"), nullptr);
}

TEST(AboutBox, IconScalesWithScreenResolution) {
  EXPECT_EQ(ScaleToScreen(32, 96), 32);
  EXPECT_EQ(ScaleToScreen(32, 120), 40);
  EXPECT_EQ(ScaleToScreen(32, 144), 48);
  EXPECT_EQ(ScaleToScreen(21, 120), 26);  // 26.25 truncated
  EXPECT_EQ(ScaleToScreen(32, 0), 32);
}

TEST(AboutBox, LayoutsTabFromOkToTextToHomepage) {
  for (const DialogSpec* spec : {&kAboutDialogVista, &kAboutDialogClassic}) {
    std::vector<int> tabStops;
    for (uint16_t i = 0; i < spec->itemCount; ++i)
      if (spec->items[i].style & WS_TABSTOP) tabStops.push_back(spec->items[i].id);
    EXPECT_EQ(tabStops, (std::vector<int>{IDOK, about::kTextId, about::kHomepageId}));
    EXPECT_EQ(spec->style, 0x80C800C8u);
    EXPECT_EQ(spec->cx, 250);
  }
  EXPECT_EQ(kAboutDialogVista.itemCount, 7);
  EXPECT_EQ(kAboutDialogVista.cy, 175);
  EXPECT_EQ(kAboutDialogClassic.itemCount, 9);
  EXPECT_EQ(kAboutDialogClassic.cy, 172);
  int separators = 0;
  for (uint16_t i = 0; i < kAboutDialogClassic.itemCount; ++i) {
    const DialogItemSpec& item = kAboutDialogClassic.items[i];
    if (item.id != about::kSeparatorId) continue;
    ++separators;
    EXPECT_EQ(item.cx, kAboutDialogClassic.cx + 2);  // reaches the right edge
  }
  EXPECT_EQ(separators, 2);
}

TEST(AboutBox, GateLetsOneBoxAtATime) {
  ASSERT_TRUE(TryEnterAboutBox());
  EXPECT_FALSE(TryEnterAboutBox());
  // While a box is open, a request shows nothing and leaves the gate closed.
  AboutInfo info = ProductAboutInfo(nullptr, "1.3.1");
  ShowAboutBox(&info);
  EXPECT_FALSE(TryEnterAboutBox());
  LeaveAboutBox();
  EXPECT_TRUE(TryEnterAboutBox());
  LeaveAboutBox();
}

namespace {

// What the timer saw inside the About box's modal loop.
struct Observed {
  HWND owner = nullptr;
  const AboutInfo* info = nullptr;
  bool found = false;
  std::string name, copyright, text, ok, homepage;
  bool homepageVisible = false;
  bool classicSeparators = false;
  bool secondRequestRefused = false;
  bool focusMovedOffDisabled = false;
  bool focusMovedOffHidden = false;
  bool placed = false;
  bool panelPainted = false;
  bool buttonKeepsSystemColours = false;
};
Observed g_observed;
HWND g_about = nullptr;

BOOL CALLBACK FindAbout(HWND window, LPARAM) {
  char title[64] = {};
  GetWindowTextA(window, title, sizeof title);
  if (std::strcmp(title, "About Slimwick...") != 0) return TRUE;
  g_about = window;
  return FALSE;
}

std::string ItemText(HWND dialog, int id) {
  char text[1024] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

void CALLBACK InspectAboutBox(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  Observed& o = g_observed;
  g_about = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), &FindAbout, 0);
  HWND about = g_about;
  if (!about) return;
  o.found = true;
  o.name = ItemText(about, about::kNameId);
  o.copyright = ItemText(about, about::kCopyrightId);
  o.text = ItemText(about, about::kTextId);
  o.ok = ItemText(about, IDOK);
  o.homepage = ItemText(about, about::kHomepageId);
  o.homepageVisible = IsWindowVisible(GetDlgItem(about, about::kHomepageId)) != FALSE;
  o.classicSeparators = GetDlgItem(about, about::kSeparatorId) != nullptr;
  if (o.homepageVisible) {
    // Hiding the focused button moves the focus on first; showing it again restores it.
    HWND homepage = GetDlgItem(about, about::kHomepageId);
    SetFocus(homepage);
    ShowDlgItem(about, about::kHomepageId, 0);
    o.focusMovedOffHidden = GetFocus() != homepage && !IsWindowVisible(homepage);
    ShowDlgItem(about, about::kHomepageId, 1);
    o.homepageVisible = IsWindowVisible(homepage) != FALSE;
  }

  // A second request from inside the box's own modal loop shows nothing.
  ShowAboutBox(o.info);
  o.secondRequestRefused = true;

  RECT ownerRect, aboutRect, work;
  GetWindowRect(o.owner, &ownerRect);
  GetWindowRect(about, &aboutRect);
  GetWorkArea(o.owner, &work);
  RECT want = ComputePlacement(&aboutRect, &ownerRect, &work, -5);
  o.placed = std::memcmp(&want, &aboutRect, sizeof want) == 0;

  // Disabling the focused button moves the focus on first.
  HWND ok = GetDlgItem(about, IDOK);
  SetFocus(ok);
  EnableDlgItem(about, IDOK, 0);
  o.focusMovedOffDisabled = GetFocus() != ok && !IsWindowEnabled(ok);
  EXPECT_EQ(EnableDlgItem(about, IDOK, 0), 1);  // nothing to change
  EnableDlgItem(about, IDOK, 1);

  // The dialog procedure itself: 0 means the system's own colours.
  auto proc = reinterpret_cast<DLGPROC>(GetWindowLongPtrA(about, DWLP_DLGPROC));
  HDC dc = GetDC(about);
  INT_PTR panel = proc(about, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                       reinterpret_cast<LPARAM>(GetDlgItem(about, about::kPanelId)));
  o.panelPainted = panel == reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW)) &&
                   GetBkColor(dc) == GetSysColor(COLOR_WINDOW);
  o.buttonKeepsSystemColours = proc(about, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                    reinterpret_cast<LPARAM>(ok)) == 0;
  ReleaseDC(about, dc);

  PostMessageA(about, WM_COMMAND, IDCANCEL, 0);  // as Escape does
}

// Safety net: whatever happens, no box stays open.
void CALLBACK CloseStrayAboutBox(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  g_about = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), &FindAbout, 0);
  if (g_about) EndDialog(g_about, 0);
}

Observed RunAboutBox(const AboutInfo& info) {
  g_observed = Observed{};
  g_observed.owner = info.owner;
  g_observed.info = &info;
  SetTimer(nullptr, 0, 200, &InspectAboutBox);
  UINT_PTR guard = SetTimer(nullptr, 0, 10000, &CloseStrayAboutBox);
  ShowAboutBox(&info);
  KillTimer(nullptr, guard);
  PumpMessages();
  return g_observed;
}

}  // namespace

TEST(AboutBox, LiveBoxShowsTheInformationAndClosesOnEscape) {
  SKIP_WITHOUT_DISPLAY();
  HWND owner = CreateTestWindow(WS_OVERLAPPEDWINDOW, 200, 150, 500, 400);
  ASSERT_NE(owner, nullptr);
  AboutInfo info = ProductAboutInfo(owner, "1.3.1");
  Observed o = RunAboutBox(info);
  ASSERT_TRUE(o.found);
  EXPECT_EQ(o.name, "Slimwick, Version 1.5.0.47");
  EXPECT_EQ(o.copyright, "Copyright (c) 2014-2024 The Slimwick authors");
  EXPECT_EQ(o.text, info.text);
  EXPECT_EQ(o.ok, "OK");
  EXPECT_FALSE(o.homepageVisible);  // no homepage: the button is hidden
  EXPECT_EQ(o.classicSeparators, IsVistaOrLater() == 0);
  EXPECT_TRUE(o.secondRequestRefused);
  EXPECT_TRUE(o.placed);
  EXPECT_TRUE(o.focusMovedOffDisabled);
  EXPECT_TRUE(o.panelPainted);
  EXPECT_TRUE(o.buttonKeepsSystemColours);
  // Closed: the gate is open again.
  EXPECT_TRUE(TryEnterAboutBox());
  LeaveAboutBox();

  // With a homepage the button shows.
  info.homepage = "about:blank";
  o = RunAboutBox(info);
  ASSERT_TRUE(o.found);
  EXPECT_TRUE(o.homepageVisible);
  EXPECT_TRUE(o.focusMovedOffHidden);
  EXPECT_EQ(o.homepage, "&Homepage");
  DestroyWindow(owner);
}

namespace {

struct LayoutCheck {
  const DialogSpec* spec;
  bool allControls = false;
};

INT_PTR CALLBACK CheckLayoutAtInit(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_INITDIALOG) return 0;
  auto* check = reinterpret_cast<LayoutCheck*>(lParam);
  bool ok = true;
  for (uint16_t i = 0; i < check->spec->itemCount; ++i) {
    const DialogItemSpec& item = check->spec->items[i];
    char cls[32] = {};
    HWND control = GetDlgItem(dialog, item.id);
    const char* want = item.className[1] == 0x0080 ? "Button"
                       : item.className[1] == 0x0081 ? "Edit"
                                                      : "Static";
    ok = ok && control && GetClassNameA(control, cls, sizeof cls) && lstrcmpiA(cls, want) == 0;
  }
  HWND text = GetDlgItem(dialog, about::kTextId);
  ok = ok && (GetWindowLongA(text, GWL_STYLE) & (ES_READONLY | ES_MULTILINE)) ==
                 (ES_READONLY | ES_MULTILINE);
  check->allControls = ok;
  EndDialog(dialog, 0);
  return 1;
}

}  // namespace

TEST(AboutBox, BothLayoutsCreateTheirControls) {
  SKIP_WITHOUT_DISPLAY();
  for (const DialogSpec* spec : {&kAboutDialogVista, &kAboutDialogClassic}) {
    LayoutCheck check{spec};
    EXPECT_EQ(RunDialogFromSpec(GetModuleHandleA(nullptr), spec, nullptr, &CheckLayoutAtInit,
                                reinterpret_cast<LPARAM>(&check)),
              0);
    EXPECT_TRUE(check.allControls) << spec->itemCount;
  }
}
