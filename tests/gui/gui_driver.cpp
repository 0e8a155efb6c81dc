#include "tests/gui/gui_driver.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstring>
#include <mutex>

#include "app/main_window.h"
#include "app/resource.h"

namespace gui {

bool WaitUntil(const std::function<bool()>& done, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= milliseconds) return false;
    Sleep(10);
  }
}

namespace {

struct OwnedSearch {
  HWND owner;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectOwned(HWND hwnd, LPARAM parameter) {
  auto* search = reinterpret_cast<OwnedSearch*>(parameter);
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(hwnd)) return TRUE;
  if (GetWindow(hwnd, GW_OWNER) != search->owner) return TRUE;
  char className[64] = "";
  GetClassNameA(hwnd, className, sizeof className);
  if (std::strcmp(className, "#32770") == 0) search->found.push_back(hwnd);
  return TRUE;
}

BOOL CALLBACK ReadChild(HWND child, LPARAM parameter) {
  auto* box = reinterpret_cast<Box*>(parameter);
  char className[64] = "";
  GetClassNameA(child, className, sizeof className);
  const LONG style = GetWindowLongA(child, GWL_STYLE);
  if (_stricmp(className, "Button") == 0) {
    const LONG kind = style & BS_TYPEMASK;
    if (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON) box->buttons.insert(GetDlgCtrlID(child));
  } else if (_stricmp(className, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
    box->icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
  }
  return TRUE;
}

}  // namespace

std::vector<HWND> OwnedDialogs(HWND owner) {
  OwnedSearch search{owner, {}};
  EnumWindows(CollectOwned, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

Box ReadBox(HWND hwnd) {
  Box box;
  box.hwnd = hwnd;
  char text[4096] = "";
  GetWindowTextA(hwnd, text, sizeof text);
  box.caption = text;
  text[0] = '\0';
  GetDlgItemTextA(hwnd, 0xFFFF, text, sizeof text);
  box.text = text;
  EnumChildWindows(hwnd, ReadChild, reinterpret_cast<LPARAM>(&box));
  return box;
}

bool WaitForBox(HWND owner, Box* box, DWORD milliseconds) {
  HWND found = nullptr;
  const bool seen = WaitUntil(
      [&] {
        const std::vector<HWND> boxes = OwnedDialogs(owner);
        if (!boxes.empty()) found = boxes.front();
        return found != nullptr;
      },
      milliseconds);
  if (!seen) return false;
  // Give the box a moment to fill in its controls.
  WaitUntil([&] { return !ReadBox(found).buttons.empty(); }, 5000);
  *box = ReadBox(found);
  return true;
}

bool Answer(const Box& box, int button, DWORD milliseconds) {
  PostMessageA(box.hwnd, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box.hwnd, button)));
  return WaitUntil([&] { return !IsWindow(box.hwnd) || !IsWindowVisible(box.hwnd); }, milliseconds);
}

HDROP MakeDrop(const std::vector<std::string>& files) {
  size_t characters = 1;
  for (const std::string& file : files) characters += file.size() + 1;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + characters);
  if (!memory) return nullptr;
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->pt.x = 20;
  header->pt.y = 20;
  header->fNC = FALSE;
  header->fWide = FALSE;
  char* names = reinterpret_cast<char*>(header + 1);
  for (const std::string& file : files) {
    std::memcpy(names, file.c_str(), file.size() + 1);
    names += file.size() + 1;
  }
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

bool DropAlive(HDROP drop) { return GlobalSize(drop) != 0; }

std::string ControlText(HWND window, int id) {
  char text[1024] = "";
  GetDlgItemTextA(window, id, text, sizeof text);
  return text;
}

std::thread SendFromHelperThread(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return std::thread([=] { SendMessageA(window, message, wParam, lParam); });
}

std::thread RequestHelp(HWND window) {
  return std::thread([window] {
    HELPINFO info{};
    info.cbSize = sizeof info;
    info.iContextType = HELPINFO_WINDOW;
    info.hItemHandle = window;
    GetCursorPos(&info.MousePos);
    SendMessageA(window, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
  });
}

// ---- main window thread ----

DWORD WINAPI MainWindowThread::Main(LPVOID parameter) {
  auto* self = static_cast<MainWindowThread*>(parameter);
  InitCommonControls();
  self->result_ = RunMainWindow(GetModuleHandleA(nullptr));
  return 0;
}

namespace {

struct MainSearch {
  HWND found = nullptr;
};

BOOL CALLBACK FindMain(HWND hwnd, LPARAM parameter) {
  auto* search = reinterpret_cast<MainSearch*>(parameter);
  char className[64] = "";
  GetClassNameA(hwnd, className, sizeof className);
  if (std::strcmp(className, "#32770") == 0 && GetWindow(hwnd, GW_OWNER) == nullptr &&
      IsWindowVisible(hwnd)) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

bool MainWindowThread::Start(DWORD milliseconds) {
  thread_ = CreateThread(nullptr, 0, &Main, this, 0, &threadId_);
  if (!thread_) return false;
  return WaitUntil(
      [&] {
        MainSearch search;
        EnumThreadWindows(threadId_, FindMain, reinterpret_cast<LPARAM>(&search));
        window_ = search.found;
        return window_ != nullptr;
      },
      milliseconds);
}

bool MainWindowThread::Join(DWORD milliseconds, INT_PTR* result) {
  if (!thread_ || WaitForSingleObject(thread_, milliseconds) != WAIT_OBJECT_0) return false;
  *result = result_;
  return true;
}

bool MainWindowThread::Running() const {
  return thread_ && WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT;
}

// ---- control recorders ----

namespace {

std::mutex g_recordLock;
std::vector<std::string> g_statusTexts;
std::vector<uint32_t> g_positions;
WNDPROC g_statusProc = nullptr;
WNDPROC g_progressProc = nullptr;

LRESULT CALLBACK StatusRecorder(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT) {
    std::lock_guard<std::mutex> lock(g_recordLock);
    g_statusTexts.emplace_back(lParam ? reinterpret_cast<const char*>(lParam) : "");
  }
  return CallWindowProcA(g_statusProc, hwnd, message, wParam, lParam);
}

LRESULT CALLBACK ProgressRecorder(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PBM_SETPOS) {
    std::lock_guard<std::mutex> lock(g_recordLock);
    g_positions.push_back(static_cast<uint32_t>(wParam));
  }
  return CallWindowProcA(g_progressProc, hwnd, message, wParam, lParam);
}

}  // namespace

void RecordControls(HWND window) {
  // The old procedure is stored before the new one is installed: the window
  // thread may deliver a message to the control at any moment.
  HWND status = GetDlgItem(window, IDC_STATUS);
  HWND progress = GetDlgItem(window, IDC_PROGRESS);
  g_statusProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(status, GWLP_WNDPROC));
  g_progressProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(progress, GWLP_WNDPROC));
  SetWindowLongPtrA(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StatusRecorder));
  SetWindowLongPtrA(progress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ProgressRecorder));
}

void ClearRecords() {
  std::lock_guard<std::mutex> lock(g_recordLock);
  g_statusTexts.clear();
  g_positions.clear();
}

std::vector<std::string> StatusHistory() {
  std::lock_guard<std::mutex> lock(g_recordLock);
  return g_statusTexts;
}

std::vector<uint32_t> ProgressHistory() {
  std::lock_guard<std::mutex> lock(g_recordLock);
  return g_positions;
}

}  // namespace gui
