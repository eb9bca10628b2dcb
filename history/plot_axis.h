// The axes of a history plot: where a value lies between the plot's top and bottom, a range of round
// values wide enough to read with its grid lines, and time ticks on the local clock, labelled as
// the range shown needs them ("14:30", "Mon 14:00", "8 Dec").
#pragma once

#include <cstdint>

namespace tarvelon {

// The pixel row of value on a scale from low (at bottom) to high (at top), clamped to the two.
int32_t valueToPixel(uint32_t value, uint32_t low, uint32_t high, int32_t top, int32_t bottom);

// Grid lines at every step from low to high; low and high are multiples of step (1, 2 or 5 times a
// power of ten) that enclose minimum and maximum with at most maxLines intervals. The range is at
// least a tenth of the larger value wide (and at least 10): a figure that stayed flat at 1500 reads
// on 1400 to 1600, not on 1499 to 1501.
struct PlotGrid {
    uint32_t low;
    uint32_t high;
    uint32_t step;
};
PlotGrid choosePlotGrid(uint32_t minimum, uint32_t maximum, int32_t maxLines);

constexpr int kTimeLabelUnits = 16;
constexpr int kMostTimeTicks = 64;

struct TimeTick {
    int32_t x;  // pixel column from the plot's left
    char16_t label[kTimeLabelUnits];
    int32_t length;
};

// Ticks on round local clock times (seconds, minutes, hours, midnights, Mondays, the first of a
// month) over seconds from first, as many as fit width pixels with labels charWidth a unit and two
// units apart. Labels: "14:30:15" below a minute a tick, "14:30" up to a day, "Mon 14:00" up to a
// week, "8 Dec" beyond. Returns the count.
int timeTicks(int64_t first, int64_t seconds, int32_t width, int32_t charWidth,
              TimeTick (&ticks)[kMostTimeTicks]);

// The time of a moment in a readout, to the precision of the periods shown: "14:30:15" (seconds),
// "14:30" up to a day, "Mon 14:30" up to a week, "Mon 8 Dec 14:00" beyond.
int readoutTime(int64_t second, int64_t rangeSeconds, int32_t periodSeconds,
                char16_t (&text)[kTimeLabelUnits]);

}  // namespace tarvelon
