#include "panel/alarms.h"

#include <cstring>

#include "platform/text16.h"

namespace tarvelon {
namespace {

// How many servers a notice names before "and N more".
constexpr int kNamedServers = 3;

// Each slot takes the state its server had at the last tick, in the first slot that held it: a server
// moved keeps its state, one entered twice is followed as one, and a new server starts afresh. Of the
// slots that held it, the one followed (it has answered) is taken before a copy that is not.
void followMovedServers(AlarmState& state) {
    AlarmState moved = state;
    for (int i = 0; i < kServerSlots; ++i) {
        const uint32_t identity = serverIdentity(slotTable[i]);
        int from = -1;
        for (int j = kServerSlots - 1; j >= 0 && identity != 0; --j) {
            if (state.serverIdentity[j] == identity &&
                (from < 0 || state.serverAnswered[j] || !state.serverAnswered[from])) {
                from = j;
            }
        }
        if (from >= 0) {
            std::memcpy(moved.gpuAlarmed[i + 1], state.gpuAlarmed[from + 1], sizeof moved.gpuAlarmed[i + 1]);
        } else {
            std::memset(moved.gpuAlarmed[i + 1], 0, sizeof moved.gpuAlarmed[i + 1]);
        }
        moved.serverAnswered[i] = from >= 0 && state.serverAnswered[from];
        moved.serverLostNotified[i] = from >= 0 && state.serverLostNotified[from];
        moved.serverNotOkSinceMs[i] = from >= 0 ? state.serverNotOkSinceMs[from] : 0;
        moved.serverIdentity[i] = identity;
    }
    state = moved;
}

// Clears the alarm of every GPU not shown (its panel or its server went away), so neither the icon nor
// the tooltip keeps a stale temperature.
void dropGpusGone(AlarmState& state, const PanelList& shown) {
    bool shownGpu[kPanelGroups][kGpuSlots] = {};
    for (int g = 0; g < kPanelGroups; ++g) {
        const PanelGroup& group = shown.groups[g];
        if (g != 0 && group.host.present == 0) continue;
        for (int k = 0; k < kGpuSlots; ++k) {
            if (group.gpus[k].present != 0) shownGpu[group.source + 1][k] = true;
        }
    }
    for (int s = 0; s < kPanelGroups; ++s) {
        for (int k = 0; k < kGpuSlots; ++k) state.gpuAlarmed[s][k] = state.gpuAlarmed[s][k] && shownGpu[s][k];
    }
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
                notice.information = false;
            }
        }
    }
    return due;
}

bool watched(const ServerSlot& slot) {
    return slot.Active.load() != 0 && slot.Enabled.load() != 0 && slot.State.load() == kStateStarted;
}

// A server entered twice is one server: only its first watched slot is followed.
bool watchedFirst(const AlarmState& state, int slot) {
    if (!watched(slotTable[slot])) return false;
    for (int j = 0; j < slot; ++j) {
        if (watched(slotTable[j]) && state.serverIdentity[j] == state.serverIdentity[slot]) return false;
    }
    return true;
}

// Drops the pending servers no longer watched in any slot.
void keepWatchedPending(const AlarmState& state, PendingServers& pending) {
    int32_t kept = 0;
    for (int32_t p = 0; p < pending.count; ++p) {
        bool stays = false;
        for (int i = 0; i < kServerSlots && !stays; ++i) {
            stays = watched(slotTable[i]) && state.serverIdentity[i] == pending.identities[p];
        }
        if (stays) pending.identities[kept++] = pending.identities[p];
    }
    pending.count = kept;
}

// A server already pending is not added twice; there are never more servers than slots.
void addPending(PendingServers& pending, uint32_t identity, int64_t nowMs) {
    for (int32_t p = 0; p < pending.count; ++p) {
        if (pending.identities[p] == identity) return;
    }
    if (pending.count >= kServerSlots) return;
    if (pending.count == 0) pending.sinceMs = nowMs;
    pending.identities[pending.count++] = identity;
}

// True when the server was pending (and is no longer).
bool removePending(PendingServers& pending, uint32_t identity) {
    for (int32_t p = 0; p < pending.count; ++p) {
        if (pending.identities[p] != identity) continue;
        pending.identities[p] = pending.identities[--pending.count];
        return true;
    }
    return false;
}

// Follows every watched server's status; those lost or back join the pending notices. Returns true
// while a server is silent but not yet lost: its notice may still join the ones pending.
bool trackServers(AlarmState& state, bool serverLostOn, int64_t nowMs) {
    bool comingUp = false;
    for (int i = 0; i < kServerSlots; ++i) {
        const ServerSlot& slot = slotTable[i];
        const uint32_t identity = state.serverIdentity[i];
        if (!watchedFirst(state, i)) {
            state.serverAnswered[i] = false;
            state.serverLostNotified[i] = false;
            state.serverNotOkSinceMs[i] = 0;
            continue;
        }
        if (slot.Status.load() == kStatusOk) {
            state.serverAnswered[i] = true;
            state.serverNotOkSinceMs[i] = 0;
            if (state.serverLostNotified[i]) {
                state.serverLostNotified[i] = false;
                // Lost and back before anyone was told: nothing to tell.
                const bool toldLost = !removePending(state.lost, identity);
                if (toldLost && serverLostOn) addPending(state.back, identity, nowMs);
            }
            continue;
        }
        if (!state.serverAnswered[i] || state.serverLostNotified[i]) continue;
        if (state.serverNotOkSinceMs[i] == 0) state.serverNotOkSinceMs[i] = nowMs;
        const int64_t lostAfter = slot.HighLatency.load() != 0 ? kServerLostAfterHighLatencyMs : kServerLostAfterMs;
        if (!serverLostOn || nowMs - state.serverNotOkSinceMs[i] < lostAfter || nowMs < state.quietUntilMs) {
            comingUp = comingUp || serverLostOn;
            continue;
        }
        state.serverLostNotified[i] = true;
        removePending(state.back, identity);
        addPending(state.lost, identity, nowMs);
    }
    keepWatchedPending(state, state.lost);
    keepWatchedPending(state, state.back);
    return comingUp;
}

