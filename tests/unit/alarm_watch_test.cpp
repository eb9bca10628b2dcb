// The alarm rules second by second over this PC (two GPUs) and two watched servers, a (slot 0) and b
// (slot 1, very high latency).
#include "alarms/alarm_watch.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "alarms/server_identity.h"
#include "panel/alarm_feed.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

AlarmRule rule(int32_t figure, const char16_t* target, bool above, int32_t level, int32_t clear, int32_t hold,
               int32_t cooldown) {
    AlarmRule r = defaultRule(figure);
    EXPECT_TRUE(parseRuleTarget(target, r));
    r.above = above;
    r.level = level;
    r.clear = clear;
    if (hold >= 0) r.holdSeconds = hold;
    r.cooldownSeconds = cooldown;
    return r;
}

// One tick over the shown list, as the panel runs it: how many events, the first capacity of them
// described.
int watchShown(RuleWatchState& state, const AlarmRules& rules, const PanelList& shown, const char16_t* localName,
               int64_t second, RuleEvent* events, int capacity) {
    auto tiles = std::make_unique<WatchedTiles>();
    watchedTilesOf(shown, *tiles);
    auto changes = std::make_unique<RuleChanges>();
    watchRules(state, rules, *tiles, second, *changes);
    const int count = changes->count < capacity ? changes->count : capacity;
    for (int i = 0; i < count; ++i) describeRuleChange(changes->changes[i], *tiles, rules, shown, localName, events[i]);
    return changes->count;
}

