#include "history/plot_columns.h"

namespace tarvelon {
namespace {

int64_t floorDivide(int64_t a, int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

void addTo(PlotColumn& column, uint64_t& weighted, int32_t seconds, uint32_t lowest, uint32_t average,
           uint32_t highest) {
    if (seconds <= 0) return;
    if (column.seconds == 0 || lowest < column.lowest) column.lowest = lowest;
    if (column.seconds == 0 || highest > column.highest) column.highest = highest;
    column.seconds += seconds;
    weighted += uint64_t{average} * static_cast<uint64_t>(seconds);
}

void settle(PlotColumn& column, uint64_t weighted) {
    if (column.seconds > 0) {
        const uint64_t seconds = static_cast<uint64_t>(column.seconds);
        column.average = static_cast<uint32_t>((weighted + seconds / 2) / seconds);
    }
}

}  // namespace

int32_t periodsCovering(const PlotRange& range, HistoryTier tier) {
    const int64_t period = kTierPeriodSeconds[static_cast<int>(tier)];
    const int64_t start = floorDivide(range.first, period) * period;
    return static_cast<int32_t>((range.first + range.seconds - start + period - 1) / period);
}

PeriodRun periodsFor(const PlotRange& range, HistoryTier tier, const PeriodFigures* periods) {
    const int32_t period = kTierPeriodSeconds[static_cast<int>(tier)];
    return {periods, periodsCovering(range, tier), floorDivide(range.first, period) * period, period};
}

void takeRingSeconds(const HistoryRing& ring, PeriodFigures* periods, int32_t count, int64_t start) {
    for (int32_t i = 0; i < count; ++i) {
        PeriodFigures& period = periods[i];
        HistoryFigures figures;
        bool present = true;
        for (int f = 0; f < kHistoryFigures && present; ++f)
            present = historyValue(ring, start + i, f, &figures[f]);
        if (!present) continue;
        period.start = start + i;
        period.seconds = 1;
        for (int f = 0; f < kHistoryFigures; ++f) {
            period.minimum[f] = period.average[f] = period.maximum[f] = figures[f];
        }
    }
}

void plotColumns(const PeriodRun& run, int figure, const PlotRange& range, int32_t width,
                 PlotColumn* columns) {
    for (int32_t x = 0; x < width; ++x) {
        const int64_t from = columnSecond(range, x, width) - run.start;
        const int64_t to = columnSecond(range, x + 1, width) - run.start;
        int64_t first = floorDivide(from, run.periodSeconds);
        int64_t end = floorDivide(to + run.periodSeconds - 1, run.periodSeconds);
        if (end <= first) end = first + 1;
        if (first < 0) first = 0;
        if (end > run.count) end = run.count;
        PlotColumn column{0, 0, 0, 0};
        uint64_t weighted = 0;
        for (int64_t i = first; i < end; ++i) {
            const PeriodFigures& period = run.periods[i];
            addTo(column, weighted, period.seconds, period.minimum[figure], period.average[figure],
                  period.maximum[figure]);
        }
        settle(column, weighted);
        columns[x] = column;
    }
}

PlotColumn rangeColumn(const PlotColumn* columns, int32_t width) {
    PlotColumn all{0, 0, 0, 0};
    uint64_t weighted = 0;
    for (int32_t x = 0; x < width; ++x) {
        addTo(all, weighted, columns[x].seconds, columns[x].lowest, columns[x].average, columns[x].highest);
    }
    settle(all, weighted);
    return all;
}

}  // namespace tarvelon
