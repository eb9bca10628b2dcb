// The arithmetic of a history plot: where a value lies between the plot's top and bottom, which
// horizontal grid lines to draw, which time ticks the span gets, and what each pixel column of the
// plot shows (the lowest and highest value of its seconds, or nothing: a gap).
#pragma once

#include <cstdint>

#include "history/history_ring.h"

namespace tarvelon {

// The pixel row of value on a scale from low (at bottom) to high (at top), clamped to the two.
int32_t valueToPixel(uint32_t value, uint32_t low, uint32_t high, int32_t top, int32_t bottom);

// Grid lines at every step from low to high; low and high are multiples of step (1, 2 or 5 times a
// power of ten) that enclose minimum and maximum with at most maxLines intervals, and differ; a
// single value gets a step on either side (none below 0).
struct PlotGrid {
    uint32_t low;
    uint32_t high;
    uint32_t step;
};
PlotGrid choosePlotGrid(uint32_t minimum, uint32_t maximum, int32_t maxLines);

// Seconds between time ticks for a span (60, 300, 900 or 3600 seconds): 4 to 6 intervals.
int32_t timeTickSeconds(int32_t spanSeconds);
// A tick's label in minutes ago: "5", "0.5".
int timeTickLabel(int32_t secondsAgo, char16_t (&text)[16]);

struct PlotColumn {
    bool present;
    uint32_t lowest;
    uint32_t highest;
};

// The columns of a plot width pixels wide showing the span of figure that ends with second end:
// column x covers the seconds from x * span / width on (at least one). Fills width entries of columns.
void plotColumns(const HistoryRing& ring, int figure, int64_t end, int32_t spanSeconds, int32_t width,
                 PlotColumn* columns);

}  // namespace tarvelon
