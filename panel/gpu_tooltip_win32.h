// The tooltip of the panel's local GPU tiles: a tooltip control over the panel window whose text is
// asked for when it shows, and renewed each tick while it shows, so the processes it names are
// read only while it is up. Created only where Windows keeps per-process GPU figures.
#pragma once

#include <windows.h>

namespace tarvelon {

void createGpuTooltip(HWND panel);
// The tooltip's WM_NOTIFY to the panel: true when it was the tooltip's asking for its text.
bool gpuTooltipNotify(LPARAM lParam);
// Once a tick: while the tooltip shows, asks for its GPU's processes and renews its text.
void refreshGpuTooltip();

}  // namespace tarvelon
