// The Alarms dialog's rules: fields read into a rule (or the message naming the field at fault), and
// the list line of what was read.
#include "panel/alarms_dialog.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text16.h"

namespace tarvelon {
namespace {

TEST(AlarmsDialog, FieldsBecomeARuleOrAMessageNamingTheField) {
    const int32_t coreC = ruleFigureOf(u"gpu_core_c");
    const struct {
        const char16_t* target;
        int32_t figure;
        bool above;
        const char16_t *level, *clear, *hold, *cooldown, *sound, *command;
        const char* result;  // the list line, or the message
    } cases[] = {
        {u"local", coreC, true, u"85", u" 80 ", u"10", u"300", u"", u"",
         "local · gpu_core_c above 85, clear at 80 · hold 10 s · notice"},
        {u"render:8221", 2, false, u"-5", u"+3", u"0", u"0", u"warning", u"a.exe",
         "render:8221 · processes below -5, clear at 3 · hold 0 s · notice, sound, command"},
        {u"*", kNotAnswering, true, u"x", u"", u"", u"60", u"", u"",
         "* · not_answering · hold 30 s (90 s at very high latency) · notice"},
        {u"this pc", coreC, true, u"85", u"80", u"10", u"300", u"", u"",
         "Target: enter local, HOST:PORT, * (any watched server) or all."},
        {u"render:99999", coreC, true, u"85", u"80", u"10", u"300", u"", u"",
         "Target: enter local, HOST:PORT, * (any watched server) or all."},
        {u"local", kNotAnswering, true, u"", u"", u"", u"0", u"", u"",
         "Target: not_answering watches servers: enter HOST:PORT, * or all."},
        {u"all", coreC, true, u"85°", u"80", u"10", u"300", u"", u"", "Level: enter a whole number."},
        {u"all", coreC, true, u"85", u"", u"10", u"300", u"", u"", "Clear level: enter a whole number."},
        {u"all", coreC, true, u"85", u"90", u"10", u"300", u"", u"",
         "Clear level: it must not be above the level."},
        {u"all", coreC, false, u"10", u"5", u"10", u"300", u"", u"",
         "Clear level: it must not be below the level."},
        {u"all", coreC, true, u"85", u"80", u"", u"300", u"", u"", "Hold: enter the seconds, 0 to 86400."},
        {u"all", coreC, true, u"85", u"80", u"1", u"-1", u"", u"",
         "Cooldown: enter the seconds, 0 to 86400."},
        {u"all", 15, true, u"85", u"80", u"1", u"1", u"", u"", "Figure: choose one from the list."},
    };
    for (const auto& c : cases) {
        AlarmRule rule = defaultRule(0);
        char16_t message[kListLineUnits] = {};
        const RuleFields fields{c.target,   c.figure, c.above, c.level,   c.clear, c.hold,
                                c.cooldown, true,     c.sound, c.command, true};
        char16_t line[kListLineUnits] = {};
        if (ruleFromFields(fields, rule, message)) {
            ruleListLine(rule, line);
        } else {
            EXPECT_EQ(rule.figure, 0) << c.result;  // unchanged
        }
        EXPECT_EQ(toUtf8(line[0] != 0 ? line : message), c.result);
    }
}

}  // namespace
}  // namespace tarvelon
