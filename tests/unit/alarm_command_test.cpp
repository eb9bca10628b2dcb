// The command line, its environment and the CSV line of an alarm, with names a hostile server could
// report; notices of a burst; the command limit; the log's header and its one failure notice.
#include "alarms/alarm_command.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "alarms/alarm_log.h"
#include "history/csv_text.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

TEST(AlarmCommand, RemoteNamesGoInLineOnlyInTheirSafeFormAndAsTheyAreInTheEnvironment) {
    const AlarmFacts facts{u"raised", u"x\" & calc.exe & \"", u"=HYPERLINK(\"h\") 'a'|%T%", u"gpu_core_c", 91,
                           85,        {2026, 3, 7, 9, 5, 2}};
    const struct {
        const char16_t* command;
        const char* line;
    } cases[] = {
        {u"notify.exe {state} {value} {level} {figure}", "notify.exe raised 91 85 gpu_core_c"},
        {u"cmd /c echo \"{tile}\" \"{time}\"", "cmd /c echo \"x_ _ calc.exe _ _\" \"2026-03-07 09:05:02\""},
        {u"x '{host}' {host}", "x '_HYPERLINK(_h_) _a___T_' _HYPERLINK(_h_) _a___T_"},
        {u"%TEMP%\\a {unknown} {value", "%TEMP%\\a {unknown} {value"},
        {u"{{state}}", "{raised}"},
    };
    for (const auto& c : cases) EXPECT_EQ(toUtf8(fillPlaceholders(c.command, facts).c_str()), c.line);
    AlarmVariable variables[kAlarmVariables];
    alarmVariables(facts, variables);
    std::string environment;
    for (const AlarmVariable& variable : variables) environment += toUtf8(variable.name) + "=" + toUtf8(variable.value.c_str()) + "\n";
    EXPECT_EQ(environment,
              "TARVELON_STATE=raised\nTARVELON_TILE=x\" & calc.exe & \"\nTARVELON_HOST==HYPERLINK(\"h\") 'a'|%T%\n"
              "TARVELON_FIGURE=gpu_core_c\nTARVELON_VALUE=91\nTARVELON_LEVEL=85\nTARVELON_TIME=2026-03-07 09:05:02\n");
    EXPECT_EQ(alarmCsvLine(facts), "2026-03-07 09:05:02,raised,\"x\"\" & calc.exe & \"\"\","
                                   "\"'=HYPERLINK(\"\"h\"\") 'a'|%T%\",gpu_core_c,91,85\r\n");
    for (const char* field : {"+1", "-1", "@SUM(A1)", "a=b"}) {
        EXPECT_EQ(csvTextField(field), field[0] == 'a' ? std::string(field) : "'" + std::string(field));
    }
}

TEST(AlarmCommand, ABurstOfRaisesAndClearsIsOneNoticeAndFewStayApart) {
    const AlarmRule rule = defaultRule(ruleFigureOf(u"gpu_core_c"));
    RuleEvent event{};
    event.figure = rule.figure;
    copyText16(event.host, kSlotTextUnits, u"r1");
    for (const int raises : {2, 20}) {
        TickNotices tick{};
        for (int i = 0; i < raises + 1; ++i) {
            format16(event.tile, kRecordTextUnits, u"GPU %d", i);
            event.raised = i < raises;
            addTickNotice(tick, event, rule);
        }
        NoticeQueue queue{};
        pushTickNotices(queue, tick);
        AlarmNotice notice;
        std::string shown;
        while (popNotice(queue, notice)) shown += toUtf8(notice.title) + ": " + toUtf8(notice.text) + "|";
        EXPECT_EQ(shown, raises == 2 ? "Alarm raised: GPU 0 (r1): gpu_core_c 0, above 0|"
                                       "Alarm raised: GPU 1 (r1): gpu_core_c 0, above 0|"
                                       "Alarm cleared: GPU 2 (r1): gpu_core_c 0, above 0|"
                                     : "Alarms: 20 raised, 1 cleared: GPU 0 (r1): gpu_core_c 0, above 0 and 20 more|");
    }
}

TEST(AlarmCommand, APastFourRunningIsDroppedWithOneNoticeAndTheFileGetsOneHeader) {
    CommandGate gate{};
    std::string admissions;
    for (const int running : {3, 4, 4, 2, 4}) {
        gate.running = running;
        admissions += "RDd"[static_cast<int>(admitCommand(gate))];
    }
    EXPECT_EQ(admissions, "RdDRd");  // R runs, d dropped with the notice, D dropped quietly

    char pattern[] = "/tmp/tarvelon-alarm-log-XXXXXX";
    const std::string folder = std::string(mkdtemp(pattern)) + "/log";
    {
        AlarmLogWorker log;
        log.push(fromUtf8(folder), "a\r\n");
        log.push(fromUtf8(folder), "b\r\n");
        log.drain();
    }
    std::ifstream written(folder + "/tarvelon-alarms.csv", std::ios::binary);
    std::stringstream text;
    text << written.rdbuf();
    EXPECT_EQ(text.str(), "time,state,tile,host,figure,value,level\r\na\r\nb\r\n");

    // The file held by another program (here: a folder in its place) fails every write; the notice
    // comes once, and again only after a write worked.
    const std::string file = folder + "/tarvelon-alarms.csv";
    std::remove(file.c_str());
    AlarmLogWorker log;
    std::string notices;
    for (const bool held : {true, true, false, true}) {
        if (held) mkdir(file.c_str(), 0700);
        log.push(fromUtf8(folder), "c\r\n");
        log.drain();
        notices += log.takeFailureNotice() ? "N" : "-";
        std::remove(file.c_str());
    }
    EXPECT_EQ(notices, "N--N");
}

}  // namespace
}  // namespace tarvelon
