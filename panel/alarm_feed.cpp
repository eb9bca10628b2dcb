#include "panel/alarm_feed.h"

#include "alarms/server_identity.h"
#include "history/tile_figures.h"
#include "panel/alarms.h"
#include "panel/history_feed.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

WatchedTile& addTile(WatchedTiles& tiles, int32_t source, int32_t gpu, bool shown, int32_t enabled,
                     int32_t status) {
    WatchedTile& tile = tiles.tiles[tiles.count++];
    tile.source = source;
    tile.gpu = gpu;
    tile.gpuKey = -1;
    tile.server = source == kLocalSource ? 0 : serverIdentity(slotTable[source]);
    tile.shown = shown;
    tile.enabled = enabled != 0;
    tile.answers = enabled != 0 && status == kStatusOk;
    return tile;
}

bool shownSource(const PanelList& shown, int32_t source) {
    for (const PanelGroup& group : shown.groups) {
        if (group.host.present != 0 && group.source == source) return true;
    }
    return false;
}

}  // namespace

void tileTitle(const PanelGroup& group, int gpu, char16_t (&title)[kRecordTextUnits]) {
    if (gpu < 0) {
        copyText16(title, kRecordTextUnits, hostTitle(group));
    } else if (group.gpuRecords[gpu].gpuName[0] != 0) {
        copyText16(title, kRecordTextUnits, group.gpuRecords[gpu].gpuName);
    } else {
        format16(title, kRecordTextUnits, u"GPU %d", gpu);
    }
}

void watchedTilesOf(const PanelList& shown, WatchedTiles& tiles) {
    tiles.count = 0;
    for (const PanelGroup& group : shown.groups) {
        if (group.host.present == 0) continue;
        WatchedTile& host = addTile(tiles, group.source, -1, true, group.host.enabled, group.host.status);
        hostFigures(group.hostRecord, host.figures);
        for (int32_t k = 0; k < kGpuSlots; ++k) {
            if (group.gpus[k].present == 0) continue;
            WatchedTile& gpu = addTile(tiles, group.source, k, true, group.host.enabled, group.host.status);
            gpu.gpuKey = tileKeyOf(group, k).gpu;
            gpuFigures(group.gpuRecords[k], gpu.figures);
        }
    }
    for (int32_t i = 0; i < kServerSlots; ++i) {
        const ServerSlot& slot = slotTable[i];
        if (slot.Active.load() == 0 || slot.State.load() != kStateStarted || shownSource(shown, i)) continue;
        addTile(tiles, i, -1, false, slot.Enabled.load(), slot.Status.load());
    }
}

void describeRuleChange(const RuleChange& change, const WatchedTiles& tiles, const AlarmRules& rules,
                        const PanelList& shown, const char16_t* localName, RuleEvent& event) {
    const WatchedTile& tile = tiles.tiles[change.tile];
    const AlarmRule& rule = rules.rules[change.rule];
    PanelGroup hidden{};
    const PanelGroup* group = nullptr;
    for (const PanelGroup& candidate : shown.groups) {
        if (candidate.host.present != 0 && candidate.source == tile.source) group = &candidate;
    }
    if (group == nullptr) {
        // A hidden server's records are read only when there is news of it.
        hidden.source = tile.source;
        hidden.hostRecord = readSlotRecords(slotTable[tile.source]).host;
        group = &hidden;
    }
    event.rule = change.rule;
    event.raised = change.raised;
    tileTitle(*group, tile.gpu, event.tile);
    copyText16(event.host, kSlotTextUnits, tile.source == kLocalSource ? localName : slotTable[tile.source].Hostname);
    event.figure = rule.figure;
    event.value = change.value;
    event.level = rule.level;
    event.tileKey = tileKeyOf(*group, tile.gpu);
    event.server = tile.server;
    event.gpuKey = tile.gpuKey;
}

}  // namespace tarvelon
