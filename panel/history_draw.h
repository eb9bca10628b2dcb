// The history window's picture: one plot per figure, stacked, sharing one time axis. Each plot has
// a line with the figure's label, its value now and its minimum, average and maximum over the span,
// horizontal grid lines with their values, and the figure drawn column by column, gaps left empty;
// the GPU core-temperature plot gets a dashed line at the alarm limit. Time ticks at the bottom say
// minutes ago.
#pragma once

#include <cstdint>

#include "history/history_ring.h"
#include "panel/panel_list.h"
#include "panel/surface.h"

namespace tarvelon {

constexpr int32_t kHistorySpans[4] = {60, 300, 900, 3600};
constexpr int kHistoryTitleUnits = 64;

struct HistoryView {
    const HistoryRing* ring;  // null: the tile is gone, only the frame is drawn
    bool gpuTile;
    int64_t end;  // the newest second shown
    int32_t spanSeconds;
    int32_t alarmC;      // alarmGpuTempC; 0 or less: no line
    int32_t lineHeight;  // of the text font, in pixels
    PixelRect area;      // where plots and time axis go, in client pixels
};

void drawHistory(const HistoryView& view, Surface& surface);

// "History - " and the tile's title as the panel shows it: "SYSTEM" for this machine, a server's
// reported name (its address when it reports none), or the GPU's name.
void historyTitle(const PanelGroup& group, int gpu, char16_t (&title)[kHistoryTitleUnits]);

}  // namespace tarvelon
