// The alarm rules' view of the panel: the shown tiles (and the hosts of started servers the panel
// hides) handed to the watch once a tick, and the names, host and history key put to each change
// that comes back.
#pragma once

#include "alarms/alarm_rule.h"
#include "alarms/alarm_watch.h"
#include "panel/panel_list.h"

namespace tarvelon {

// A tile's title for {tile}: the host's as the panel shows it, a GPU's name, or "GPU k" for one that
// reports none.
void tileTitle(const PanelGroup& group, int gpu, char16_t (&title)[kRecordTextUnits]);

void watchedTilesOf(const PanelList& shown, WatchedTiles& tiles);

// The event of change, from the same tick's shown list and tiles. localName is {host} for this PC's
// tiles.
void describeRuleChange(const RuleChange& change, const WatchedTiles& tiles, const AlarmRules& rules,
                        const PanelList& shown, const char16_t* localName, RuleEvent& event);

}  // namespace tarvelon