// The first watched slot of a server.
int firstSlotOf(const AlarmState& state, uint32_t identity) {
    for (int i = 0; i < kServerSlots; ++i) {
        if (watched(slotTable[i]) && state.serverIdentity[i] == identity) return i;
    }
    return 0;
}

// "a @ 1, b @ 2 and 3 more".
void serverNames(const AlarmState& state, const PendingServers& pending, char16_t* out, int capacity) {
    out[0] = 0;
    const int32_t named = pending.count < kNamedServers ? pending.count : kNamedServers;
    for (int32_t p = 0; p < named; ++p) {
        const ServerSlot& slot = slotTable[firstSlotOf(state, pending.identities[p])];
        const size_t used = text16Length(out, static_cast<size_t>(capacity));
        format16(out + used, static_cast<size_t>(capacity) - used, p == 0 ? u"%s @ %d" : u", %s @ %d",
                 slot.Hostname, slot.Port);
    }
    if (pending.count > named) {
        const size_t used = text16Length(out, static_cast<size_t>(capacity));
        format16(out + used, static_cast<size_t>(capacity) - used, u" and %d more", pending.count - named);
    }
}

// True when the pending servers are every watched server (a server entered twice counts once): one
// notice says so.
bool everyWatchedServer(const AlarmState& state, const PendingServers& pending) {
    int watchedCount = 0;
    for (int i = 0; i < kServerSlots; ++i) watchedCount += watchedFirst(state, i) ? 1 : 0;
    return pending.count > 1 && pending.count == watchedCount;
}

bool announceServers(AlarmState& state, bool serverLostOn, bool comingUp, int64_t nowMs, AlarmNotice& notice) {
    if (!serverLostOn) {
        state.lost.count = 0;
        state.back.count = 0;
        return false;
    }
    for (PendingServers* pending : {&state.lost, &state.back}) {
        if (pending->count == 0) continue;
        // Wait while more may join, at most the gathering time.
        if (comingUp && nowMs - pending->sinceMs < kNoticeGatherMs) continue;
        const bool lost = pending == &state.lost;
        const bool one = pending->count == 1;
        char16_t names[kNoticeTextUnits];
        serverNames(state, *pending, names, kNoticeTextUnits);
        notice.information = !lost;
        if (lost) {
            format16(notice.title, kNoticeTitleUnits, one ? u"Server not answering" : u"Servers not answering");
            if (everyWatchedServer(state, *pending)) {
                format16(notice.text, kNoticeTextUnits, u"All %d watched servers stopped answering", pending->count);
            } else {
                format16(notice.text, kNoticeTextUnits, u"%s stopped answering", names);
            }
        } else {
            format16(notice.title, kNoticeTitleUnits, one ? u"Server answering again" : u"Servers answering again");
            format16(notice.text, kNoticeTextUnits, one ? u"%s answers again" : u"%s answer again", names);
        }
        pending->count = 0;
        return true;
    }
    return false;
}

}  // namespace

const char16_t* hostTitle(const PanelGroup& group) {
    if (group.source == kLocalSource) return u"SYSTEM";
    if (group.hostRecord.hostName[0] != 0) return group.hostRecord.hostName;
    return slotTable[group.source].Hostname;
}

bool nextAlarm(AlarmState& state, const PanelList& shown, int32_t limitC, bool serverLostOn, int64_t nowMs,
               AlarmNotice& notice) {
    if (limitC != state.limitC) {
        state.limitC = limitC;
        std::memset(state.gpuAlarmed, 0, sizeof state.gpuAlarmed);
    }
    followMovedServers(state);
    dropGpusGone(state, shown);
    const bool gpuDue = checkGpus(state, shown, notice);
    const bool comingUp = trackServers(state, serverLostOn, nowMs);
    if (gpuDue) return true;
    return announceServers(state, serverLostOn, comingUp, nowMs, notice);
}

void noteResume(AlarmState& state, int64_t nowMs) {
    state.quietUntilMs = nowMs + kResumeQuietMs;
    for (int64_t& since : state.serverNotOkSinceMs) since = 0;
}

bool anyAlarmActive(const AlarmState& state) {
    for (const auto& group : state.gpuAlarmed) {
        for (const bool alarmed : group) {
            if (alarmed) return true;
        }
    }
    for (const bool lost : state.serverLostNotified) {
        if (lost) return true;
    }
    return false;
}

}  // namespace tarvelon
