// The history window: one tile's history as plots (see history_draw.h) over a span or a range zoomed
// or panned to (see plot_view.h), a modeless dialog that is created once and shown for the tile asked
// for. It follows the panel's second, remembers where it was closed, and saves the range shown as CSV
// through the standard Save dialog. Under a GPU of this machine it lists the processes using it.
#pragma once

#include <windows.h>

#include "panel/history_feed.h"

namespace tarvelon {

// Creates the window hidden. Returns null if the template cannot be loaded.
HWND createHistoryWindow(HINSTANCE instance);
// Shows tile's history, where the window was last closed (or at the cursor the first time).
void showHistory(TileId tile);
// Left and Right pan the range shown, Home returns to its span, the wheel over the plots zooms;
// true when message was one of them.
bool routeHistoryInput(const MSG& message);
// Redraws the plots while the window is shown, and keeps asking for the processes of a local GPU
// shown; once a tick.
void refreshHistoryWindow();

}  // namespace tarvelon
