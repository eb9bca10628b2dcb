// The alarm rules applied once a second to every tile shown: a rule raises on a tile once its
// condition has held for the hold time, and clears once the figure has stayed back past the clear
// level as long. Each GPU of a target is watched on its own; a second without a value (a silent
// server's figures) neither raises nor clears and starts the hold afresh; a tile that goes away drops
// its alarms without a word. not_answering follows every watched server, shown or hidden, and clears at
// once when its server is deactivated. The panel hands the tiles over as WatchedTiles and puts names
// to what changed.
#pragma once

#include <cstdint>

#include "alarms/alarm_rule.h"
#include "history/history_ring.h"
#include "history/tile_key.h"
#include "net/slot_table.h"
#include "telemetry/records.h"

namespace tarvelon {

// One tile as the rules see it at one tick.
struct WatchedTile {
    int32_t source;   // -1: this PC; else the server's slot
    int32_t gpu;      // the GPU's position in its host; -1: the host tile
    int32_t gpuKey;   // the GPU's key in its host's history (PCI bus and slot); -1 for the host tile
    uint32_t server;  // the server's identity; 0 for this PC
    // False for the host of a started server that the panel hides ("Remove dead server"): only
    // not_answering watches it.
    bool shown;
    bool enabled;  // this PC, or a server that is activated
    bool answers;  // enabled, and "OK" at this tick
    HistoryFigures figures;  // the host's or the GPU's
};

// Every tile of the panel (this PC and 64 servers of 16 GPUs each) and the hosts it hides.
constexpr int kWatchedTiles = (kServerSlots + 1) * (kGpuSlots + 1);
struct WatchedTiles {
    WatchedTile tiles[kWatchedTiles];
    int32_t count;
};

// One rule on one tile. Seconds of the steady clock (since the machine started) fit 68 years.
struct RuleWatch {
    int32_t conditionSince;  // -1: the condition does not hold
    int32_t clearSince;      // -1: not back past the clear level
    int32_t raisedAt;        // -1: never raised
    bool raised;
};

// Every rule's watch on one tile, kept under the tile's identity so that a GPU keeps its state when
// another drops out and a server keeps its own when it moves to another slot.
struct TileWatches {
    bool used;
    uint32_t server;  // the server's identity; 0 for this PC
    int32_t gpuKey;   // -1 for the host tile
    int32_t gpu;      // the GPU's position at the last tick, for the tooltip; -1 for the host tile
    RuleWatch rules[kAlarmRules];
};

// Room for every tile at once, so that every rule is checked on every tile whatever their count; an
// entry is found through an index on its identity, not by a search. Zero at start.
constexpr int kTileIndexSlots = 4096;  // a power of two, under a third full
struct RuleWatchState {
    TileWatches tiles[kWatchedTiles];
    // No entry at or past it is used: a PC with a few tiles never touches the memory of the rest.
    int32_t entries;
    int16_t index[kTileIndexSlots];  // 1 + the entry in tiles; 0: empty
};

// A rule that raised or cleared on the tile at index tile of the tick's WatchedTiles.
struct RuleChange {
    int32_t rule;
    int32_t tile;
    bool raised;  // false: cleared
    int64_t value;
};

// Each rule can raise or clear once a tick on each tile: a tick's changes always fit.
constexpr int kRuleChanges = kAlarmRules * kWatchedTiles;
struct RuleChanges {
    RuleChange changes[kRuleChanges];
    int32_t count;
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

void clearRuleWatches(RuleWatchState& state);
// Forgets what rule had raised or was holding (it was edited or removed), without events.
void forgetRule(RuleWatchState& state, int32_t rule);

// One tick at nowSeconds (a steady clock): every raise and clear into changes, in tile order.
void watchRules(RuleWatchState& state, const AlarmRules& rules, const WatchedTiles& tiles, int64_t nowSeconds,
                RuleChanges& changes);

// The watches of the tile of server and gpuKey, or null when it has none.
const TileWatches* findTileWatches(const RuleWatchState& state, uint32_t server, int32_t gpuKey);

// True while a rule is raised on a tile.
bool anyRuleRaised(const RuleWatchState& state);

}  // namespace tarvelon
