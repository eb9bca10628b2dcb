#include "panel/alarms_dialog.h"

#include <climits>
#include <utility>

#include "platform/text16.h"

namespace tarvelon {
namespace {

// A whole number from first to last digit, with an optional sign; false for anything else.
bool wholeNumber(const char16_t* text, int64_t min, int64_t max, int32_t& value) {
    int i = 0;
    while (text[i] == u' ') ++i;
    const bool negative = text[i] == u'-';
    if (negative || text[i] == u'+') ++i;
    if (text[i] < u'0' || text[i] > u'9') return false;
    int64_t number = 0;
    for (; text[i] >= u'0' && text[i] <= u'9'; ++i) {
        number = number * 10 + (text[i] - u'0');
        if (number > 4000000000) return false;
    }
    while (text[i] == u' ') ++i;
    if (text[i] != 0) return false;
    if (negative) number = -number;
    if (number < min || number > max) return false;
    value = static_cast<int32_t>(number);
    return true;
}

bool fault(char16_t (&message)[kListLineUnits], const char16_t* text) {
    format16(message, kListLineUnits, u"%s", text);
    return false;
}

void appendActions(char16_t (&line)[kListLineUnits], bool notify, const char16_t* sound,
                   const char16_t* command) {
    size_t used = text16Length(line, kListLineUnits);
    const char16_t* separator = u" \u00B7 ";
    bool any = false;
    for (const auto& action : {std::pair<bool, const char16_t*>{notify, u"notice"},
                               {sound[0] != 0, u"sound"},
                               {command[0] != 0, u"command"}}) {
        if (!action.first) continue;
        used += format16(line + used, kListLineUnits - used, u"%s%s", any ? u", " : separator, action.second);
        any = true;
    }
    if (!any) format16(line + used, kListLineUnits - used, u"%sno action", separator);
}

}  // namespace

void ruleListLine(const AlarmRule& rule, char16_t (&line)[kListLineUnits]) {
    char16_t target[kRuleTextUnits];
    ruleTargetText(rule, target, kRuleTextUnits);
    int used = 0;
    if (rule.figure == kNotAnswering) {
        used = format16(line, kListLineUnits, u"%s \u00B7 not_answering", target);
    } else {
        used =
            format16(line, kListLineUnits, u"%s \u00B7 %s %s %d, clear at %d", target,
                     ruleFigureName(rule.figure), rule.above ? u"above" : u"below", rule.level, rule.clear);
    }
    if (rule.holdSeconds < 0) {
        format16(line + used, kListLineUnits - used, u" \u00B7 hold 30 s (90 s at very high latency)");
    } else {
        format16(line + used, kListLineUnits - used, u" \u00B7 hold %d s", rule.holdSeconds);
    }
    appendActions(line, rule.notify, rule.sound, rule.command);
}

void builtInListLine(int index, int32_t gpuLimitC, char16_t (&line)[kListLineUnits]) {
    if (index == 0) {
        if (gpuLimitC > 0) {
            format16(line, kListLineUnits, u"all \u00B7 gpu_core_c above %d, clear at %d \u00B7 hold 0 s",
                     gpuLimitC, gpuLimitC - 5);
        } else {
            format16(line, kListLineUnits, u"all \u00B7 gpu_core_c (off: no level) \u00B7 hold 0 s");
        }
    } else {
        format16(line, kListLineUnits,
                 u"* \u00B7 not_answering \u00B7 hold 30 s (90 s at very high latency)");
    }
    appendActions(line, true, u"", u"");
}

bool ruleFromFields(const RuleFields& fields, AlarmRule& rule, char16_t (&message)[kListLineUnits]) {
    if (fields.figure < 0 || fields.figure >= kRuleFigures)
        return fault(message, u"Figure: choose one from the list.");
    AlarmRule read = defaultRule(fields.figure);
    if (!parseRuleTarget(fields.target, read)) {
        return fault(message, u"Target: enter local, HOST:PORT, * (any watched server) or all.");
    }
    if (fields.figure == kNotAnswering && read.target == RuleTarget::Local) {
        return fault(message, u"Target: not_answering watches servers: enter HOST:PORT, * or all.");
    }
    read.above = fields.above;
    if (fields.figure != kNotAnswering) {
        if (!wholeNumber(fields.level, INT32_MIN, INT32_MAX, read.level)) {
            return fault(message, u"Level: enter a whole number.");
        }
        if (!wholeNumber(fields.clear, INT32_MIN, INT32_MAX, read.clear)) {
            return fault(message, u"Clear level: enter a whole number.");
        }
        if (read.above ? read.clear > read.level : read.clear < read.level) {
            return fault(message, read.above ? u"Clear level: it must not be above the level."
                                             : u"Clear level: it must not be below the level.");
        }
    }
    if (fields.hold[0] == 0 && fields.figure == kNotAnswering) {
        read.holdSeconds = -1;
    } else if (!wholeNumber(fields.hold, 0, 86400, read.holdSeconds)) {
        return fault(message, u"Hold: enter the seconds, 0 to 86400.");
    }
    if (!wholeNumber(fields.cooldown, 0, 86400, read.cooldownSeconds)) {
        return fault(message, u"Cooldown: enter the seconds, 0 to 86400.");
    }
    read.notify = fields.notify;
    read.enabled = fields.enabled;
    copyText16(read.sound, kRuleTextUnits, fields.sound);
    copyText16(read.command, kRuleTextUnits, fields.command);
    rule = read;
    return true;
}

void holdFieldText(const AlarmRule& rule, char16_t (&text)[16]) {
    if (rule.holdSeconds < 0) {
        text[0] = 0;
    } else {
        format16(text, 16, u"%d", rule.holdSeconds);
    }
}

bool gpuLimitFromField(const char16_t* text, int32_t& limitC, char16_t (&message)[kListLineUnits]) {
    if (!wholeNumber(text, 1, 255, limitC)) return fault(message, u"Level: enter the degrees C, 1 to 255.");
    return true;
}

}  // namespace tarvelon
