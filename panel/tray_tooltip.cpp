#include "panel/tray_tooltip.h"

#include "panel/alarm_feed.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr int kItemUnits = 96;

struct Tooltip {
    char16_t (&text)[kTooltipUnits];
    int length;
};

// Adds " · item" when it fits whole.
void addItem(Tooltip& tip, const char16_t* item, int itemLength) {
    if (tip.length + 3 + itemLength > kTooltipUnits - 1) return;
    tip.length += format16(tip.text + tip.length, kTooltipUnits - tip.length, u" \u00B7 %s", item);
}

const PanelGroup* groupOfSource(const PanelList& shown, int32_t source) {
    for (const PanelGroup& group : shown.groups) {
        if (group.host.present != 0 && group.source == source) return &group;
    }
    return nullptr;
}

void addAlarms(Tooltip& tip, const PanelList& shown, const AlarmState& alarms) {
    char16_t item[kItemUnits];
    for (const PanelGroup& group : shown.groups) {
        if (group.host.present == 0) continue;
        for (int k = 0; k < kGpuSlots && group.gpus[k].present != 0; ++k) {
            if (!alarms.gpuAlarmed[group.source + 1][k]) continue;
            const int temperature = group.gpuRecords[k].coreTempC;
            const int length =
                group.source == kLocalSource
                    ? format16(item, kItemUnits, u"Alarm: GPU %d at %d \u00B0C", k, temperature)
                    : format16(item, kItemUnits, u"Alarm: %s GPU %d at %d \u00B0C", hostTitle(group), k,
                               temperature);
            addItem(tip, item, length);
        }
    }
    for (int slot = 0; slot < kServerSlots; ++slot) {
        if (!alarms.serverLostNotified[slot]) continue;
        const PanelGroup* group = groupOfSource(shown, slot);
        const int length = group != nullptr
                               ? format16(item, kItemUnits, u"Alarm: %s not answering", hostTitle(*group))
                               : format16(item, kItemUnits, u"Alarm: server %d not answering", slot + 1);
        addItem(tip, item, length);
    }
}

// A raised rule names its tile as the panel shows it; one whose tile is not shown has been dropped.
void addRaisedRules(Tooltip& tip, const PanelList& shown, const RuleWatchState& watches,
                    const AlarmRules& rules) {
    char16_t item[kItemUnits];
    for (int32_t e = 0; e < watches.entries; ++e) {
        const TileWatches& entry = watches.tiles[e];
        if (!entry.used) continue;
        for (int32_t r = 0; r < kAlarmRules; ++r) {
            if (!entry.rules[r].raised) continue;
            for (const PanelGroup& group : shown.groups) {
                if (group.host.present == 0) continue;
                const uint32_t server =
                    group.source == kLocalSource ? 0 : serverIdentity(slotTable[group.source]);
                if (server != entry.server || (entry.gpu >= 0 && group.gpus[entry.gpu].present == 0)) continue;
                char16_t tile[kRecordTextUnits];
                tileTitle(group, entry.gpu, tile);
                addItem(tip, item,
                        format16(item, kItemUnits, u"Alarm: %s %s", tile, ruleFigureName(rules.rules[r].figure)));
                break;
            }
        }
    }
}

}  // namespace

int trayTooltipText(const PanelList& shown, const AlarmState& alarms, const RuleWatchState& ruleWatches,
                    const AlarmRules& rules, char16_t (&text)[kTooltipUnits]) {
    Tooltip tip{text, format16(text, kTooltipUnits, u"Tarvelon")};
    addAlarms(tip, shown, alarms);
    addRaisedRules(tip, shown, ruleWatches, rules);
    const PanelGroup& local = shown.groups[0];
    if (local.host.present == 0) return tip.length;
    char16_t item[kItemUnits];
    addItem(tip, item, format16(item, kItemUnits, u"CPU %d %%", static_cast<int>(local.hostRecord.cpuLoad)));
    for (int k = 0; k < kGpuSlots && local.gpus[k].present != 0; ++k) {
        const GpuRecord& gpu = local.gpuRecords[k];
        addItem(tip, item,
                format16(item, kItemUnits, u"GPU %d: %d %% %d \u00B0C", k, static_cast<int>(gpu.gpuLoad),
                         static_cast<int>(gpu.coreTempC)));
    }
    return tip.length;
}

}  // namespace tarvelon
