#pragma once
// The modal About box, and small helpers for dialog controls.

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "support/dialog_template.h"
#include "support/text.h"

// What the About box shows. The dialog keeps a pointer to it while it is open,
// so it must outlive the box.
struct AboutInfo {
  HWND owner;
  uint16_t firstYear;  // the two years form one 32-bit word, first year low
  uint16_t lastYear;
  const char* title;
  const char* productName;
  const char* version;
  const char* copyrightHolder;
  const char* text;      // motto, disclaimer and credits, lines joined by CR LF
  const char* homepage;  // null: the "&Homepage" button is hidden
};

// Control identifiers of the About box.
namespace about {
constexpr int kPanelId = 100;
constexpr int kIconId = 101;
constexpr int kNameId = 102;
constexpr int kCopyrightId = 103;
constexpr int kTextId = 104;
constexpr int kHomepageId = 105;
constexpr int kSeparatorId = 65535;
}  // namespace about

// The two layouts: from Windows Vista on, and for older systems.
extern const DialogSpec kAboutDialogVista;
extern const DialogSpec kAboutDialogClassic;

// Opens the About box, owned by info->owner, and returns when it is closed.
// Returns at once, showing nothing, while another About box is open.
void ShowAboutBox(const AboutInfo* info);

// The one-box-at-a-time gate: TryEnter closes it and answers whether it was
// open; Leave opens it again. ShowAboutBox uses them around the dialog.
bool TryEnterAboutBox();
void LeaveAboutBox();

// Sets a control's text from a format (at most 1023 characters, cut beyond).
BOOL SetDlgItemFormat(HWND dialog, int id, const char* format, ...) SLIM_PRINTF_FORMAT(3, 4);

// Pixel size of a 96-dpi size on a screen of `pixelsPerInch` (truncated).
int ScaleToScreen(int size, int pixelsPerInch);

// Loads an icon resource scaled from 96 dpi to the screen's resolution.
HICON LoadScaledIcon(HINSTANCE instance, LPCSTR name, int width, int height);

// Enable or disable / show or hide a dialog control; the keyboard focus moves
// to the next control first when the focused one becomes unusable. 1 when
// nothing had to change, else the system call's result.
int EnableDlgItem(HWND dialog, int id, int enable);
int ShowDlgItem(HWND dialog, int id, int show);

// "Copyright (c) 2014-2024 Holder", with a single year when both are equal.
// Returns the length written (the text is cut to fit `size`).
size_t FormatCopyrightLine(char* out, size_t size, uint16_t firstYear, uint16_t lastYear,
                           const char* holder);
