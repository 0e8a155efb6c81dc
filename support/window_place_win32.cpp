#include "support/window_place.h"

#include <cstdint>
#include <cstring>

namespace {

using MonitorFromWindowFn = HMONITOR(WINAPI*)(HWND, DWORD);
using GetMonitorInfoFn = BOOL(WINAPI*)(HMONITOR, MONITORINFO*);

LONG Saturate(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<LONG>(v);
}

void Offset(RECT* r, int64_t dx, int64_t dy) {
  r->left = Saturate(r->left + dx);
  r->right = Saturate(r->right + dx);
  r->top = Saturate(r->top + dy);
  r->bottom = Saturate(r->bottom + dy);
}

template <typename Fn>
Fn LookUpUser32(const char* name) {
  FARPROC proc = nullptr;
  if (HMODULE user32 = GetModuleHandleA("user32.dll")) proc = GetProcAddress(user32, name);
  if (!proc) SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(proc));
}

constexpr UINT kMoveOnlyFlags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER;
static_assert(kMoveOnlyFlags == 0x214);
constexpr int kAboveCentrePercent = -5;

}  // namespace

POINT RectCenter(const RECT* rect) {
  POINT p;
  p.x = Saturate(rect->left + (static_cast<int64_t>(rect->right) - rect->left) / 2);
  p.y = Saturate(rect->top + (static_cast<int64_t>(rect->bottom) - rect->top) / 2);
  return p;
}

void MoveRectCenterTo(RECT* rect, POINT point) {
  POINT centre = RectCenter(rect);
  Offset(rect, static_cast<int64_t>(point.x) - centre.x, static_cast<int64_t>(point.y) - centre.y);
}

void CenterRectOn(RECT* rect, const RECT* reference) { MoveRectCenterTo(rect, RectCenter(reference)); }

RECT ComputePlacement(const RECT* window, const RECT* reference, const RECT* workArea, int percent) {
  RECT r = *window;
  CenterRectOn(&r, reference);
  if (percent != 0) {
    int64_t height = static_cast<int64_t>(reference->bottom) - reference->top;
    Offset(&r, 0, percent * height / 100);
  }
  if (r.right > workArea->right) Offset(&r, static_cast<int64_t>(workArea->right) - r.right, 0);
  if (r.bottom > workArea->bottom) Offset(&r, 0, static_cast<int64_t>(workArea->bottom) - r.bottom);
  if (r.left < workArea->left) Offset(&r, static_cast<int64_t>(workArea->left) - r.left, 0);
  if (r.top < workArea->top) Offset(&r, 0, static_cast<int64_t>(workArea->top) - r.top);
  return r;
}

HMONITOR MonitorFromWindowDynamic(HWND window, DWORD flags) {
  auto fn = LookUpUser32<MonitorFromWindowFn>("MonitorFromWindow");
  return fn ? fn(window, flags) : nullptr;
}

BOOL GetMonitorInfoDynamic(HMONITOR monitor, MONITORINFO* info) {
  auto fn = LookUpUser32<GetMonitorInfoFn>("GetMonitorInfoA");
  return fn ? fn(monitor, info) : FALSE;
}

bool GetWorkArea(HWND window, RECT* workArea) {
  if (HMONITOR monitor = MonitorFromWindowDynamic(window, MONITOR_DEFAULTTONEAREST)) {
    MONITORINFO info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    if (GetMonitorInfoDynamic(monitor, &info)) {
      *workArea = info.rcWork;
      return true;
    }
  }
  return SystemParametersInfoA(SPI_GETWORKAREA, sizeof(RECT), workArea, 0) != FALSE;
}

bool MoveWindowToRect(HWND window, const RECT* rect) {
  RECT r = *rect;
  if (GetWindowLongA(window, GWL_STYLE) & WS_CHILD) {
    POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
    MapWindowPoints(nullptr, GetParent(window), corners, 2);
    r = RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
  }
  return SetWindowPos(window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                      kMoveOnlyFlags) != FALSE;
}

bool PlaceWindow(HWND window, HWND reference, const RECT* windowRect, int percent) {
  RECT workArea;
  RECT referenceRect;
  if (reference) {
    if (!GetWorkArea(reference, &workArea) || !GetWindowRect(reference, &referenceRect))
      return false;
  } else {
    if (!GetWorkArea(window, &workArea)) return false;
    referenceRect = workArea;
  }
  RECT target = ComputePlacement(windowRect, &referenceRect, &workArea, percent);
  return MoveWindowToRect(window, &target);
}

bool CenterOverWindow(HWND window, HWND reference) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  return PlaceWindow(window, reference, &r, kAboveCentrePercent);
}
