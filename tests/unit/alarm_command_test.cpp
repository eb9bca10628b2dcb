// The command line and the CSV line of an alarm, with texts that hold quotes, spaces, commas,
// backslashes and percent signs.
#include "alarms/alarm_command.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "alarms/alarm_log.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

TEST(AlarmCommand, PlaceholdersAreFilledAndStayOneArgument) {
    const AlarmFacts facts{u"raised", u"Quadro \"A\" 100%", u"C:\\share\\", u"gpu_core_c", 91,
                           85,        {2026, 3, 7, 9, 5, 2}};
    const struct {
        const char16_t* command;
        const char* line;
    } cases[] = {
        {u"notify.exe {state} {value} {level} {figure}", "notify.exe raised 91 85 gpu_core_c"},
        {u"log \"{tile}\" \"{time}\"", "log \"Quadro \\\"A\\\" 100%\" \"2026-03-07 09:05:02\""},
        {u"x \"{host}\" {host}", "x \"C:\\share\\\\\" C:\\share\\"},  // the backslash before a quote doubled
        {u"%TEMP%\\a {unknown} {value", "%TEMP%\\a {unknown} {value"},
        {u"{{state}}", "{raised}"},
    };
    for (const auto& c : cases) EXPECT_EQ(toUtf8(fillPlaceholders(c.command, facts).c_str()), c.line);
    EXPECT_EQ(alarmCsvLine(facts),
              "2026-03-07 09:05:02,raised,\"Quadro \"\"A\"\" 100%\",C:\\share\\,gpu_core_c,91,85\r\n");
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
    std::ifstream file(folder + "/tarvelon-alarms.csv", std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "time,state,tile,host,figure,value,level\r\na\r\nb\r\n");
}

}  // namespace
}  // namespace tarvelon
