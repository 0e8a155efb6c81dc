// Drives a running slimwick-x64.exe from another process for the screenshot
// script: each call brings the window into one state and returns, so that
// the script can take a picture.
//
//   screenshot-driver main           wait for the window, dismiss the
//                                    administrator boxes
//   screenshot-driver about          open the About box
//   screenshot-driver dismiss        close the box the window shows
//   screenshot-driver drop PATH      drop PATH and wait for the next box
//   screenshot-driver close          close the window
//
// A drop handle is memory of the receiving process: the names are written
// into a block allocated there, which the window reads like the fixed
// memory of a drop handle.

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool WaitUntil(bool (*done)(void*), void* context, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (done(context)) return true;
    if (GetTickCount() - start >= milliseconds) return false;
    Sleep(50);
  }
}

HWND FindMainWindow() {
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, "#32770", "Slimwick")) != nullptr)
    if (GetWindow(window, GW_OWNER) == nullptr) return window;
  return nullptr;
}

struct OwnedSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindOwned(HWND hwnd, LPARAM parameter) {
  auto* search = reinterpret_cast<OwnedSearch*>(parameter);
  char className[64] = "";
  GetClassNameA(hwnd, className, sizeof className);
  if (std::strcmp(className, "#32770") == 0 && IsWindowVisible(hwnd) &&
      GetWindow(hwnd, GW_OWNER) == search->owner) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND OwnedBox(HWND owner) {
  OwnedSearch search{owner, nullptr};
  EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool HasBox(void* owner) { return OwnedBox(static_cast<HWND>(owner)) != nullptr; }
bool NoBox(void* owner) { return OwnedBox(static_cast<HWND>(owner)) == nullptr; }
bool HasMain(void* out) {
  *static_cast<HWND*>(out) = FindMainWindow();
  return *static_cast<HWND*>(out) != nullptr;
}

bool Dismiss(HWND main) {
  HWND box = OwnedBox(main);
  if (!box) return false;
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  return WaitUntil(
      [](void* hwnd) { return !IsWindowVisible(static_cast<HWND>(hwnd)); }, box, 10000);
}

bool Drop(HWND main, const std::string& path) {
  DWORD processId = 0;
  GetWindowThreadProcessId(main, &processId);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, processId);
  if (!process) return false;
  std::vector<char> block(sizeof(DROPFILES) + path.size() + 2, 0);
  auto* header = reinterpret_cast<DROPFILES*>(block.data());
  header->pFiles = sizeof(DROPFILES);
  std::memcpy(block.data() + sizeof(DROPFILES), path.c_str(), path.size());
  void* remote = VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT, PAGE_READWRITE);
  const bool written =
      remote && WriteProcessMemory(process, remote, block.data(), block.size(), nullptr);
  CloseHandle(process);
  return written && PostMessageA(main, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: screenshot-driver main|about|dismiss|drop PATH|close\n");
    return 2;
  }
  const std::string step = argv[1];
  HWND main = nullptr;
  if (!WaitUntil(HasMain, &main, 60000)) {
    std::fprintf(stderr, "no Slimwick window\n");
    return 1;
  }
  if (step == "main") {
    // The administrator boxes come shortly after the window is shown.
    while (WaitUntil(HasBox, main, 3000)) Dismiss(main);
    return 0;
  }
  if (step == "about") {
    PostMessageA(main, WM_SYSCOMMAND, 1004, 0);
    return WaitUntil(HasBox, main, 10000) ? 0 : 1;
  }
  if (step == "dismiss") return Dismiss(main) ? 0 : 1;
  if (step == "drop" && argc > 2) {
    if (!Drop(main, argv[2])) return 1;
    return WaitUntil(HasBox, main, 120000) ? 0 : 1;
  }
  if (step == "close") {
    WaitUntil(NoBox, main, 10000);
    PostMessageA(main, WM_COMMAND, IDCANCEL, 0);
    return 0;
  }
  std::fprintf(stderr, "unknown step %s\n", step.c_str());
  return 2;
}
