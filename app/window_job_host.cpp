#include "app/window_job_host.h"

#include <commctrl.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <atomic>
#include <mutex>

#include "app/resource.h"
#include "support/text.h"

namespace {

std::atomic<bool> g_stopRequested{false};

std::mutex g_soundLock;
SoundRequest g_lastSound{};

void SetControlText(HWND window, int id, const char* text) {
  if (HWND control = GetDlgItem(window, id)) SetWindowTextA(control, text);
}

}  // namespace

void RequestJobStop() { g_stopRequested.store(true); }
void ClearJobStop() { g_stopRequested.store(false); }
bool JobStopRequested() { return g_stopRequested.load(); }

SoundRequest LastSoundRequest() {
  std::lock_guard<std::mutex> lock(g_soundLock);
  return g_lastSound;
}

void WindowJobHost::SetProgress(uint32_t percent) {
  if (HWND bar = GetDlgItem(window_, IDC_PROGRESS)) SendMessageA(bar, PBM_SETPOS, percent, 0);
}

void WindowJobHost::SetStatusText(const char* text) {
  // Once the window has asked the job to stop, its phase texts would only
  // contradict the "Stopping..." the window put up; the final clear still shows.
  if (text[0] != '\0' && JobStopRequested()) text = kStoppingText;
  SetControlText(window_, IDC_STATUS, text);
}

void WindowJobHost::SetEstimateText(const char* text) {
  SetControlText(window_, IDC_ESTIMATE, text);
}

void WindowJobHost::ShowError(const char* text) {
  MessageBoxA(window_, text, kNoticeCaption, MB_ICONERROR);
}

bool WindowJobHost::AskYesNo(const char* text) {
  return MessageBoxA(window_, text, kNoticeCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void WindowJobHost::ShowReport(const char* text) {
  MSGBOXPARAMSA params{};
  params.cbSize = sizeof params;
  params.hwndOwner = window_;
  params.hInstance = GetModuleHandleA(nullptr);
  params.lpszText = text;
  params.lpszCaption = kNoticeCaption;
  params.dwStyle = MB_USERICON;
  params.lpszIcon = MAKEINTRESOURCEA(IDI_APPLICATION_ICON);
  MessageBoxIndirectA(&params);
}

void WindowJobHost::PlaySoundFile(const char* path) {
  const bool started = PlaySoundA(path, nullptr, SND_FILENAME | SND_ASYNC) != FALSE;
  std::lock_guard<std::mutex> lock(g_soundLock);
  CopyBounded(g_lastSound.path, path, sizeof g_lastSound.path);
  g_lastSound.started = started;
}

void WindowJobHost::SetDropAcceptance(bool accept) { DragAcceptFiles(window_, accept ? TRUE : FALSE); }

void WindowJobHost::ReleaseDrop() {
  if (drop_) DragFinish(drop_);
  drop_ = nullptr;
}

bool WindowJobHost::IsStopRequested() { return JobStopRequested(); }
