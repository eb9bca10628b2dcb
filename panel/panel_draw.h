// Drawing the shown list onto a surface, and the two passes the window runs: the full pass on every
// paint and the tick pass once a second, which redraws only the numbers unless the list changed.
#pragma once

#include "panel/panel_layout.h"
#include "panel/panel_list.h"
#include "panel/surface.h"

namespace tarvelon {

// The two lists and the metrics of the last layout. Positions and metrics persist between passes.
struct PanelState {
    PanelList current;
    PanelList shown;
    PanelMetrics metrics;
    int32_t dpi = kBaseDpi;  // of the monitor the panel window is on
    // Counts the times the shown list was replaced, so that what is built from its composition is
    // built again only after one.
    uint32_t listVersion = 0;
};

// Resizes the window to the metrics' window size if it differs (keeping its left/top, which become
// windowPosX/windowPosY of Settings without a save), then paints the client area black.
void fitWindowAndClear(const PanelMetrics& metrics, Surface& surface);

void drawPanelBackgrounds(const PanelList& shown, const PanelMetrics& metrics, Surface& surface);
void drawPanelHeaders(const PanelList& shown, const PanelMetrics& metrics, Surface& surface);
void drawPanelLabels(const PanelList& shown, const PanelMetrics& metrics, Surface& surface);
void drawPanelValues(const PanelList& shown, const PanelMetrics& metrics, Surface& surface);

// Lays the shown list out from the layout and the font size in Settings, scaled to the state's DPI.
void layOutPanels(PanelState& state);

// Everything, laid out anew (layOutPanels).
void fullPass(PanelState& state, Surface& surface);
// Layout and everything when the list changed; the values in every case.
void tickPass(PanelState& state, Surface& surface);

}  // namespace tarvelon