TEST(AlarmWatch, RulesRaiseAfterTheirHoldAndClearPastTheirClearLevel) {
    clearSlotTable();
    const char16_t* hosts[] = {u"a", u"b"};
    for (int i = 0; i < 2; ++i) {
        ServerSlot& slot = slotTable[i];
        copyText16(slot.Hostname, kSlotTextUnits, hosts[i]);
        slot.Port = 8221;
        slot.Active = 1;
        slot.Enabled = 1;
        slot.State = kStateStarted;
        slot.HighLatency = i;
    }
    auto list = std::make_unique<PanelList>();
    PanelGroup* groups[] = {&list->groups[0], &list->groups[1], &list->groups[2]};
    for (int g = 0; g < 3; ++g) {
        groups[g]->source = g - 1;
        groups[g]->host = {1, 0, 0, 0, 1, kStatusOk};
        copyText16(groups[g]->hostRecord.hostName, kRecordTextUnits, hosts[g == 2 ? 1 : 0]);
    }
    groups[0]->gpus[0] = groups[0]->gpus[1] = {1, 0, 0, 0, 1, kStatusOk};
    groups[0]->gpuRecords[0].pciBus = 1;
    groups[0]->gpuRecords[1].pciBus = 2;
    copyText16(groups[0]->gpuRecords[0].gpuName, kRecordTextUnits, u"RTX A");

    auto rules = std::make_unique<AlarmRules>();
    rules->rules[0] = rule(ruleFigureOf(u"gpu_core_c"), u"local", true, 80, 70, 3, 20);
    rules->rules[1] = rule(ruleFigureOf(u"cpu_load_pct"), u"local", false, 10, 20, 2, 0);
    rules->rules[2] = rule(ruleFigureOf(u"cpu_load_pct"), u"*", true, 90, 50, 0, 0);
    rules->rules[3] = rule(kNotAnswering, u"*", true, 0, 0, -1, 0);
    rules->rules[4] = rule(ruleFigureOf(u"threads"), u"b:8221", true, 5, 0, 0, 0);

    const struct {
        int second;
        int gpu0, gpu1, localCpu, aCpu;
        char a, b;           // O: answers, N: silent, -: silent and hidden from the panel
        const char* events;  // rule+ raised / rule- cleared, tile, host, value
    } ticks[] = {
        {0, 85, 60, 50, 20, 'O', 'O', ""},
        {2, 85, 85, 50, 20, 'O', 'O', ""},
        {3, 85, 85, 50, 20, 'O', 'O', "0+ RTX A this-pc 85|"},  // held 3 s; GPU 1 on its own
        {4, 60, 85, 50, 20, 'O', 'O', ""},                      // no clear before its hold
        {5, 75, 85, 50, 20, 'O', 'O', "0+ GPU 1 this-pc 85|"},  // 75 is not past 70
        {6, 70, 85, 50, 20, 'O', 'O', ""},
        {8, 70, 60, 50, 20, 'O', 'O', ""},
        {9, 70, 60, 50, 20, 'O', 'O', "0- RTX A this-pc 70|"},
        {10, 99, 60, 50, 20, 'O', 'O', ""},
        {11, 60, 60, 50, 20, 'O', 'O', "0- GPU 1 this-pc 60|"},  // the spike at 10 was too short
        {12, 90, 60, 50, 20, 'O', 'O', ""},
        {15, 90, 60, 50, 20, 'O', 'O', ""},  // raised at 3: cooling down until 23
        {23, 90, 60, 50, 20, 'O', 'O', "0+ RTX A this-pc 90|"},
        {24, 50, 50, 5, 95, 'O', 'O', "2+ a a 95|"},  // any server, no hold
        {25, 50, 50, 5, 95, 'N', 'O', ""},            // a silent: its figures neither raise nor clear
        {26, 50, 50, 5, 40, 'N', 'O', "1+ SYSTEM this-pc 5|"},
        {27, 50, 50, 25, 40, 'O', 'O', "0- RTX A this-pc 50|2- a a 40|"},
        {28, 50, 50, 25, 40, 'O', 'O', ""},
        {29, 50, 50, 25, 40, 'O', 'O', "1- SYSTEM this-pc 25|"},
        {30, 50, 50, 50, 40, 'N', 'N', ""},
        {59, 50, 50, 50, 40, 'N', 'N', ""},
        {60, 50, 50, 50, 40, 'N', 'N', "3+ a a 1|"},  // 30 s for a, 90 s for b
        {61, 50, 50, 50, 40, '-', 'N', ""},           // hidden as a dead server, a is still watched
        {62, 50, 50, 50, 40, 'O', 'N', ""},
        {92, 50, 50, 50, 40, 'O', 'N', "3- a a 0|"},  // answering as long as the hold clears it
        {120, 50, 50, 50, 40, 'O', 'N', "3+ b b 1|"},
        {121, 50, 50, 50, 40, 'O', 'O', "4+ b b 9|"},
    };
    auto state = std::make_unique<RuleWatchState>();
    clearRuleWatches(*state);
    for (const auto& t : ticks) {
        groups[0]->gpuRecords[0].coreTempC = static_cast<uint8_t>(t.gpu0);
        groups[0]->gpuRecords[1].coreTempC = static_cast<uint8_t>(t.gpu1);
        groups[0]->hostRecord.cpuLoad = static_cast<uint8_t>(t.localCpu);
        groups[1]->hostRecord.cpuLoad = static_cast<uint8_t>(t.aCpu);
        groups[1]->hostRecord.threadCount = 9;  // a is not b:8221
        groups[2]->hostRecord.threadCount = t.second > 120 ? 9 : 0;
        groups[1]->host.present = t.a != '-';
        groups[1]->host.status = t.a == 'O' ? kStatusOk : kStatusNoResponse;
        groups[2]->host.status = t.b == 'O' ? kStatusOk : kStatusNoResponse;
        slotTable[0].Status = groups[1]->host.status;
        slotTable[1].Status = groups[2]->host.status;
        RuleEvent events[8];
        const int count = watchShown(*state, *rules, *list, u"this-pc", t.second, events, 8);
        std::string got;
        for (int i = 0; i < count; ++i) {
            got += std::to_string(events[i].rule) + (events[i].raised ? "+ " : "- ") +
                   toUtf8(events[i].tile) + " " + toUtf8(events[i].host) + " " +
                   std::to_string(events[i].value) + "|";
        }
        EXPECT_EQ(got, t.events) << "second " << t.second;
    }
    clearSlotTable();
}

