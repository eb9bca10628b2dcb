#include "alarms/alarm_watch.h"

#include <cstring>

namespace tarvelon {
namespace {

constexpr RuleWatch kIdle = {-1, -1, -1, false};

// Host names are not case-sensitive: a rule for "Render1:8221" watches the server entered as "render1".
bool sameHostName(const char16_t* a, const char16_t* b) {
    const auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    for (; *a != 0 && fold(*a) == fold(*b); ++a, ++b) {
    }
    return fold(*a) == fold(*b);
}

bool targets(const AlarmRule& rule, int32_t source) {
    switch (rule.target) {
        case RuleTarget::Local:
            return source < 0;
        case RuleTarget::AnyServer:
            return source >= 0;
        case RuleTarget::All:
            return true;
        case RuleTarget::Server: {
            if (source < 0) return false;
            const ServerSlot& slot = slotTable[source];
            return slot.Port == rule.port && sameHostName(slot.Hostname, rule.host);
        }
    }
    return false;
}

uint32_t indexSlot(uint32_t server, int32_t gpuKey) {
    const uint32_t mixed = (server ^ (static_cast<uint32_t>(gpuKey) * 0x9E3779B1u)) * 0x85EBCA6Bu;
    return (mixed >> 16) & (kTileIndexSlots - 1);
}

int32_t findEntry(const RuleWatchState& state, uint32_t server, int32_t gpuKey) {
    for (uint32_t i = indexSlot(server, gpuKey);; i = (i + 1) & (kTileIndexSlots - 1)) {
        const int32_t at = state.index[i];
        if (at == 0) return -1;
        const TileWatches& entry = state.tiles[at - 1];
        if (entry.used && entry.server == server && entry.gpuKey == gpuKey) return at - 1;
    }
}

void indexEntry(RuleWatchState& state, int32_t entry) {
    uint32_t i = indexSlot(state.tiles[entry].server, state.tiles[entry].gpuKey);
    while (state.index[i] != 0) i = (i + 1) & (kTileIndexSlots - 1);
    state.index[i] = static_cast<int16_t>(entry + 1);
}

// Gives each tile its entry in entryOf; -1 for a second tile of one identity (a server entered
// twice), which is watched once. The entries of tiles gone are freed, their alarms dropped without a
// word, and new tiles take free entries with every rule idle.
void assignEntries(RuleWatchState& state, const WatchedTiles& tiles, int16_t* entryOf) {
    constexpr int16_t kNew = -2;
    bool kept[kWatchedTiles] = {};
    for (int32_t t = 0; t < tiles.count; ++t) {
        const int32_t entry = findEntry(state, tiles.tiles[t].server, tiles.tiles[t].gpuKey);
        entryOf[t] = static_cast<int16_t>(entry < 0 ? kNew : kept[entry] ? -1 : entry);
        if (entry >= 0) kept[entry] = true;
    }
    for (int32_t e = 0; e < state.entries; ++e) state.tiles[e].used = state.tiles[e].used && kept[e];
    int32_t free = 0;
    for (int32_t t = 0; t < tiles.count; ++t) {
        if (entryOf[t] != kNew) continue;
        const WatchedTile& tile = tiles.tiles[t];
        if (findEntry(state, tile.server, tile.gpuKey) >= 0) {
            entryOf[t] = -1;
            continue;
        }
        while (free < state.entries && state.tiles[free].used) ++free;
        if (free == state.entries) ++state.entries;
        TileWatches& entry = state.tiles[free];
        entry.used = true;
        entry.server = tile.server;
        entry.gpuKey = tile.gpuKey;
        for (RuleWatch& watch : entry.rules) watch = kIdle;
        indexEntry(state, free);
        entryOf[t] = static_cast<int16_t>(free);
    }
}

// The index afresh from the entries in use, without the freed ones.
void rebuildIndex(RuleWatchState& state) {
    std::memset(state.index, 0, sizeof state.index);
    while (state.entries > 0 && !state.tiles[state.entries - 1].used) --state.entries;
    for (int32_t e = 0; e < state.entries; ++e) {
        if (state.tiles[e].used) indexEntry(state, e);
    }
}

// One tile's figure for one second; has is false for a second without a value.
struct Reading {
    bool has;
    int64_t value;
    int32_t holdSeconds;
};

Reading readFigure(const AlarmRule& rule, const WatchedTile& tile, bool highLatency) {
    const int32_t hold = ruleHoldSeconds(rule, highLatency);
    if (rule.figure == kNotAnswering) {
        // A deactivated server is not watched: as if it answered, with nothing to wait for.
        if (!tile.enabled) return {true, 0, 0};
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
bool step(RuleWatch& watch, const AlarmRule& rule, const Reading& reading, int32_t now) {
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

// The rules that watch tile: not_answering on a server's host tile, shown or not; a host figure on a
// shown host tile, a GPU figure on a shown GPU tile.
bool watches(const AlarmRule& rule, const WatchedTile& tile) {
    if (rule.figure == kNotAnswering) return tile.source >= 0 && tile.gpu < 0;
    return tile.shown && (tile.gpu >= 0) == isGpuFigure(rule.figure);
}

}  // namespace

void clearRuleWatches(RuleWatchState& state) {
    for (int32_t e = 0; e < state.entries; ++e) state.tiles[e].used = false;
    state.entries = 0;
    std::memset(state.index, 0, sizeof state.index);
}

void forgetRule(RuleWatchState& state, int32_t rule) {
    for (int32_t e = 0; e < state.entries; ++e) state.tiles[e].rules[rule] = kIdle;
}

void watchRules(RuleWatchState& state, const AlarmRules& rules, const WatchedTiles& tiles, int64_t nowSeconds,
                RuleChanges& changes) {
    changes.count = 0;
    int16_t entryOf[kWatchedTiles];
    assignEntries(state, tiles, entryOf);
    int32_t active[kAlarmRules];
    int32_t activeCount = 0;
    for (int32_t r = 0; r < kAlarmRules; ++r) {
        if (rules.rules[r].used && rules.rules[r].enabled) active[activeCount++] = r;
    }
    const int32_t now = static_cast<int32_t>(nowSeconds);
    // Which rules target a host, worked out once for each host rather than for each of its tiles.
    int32_t maskSource = -2;
    uint32_t targeted = 0;
    bool highLatency = false;
    for (int32_t t = 0; t < tiles.count; ++t) {
        if (entryOf[t] < 0) continue;
        const WatchedTile& tile = tiles.tiles[t];
        TileWatches& entry = state.tiles[entryOf[t]];
        entry.gpu = tile.gpu;
        if (tile.source != maskSource) {
            maskSource = tile.source;
            targeted = 0;
            for (int32_t a = 0; a < activeCount; ++a) {
                if (targets(rules.rules[active[a]], tile.source)) targeted |= 1u << a;
            }
            highLatency = tile.source >= 0 && slotTable[tile.source].HighLatency.load() != 0;
        }
        for (int32_t a = 0; a < activeCount; ++a) {
            const AlarmRule& rule = rules.rules[active[a]];
            if ((targeted & 1u << a) == 0) continue;
            RuleWatch& watch = entry.rules[active[a]];
            if (!watches(rule, tile)) {
                // A host the panel hides keeps only not_answering: the rest goes as its tiles went.
                if (!tile.shown) watch = kIdle;
                continue;
            }
            const Reading reading = readFigure(rule, tile, highLatency);
            if (step(watch, rule, reading, now)) {
                changes.changes[changes.count++] = {active[a], t, watch.raised, reading.value};
            }
        }
    }
    rebuildIndex(state);
}

const TileWatches* findTileWatches(const RuleWatchState& state, uint32_t server, int32_t gpuKey) {
    const int32_t entry = findEntry(state, server, gpuKey);
    return entry >= 0 ? &state.tiles[entry] : nullptr;
}

bool anyRuleRaised(const RuleWatchState& state) {
    for (int32_t e = 0; e < state.entries; ++e) {
        const TileWatches& entry = state.tiles[e];
        if (!entry.used) continue;
        for (const RuleWatch& watch : entry.rules) {
            if (watch.raised) return true;
        }
    }
    return false;
}

}  // namespace tarvelon
