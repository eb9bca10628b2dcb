// The alarm rules in the store: defaults for missing values, a key that does not read skipped alone,
// and what the dialog saves read back the same.
#include "alarms/alarm_rule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/store.h"
#include "platform/text16.h"
#include "settings/settings.h"

namespace tarvelon {
namespace {

void writeRuleText(int index, const char16_t* name, const char16_t* text) {
    char16_t path[48];
    format16(path, 48, u"Software\\Tarvelon\\Alarms\\%d", index);
    StoreKey* key = openUserKey(path, StoreAccess::Write);
    writeStoreText(key, name, text, text16Length(text, 100));
    closeUserKey(key);
}

TEST(AlarmRules, MissingValuesTakeTheirDefaultsAndAnUnreadableRuleIsSkippedAlone) {
#ifndef _WIN32
    char pattern[] = "/tmp/tarvelon-rules-XXXXXX";
    setenv("TARVELON_STORE_DIR", mkdtemp(pattern), 1);
#endif
    deleteSettingsKey();
    writeRuleText(0, u"figure", u"not_answering");
    writeRuleText(0, u"target", u"[fe80::1]:8221");
    writeRuleText(1, u"figure", u"gpu_core_c");
    writeRuleText(1, u"target", u"everything");  // not a target
    writeRuleText(2, u"figure", u"gpu_core_c");
    writeRuleText(2, u"target", u"local");
    writeRuleText(2, u"level", u"85");  // a text where a number belongs
    writeRuleText(3, u"figure", u"cpu_temp");
    auto rules = std::make_unique<AlarmRules>();
    rules->rules[5] = defaultRule(ruleFigureOf(u"cpu_load_pct"));
    rules->rules[5].level = -3;
    copyText16(rules->rules[5].command, kRuleTextUnits, u"cmd /c echo \"{value}\" >> C:\\a b.txt");
    saveAlarmRule(*rules, 5);
    int32_t unreadable[kAlarmRules];
    ASSERT_EQ(loadAlarmRules(*rules, unreadable), 3);
    EXPECT_EQ(unreadable[0] * 100 + unreadable[1] * 10 + unreadable[2], 123);

    const AlarmRule& lost = rules->rules[0];
    EXPECT_TRUE(lost.used && lost.enabled && lost.above && lost.notify);
    EXPECT_EQ(toUtf8(lost.host), "[fe80::1]");
    EXPECT_EQ(lost.port, 8221);
    EXPECT_EQ(ruleHoldSeconds(lost, false), 30);
    EXPECT_EQ(ruleHoldSeconds(lost, true), 90);
    EXPECT_EQ(lost.cooldownSeconds, 300);
    EXPECT_FALSE(rules->rules[1].used || rules->rules[2].used || rules->rules[3].used);
    EXPECT_EQ(rules->rules[5].level, -3);
    EXPECT_EQ(ruleHoldSeconds(rules->rules[5], true), 10);
    EXPECT_EQ(toUtf8(rules->rules[5].command), "cmd /c echo \"{value}\" >> C:\\a b.txt");
    deleteSettingsKey();
    EXPECT_FALSE(loadAlarmRules(*rules, unreadable) != 0 || rules->rules[5].used);
}

}  // namespace
}  // namespace tarvelon