TEST(AlarmWatch, AGpuKeepsItsAlarmWhenAnotherDropsOut) {
    clearSlotTable();
    auto list = std::make_unique<PanelList>();
    PanelGroup& local = list->groups[0];
    local.source = kLocalSource;
    local.host = local.gpus[0] = local.gpus[1] = {1, 0, 0, 0, 1, kStatusOk};
    local.gpuRecords[0].pciBus = 1;
    local.gpuRecords[0].coreTempC = 50;
    local.gpuRecords[1].pciBus = 2;
    local.gpuRecords[1].coreTempC = 90;
    auto rules = std::make_unique<AlarmRules>();
    rules->rules[0] = rule(ruleFigureOf(u"gpu_core_c"), u"local", true, 80, 70, 0, 0);
    auto state = std::make_unique<RuleWatchState>();
    clearRuleWatches(*state);
    RuleEvent events[4];
    ASSERT_EQ(watchShown(*state, *rules, *list, u"pc", 0, events, 4), 1);
    // The first GPU drops out: the second, still raised, moves up to its place and raises nothing anew.
    local.gpuRecords[0] = local.gpuRecords[1];
    local.gpus[1].present = 0;
    EXPECT_EQ(watchShown(*state, *rules, *list, u"pc", 1, events, 4), 0);
    EXPECT_TRUE(anyRuleRaised(*state));
}

// A server's host tile: 'O' answers, 'N' silent, 'D' deactivated, 'H' answers but hidden.
WatchedTile serverTile(char state, uint32_t threads) {
    WatchedTile tile{0, -1, -1, serverIdentity(slotTable[0]), state != 'H', state != 'D', state != 'N' && state != 'D', {}};
    tile.figures[3] = threads;
    return tile;
}

TEST(AlarmWatch, AGapRestartsTheHoldNamesMatchInAnyCaseDeactivationClearsAndHidingDrops) {
    clearSlotTable();
    ServerSlot& slot = slotTable[0];
    copyText16(slot.Hostname, kSlotTextUnits, u"render1");
    slot.Port = 8221;
    slot.Active = 1;
    auto rules = std::make_unique<AlarmRules>();
    rules->rules[0] = rule(ruleFigureOf(u"threads"), u"Render1:8221", true, 5, 0, 2, 0);
    rules->rules[1] = rule(kNotAnswering, u"*", true, 0, 0, 0, 0);
    const struct {
        int second;
        char state;
        const char* changes;  // rule+ raised / rule- cleared, value
    } ticks[] = {
        {0, 'O', ""},
        {1, 'N', "1+ 1|"},  // the threads rule meets a gap in its hold
        {2, 'O', "1- 0|"},  // held since 0 but for the gap: no raise yet
        {3, 'O', ""},
        {4, 'O', "0+ 9|"},
        {5, 'N', "1+ 1|"},
        {6, 'D', "1- 0|"},  // deactivated: no longer watched, cleared at once
        {7, 'H', ""},       // hidden: the threads rule raised at 4 is dropped without a word
    };
    auto state = std::make_unique<RuleWatchState>();
    clearRuleWatches(*state);
    auto tiles = std::make_unique<WatchedTiles>();
    auto changes = std::make_unique<RuleChanges>();
    for (const auto& tick : ticks) {
        tiles->tiles[0] = serverTile(tick.state, 9);
        tiles->count = 1;
        watchRules(*state, *rules, *tiles, tick.second, *changes);
        std::string got;
        for (int i = 0; i < changes->count; ++i) {
            const RuleChange& change = changes->changes[i];
            got += std::to_string(change.rule) + (change.raised ? "+ " : "- ") + std::to_string(change.value) + "|";
        }
        EXPECT_EQ(got, tick.changes) << "second " << tick.second;
    }
    EXPECT_FALSE(anyRuleRaised(*state));
    clearSlotTable();
}

