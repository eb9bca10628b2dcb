// The panel's entry points for the window: the full pass on WM_PAINT, the tick pass on WM_TIMER, and
// the first layout at start-up, before the window exists. User-interface thread only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "panel/history_feed.h"

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
// The DPI of the window's monitor where Windows tells it (10, version 1607 on), else the system DPI.
int32_t windowDpi(HWND window);
// The panel is drawn for the DPI of the window's monitor (the system DPI before the window exists),
// or for the DPI that WM_DPICHANGED gives; it takes effect at the next layout.
void setPanelDpi(HWND window);
void setPanelDpi(int32_t dpi);
// Once a tick, after the alarms: records every tile's wall-clock second (once), sets the tray
// tooltip, hands the CSV log the local tiles' line while a folder is set, and shows the log's notice
// when it stopped. Returns the milliseconds until the next tick is due.
int32_t historyTickWin32();
// Writes the seconds not yet on disk; at the program's end.
void flushHistoryWin32();
// The tile drawn at the client point of the panel window; false where there is none.
bool tileAtWin32(int32_t x, int32_t y, TileId* tile);
// What the history window shows: the panel's shown list, the tiles' rings and their newest second.
const PanelList& shownPanelList();
const HistoryTiles& panelHistory();
int64_t newestHistorySecond();

// Builds the first list and lays it out, which creates the fonts.
void layoutBeforeWindow();

}  // namespace tarvelon
