#pragma once
// Modal dialogs run from in-memory templates, the message font they use, and
// the system-menu submenu of the main window.

#include <windows.h>

#include <cstddef>

#include "support/dialog_template.h"

// Computes the template length of `spec` and, with a buffer, writes the header
// and every control that ends within *length. The message font is queried on
// each call. Always stores the required length; true only when a buffer was
// given and it was long enough.
bool BuildDialogTemplate(const DialogSpec* spec, void* buffer, size_t* length);

// Allocates the template from the memory pool and fills it; the caller frees it
// with PoolFree. False (nothing allocated) when it cannot be built.
bool CreateDialogTemplate(const DialogSpec* spec, void** dialogTemplate);

// Builds the template, runs DialogBoxIndirectParamA and frees the template.
// The dialog's result, or -1 when the template cannot be built or the dialog
// cannot be created.
INT_PTR RunDialogFromSpec(HINSTANCE instance, const DialogSpec* spec, HWND parent,
                          DLGPROC dialogProc, LPARAM initParam);

// The message font and its point size on the screen; when no message font can
// be had, the face becomes "MS Shell Dlg" and the size 8.
int ResolveDialogFont(LOGFONTW* font);

// The system's message font (the font of message boxes); falls back to the
// narrow query where the wide one is not implemented.
bool QueryMessageFont(LOGFONTW* font);
bool QueryMessageFontAnsi(LOGFONTA* font);

// Copies a narrow font record into a wide one, converting the face name.
bool WideFontFromAnsi(const LOGFONTA* narrow, LOGFONTW* wide);

// Converts `text` with its terminator from the ANSI code page.
bool AnsiToWide(const char* text, wchar_t* buffer, int capacity);

// The facts of a wide font record as the template builder takes them.
DialogFont DialogFontFromLogFont(const LOGFONTW* font, int pointSize);

// Puts `submenu` at the top of the window's system menu as a popup named
// `text`, optionally followed by a separator. The system menu then owns the
// submenu. On failure the system menu is left as it was.
bool InsertSystemSubmenu(HWND window, HMENU submenu, const char* text, bool withSeparator);
