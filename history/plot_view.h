// Which stretch of time the history window shows: one of its spans ending with the newest second, or
// a range the user zoomed or panned to. Every change is a function of the view, the newest second
// and the pixel columns the mouse names, so the window only passes them on.
#pragma once

#include <cstdint>

#include "history/history_read.h"

namespace tarvelon {

constexpr int kPlotSpans = 9;
// 1, 5, 15 and 60 minutes, 6 and 24 hours, 7 and 30 days, a year.
constexpr int64_t kPlotSpanSeconds[kPlotSpans] = {60,    300,       900,        3600,       6 * 3600,
                                                  86400, 7 * 86400, 30 * 86400, 365 * 86400};
constexpr int64_t kShortestRange = 30;

struct PlotView {
    int32_t span;     // the span button it came from
    bool following;   // ends with the newest second; else ends at end
    int64_t end;      // the last second shown when not following
    int64_t seconds;  // how many seconds are shown
};

struct PlotRange {
    int64_t first;
    int64_t seconds;
};

PlotView spanView(int32_t span);
PlotRange plotRange(const PlotView& view, int64_t newest);
// The tier the range is read from: the finest that still holds its first second.
HistoryTier plotTier(const PlotRange& range, int64_t newest);
// The first second of pixel column x of a plot width pixels wide.
int64_t columnSecond(const PlotRange& range, int32_t x, int32_t width);

// The range between two columns dragged across (either order); a drag narrower than 3 columns
// changes nothing.
PlotView zoomToColumns(const PlotView& view, int64_t newest, int32_t fromX, int32_t toX, int32_t width);
// Each notch forward halves the range, each back doubles it, the second under column x staying put.
PlotView zoomAround(const PlotView& view, int64_t newest, int32_t x, int32_t width, int32_t notches);
// Wheel deltas in whole notches (120 each, forward positive); a precision touchpad sends parts of one,
// which pending keeps until they add up to a notch. A turn the other way drops what was pending.
constexpr int32_t kWheelNotch = 120;
int32_t takeWheelNotches(int32_t& pending, int32_t delta);
// A quarter of the range back (direction -1) or forward (1); reaching the newest second follows it.
PlotView panView(const PlotView& view, int64_t newest, int32_t direction);

}  // namespace tarvelon
