#include "panel/alarms.h"

#include <cstring>

#include "platform/text16.h"

namespace tarvelon {
namespace {

void settleLimit(AlarmState& state, int32_t limitC) {
    if (limitC != state.typedLimitC) {
        state.typedLimitC = limitC;
        state.typedLimitTicks = 0;
    }
    if (state.typedLimitTicks < kAlarmSettleTicks && ++state.typedLimitTicks == kAlarmSettleTicks) {
        state.limitC = limitC;
    }
}

// A configured server by its address and port; 0 for a free slot.
uint32_t serverIdentity(const ServerSlot& slot) {
    if (slot.Active.load() == 0) return 0;
    uint32_t hash = 2166136261u;
    const auto mix = [&hash](uint32_t unit) { hash = (hash ^ unit) * 16777619u; };
    for (int i = 0; i < kSlotTextUnits && slot.Hostname[i] != 0; ++i) mix(slot.Hostname[i]);
    mix(static_cast<uint32_t>(slot.Port));
    return hash != 0 ? hash : 1;
}

// Each slot takes the state of the slot its server was in at the last tick; a new server starts afresh.
void followMovedServers(AlarmState& state) {
    AlarmState moved = state;
    bool anyMoved = false;
    for (int i = 0; i < kServerSlots; ++i) {
        const uint32_t identity = serverIdentity(slotTable[i]);
        if (identity == state.serverIdentity[i]) continue;
        anyMoved = true;
        int from = -1;
        for (int j = 0; j < kServerSlots && identity != 0 && from < 0; ++j) {
            if (state.serverIdentity[j] == identity) from = j;
        }
        if (from >= 0) {
            std::memcpy(moved.gpuAlarmed[i + 1], state.gpuAlarmed[from + 1], sizeof moved.gpuAlarmed[i + 1]);
        } else {
            std::memset(moved.gpuAlarmed[i + 1], 0, sizeof moved.gpuAlarmed[i + 1]);
        }
        moved.serverAnswering[i] = from >= 0 && state.serverAnswering[from];
        moved.serverLostNotified[i] = from >= 0 && state.serverLostNotified[from];
        moved.serverIdentity[i] = identity;
    }
    if (anyMoved) state = moved;
}

bool checkGpus(AlarmState& state, const PanelList& shown, AlarmNotice& notice) {
    const int32_t limit = state.limitC;
    bool due = false;
    for (int g = 0; g < kPanelGroups; ++g) {
        const PanelGroup& group = shown.groups[g];
        if (g != 0 && group.host.present == 0) continue;
        if (group.host.enabled == 0 || group.host.status != kStatusOk) continue;
        for (int k = 0; k < kGpuSlots; ++k) {
            if (group.gpus[k].present == 0) continue;
            bool& alarmed = state.gpuAlarmed[group.source + 1][k];
            const GpuRecord& gpu = group.gpuRecords[k];
            const int32_t temperature = gpu.coreTempC;
            if (limit <= 0) {
                alarmed = false;
            } else if (alarmed) {
                if (temperature <= limit - kAlarmHysteresisC) alarmed = false;
            } else if (temperature >= limit && !due) {
                alarmed = true;
                due = true;
                char16_t name[kRecordTextUnits];
                copyText16(name, kRecordTextUnits, gpu.gpuName);
                format16(notice.title, kNoticeTitleUnits, u"GPU temperature");
                format16(notice.text, kNoticeTextUnits, u"%s: GPU %d %s at %d \u00B0C (alarm at %d \u00B0C)",
                         hostTitle(group), k, name, temperature, limit);
            }
        }
    }
    return due;
}

bool checkServers(AlarmState& state, bool serverLostOn, bool due, AlarmNotice& notice) {
    for (int i = 0; i < kServerSlots; ++i) {
        const ServerSlot& slot = slotTable[i];
        const bool watched = slot.Active.load() != 0 && slot.Enabled.load() != 0 && slot.State.load() == kStateStarted;
        if (!watched) {
            state.serverAnswering[i] = false;
            state.serverLostNotified[i] = false;
            continue;
        }
        const int32_t status = slot.Status.load();
        const bool lost = status == kStatusNoResponse && state.serverAnswering[i];
        const bool back = status == kStatusOk && state.serverLostNotified[i];
        if (serverLostOn && (lost || back)) {
            if (due) continue;  // told at a later tick
            due = true;
            format16(notice.title, kNoticeTitleUnits, lost ? u"Server not answering" : u"Server answering again");
            format16(notice.text, kNoticeTextUnits, lost ? u"%s @ %d stopped answering" : u"%s @ %d answers again",
                     slot.Hostname, slot.Port);
        }
        if (status == kStatusOk) {
            state.serverAnswering[i] = true;
            state.serverLostNotified[i] = false;
        } else if (status == kStatusNoResponse) {
            if (lost) state.serverLostNotified[i] = serverLostOn;
            state.serverAnswering[i] = false;
        }
    }
    return due;
}

}  // namespace

const char16_t* hostTitle(const PanelGroup& group) {
    if (group.source == kLocalSource) return u"SYSTEM";
    if (group.hostRecord.hostName[0] != 0) return group.hostRecord.hostName;
    return slotTable[group.source].Hostname;
}

bool nextAlarm(AlarmState& state, const PanelList& shown, int32_t limitC, bool serverLostOn, AlarmNotice& notice) {
    settleLimit(state, limitC);
    followMovedServers(state);
    const bool due = checkGpus(state, shown, notice);
    return checkServers(state, serverLostOn, due, notice);
}

}  // namespace tarvelon
