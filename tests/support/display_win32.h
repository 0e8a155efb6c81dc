#pragma once
// Tests that create windows need a display; under wine without X (a plain
// ctest run) window creation fails, and those tests skip themselves.

#include <windows.h>

#include <gtest/gtest.h>

inline bool HaveDisplay() {
  static int cached = -1;
  if (cached < 0) {
    HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    cached = probe != nullptr ? 1 : 0;
    if (probe) DestroyWindow(probe);
  }
  return cached == 1;
}

#define SKIP_WITHOUT_DISPLAY() \
  if (!HaveDisplay()) GTEST_SKIP() << "no display: run under xvfb-run for the window tests"

// A plain top-level window to own or host things in tests.
inline HWND CreateTestWindow(DWORD style, int x, int y, int cx, int cy, HWND parent = nullptr) {
  return CreateWindowExA(0, "STATIC", "test", style, x, y, cx, cy, parent, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

// Runs the thread's messages until nothing is pending.
inline void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}
