// The periods rules were raised, tick by tick: opened by a raise, closed when the watch clears or its
// tile goes away, none for not_answering, the oldest given up when the table is full.
#include "alarms/alarm_periods.h"

#include <gtest/gtest.h>

#include <memory>

namespace tarvelon {
namespace {

enum class Change { raise, clear, gone };

TEST(AlarmPeriods, OpenCloseTileGoneAndFull) {
    auto watches = std::make_unique<RuleWatchState>();
    clearRuleWatches(*watches);
    auto periods = std::make_unique<AlarmPeriods>();
    clearAlarmPeriods(*periods);
    // Watch 0: CPU load on this PC; 1: GPU core temperature on a server; 2: that server not answering.
    const int32_t figures[] = {0, 12, kNotAnswering};
    RuleEvent events[3] = {};
    for (int32_t w = 0; w < 3; ++w) events[w] = {w, false, {}, {}, figures[w], 0, 0, {}, 7, w == 1 ? 0x100 : -1};
    // The server's host tile and its GPU take entries 0 and 1 in a tick without rules.
    auto tiles = std::make_unique<WatchedTiles>();
    tiles->tiles[0] = {0, -1, -1, 7, true, true, true, {}};
    tiles->tiles[1] = {0, 0, 0x100, 7, true, true, true, {}};
    tiles->count = 2;
    auto changes = std::make_unique<RuleChanges>();
    const auto none = std::make_unique<AlarmRules>();
    watchRules(*watches, *none, *tiles, 0, *changes);
    RuleWatch* watchOf[] = {&watches->tiles[0].rules[0], &watches->tiles[1].rules[1], &watches->tiles[0].rules[2]};
    // At second, watch changes; then count periods, of which period reads raised and cleared.
    struct Tick {
        int64_t second;
        int32_t watch;
        Change change;
        int32_t count, period;
        int64_t raised, cleared;
    };
    const Tick ticks[] = {
        {100, 0, Change::raise, 1, 0, 100, -1}, {100, 2, Change::raise, 1, 0, 100, -1},
        {105, 1, Change::raise, 2, 1, 105, -1}, {110, 0, Change::clear, 2, 0, 100, 110},
        {120, 1, Change::gone, 2, 1, 105, 120}, {130, 0, Change::raise, 3, 2, 130, -1},
    };
    for (const Tick& tick : ticks) {
        RuleEvent& event = events[tick.watch];
        watchOf[tick.watch]->raised = tick.change == Change::raise;
        event.raised = tick.change == Change::raise;
        if (tick.change == Change::gone) {
            tiles->count = 1;
            watchRules(*watches, *none, *tiles, 0, *changes);
        }
        closeEndedPeriods(*periods, *watches, tick.second);
        if (tick.change != Change::gone) openPeriod(*periods, event, tick.second);
        EXPECT_EQ(periods->count, tick.count) << tick.second;
        const AlarmPeriod& period = periods->periods[tick.period];
        EXPECT_EQ(period.raised, tick.raised) << tick.second;
        EXPECT_EQ(period.cleared, tick.cleared) << tick.second;
    }
    // Full: 300 more raises keep the newest kAlarmPeriods, 256, over the oldest.
    for (int64_t s = 0; s < 300; ++s) openPeriod(*periods, events[0], 1000 + s);
    EXPECT_EQ(periods->count, 256);
    int64_t oldest = 2000;
    for (const AlarmPeriod& period : periods->periods)
        oldest = period.raised < oldest ? period.raised : oldest;
    EXPECT_EQ(oldest, 1044);
}

}  // namespace
}  // namespace tarvelon
