#include "alarms/alarm_periods.h"

namespace tarvelon {
namespace {

bool stillRaised(const AlarmPeriod& period, const RuleWatchState& watches) {
    const TileWatches* entry = findTileWatches(watches, period.server, period.gpuKey);
    return entry != nullptr && entry->rules[period.rule].raised;
}

}  // namespace

void clearAlarmPeriods(AlarmPeriods& periods) {
    periods.count = 0;
    periods.next = 0;
}

void closeEndedPeriods(AlarmPeriods& periods, const RuleWatchState& watches, int64_t second) {
    for (int i = 0; i < periods.count; ++i) {
        AlarmPeriod& period = periods.periods[i];
        if (period.cleared < 0 && !stillRaised(period, watches)) period.cleared = second;
    }
}

void openPeriod(AlarmPeriods& periods, const RuleEvent& event, int64_t second) {
    if (!event.raised || event.figure == kNotAnswering) return;
    periods.periods[periods.next] = {event.tileKey, event.figure, event.rule, event.server, event.gpuKey, second, -1};
    periods.next = (periods.next + 1) % kAlarmPeriods;
    if (periods.count < kAlarmPeriods) ++periods.count;
}

void raisedColumns(const AlarmPeriods& periods, const TileKey& tile, int32_t figure, const PlotRange& range,
                   int32_t width, bool* raised) {
    for (int32_t x = 0; x < width; ++x) raised[x] = false;
    for (int i = 0; i < periods.count; ++i) {
        const AlarmPeriod& period = periods.periods[i];
        if (period.figure != figure || !sameTile(period.tile, tile)) continue;
        for (int32_t x = 0; x < width; ++x) {
            const int64_t first = columnSecond(range, x, width);
            const int64_t next = columnSecond(range, x + 1, width);
            const int64_t end = next > first ? next : first + 1;
            raised[x] = raised[x] || (period.raised < end && (period.cleared < 0 || period.cleared > first));
        }
    }
}

}  // namespace tarvelon
