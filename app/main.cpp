// Program entry of the Windows application.

#include <windows.h>
#include <commctrl.h>

#include "app/main_window.h"
#include "support/pool.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  SetPoolOptions(pool::kAssertNullFree | pool::kAssertZeroSize | pool::kAssertBadGuard);
  InitCommonControls();  // registers the progress bar class
  return static_cast<int>(RunMainWindow(instance));
}
