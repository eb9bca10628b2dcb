#include "alarms/alarm_watch.h"

#include "platform/text16.h"

namespace tarvelon {
namespace {

bool targets(const AlarmRule& rule, const WatchedTile& tile) {
    switch (rule.target) {
        case RuleTarget::Local:
            return tile.source < 0;
        case RuleTarget::AnyServer:
            return tile.source >= 0;
        case RuleTarget::All:
            return true;
        case RuleTarget::Server: {
            if (tile.source < 0) return false;
            const ServerSlot& slot = slotTable[tile.source];
            return slot.Port == rule.port && equalText16(slot.Hostname, rule.host);
        }
    }
    return false;
}

RuleWatch* findWatch(RuleWatchState& state, int32_t rule, const WatchedTile& tile) {
    RuleWatch* found = nullptr;
    for (RuleWatch& watch : state.watches) {
        if (watch.rule == rule && watch.server == tile.server && watch.gpuKey == tile.gpuKey) {
            found = &watch;
            break;
        }
        if (watch.rule < 0 && found == nullptr) found = &watch;
    }
    if (found != nullptr && found->rule < 0)
        *found = {rule, tile.server, tile.gpuKey, tile.gpu, -1, -1, -1, false, false};
    if (found != nullptr) found->gpu = tile.gpu;
    return found;
}

// One tile's figure for one second; has is false for a second without a value.
struct Reading {
    bool has;
    int64_t value;
    int32_t holdSeconds;
};

Reading readFigure(const AlarmRule& rule, const WatchedTile& tile) {
    const bool remote = tile.source >= 0;
    const bool highLatency = remote && slotTable[tile.source].HighLatency.load() != 0;
    const int32_t hold = ruleHoldSeconds(rule, highLatency);
    if (rule.figure == kNotAnswering) {
        if (!remote || !tile.enabled) return {false, 0, hold};
        return {true, tile.answers ? 0 : 1, hold};
    }
    if (!tile.answers) return {false, 0, hold};
    return {true, tile.figures[tile.gpu < 0 ? rule.figure : rule.figure - 7], hold};
}

// not_answering is a state, not a level: it holds while the server is silent and clears once it answers.
bool conditionHolds(const AlarmRule& rule, int64_t value) {
    if (rule.figure == kNotAnswering) return value != 0;
    return rule.above ? value >= rule.level : value <= rule.level;
}

bool backPastClear(const AlarmRule& rule, int64_t value) {
    if (rule.figure == kNotAnswering) return value == 0;
    return rule.above ? value <= rule.clear : value >= rule.clear;
}

// Advances one rule on one tile; true when it raised or cleared at this second.
bool step(RuleWatch& watch, const AlarmRule& rule, const Reading& reading, int64_t now) {
    watch.seen = true;
    if (!reading.has) {
        watch.conditionSince = -1;
        watch.clearSince = -1;
        return false;
    }
    if (watch.raised) {
        if (!backPastClear(rule, reading.value)) {
            watch.clearSince = -1;
            return false;
        }
        if (watch.clearSince < 0) watch.clearSince = now;
        if (now - watch.clearSince < reading.holdSeconds) return false;
        watch.raised = false;
        watch.clearSince = -1;
        watch.conditionSince = -1;
        return true;
    }
    if (!conditionHolds(rule, reading.value)) {
        watch.conditionSince = -1;
        return false;
    }
    if (watch.conditionSince < 0) watch.conditionSince = now;
    if (now - watch.conditionSince < reading.holdSeconds) return false;
    if (watch.raisedAt >= 0 && now - watch.raisedAt < rule.cooldownSeconds) return false;
    watch.raised = true;
    watch.raisedAt = now;
    watch.clearSince = -1;
    return true;
}

// A watch that is neither holding, raised nor cooling down, or whose tile went away, frees its entry.
void freeIdle(RuleWatchState& state, const AlarmRules& rules, int64_t now) {
    for (RuleWatch& watch : state.watches) {
        if (watch.rule < 0) continue;
        const int32_t cooldown = rules.rules[watch.rule].cooldownSeconds;
        const bool cooling = watch.raisedAt >= 0 && now - watch.raisedAt < cooldown;
        if (!watch.seen || (!watch.raised && watch.conditionSince < 0 && !cooling)) watch.rule = -1;
        watch.seen = false;
    }
}

// A server's silence is watched whether the panel shows it or not: "Remove dead server" hides exactly
// the servers this figure is about. A server entered twice is watched once, in its first slot.
int watchSilences(RuleWatchState& state, int32_t r, const AlarmRule& rule, const WatchedTiles& tiles,
                  int64_t nowSeconds, RuleChange* changes, int capacity) {
    int count = 0;
    uint32_t servers[kServerSlots];
    int serverCount = 0;
    for (int32_t t = 0; t < tiles.count; ++t) {
        const WatchedTile& tile = tiles.tiles[t];
        if (tile.source < 0 || tile.gpu >= 0) continue;
        bool twice = false;
        for (int j = 0; j < serverCount && !twice; ++j) twice = servers[j] == tile.server;
        if (twice) continue;
        servers[serverCount++] = tile.server;
        if (!targets(rule, tile)) continue;
        RuleWatch* watch = findWatch(state, r, tile);
        if (watch == nullptr) continue;
        const Reading reading = readFigure(rule, tile);
        if (!step(*watch, rule, reading, nowSeconds) || count >= capacity) continue;
        changes[count++] = {r, t, watch->raised, reading.value};
    }
    return count;
}

}  // namespace

void clearRuleWatches(RuleWatchState& state) {
    for (RuleWatch& watch : state.watches) watch.rule = -1;
}

void forgetRule(RuleWatchState& state, int32_t rule) {
    for (RuleWatch& watch : state.watches) {
        if (watch.rule == rule) watch.rule = -1;
    }
}

int watchRules(RuleWatchState& state, const AlarmRules& rules, const WatchedTiles& tiles, int64_t nowSeconds,
               RuleChange* changes, int capacity) {
    int count = 0;
    for (int32_t r = 0; r < kAlarmRules; ++r) {
        const AlarmRule& rule = rules.rules[r];
        if (!rule.used || !rule.enabled) continue;
        if (rule.figure == kNotAnswering) {
            count += watchSilences(state, r, rule, tiles, nowSeconds, changes + count, capacity - count);
            continue;
        }
        for (int32_t t = 0; t < tiles.count; ++t) {
            const WatchedTile& tile = tiles.tiles[t];
            if (!tile.shown || (tile.gpu >= 0) != isGpuFigure(rule.figure) || !targets(rule, tile)) continue;
            RuleWatch* watch = findWatch(state, r, tile);
            if (watch == nullptr) continue;
            const Reading reading = readFigure(rule, tile);
            if (!step(*watch, rule, reading, nowSeconds) || count >= capacity) continue;
            changes[count++] = {r, t, watch->raised, reading.value};
        }
    }
    freeIdle(state, rules, nowSeconds);
    return count;
}

bool anyRuleRaised(const RuleWatchState& state) {
    for (const RuleWatch& watch : state.watches) {
        if (watch.rule >= 0 && watch.raised) return true;
    }
    return false;
}

}  // namespace tarvelon
