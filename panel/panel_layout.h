// Where the panels go: the metrics that follow from the font size, the grid of one row (layout 1) or
// one column (layout 2) per host, and the positions of the seven text rows inside a panel.
#pragma once

#include <cstdint>

#include "panel/panel_list.h"

namespace tarvelon {

// No window size or position may pass what GDI coordinates hold.
constexpr int32_t kMaxWindowExtent = 32767;
constexpr int kPanelRows = 7;

struct PanelMetrics {
    int32_t lineHeight;   // font height and row pitch in pixels
    int32_t headerWidth;  // vertical header strip width and title strip height
    int32_t panelWidth;
    int32_t panelHeight;
    int32_t columns;  // grid columns beyond the first
    int32_t rows;     // grid rows beyond the first
    int32_t windowWidth;
    int32_t windowHeight;
};

// The DPI at which the font-size setting is the line height in pixels.
constexpr int32_t kBaseDpi = 96;

// The font-size setting scaled to a monitor of dpi (fontsize x dpi / 96, rounded half away from
// zero), so that the panel keeps its physical size on every monitor.
int32_t fontSizeForDpi(int32_t fontsize, int32_t dpi);

// The line height drawn for a font-size setting on a grid of the given extra columns and rows: at
// least 1, and small enough that the window stays within kMaxWindowExtent in both directions.
int32_t effectiveLineHeight(int32_t fontsize, int32_t columns, int32_t rows);

// Sets the metrics and writes the position of every present entry of shown. A layout other than 1 or
// 2 gives a one-panel window with every panel at (0, 0).
PanelMetrics computeLayout(PanelList& shown, int32_t fontsize, int32_t layout);

// Text positions inside a panel whose top-left corner is entry's; row is 1..7.
int32_t labelX(const PanelEntry& entry, const PanelMetrics& metrics);
int32_t valueX(const PanelEntry& entry, const PanelMetrics& metrics);
int32_t rowY(const PanelEntry& entry, const PanelMetrics& metrics, bool hostPanel, int row);

}  // namespace tarvelon
