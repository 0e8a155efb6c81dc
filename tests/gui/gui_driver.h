#pragma once
// Drives the real main window from another thread of the same process: runs
// it on a window thread of its own, drops files on it with WM_DROPFILES,
// finds the message boxes it and its jobs show, reads and answers them, and
// records what the job writes into the status line and the progress bar.

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace gui {

// A dialog window owned by the main window (message box, About box, file
// dialog) as the driver sees it.
struct Box {
  HWND hwnd = nullptr;
  std::string caption;
  std::string text;       // message box text (static 0xFFFF)
  std::set<int> buttons;  // ids of the push buttons
  HICON icon = nullptr;   // the icon shown by the box, if any
};

// Polls `done` every 10 ms until it is true or the time is up.
bool WaitUntil(const std::function<bool()>& done, DWORD milliseconds);

// Owned dialog windows of `owner` that are visible, oldest first as the
// system enumerates them.
std::vector<HWND> OwnedDialogs(HWND owner);

// Waits for a visible dialog owned by `owner`.
bool WaitForBox(HWND owner, Box* box, DWORD milliseconds = 30000);
Box ReadBox(HWND hwnd);
// Presses a button of a box (posts the command) and waits until it is gone.
bool Answer(const Box& box, int button, DWORD milliseconds = 30000);

// An HDROP as the shell builds it: DROPFILES header and the names, each
// terminated, with a final terminator, in moveable global memory.
HDROP MakeDrop(const std::vector<std::string>& files);
// True while the drop's memory has not been released (DragFinish frees it).
bool DropAlive(HDROP drop);

std::string ControlText(HWND window, int id);

// Sends a message from a thread of its own, for messages that cannot be
// posted (their parameter is a pointer, like WM_HELP's) and whose handling
// may not return soon (a modal box). Join the thread when the box is gone.
std::thread SendFromHelperThread(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// F1 as the dialog manager turns it into a help request.
std::thread RequestHelp(HWND window);

// The main window, run by RunMainWindow on a thread of its own.
class MainWindowThread {
 public:
  bool Start(DWORD milliseconds = 60000);
  HWND window() const { return window_; }
  // Waits for the dialog to end; true with its result when it did.
  bool Join(DWORD milliseconds, INT_PTR* result);
  bool Running() const;

 private:
  static DWORD WINAPI Main(LPVOID self);
  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
  HWND window_ = nullptr;
  INT_PTR result_ = -2;
};

// Records the texts set on the status line and the positions set on the
// progress bar (the controls are subclassed; the records are thread-safe).
void RecordControls(HWND window);
void ClearRecords();
std::vector<std::string> StatusHistory();
std::vector<uint32_t> ProgressHistory();

}  // namespace gui
