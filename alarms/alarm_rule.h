// The user's alarm rules: what each watches (a target and a figure), when it raises and clears, and what
// it does then. Up to 32, stored one key each under Software\Tarvelon\Alarms\N; read at start and
// written by the Alarms dialog. The two older alarms (alarmGpuTempC, alarmServerLost) are not rules:
// they keep their own values and decisions.
#pragma once

#include <cstdint>

namespace tarvelon {

constexpr int kAlarmRules = 32;
constexpr int kRuleTextUnits = 260;  // a path or a command line
// The figures a rule can watch: the seven of a host tile, the seven of a GPU tile, then not_answering.
constexpr int kRuleFigures = 15;
constexpr int kNotAnswering = 14;

enum class RuleTarget : int32_t { Local, Server, AnyServer, All };

struct AlarmRule {
    bool used;
    bool enabled;
    RuleTarget target;
    char16_t host[kRuleTextUnits];  // of a Server target, as entered
    int32_t port;
    int32_t figure;  // 0-6 host figures, 7-13 GPU figures, kNotAnswering
    bool above;
    int32_t level;
    int32_t clear;
    int32_t holdSeconds;  // -1: the default (30 s, or 90 s for a server with very high latency)
    int32_t cooldownSeconds;
    bool notify;
    char16_t sound[kRuleTextUnits];  // empty, "warning" or a WAV path
    char16_t command[kRuleTextUnits];
};

struct AlarmRules {
    AlarmRule rules[kAlarmRules];
};

// "cpu_load_pct" … "net_io_mbit", "gpu_load_pct" … "gpu_mem_c", "not_answering"; -1 for another name.
const char16_t* ruleFigureName(int32_t figure);
int32_t ruleFigureOf(const char16_t* name);
inline bool isGpuFigure(int32_t figure) {
    return figure >= 7 && figure < kNotAnswering;
}

// "local", "HOST:PORT", "*", "all" to and from a rule; false for a target that does not read.
bool parseRuleTarget(const char16_t* text, AlarmRule& rule);
void ruleTargetText(const AlarmRule& rule, char16_t* out, int capacity);

// A fresh rule with every default: enabled, above, hold 10 s (not_answering: by the server), cooldown
// 300 s, a notice, no sound, no command.
AlarmRule defaultRule(int32_t figure);

// The hold in force for a server (or this PC, highLatency false).
int32_t ruleHoldSeconds(const AlarmRule& rule, bool highLatency);

// Reads every stored rule; a rule key that does not read (no or unknown figure or target, a value of
// the wrong type) is skipped and its number put in unreadable (count returned), the rest are kept.
int loadAlarmRules(AlarmRules& rules, int32_t (&unreadable)[kAlarmRules]);
// Writes rule index (its key is deleted when it is not used).
void saveAlarmRule(const AlarmRules& rules, int index);

}  // namespace tarvelon
