#include "app/main_window.h"

#include <shellapi.h>

#include "app/about.h"
#include "app/drop_intake.h"
#include "app/main_window_layout.h"
#include "app/resource.h"
#include "app/window_job_host.h"
#include "engine/job_host.h"
#include "support/dialog_template_win32.h"
#include "support/file_util.h"
#include "support/privilege.h"
#include "support/text.h"

namespace {

// Set when the administrator check has been posted; once per run.
uint8_t g_adminCheckPosted = 0;
// Set while the window is closing (possibly waiting for a job to stop).
bool g_closing = false;

void SetIcon(HWND window, HINSTANCE instance, WPARAM which, int size) {
  auto icon = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(IDI_APPLICATION_ICON), IMAGE_ICON, size, size, 0));
  if (icon) SendMessageA(window, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
}

void InitMainWindow(HWND window) {
  g_closing = false;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  SetIcon(window, instance, ICON_BIG, 32);
  SetIcon(window, instance, ICON_SMALL, 16);
  SetWindowTextA(window, "Slimwick");
  SetDlgItemTextA(window, IDC_PROMPT, "Drop a fat GRF archive here...");
  SetDlgItemTextA(window, IDC_FOOTNOTE, "...results may vary.");
  if (HMENU submenu = LoadMenuA(instance, MAKEINTRESOURCEA(IDM_SYSTEM_SUBMENU))) {
    if (!InsertSystemSubmenu(window, submenu, "Slimwick", true)) DestroyMenu(submenu);
  }
}

void RunAdministratorCheck(HWND window) {
  const AdminCheckOutcome outcome = DecideAdminWarnings(GatherAdminCheckFacts());
  if (!outcome.showWarning) return;
  MessageBoxA(window,
              "Do not run this application as Administrator, otherwise it might burn more than "
              "just your archive's calories.",
              "Warning", MB_ICONWARNING);
  if (outcome.showNote)
    MessageBoxA(window,
                "Note also, that drag'n'drop might not work from other applications due to "
                "security constraints exhibited by the operating system.",
                kNoticeCaption, MB_ICONINFORMATION);
}

void ToggleOption(HWND window, uint8_t* flag, UINT item) {
  *flag = *flag ? 0 : 1;
  CheckMenuItem(GetSystemMenu(window, FALSE), item,
                MF_BYCOMMAND | (*flag ? MF_CHECKED : MF_UNCHECKED));
}

void ChooseCodecLibrary(HWND window) {
  // Edited in a copy: the choice stands only when the dialog is confirmed.
  char path[sizeof CodecLibraryPath];
  CopyBounded(path, CodecLibraryPath, sizeof path);
  static const char kFilter[] = "Dynamic-Link Libraries (*.dll)\0*.DLL\0";
  if (ChooseOpenFile(window, kFilter, path, sizeof path, nullptr))
    CopyBounded(CodecLibraryPath, path, sizeof CodecLibraryPath);
}

bool IsSubmenuItem(UINT item) {
  return item == IDM_ABOUT || item == IDM_BEST_COMPRESSION || item == IDM_BACKGROUND_MODE ||
         item == IDM_LOAD_CODEC_LIBRARY || item == IDM_UNLOAD_CODEC_LIBRARY;
}

bool HandleMenuItem(HWND window, UINT item) {
  switch (item) {
    case IDM_ABOUT:
      ShowProductAbout(window);
      return true;
    case IDM_BEST_COMPRESSION:
      ToggleOption(window, &BestCompression, item);
      return true;
    case IDM_BACKGROUND_MODE:
      ToggleOption(window, &BackgroundMode, item);
      return true;
    case IDM_LOAD_CODEC_LIBRARY:
      ChooseCodecLibrary(window);
      return true;
    case IDM_UNLOAD_CODEC_LIBRARY:
      CodecLibraryPath[0] = '\0';
      return true;
    default:
      return false;
  }
}

// Waits for the worker while serving the window thread's messages: the
// worker sends messages to the window (progress, texts, message boxes owned
// by it), so blocking here without pumping would deadlock.
void WaitForJobWhilePumping(HANDLE worker) {
  for (;;) {
    const DWORD woke = MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_ALLINPUT);
    if (woke != WAIT_OBJECT_0 + 1) return;  // the worker ended (or the wait failed)
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // Keep it for the loop that owns the thread.
        PostQuitMessage(static_cast<int>(msg.wParam));
        WaitForSingleObject(worker, INFINITE);
        return;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

// Ends the dialog. A running job is asked to stop first, and the window stays
// until the job has cleaned up, so no unfinished "-cleaned" file is left.
void CloseMainWindow(HWND window) {
  if (g_closing) return;
  g_closing = true;
  if (IsJobRunning()) {
    RequestJobStop();
    SetDlgItemTextA(window, IDC_STATUS, kStoppingText);
    WaitForJobWhilePumping(RunningJobThread());
  }
  EndDialog(window, 0);
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG:
      InitMainWindow(window);
      return TRUE;
    case WM_WINDOWPOSCHANGED:
      if (!g_adminCheckPosted) {
        g_adminCheckPosted = 1;
        PostMessageA(window, kAdminCheckMessage, 0, 0);
      }
      return TRUE;
    case kAdminCheckMessage:
      RunAdministratorCheck(window);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        CloseMainWindow(window);
        return TRUE;
      }
      return FALSE;
    case WM_SYSCOMMAND:
      // While closing, the menu has nothing left to change.
      if (g_closing) return IsSubmenuItem(LOWORD(wParam)) ? TRUE : FALSE;
      return HandleMenuItem(window, LOWORD(wParam)) ? TRUE : FALSE;
    case WM_HELP:
      if (!g_closing) ShowProductAbout(window);
      return TRUE;
    case WM_DROPFILES: {
      auto drop = reinterpret_cast<HDROP>(wParam);
      if (g_closing || !AcceptDrop(window, drop)) DragFinish(drop);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

INT_PTR RunMainWindow(HINSTANCE instance) {
  return RunDialogFromSpec(instance, &kMainWindowDialog, nullptr, MainDialogProc, 0);
}
