// The Network Setup dialog on Windows: the query server's switch and fields with its live status, the
// list of remote servers with its entry buttons, the display filters and the documentation button.
// Every accepted change is stored and saved at once.
#pragma once

#include <windows.h>

namespace tarvelon {

// Creates the dialog hidden, fills it from Settings and the slot table and starts its status timer.
// Returns null if the template cannot be loaded.
HWND createNetworkSetup(HINSTANCE instance);
// Refreshes the server list and shows the dialog at the cursor; nothing before it exists.
void showNetworkSetup();

}  // namespace tarvelon
