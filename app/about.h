#pragma once
// This program's About box: product name, version, copyright and the text
// naming the compression library as linked.

#include <windows.h>

// Shows the About box owned by `window`; nothing while one is open.
void ShowProductAbout(HWND window);
