#pragma once
// The main window: a captioned dialog that invites the user to drop an
// archive, shows the running job's progress and status, carries the options
// in a submenu of its system menu and warns once when run as administrator.

#include <windows.h>

// Posted once, after the window is first shown, to run the administrator check.
constexpr UINT kAdminCheckMessage = WM_APP;

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the main window as a modal dialog built from its in-memory description
// and returns the dialog's result (0 when closed, -1 when it cannot be shown).
// The common controls must be initialized.
INT_PTR RunMainWindow(HINSTANCE instance);
