// What each pixel column of a history plot shows: the periods of a tier that fall in it, as the band
// from their lowest minimum to their highest maximum with their average (weighted by the seconds
// each recorded), or a gap. A short peak thus stays visible in the year.
#pragma once

#include <cstdint>

#include "history/history_read.h"
#include "history/plot_view.h"

namespace tarvelon {

struct PeriodRun {
    const PeriodFigures* periods;  // consecutive periods of one tier, the first starting at start
    int32_t count;
    int64_t start;
    int32_t periodSeconds;
};

struct PlotColumn {
    int32_t seconds;  // seconds recorded in it; 0: a gap
    uint32_t lowest;
    uint32_t average;
    uint32_t highest;
};

// The periods of tier that cover range, starting with the one its first second falls in.
PeriodRun periodsFor(const PlotRange& range, HistoryTier tier, const PeriodFigures* periods);
int32_t periodsCovering(const PlotRange& range, HistoryTier tier);

// The last hour's seconds in the ring over the seconds of run (a seconds tier): a second the ring
// holds is taken from it, being fresher than the archive.
void takeRingSeconds(const HistoryRing& ring, PeriodFigures* periods, int32_t count, int64_t start);

// Column x of width covers the seconds from columnSecond(range, x, width) on; a column narrower than
// a period shows the period it starts in.
void plotColumns(const PeriodRun& run, int figure, const PlotRange& range, int32_t width,
                 PlotColumn* columns);
// All the columns as one: the range's lowest, average and highest.
PlotColumn rangeColumn(const PlotColumn* columns, int32_t width);

}  // namespace tarvelon
