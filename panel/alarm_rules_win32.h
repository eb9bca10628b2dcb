// The alarm rules at run time: the table read at start, the watch over the shown tiles once a
// second, and the actions (notice, sound, command, line in tarvelon-alarms.csv) of each raise and
// clear.
#pragma once

#include <cstdint>

#include "alarms/alarm_command.h"
#include "alarms/alarm_periods.h"
#include "alarms/alarm_rule.h"
#include "alarms/alarm_watch.h"
#include "panel/alarms.h"
#include "panel/panel_list.h"

namespace tarvelon {

// Reads the stored rules, before the first tick; those that do not read are named in one notice.
void loadAlarmRulesWin32();
// One tick over the shown tiles.
void watchAlarmRulesWin32(const PanelList& shown);
// The next notice of the rules, one a tick.
bool takeRuleNoticeWin32(AlarmNotice& notice);
bool anyRuleRaisedWin32();
const RuleWatchState& ruleWatchesWin32();
// The periods rules were raised in this run, for the history window.
const AlarmPeriods& alarmPeriodsWin32();

const AlarmRules& alarmRulesWin32();
// Stores rule index as edited (or removed: not used) and starts its watch afresh.
void setAlarmRuleWin32(int index, const AlarmRule& rule);
// Runs the rule's actions once with {state} "test".
void testAlarmRuleWin32(const AlarmRule& rule);

// Closes the handles of the processes (commands) that have ended and empties their places; returns how
// many still run.
int32_t reapCommands(void* (&processes)[kRunningCommands]);

}  // namespace tarvelon
