// The alarm rules' once-a-second work on the UI thread with every tile in use (this PC and 64 servers,
// 16 GPUs each: 1105 tiles) under 32 rules: the watch over the tiles, and the panel's feed that turns
// its list into the tiles the watch reads.
#include <benchmark/benchmark.h>

#include <memory>

#include "alarms/alarm_watch.h"
#include "net/slot_table.h"
#include "panel/alarm_feed.h"

namespace tarvelon {
namespace {

// 24 rules on GPU figures and 8 on host figures, over all tiles, the servers, this PC and one server.
std::unique_ptr<AlarmRules> thirtyTwoRules() {
    auto rules = std::make_unique<AlarmRules>();
    const char16_t* targets[] = {u"all", u"*", u"local", u"s7:8221"};
    for (int32_t r = 0; r < kAlarmRules; ++r) {
        AlarmRule& rule = rules->rules[r];
        rule = defaultRule(r < 24 ? 7 + r % 7 : r % 7);
        parseRuleTarget(targets[r % 4], rule);
        rule.level = 80;
        rule.clear = 70;
    }
    return rules;
}

void fillSlots() {
    clearSlotTable();
    for (int s = 0; s < kServerSlots; ++s) {
        ServerSlot& slot = slotTable[s];
        slot.Hostname[0] = u's';
        slot.Hostname[1] = static_cast<char16_t>(u'0' + s % 10);
        slot.Port = 8221;
        slot.Active = 1;
        slot.Enabled = 1;
        slot.Status = kStatusOk;
        slot.State = kStateStarted;
    }
}

std::unique_ptr<PanelList> fullList() {
    auto list = std::make_unique<PanelList>();
    for (int g = 0; g < kPanelGroups; ++g) {
        PanelGroup& group = list->groups[g];
        group.source = g - 1;
        group.host = {1, 0, 0, 0, 1, kStatusOk};
        for (int k = 0; k < kGpuSlots; ++k) {
            group.gpus[k] = group.host;
            group.gpuRecords[k].pciBus = static_cast<uint8_t>(k + 1);
        }
    }
    return list;
}

// One tick of the watch; every tenth tick a quarter of the GPUs cross the level, so that holds start,
// raise and clear.
void BM_WatchRules(benchmark::State& run) {
    fillSlots();
    const auto rules = thirtyTwoRules();
    const auto list = fullList();
    auto tiles = std::make_unique<WatchedTiles>();
    watchedTilesOf(*list, *tiles);
    auto state = std::make_unique<RuleWatchState>();
    clearRuleWatches(*state);
    auto changes = std::make_unique<RuleChanges>();
    int64_t second = 0;
    for (auto _ : run) {
        const bool hot = second / 10 % 2 == 1;
        for (int32_t t = 0; t < tiles->count; t += 4) tiles->tiles[t].figures[5] = hot ? 85 : 50;
        watchRules(*state, *rules, *tiles, second++, *changes);
        benchmark::DoNotOptimize(changes->count);
    }
    run.counters["tiles"] = tiles->count;
}
BENCHMARK(BM_WatchRules)->Unit(benchmark::kMicrosecond);

void BM_WatchedTilesOf(benchmark::State& run) {
    fillSlots();
    const auto list = fullList();
    auto tiles = std::make_unique<WatchedTiles>();
    for (auto _ : run) {
        watchedTilesOf(*list, *tiles);
        benchmark::DoNotOptimize(tiles->count);
    }
}
BENCHMARK(BM_WatchedTilesOf)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvelon

BENCHMARK_MAIN();
