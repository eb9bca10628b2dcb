#include "history/history_plot.h"

#include "platform/text16.h"

namespace tarvelon {

int32_t valueToPixel(uint32_t value, uint32_t low, uint32_t high, int32_t top, int32_t bottom) {
    if (value <= low || high <= low) return bottom;
    if (value >= high) return top;
    const int64_t rise = static_cast<int64_t>(bottom - top) * (value - low) / (high - low);
    return bottom - static_cast<int32_t>(rise);
}

PlotGrid choosePlotGrid(uint32_t minimum, uint32_t maximum, int32_t maxLines) {
    if (maxLines < 1) maxLines = 1;
    const uint64_t multiples[3] = {1, 2, 5};
    uint64_t step = 1;
    uint64_t low = minimum;
    uint64_t high = maximum;
    for (uint64_t scale = 1;; scale *= 10) {
        for (uint64_t multiple : multiples) {
            step = multiple * scale;
            low = minimum / step * step;
            high = (maximum + step - 1) / step * step;
            if (high == low) {
                // A flat line runs through the middle rather than along the edge.
                high = low + step;
                if (low >= step) low -= step;
            }
            if ((high - low) / step <= static_cast<uint64_t>(maxLines)) {
                return {static_cast<uint32_t>(low), static_cast<uint32_t>(high > 0xFFFFFFFFu ? 0xFFFFFFFFu : high),
                        static_cast<uint32_t>(step)};
            }
        }
    }
}

int32_t timeTickSeconds(int32_t spanSeconds) {
    if (spanSeconds <= 60) return 15;
    if (spanSeconds <= 300) return 60;
    if (spanSeconds <= 900) return 180;
    return 600;
}

int timeTickLabel(int32_t secondsAgo, char16_t (&text)[16]) {
    const int32_t whole = secondsAgo / 60;
    const int32_t rest = secondsAgo % 60;
    if (rest == 0) return format16(text, 16, u"%d", whole);
    // Quarter minutes at the shortest span.
    const int32_t hundredths = rest * 100 / 60;
    return hundredths % 10 == 0 ? format16(text, 16, u"%d.%d", whole, hundredths / 10)
                                : format16(text, 16, u"%d.%02d", whole, hundredths);
}

void plotColumns(const HistoryRing& ring, int figure, int64_t end, int32_t spanSeconds, int32_t width,
                 PlotColumn* columns) {
    const int64_t first = end - spanSeconds + 1;
    for (int32_t x = 0; x < width; ++x) {
        const int64_t from = first + int64_t{x} * spanSeconds / width;
        int64_t to = first + int64_t{x + 1} * spanSeconds / width;
        if (to <= from) to = from + 1;
        PlotColumn column{false, 0, 0};
        for (int64_t second = from; second < to; ++second) {
            uint32_t value = 0;
            if (!historyValue(ring, second, figure, &value)) continue;
            if (!column.present || value < column.lowest) column.lowest = value;
            if (!column.present || value > column.highest) column.highest = value;
            column.present = true;
        }
        columns[x] = column;
    }
}

}  // namespace tarvelon
