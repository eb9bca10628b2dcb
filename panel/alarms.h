// The alarms the tray announces: a shown GPU that reaches the temperature limit (once, and again only
// after it has cooled 5 degrees below the limit), and a watched server that stops answering and later
// answers again. Decided once a second from the shown panel list and the slot table; the tray only
// shows what comes out, one notice per second at most, so that no event is lost in a burst.
#pragma once

#include <cstdint>

#include "net/slot_table.h"
#include "panel/panel_list.h"

namespace tarvelon {

constexpr int32_t kAlarmHysteresisC = 5;
// A changed limit is used once it has stood this many ticks, so a number being typed ("8" on the way
// to "85") raises nothing.
constexpr int kAlarmSettleTicks = 2;
// The sizes a tray balloon holds.
constexpr int kNoticeTitleUnits = 64;
constexpr int kNoticeTextUnits = 256;

struct AlarmNotice {
    char16_t title[kNoticeTitleUnits];
    char16_t text[kNoticeTextUnits];
};

// Zero at start.
struct AlarmState {
    bool gpuAlarmed[kPanelGroups][kGpuSlots];  // by group source + 1 (0: this machine), GPU position
    bool serverAnswering[kServerSlots];        // its last status that counted was OK
    bool serverLostNotified[kServerSlots];
    uint32_t serverIdentity[kServerSlots];  // of the server whose state a slot holds; 0: none
    int32_t limitC;  // the limit in force
    int32_t typedLimitC;
    int typedLimitTicks;
};

// The host a notice names: the panel's title where it has one ("SYSTEM", the reported name); a
// server that reports none goes by the address it is configured with, where the panel says "Unknown".
const char16_t* hostTitle(const PanelGroup& group);

// One tick, after the panel has taken its list. limitC is alarmGpuTempC (0 or less: off). Only the
// GPUs of hosts that answer (and this machine's) count: a silent server's last values raise nothing.
// A server moved to another slot (Move UP/DOWN) keeps its state. Returns true with the first notice
// due; later ones wait for the next ticks.
bool nextAlarm(AlarmState& state, const PanelList& shown, int32_t limitC, bool serverLostOn, AlarmNotice& notice);

}  // namespace tarvelon
