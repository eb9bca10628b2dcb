// The periods a rule was raised on a tile's figure, for the history window's tint. Kept for this run
// only, in a fixed table: when it is full the oldest period gives way.
#pragma once

#include <cstdint>

#include "history/plot_view.h"
#include "history/tile_key.h"
#include "alarms/alarm_watch.h"

namespace tarvelon {

constexpr int kAlarmPeriods = 256;

struct AlarmPeriod {
    TileKey tile;
    int32_t figure;  // a rule figure, 0-13
    int32_t rule;    // with server and gpuKey, the watch that raised it
    uint32_t server;
    int32_t gpuKey;
    int64_t raised;   // the first wall-clock second raised
    int64_t cleared;  // the first second no longer raised; -1 while open
};

struct AlarmPeriods {
    AlarmPeriod periods[kAlarmPeriods];
    int32_t count;
    int32_t next;  // where the next period goes, over the oldest once full
};

void clearAlarmPeriods(AlarmPeriods& periods);

// At second (wall clock), after the tick's watch: an open period closes once its watch is no longer
// raised: cleared, its tile gone, or its rule edited, removed or disabled.
void closeEndedPeriods(AlarmPeriods& periods, const RuleWatchState& watches, int64_t second);
// A period opens at second for a raise; not_answering has no plot and no period.
void openPeriod(AlarmPeriods& periods, const RuleEvent& event, int64_t second);

// Sets raised[x] for each of the width plot columns of range during which a rule on figure (a rule
// figure) of tile was raised; a column narrower than a second goes with the second it starts in.
void raisedColumns(const AlarmPeriods& periods, const TileKey& tile, int32_t figure, const PlotRange& range,
                   int32_t width, bool* raised);

}  // namespace tarvelon
