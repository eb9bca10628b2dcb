#include "panel/alarm_rules_win32.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <mmsystem.h>

#include "alarms/alarm_command.h"
#include "alarms/alarm_log.h"
#include "alarms/alarm_watch.h"
#include "panel/alarm_feed.h"
#include "platform/clock.h"
#include "platform/fatal.h"
#include "platform/local_time.h"
#include "platform/text16.h"
#include "settings/settings.h"

namespace tarvelon {
namespace {

AlarmRules rules;
RuleWatchState watches;
WatchedTiles tiles;
RuleChanges changes;
AlarmPeriods periods;  // zero at start: none
NoticeQueue notices;
CommandGate commandGate;
void* commands[kRunningCommands];    // the processes started and not yet seen to end
AlarmLogWorker* alarmLog = nullptr;  // started with the first line; lives as long as the process

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

void notify(const char16_t* title, const char16_t* text, bool information) {
    AlarmNotice notice{};
    copyText16(notice.title, kNoticeTitleUnits, title);
    copyText16(notice.text, kNoticeTextUnits, text);
    notice.information = information;
    pushNotice(notices, notice);
}

// Started without a window and without a shell, with the facts in its environment (it inherits this
// process's, set just before); never waited for.
void runCommand(const char16_t* command, const AlarmFacts& facts) {
    if (command[0] == 0) return;
    commandGate.running = reapCommands(commands);
    const CommandAdmission admission = admitCommand(commandGate);
    if (admission == CommandAdmission::DropWithNotice) {
        notify(u"Alarm command dropped",
               u"Four alarm commands are still running: further ones are not started.", false);
    }
    if (admission != CommandAdmission::Run) return;
    std::u16string line = fillPlaceholders(command, facts);
    AlarmVariable variables[kAlarmVariables];
    alarmVariables(facts, variables);
    for (const AlarmVariable& variable : variables) {
        SetEnvironmentVariableW(wide(variable.name), wide(variable.value.c_str()));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, const_cast<wchar_t*>(wide(line.c_str())), nullptr, nullptr, FALSE,
                       CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process) == FALSE) {
        char16_t text[kNoticeTextUnits];
        format16(text, kNoticeTextUnits, u"Cannot start: %s", command);
        notify(u"Alarm command failed", text, false);
        return;
    }
    CloseHandle(process.hThread);
    for (void*& slot : commands) {
        if (slot != nullptr) continue;
        slot = process.hProcess;
        break;
    }
}

void playSound(const char16_t* sound) {
    if (sound[0] == 0) return;
    if (equalText16(sound, u"warning")) {
        MessageBeep(MB_ICONWARNING);
    } else {
        PlaySoundW(wide(sound), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT);
    }
}

void logLines(const std::string& lines) {
    char16_t folder[kSettingTextUnits];
    readSettingText(settings.historyLogDirectory, folder);
    if (folder[0] == 0 || lines.empty()) return;
    if (alarmLog == nullptr) alarmLog = startThreadOrFail(kSiteCsvLog, [] { return new AlarmLogWorker; });
    alarmLog->push(folder, lines);  // a full queue means the disk hangs: the lines are dropped
}

void act(const AlarmRule& rule, const AlarmFacts& facts) {
    playSound(rule.sound);
    runCommand(rule.command, facts);
}

void localName(char16_t (&name)[kSlotTextUnits]) {
    DWORD size = kSlotTextUnits;
    if (GetComputerNameW(reinterpret_cast<wchar_t*>(name), &size) == FALSE) name[0] = 0;
}

}  // namespace

int32_t reapCommands(void* (&processes)[kRunningCommands]) {
    int32_t running = 0;
    for (void*& process : processes) {
        if (process != nullptr && WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
            CloseHandle(process);
            process = nullptr;
        }
        running += process != nullptr ? 1 : 0;
    }
    return running;
}

void loadAlarmRulesWin32() {
    clearRuleWatches(watches);
    int32_t unreadable[kAlarmRules];
    const int count = loadAlarmRules(rules, unreadable);
    if (count == 0) return;
    char16_t text[kNoticeTextUnits];
    int length = format16(text, kNoticeTextUnits, u"Skipped, as they do not read: Alarms\\%d", unreadable[0]);
    for (int i = 1; i < count; ++i) {
        length += format16(text + length, kNoticeTextUnits - length, u", Alarms\\%d", unreadable[i]);
    }
    notify(u"Alarm rules skipped", text, false);
}

void watchAlarmRulesWin32(const PanelList& shown) {
    char16_t name[kSlotTextUnits];
    localName(name);
    watchedTilesOf(shown, tiles);
    watchRules(watches, rules, tiles, static_cast<int64_t>(tickCountMs() / 1000), changes);
    // The watch counts on the steady clock; the history's plots on the wall clock's seconds.
    const int64_t second = wallClockMs() / 1000;
    closeEndedPeriods(periods, watches, second);
    if (changes.count > 0) {
        const LocalTime now = localTimeOf(wallClockSeconds());
        TickNotices tickNotices{};
        std::string lines;
        for (int32_t i = 0; i < changes.count; ++i) {
            RuleEvent event;
            describeRuleChange(changes.changes[i], tiles, rules, shown, name, event);
            const AlarmRule& rule = rules.rules[event.rule];
            const AlarmFacts facts = factsOf(event, now);
            if (rule.notify) addTickNotice(tickNotices, event, rule);
            openPeriod(periods, event, second);
            act(rule, facts);
            lines += alarmCsvLine(facts);
        }
        pushTickNotices(notices, tickNotices);
        logLines(lines);
    }
    if (alarmLog != nullptr && alarmLog->takeFailureNotice()) {
        notify(u"Alarm log paused",
               u"tarvelon-alarms.csv cannot be written (open in another program?): lines are lost until it can.",
               false);
    }
}

bool takeRuleNoticeWin32(AlarmNotice& notice) {
    return popNotice(notices, notice);
}

bool anyRuleRaisedWin32() {
    return anyRuleRaised(watches);
}

const RuleWatchState& ruleWatchesWin32() {
    return watches;
}

const AlarmPeriods& alarmPeriodsWin32() {
    return periods;
}

const AlarmRules& alarmRulesWin32() {
    return rules;
}

void setAlarmRuleWin32(int index, const AlarmRule& rule) {
    rules.rules[index] = rule;
    forgetRule(watches, index);
    saveAlarmRule(rules, index);
}

void testAlarmRuleWin32(const AlarmRule& rule) {
    char16_t name[kSlotTextUnits];
    localName(name);
    const AlarmFacts facts{u"test",
                           u"SYSTEM",
                           name,
                           ruleFigureName(rule.figure),
                           0,
                           rule.level,
                           localTimeOf(wallClockSeconds())};
    if (rule.notify) notify(u"Alarm test", u"The rule's actions run once.", true);
    act(rule, facts);
}

}  // namespace tarvelon
