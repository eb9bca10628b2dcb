// The alarm rules applied once a second to every tile shown: a rule raises on a tile once its
// condition has held for the hold time, and clears once the figure has stayed back past the clear
// level as long. Each GPU of a target is watched on its own; a second without a value (a silent
// server's figures) neither raises nor clears and starts the hold afresh; a tile that goes away drops
// its alarms without a word. not_answering follows every watched server, shown or hidden.
#pragma once

#include <cstdint>

#include "history/tile_key.h"
#include "net/slot_table.h"
#include "panel/alarm_rule.h"
#include "panel/panel_list.h"

namespace tarvelon {

// One rule on one tile, while it holds, is raised or is cooling down. The table is fixed: when it is
// full, further tiles are not watched until an entry frees.
constexpr int kRuleWatches = 512;

struct RuleWatch {
    int32_t rule;     // -1: a free entry
    uint32_t server;  // the server's identity; 0 for this PC
    // The GPU's key in its host's history (PCI bus and slot), so that a GPU keeps its state when
    // another drops out; -1 for the host tile.
    int32_t gpuKey;
    int32_t gpu;             // the GPU's position at the last tick, for the tooltip; -1 for the host tile
    int64_t conditionSince;  // -1: the condition does not hold
    int64_t clearSince;      // -1: not back past the clear level
    int64_t raisedAt;        // -1: never raised
    bool raised;
    bool seen;  // the tile was shown at this tick
};

struct RuleWatchState {
    RuleWatch watches[kRuleWatches];
};

// What happened to one rule on one tile, for the notice, the sound, the command and the CSV file.
struct RuleEvent {
    int32_t rule;
    bool raised;  // false: cleared
    char16_t tile[kRecordTextUnits];
    char16_t host[kSlotTextUnits];
    int32_t figure;
    int64_t value;
    int32_t level;
    TileKey tileKey;  // whose history plot shows the raised period
    uint32_t server;  // with rule and gpuKey, the watch that raised or cleared
    int32_t gpuKey;
};

// A tile's title for {tile}: the host's as the panel shows it, a GPU's name, or "GPU k" for one that
// reports none.
void tileTitle(const PanelGroup& group, int gpu, char16_t (&title)[kRecordTextUnits]);

void clearRuleWatches(RuleWatchState& state);
// Forgets what rule had raised or was holding (it was edited or removed), without events.
void forgetRule(RuleWatchState& state, int32_t rule);

// One tick at nowSeconds (a steady clock). localName is {host} for this PC's tiles. Writes at most
// capacity events and returns how many.
int watchRules(RuleWatchState& state, const AlarmRules& rules, const PanelList& shown,
               const char16_t* localName, int64_t nowSeconds, RuleEvent* events, int capacity);

// True while a rule is raised on a tile.
bool anyRuleRaised(const RuleWatchState& state);

}  // namespace tarvelon
