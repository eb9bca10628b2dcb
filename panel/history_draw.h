// The history window's picture: one plot per figure, stacked, sharing one time axis in local clock
// time. Each plot has a line with the figure's label, its value now and its minimum, average and
// maximum over the range shown, horizontal grid lines with their values, and the figure drawn column
// by column as the band of its periods with their average as a line, gaps left empty; the GPU
// core-temperature plot gets a dashed line at the alarm limit, and each plot is tinted behind over the
// columns where a rule on its figure was raised. With the mouse over the plots, a
// vertical line crosses them all and each figure's line reads its value in that column.
#pragma once

#include <cstdint>

#include "history/plot_columns.h"
#include "alarms/alarm_periods.h"
#include "panel/panel_list.h"
#include "panel/surface.h"

namespace tarvelon {

constexpr int kHistoryTitleUnits = 64;

struct HistoryView {
    const PeriodRun* run;     // null: the tile is gone, only the frame is drawn
    const HistoryRing* ring;  // for the value now; may be null
    bool gpuTile;
    PlotRange range;
    int64_t newest;
    int32_t alarmC;                        // alarmGpuTempC; 0 or less: no line
    int32_t lineHeight;                    // of the text font, in pixels
    PixelRect area;                        // where plots and time axis go, in client pixels
    int32_t hoverX;                        // plot column under the mouse, -1: none
    int32_t dragFromX;                     // plot column a drag started at, -1: none
    const AlarmPeriods* alarms = nullptr;  // null: no tint
    const TileKey* tile = nullptr;         // the tile shown, for its periods
};

// The client columns the plots take in area: column 0 of each plot is left.
struct PlotColumns {
    int32_t left;
    int32_t width;
};
PlotColumns historyPlotColumns(const PixelRect& area, int32_t lineHeight);

// The least height of an area that holds the plots, each with its text line, and the time axis;
// in less only the frame is drawn.
int32_t historyPlotsMinHeight(int32_t lineHeight);

void drawHistory(const HistoryView& view, Surface& surface);

// "History - " and the tile's title as the panel shows it: "SYSTEM" for this machine, a server's
// reported name (its address when it reports none), or the GPU's name.
void historyTitle(const PanelGroup& group, int gpu, char16_t (&title)[kHistoryTitleUnits]);

}  // namespace tarvelon
