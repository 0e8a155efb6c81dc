#include "support/about_box.h"

#include <shellapi.h>

#include <atomic>
#include <cstdarg>
#include <cstring>

#include "support/diag.h"
#include "support/dialog_template_win32.h"
#include "support/privilege.h"
#include "support/window_place.h"

namespace {

// WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS
constexpr uint32_t kAboutStyle = 0x80C800C8;
// Control styles, WS_CHILD | WS_VISIBLE included.
constexpr uint32_t kPanel = 0x50000000;
constexpr uint32_t kEtchedLine = 0x50000010;  // SS_ETCHEDHORZ
constexpr uint32_t kIcon = 0x50000003;        // SS_ICON
constexpr uint32_t kLine = 0x50000080;        // SS_NOPREFIX
constexpr uint32_t kOkButton = 0x50030001;    // WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON
// WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_READONLY | ES_MULTILINE | ES_CENTER
constexpr uint32_t kTextBox = 0x50A10805;
constexpr uint32_t kPushButton = 0x50010000;  // WS_TABSTOP | BS_PUSHBUTTON

constexpr uint16_t kPanel16 = about::kPanelId;
constexpr uint16_t kIcon16 = about::kIconId;
constexpr uint16_t kName16 = about::kNameId;
constexpr uint16_t kCopyright16 = about::kCopyrightId;
constexpr uint16_t kText16 = about::kTextId;
constexpr uint16_t kHomepage16 = about::kHomepageId;
constexpr uint16_t kSeparator16 = about::kSeparatorId;
constexpr uint16_t kOk16 = IDOK;

// A window-coloured page behind icon, lines and text; buttons below it.
const DialogItemSpec kVistaItems[] = {
    {dlg::kStaticClass, kPanel, 0, kPanel16, 0, 0, 250, 149},
    {dlg::kStaticClass, kIcon, 0, kIcon16, 14, 14, 21, 20},
    {dlg::kStaticClass, kLine, 0, kName16, 42, 14, 194, 10},
    {dlg::kStaticClass, kLine, 0, kCopyright16, 42, 24, 194, 10},
    {dlg::kButtonClass, kOkButton, 0, kOk16, 193, 154, 50, 14},
    {dlg::kEditClass, kTextBox, 0, kText16, 14, 41, 222, 94},
    {dlg::kButtonClass, kPushButton, 0, kHomepage16, 7, 154, 50, 14},
};

// A window-coloured banner across the top, etched lines above and below the
// text. The lines are 2 units wider than the dialog to reach its right edge.
const DialogItemSpec kClassicItems[] = {
    {dlg::kStaticClass, kPanel, 0, kPanel16, 0, 0, 250, 34},
    {dlg::kStaticClass, kEtchedLine, 0, kSeparator16, 0, 34, 252, 1},
    {dlg::kStaticClass, kEtchedLine, 0, kSeparator16, 0, 143, 252, 1},
    {dlg::kStaticClass, kIcon, 0, kIcon16, 7, 7, 21, 20},
    {dlg::kStaticClass, kLine, 0, kName16, 35, 7, 208, 10},
    {dlg::kStaticClass, kLine, 0, kCopyright16, 35, 17, 208, 10},
    {dlg::kButtonClass, kOkButton, 0, kOk16, 193, 151, 50, 14},
    {dlg::kEditClass, kTextBox, 0, kText16, 7, 42, 236, 94},
    {dlg::kButtonClass, kPushButton, 0, kHomepage16, 7, 151, 50, 14},
};

// 1 while no About box is open, 0 while one is.
std::atomic<uint32_t> g_aboutBoxGate{1};

constexpr size_t kFormatBuffer = 1024;
constexpr int kBaseDpi = 96;
constexpr int kIconSize = 32;

const AboutInfo* InfoOf(HWND dialog) {
  return reinterpret_cast<const AboutInfo*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

void OpenHomepage(HWND dialog) {
  const AboutInfo* info = InfoOf(dialog);
  if (!info || !info->homepage) return;
  EnableDlgItem(dialog, about::kHomepageId, 0);
  SHELLEXECUTEINFOA execute;
  std::memset(&execute, 0, sizeof execute);
  execute.cbSize = sizeof execute;
  execute.hwnd = dialog;
  execute.lpFile = info->homepage;
  execute.nShow = SW_SHOWNORMAL;
  ShellExecuteExA(&execute);  // a failure is not reported
  EnableDlgItem(dialog, about::kHomepageId, 1);
}

void InitAboutBox(HWND dialog, const AboutInfo* info) {
  SetWindowTextA(dialog, info->title);
  auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE));
  if (HICON icon = LoadScaledIcon(instance, MAKEINTRESOURCEA(1), kIconSize, kIconSize))
    SendDlgItemMessageA(dialog, about::kIconId, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
  SetDlgItemFormat(dialog, about::kNameId, "%s, Version %s", info->productName, info->version);
  char line[kFormatBuffer];
  FormatCopyrightLine(line, sizeof line, info->firstYear, info->lastYear, info->copyrightHolder);
  SetDlgItemTextA(dialog, about::kCopyrightId, line);
  SetDlgItemTextA(dialog, about::kTextId, info->text);
  SetDlgItemTextA(dialog, IDOK, "OK");
  if (info->homepage)
    SetDlgItemTextA(dialog, about::kHomepageId, "&Homepage");
  else
    ShowDlgItem(dialog, about::kHomepageId, 0);
  CenterOverWindow(dialog, info->owner);
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(info));
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitAboutBox(dialog, reinterpret_cast<const AboutInfo*>(lParam));
      return 1;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
          EndDialog(dialog, 0);
          break;
        case about::kHomepageId:
          OpenHomepage(dialog);
          break;
        default:
          break;
      }
      return 0;
    case WM_CTLCOLORSTATIC: {
      int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      if (id < about::kPanelId || id > about::kTextId) return 0;
      auto dc = reinterpret_cast<HDC>(wParam);
      SetBkMode(dc, OPAQUE);
      SetBkColor(dc, GetSysColor(COLOR_WINDOW));
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
    }
    default:
      return 0;
  }
}

