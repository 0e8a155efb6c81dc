#pragma once
// The main window: a captioned dialog that invites the user to drop an
// archive, shows the running job's progress and status, carries the options
// in a submenu of its system menu and warns once when run as administrator.

#include <windows.h>

// Items of the "Slimwick" submenu at the top of the system menu.
namespace menu {
constexpr UINT kAbout = 1004;
constexpr UINT kBestCompression = 1005;
constexpr UINT kBackgroundMode = 1007;
constexpr UINT kLoadCodecLibrary = 1008;
constexpr UINT kUnloadCodecLibrary = 1009;
}  // namespace menu

// Posted once, after the window is first shown, to run the administrator check.
constexpr UINT kAdminCheckMessage = WM_APP;

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the main window as a modal dialog built from its in-memory description
// and returns the dialog's result (0 when closed, -1 when it cannot be shown).
// The common controls must be initialized.
INT_PTR RunMainWindow(HINSTANCE instance);

// Shows the About box owned by `window`; nothing while one is open.
void ShowProductAbout(HWND window);
