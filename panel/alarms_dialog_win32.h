// The Alarms dialog on Windows: the list of the two older alarms and the rules, each with its enable
// box, and the Edit dialog of one of them. Both modal; the procedures only move text between the
// controls and the rules of alarms_dialog.h.
#pragma once

#include <windows.h>

namespace tarvelon {

// Shows the list at the cursor until it is closed; a second call while it is open raises it.
void showAlarmsDialog(HINSTANCE instance);

}  // namespace tarvelon
