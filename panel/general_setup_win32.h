// The General Setup dialog on Windows: font size (typed or by slider), panel position, always on top,
// start with Windows, the two alarms, the CSV log's folder, and the cleanup button. The alarms and the
// log folder it stores and saves itself; the rest it tells the panel window, which stores and saves
// (always-on-top it also stores first).
#pragma once

#include <windows.h>

#include <cstdint>

namespace tarvelon {

// Creates the dialog hidden, aimed at panelWindow. Returns null if the template cannot be loaded.
HWND createGeneralSetup(HINSTANCE instance, HWND panelWindow, int32_t fontsize);
// Shows it at the cursor; nothing before it exists.
void showGeneralSetup();

}  // namespace tarvelon