TEST(AlarmWatch, AServerKeepsItsStateWhereverItSitsAndTwiceIsOnce) {
    clearSlotTable();
    auto rules = std::make_unique<AlarmRules>();
    rules->rules[0] = rule(ruleFigureOf(u"gpu_core_c"), u"*", true, 80, 70, 0, 0);
    auto state = std::make_unique<RuleWatchState>();
    clearRuleWatches(*state);
    auto tiles = std::make_unique<WatchedTiles>();
    auto changes = std::make_unique<RuleChanges>();
    // Servers 7 and 9 by identity, each GPU at 90 °C, in slots as each tick places them.
    const struct {
        int second;
        std::vector<std::pair<int32_t, uint32_t>> slots;  // slot, server
        const char* changes;                               // tile+ raised / tile- cleared
    } ticks[] = {
        {0, {{0, 7}, {1, 9}, {2, 7}}, "0+|1+|"},  // 7 entered twice: watched once
        {1, {{0, 9}, {1, 7}}, ""},                // moved: still raised, nothing new
        {2, {{1, 7}}, ""},                        // 9 gone: dropped without a word
        {3, {{0, 9}, {1, 7}}, "0+|"},             // 9 back: a new tile
    };
    for (const auto& tick : ticks) {
        tiles->count = 0;
        for (const auto& [slot, server] : tick.slots) {
            WatchedTile& gpu = tiles->tiles[tiles->count++];
            gpu = {slot, 0, 0x100, server, true, true, true, {}};
            gpu.figures[5] = 90;
        }
        watchRules(*state, *rules, *tiles, tick.second, *changes);
        std::string got;
        for (int i = 0; i < changes->count; ++i) {
            got += std::to_string(changes->changes[i].tile) + (changes->changes[i].raised ? "+|" : "-|");
        }
        EXPECT_EQ(got, tick.changes) << "second " << tick.second;
    }
}

TEST(AlarmWatch, EveryRuleOnEveryTileRaisesAndClearsInOneTick) {
    // 64 servers of 16 GPUs beside this PC's, all hot, under five rules: 5 × 1040 raises, then as
    // many clears; then 65 other hosts in their places, every tile new while the old ones still hold
    // the table, all hot again.
    clearSlotTable();
    auto rules = std::make_unique<AlarmRules>();
    for (int r = 0; r < 5; ++r) rules->rules[r] = rule(ruleFigureOf(u"gpu_core_c"), u"all", true, 90, 80, 0, 0);
    auto tiles = std::make_unique<WatchedTiles>();
    auto state = std::make_unique<RuleWatchState>();
    clearRuleWatches(*state);
    auto changes = std::make_unique<RuleChanges>();
    for (const uint32_t temperature : {95u, 60u, 96u}) {
        const uint32_t hosts = temperature == 96u ? 100 : 1;
        tiles->count = 0;
        for (int32_t source = -1; source < kServerSlots; ++source) {
            const uint32_t server = hosts + static_cast<uint32_t>(source);
            tiles->tiles[tiles->count++] = {source, -1, -1, server, true, true, true, {}};
            for (int32_t k = 0; k < kGpuSlots; ++k) {
                WatchedTile& gpu = tiles->tiles[tiles->count++];
                gpu = {source, k, k * 8, server, true, true, true, {}};
                gpu.figures[5] = temperature;
            }
        }
        watchRules(*state, *rules, *tiles, 0, *changes);
        ASSERT_EQ(changes->count, 5 * 1040);
        int raised = 0;
        for (int i = 0; i < changes->count; ++i) raised += changes->changes[i].raised ? 1 : 0;
        EXPECT_EQ(raised, temperature > 90 ? 5 * 1040 : 0);
    }
}

}  // namespace
}  // namespace tarvelon