bool OnDialogThread(HWND dialog) {
  return GetWindowThreadProcessId(dialog, nullptr) == GetCurrentThreadId();
}

}  // namespace

const DialogSpec kAboutDialogVista = {
    kAboutStyle, 0, 7, 0, 0, 0, 250, 175, kVistaItems,
};
const DialogSpec kAboutDialogClassic = {
    kAboutStyle, 0, 9, 0, 0, 0, 250, 172, kClassicItems,
};

bool TryEnterAboutBox() { return g_aboutBoxGate.exchange(0) != 0; }
void LeaveAboutBox() { g_aboutBoxGate.exchange(1); }

void ShowAboutBox(const AboutInfo* info) {
  if (!info || !TryEnterAboutBox()) return;
  const DialogSpec* spec = IsVistaOrLater() ? &kAboutDialogVista : &kAboutDialogClassic;
  RunDialogFromSpec(GetModuleHandleA(nullptr), spec, info->owner, AboutDialogProc,
                    reinterpret_cast<LPARAM>(info));
  LeaveAboutBox();
}

BOOL SetDlgItemFormat(HWND dialog, int id, const char* format, ...) {
  char text[kFormatBuffer];
  va_list args;
  va_start(args, format);
  FormatBoundedV(text, sizeof text, format, args);
  va_end(args);
  return SetDlgItemTextA(dialog, id, text);
}

int ScaleToScreen(int size, int pixelsPerInch) {
  if (pixelsPerInch <= 0) pixelsPerInch = kBaseDpi;
  return static_cast<int>(static_cast<int64_t>(size) * pixelsPerInch / kBaseDpi);
}

HICON LoadScaledIcon(HINSTANCE instance, LPCSTR name, int width, int height) {
  int dpiX = kBaseDpi;
  int dpiY = kBaseDpi;
  if (HDC dc = GetDC(nullptr)) {
    dpiX = GetDeviceCaps(dc, LOGPIXELSX);
    dpiY = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
  }
  return static_cast<HICON>(LoadImageA(instance, name, IMAGE_ICON, ScaleToScreen(width, dpiX),
                                       ScaleToScreen(height, dpiY), LR_DEFAULTCOLOR));
}

int EnableDlgItem(HWND dialog, int id, int enable) {
  HWND control = GetDlgItem(dialog, id);
  SLIM_DEBUG_ASSERT(OnDialogThread(dialog));
  if (!control) return 0;
  if ((IsWindowEnabled(control) ? 1 : 0) == (enable ? 1 : 0)) return 1;
  if (!enable && GetFocus() == control) SendMessageA(dialog, WM_NEXTDLGCTL, 0, 0);
  return EnableWindow(control, enable ? TRUE : FALSE);
}

int ShowDlgItem(HWND dialog, int id, int show) {
  HWND control = GetDlgItem(dialog, id);
  SLIM_DEBUG_ASSERT(OnDialogThread(dialog));
  if (!control) return 0;
  bool visible = (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0;
  if (visible == (show != 0)) return 1;
  if (!show && GetFocus() == control) SendMessageA(dialog, WM_NEXTDLGCTL, 0, 0);
  return ShowWindow(control, show ? SW_SHOW : SW_HIDE);
}

size_t FormatCopyrightLine(char* out, size_t size, uint16_t firstYear, uint16_t lastYear,
                           const char* holder) {
  if (size == 0) return 0;
  if (!holder) holder = "";
  if (firstYear == lastYear)
    FormatBounded(out, size, "Copyright (c) %u %s", unsigned{firstYear}, holder);
  else
    FormatBounded(out, size, "Copyright (c) %u-%u %s", unsigned{firstYear}, unsigned{lastYear},
                  holder);
  return std::strlen(out);
}
