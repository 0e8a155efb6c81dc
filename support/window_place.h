#pragma once
// Placing a window over a reference window, kept inside the work area of the
// reference's monitor. The geometry is in pure functions; the rest reads and
// moves windows.

#include <windows.h>

// Centre of a rectangle, the halves truncated toward zero.
POINT RectCenter(const RECT* rect);
// Moves the rectangle so that its centre is at `point`; the size is kept.
void MoveRectCenterTo(RECT* rect, POINT point);
// Moves the rectangle so that its centre is the reference's centre.
void CenterRectOn(RECT* rect, const RECT* reference);

// Where PlaceWindow puts a window of rectangle `window`: centred on
// `reference`, moved down by percent of the reference's height (up when
// negative), then pushed back inside `workArea` right, bottom, left, top in
// that order, so that a window larger than the work area meets its left and
// top edges.
RECT ComputePlacement(const RECT* window, const RECT* reference, const RECT* workArea, int percent);

// Centres the window over the reference window (null: over the work area),
// 5 % of the reference's height above the exact centre.
bool CenterOverWindow(HWND window, HWND reference);

// Moves the window to ComputePlacement of `windowRect` over the reference
// window (its rectangle and the work area of its monitor), or without a
// reference over the work area of the window's own monitor. False, the window
// left where it was, when a rectangle cannot be had or the move fails.
bool PlaceWindow(HWND window, HWND reference, const RECT* windowRect, int percent);

// Moves the window to a rectangle in screen coordinates (converted to the
// parent's client coordinates for a child window).
bool MoveWindowToRect(HWND window, const RECT* rect);

// Work area of the monitor nearest to the window; the primary monitor's where
// the multi-monitor calls are missing.
bool GetWorkArea(HWND window, RECT* workArea);

// MonitorFromWindow and GetMonitorInfoA looked up in user32.dll on each call;
// when missing: ERROR_CALL_NOT_IMPLEMENTED and null or false.
HMONITOR MonitorFromWindowDynamic(HWND window, DWORD flags);
BOOL GetMonitorInfoDynamic(HMONITOR monitor, MONITORINFO* info);
