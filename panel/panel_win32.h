// The panel's entry points for the window: the full pass on WM_PAINT, the tick pass on WM_TIMER, and
// the first layout at start-up, before the window exists. User-interface thread only.
#pragma once

#include <windows.h>

#include <cstdint>

namespace tarvelon {

// Builds, lays out and draws everything on dc (from BeginPaint).
void fullPassWin32(HWND window, HDC dc);
// Draws the values on dc (from GetDC), and everything first when the list changed.
void tickPassWin32(HWND window, HDC dc);
// Shows the next alarm notice due, if any, from the icon in the tray, once a tick after the tick pass,
// and shows the tray's alert icon while an alarm is active.
void notifyAlarmsWin32();
// The machine resumed from sleep (WM_POWERBROADCAST): the network needs a while before silence counts.
void noteResumeWin32();
// The panel is drawn for the DPI of the window's monitor (the system DPI before the window exists),
// or for the DPI that WM_DPICHANGED gives; it takes effect at the next layout.
void setPanelDpi(HWND window);
void setPanelDpi(int32_t dpi);
// Builds the first list and lays it out, which creates the fonts.
void layoutBeforeWindow();

}  // namespace tarvelon
