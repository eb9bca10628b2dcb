// The rules of the Alarms dialog: the list's lines (the two older alarms first, then the rules), and
// the Edit dialog's fields read into a rule, with the message that names the field at fault.
#pragma once

#include <cstdint>

#include "alarms/alarm_rule.h"

namespace tarvelon {

// Lines 0 and 1 of the list are the GPU temperature alarm (alarmGpuTempC) and the server alarm
// (alarmServerLost); rule i is line i + 2.
constexpr int kBuiltInAlarms = 2;
constexpr int kListLineUnits = 400;

// "target · figure above level, clear at clear · hold N s · notice, sound, command".
void ruleListLine(const AlarmRule& rule, char16_t (&line)[kListLineUnits]);
// The two older alarms as the list shows them; gpuLimitC 0 is off.
void builtInListLine(int line, int32_t gpuLimitC, char16_t (&line16)[kListLineUnits]);

// The Edit dialog's fields as typed. figure is the index chosen in its list.
struct RuleFields {
    const char16_t* target;
    int32_t figure;
    bool above;
    const char16_t* level;
    const char16_t* clear;
    const char16_t* hold;  // empty: the default
    const char16_t* cooldown;
    bool notify;
    const char16_t* sound;
    const char16_t* command;
    bool enabled;
};

// Reads fields into rule; on a fault returns false with message naming the field ("Level: …") and
// leaves rule unchanged.
bool ruleFromFields(const RuleFields& fields, AlarmRule& rule, char16_t (&message)[kListLineUnits]);
// The text a number field shows: "" for a default hold.
void holdFieldText(const AlarmRule& rule, char16_t (&text)[16]);

// The GPU temperature alarm's level typed in the Edit dialog; false (with message) outside 1 to 255.
bool gpuLimitFromField(const char16_t* text, int32_t& limitC, char16_t (&message)[kListLineUnits]);

}  // namespace tarvelon
