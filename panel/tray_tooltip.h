// The tray icon's tooltip, rebuilt each tick: the alarms in force first, so a cut never hides them,
// then this machine's CPU load and each local GPU's load and core temperature, e.g.
// "Tarvelon · CPU 12 % · GPU 0: 63 % 71 °C". Items that do not fit the 127 characters Windows
// shows are left out whole.
#pragma once

#include "alarms/alarm_watch.h"
#include "panel/alarms.h"
#include "panel/panel_list.h"

namespace tarvelon {

constexpr int kTooltipUnits = 128;  // 127 characters and the terminator

// The alarm rules raised come after the older alarms, as "Alarm: TILE FIGURE". Returns the length
// written to text.
int trayTooltipText(const PanelList& shown, const AlarmState& alarms, const RuleWatchState& ruleWatches,
                    const AlarmRules& rules, char16_t (&text)[kTooltipUnits]);

}  // namespace tarvelon
