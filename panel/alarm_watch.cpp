#include "panel/alarm_watch.h"

#include "history/tile_figures.h"
#include "panel/alarms.h"
#include "panel/history_feed.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

bool targets(const AlarmRule& rule, const PanelGroup& group) {
    switch (rule.target) {
        case RuleTarget::Local:
            return group.source == kLocalSource;
        case RuleTarget::AnyServer:
            return group.source != kLocalSource;
        case RuleTarget::All:
            return true;
        case RuleTarget::Server: {
            if (group.source == kLocalSource) return false;
            const ServerSlot& slot = slotTable[group.source];
            return slot.Port == rule.port && equalText16(slot.Hostname, rule.host);
        }
    }
    return false;
}

RuleWatch* findWatch(RuleWatchState& state, int32_t rule, uint32_t server, const PanelGroup& group,
                     int32_t gpu) {
    const int32_t gpuKey = gpu < 0 ? -1 : tileKeyOf(group, gpu).gpu;
    RuleWatch* found = nullptr;
    for (RuleWatch& watch : state.watches) {
        if (watch.rule == rule && watch.server == server && watch.gpuKey == gpuKey) {
            found = &watch;
            break;
        }
        if (watch.rule < 0 && found == nullptr) found = &watch;
    }
    if (found != nullptr && found->rule < 0) *found = {rule, server, gpuKey, gpu, -1, -1, -1, false, false};
    if (found != nullptr) found->gpu = gpu;
    return found;
}

// One tile's figure for one second; has is false for a second without a value.
struct Reading {
    bool has;
    int64_t value;
    int32_t holdSeconds;
};

Reading readFigure(const AlarmRule& rule, const PanelGroup& group, int gpu) {
    const bool remote = group.source != kLocalSource;
    const bool answers = group.host.enabled != 0 && group.host.status == kStatusOk;
    const bool highLatency = remote && slotTable[group.source].HighLatency.load() != 0;
    const int32_t hold = ruleHoldSeconds(rule, highLatency);
    if (rule.figure == kNotAnswering) {
        if (!remote || group.host.enabled == 0) return {false, 0, hold};
        return {true, answers ? 0 : 1, hold};
    }
    if (!answers) return {false, 0, hold};
    HistoryFigures figures;
    if (gpu < 0) {
        hostFigures(group.hostRecord, figures);
        return {true, figures[rule.figure], hold};
    }
    gpuFigures(group.gpuRecords[gpu], figures);
    return {true, figures[rule.figure - 7], hold};
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

void describe(RuleEvent& event, int32_t rule, const AlarmRule& alarm, const PanelGroup& group, int gpu,
              const char16_t* localName, const RuleWatch& watch, int64_t value) {
    event.rule = rule;
    event.raised = watch.raised;
    tileTitle(group, gpu, event.tile);
    copyText16(event.host, kSlotTextUnits,
               group.source == kLocalSource ? localName : slotTable[group.source].Hostname);
    event.figure = alarm.figure;
    event.value = value;
    event.level = alarm.level;
    event.tileKey = tileKeyOf(group, gpu);
    event.server = watch.server;
    event.gpuKey = watch.gpuKey;
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

// A server's silence is read from the slot table, not the panel: "Remove dead server" hides exactly
// the servers this figure is about. A server entered twice is watched once, in its first slot.
int watchSilences(RuleWatchState& state, int32_t r, const AlarmRule& rule, const char16_t* localName,
                  int64_t nowSeconds, RuleEvent* events, int capacity) {
    int count = 0;
    uint32_t servers[kServerSlots];
    int serverCount = 0;
    for (int i = 0; i < kServerSlots; ++i) {
        ServerSlot& slot = slotTable[i];
        if (slot.Active.load() == 0 || slot.State.load() != kStateStarted) continue;
        const uint32_t server = serverIdentity(slot);
        bool twice = false;
        for (int j = 0; j < serverCount && !twice; ++j) twice = servers[j] == server;
        if (twice) continue;
        servers[serverCount++] = server;
        PanelGroup group{};
        group.source = i;
        group.host = {1, 0, 0, 0, slot.Enabled.load(), slot.Status.load()};
        if (!targets(rule, group)) continue;
        RuleWatch* watch = findWatch(state, r, server, group, -1);
        if (watch == nullptr) continue;
        const Reading reading = readFigure(rule, group, -1);
        if (!step(*watch, rule, reading, nowSeconds) || count >= capacity) continue;
        group.hostRecord = readSlotRecords(slot).host;  // for the title, only when there is news
        describe(events[count++], r, rule, group, -1, localName, *watch, reading.value);
    }
    return count;
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

void clearRuleWatches(RuleWatchState& state) {
    for (RuleWatch& watch : state.watches) watch.rule = -1;
}

void forgetRule(RuleWatchState& state, int32_t rule) {
    for (RuleWatch& watch : state.watches) {
        if (watch.rule == rule) watch.rule = -1;
    }
}

int watchRules(RuleWatchState& state, const AlarmRules& rules, const PanelList& shown,
               const char16_t* localName, int64_t nowSeconds, RuleEvent* events, int capacity) {
    int count = 0;
    for (int32_t r = 0; r < kAlarmRules; ++r) {
        const AlarmRule& rule = rules.rules[r];
        if (!rule.used || !rule.enabled) continue;
        if (rule.figure == kNotAnswering) {
            count += watchSilences(state, r, rule, localName, nowSeconds, events + count, capacity - count);
            continue;
        }
        for (int g = 0; g < kPanelGroups; ++g) {
            const PanelGroup& group = shown.groups[g];
            if (group.host.present == 0 || !targets(rule, group)) continue;
            const uint32_t server =
                group.source == kLocalSource ? 0 : serverIdentity(slotTable[group.source]);
            const bool perGpu = isGpuFigure(rule.figure);
            for (int k = perGpu ? 0 : -1; k < (perGpu ? kGpuSlots : 0); ++k) {
                if (k >= 0 && group.gpus[k].present == 0) continue;
                RuleWatch* watch = findWatch(state, r, server, group, k);
                if (watch == nullptr) continue;
                const Reading reading = readFigure(rule, group, k);
                if (!step(*watch, rule, reading, nowSeconds) || count >= capacity) continue;
                describe(events[count++], r, rule, group, k, localName, *watch, reading.value);
            }
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
