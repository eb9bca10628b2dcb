// The alarms the tray announces: a shown GPU that reaches the temperature limit (once, and again only
// after it has cooled 5 degrees below the limit), and a watched server that stops answering and later
// answers again. Decided once a second from the shown panel list and the slot table; the tray only
// shows what comes out, one notice per second at most, so that no event is lost in a burst.
//
// A server is lost only after it has shown a status other than "OK" for a while, so one missed reply
// on a busy network raises nothing; servers lost or back close together share one notice, and a
// network drop or a resume from sleep does not flood the tray.
#pragma once

#include <cstdint>

#include "alarms/alarm_notice.h"
#include "alarms/server_identity.h"
#include "net/slot_table.h"
#include "panel/panel_list.h"

namespace tarvelon {

constexpr int32_t kAlarmHysteresisC = 5;
constexpr int64_t kServerLostAfterMs = 30000;
constexpr int64_t kServerLostAfterHighLatencyMs = 90000;
// Events of one kind within this long go into one notice.
constexpr int64_t kNoticeGatherMs = 10000;
// After a resume from sleep the network comes back slowly: no server is announced lost this long.
constexpr int64_t kResumeQuietMs = 60000;

// The servers waiting to be announced together, by identity (address and port), each once: a server
// entered twice or moved is still one server.
struct PendingServers {
    int32_t count;
    int64_t sinceMs;  // when the first of them became due
    uint32_t identities[kServerSlots];
};

// Zero at start.
struct AlarmState {
    bool gpuAlarmed[kPanelGroups][kGpuSlots];  // by group source + 1 (0: this machine), GPU position
    bool serverAnswered[kServerSlots];         // has been "OK" since it was watched
    bool serverLostNotified[kServerSlots];
    int64_t serverNotOkSinceMs[kServerSlots];  // 0: "OK" at the last tick, or never answered
    uint32_t serverIdentity[kServerSlots];     // of the server whose state a slot holds; 0: none
    PendingServers lost;
    PendingServers back;
    int32_t limitC;         // the limit in force
    int64_t quietUntilMs;   // no server announced lost before this (a resume)
};

// The host a notice names: the panel's title where it has one ("SYSTEM", the reported name); a
// server that reports none goes by the address it is configured with, where the panel says "Unknown".
const char16_t* hostTitle(const PanelGroup& group);

// One tick, after the panel has taken its list, at nowMs on a steady clock. limitC is alarmGpuTempC (0
// or less: off); a new limit starts every GPU's alarm afresh. Only the GPUs of hosts that answer (and
// this machine's) count: a silent server's last values raise nothing; a GPU no longer shown drops its
// alarm. A server moved to another slot (Move UP/DOWN) keeps its state. Returns true with the notice
// due, at most one a tick.
bool nextAlarm(AlarmState& state, const PanelList& shown, int32_t limitC, bool serverLostOn, int64_t nowMs,
               AlarmNotice& notice);

// The machine resumed from sleep at nowMs: silences begin afresh and none is announced for a while.
void noteResume(AlarmState& state, int64_t nowMs);

// True while a GPU is over its limit or a server is announced lost and not back.
bool anyAlarmActive(const AlarmState& state);

}  // namespace tarvelon
