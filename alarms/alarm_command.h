// What an alarm does besides the notice: the command line with its placeholders filled in, and the
// line of tarvelon-alarms.csv. The command is started without a shell, so a value is put in as it is
// (a percent sign stays a percent sign); only what would end a quoted argument early is escaped.
#pragma once

#include <cstdint>
#include <string>

#include "alarms/alarm_watch.h"
#include "alarms/alarm_notice.h"
#include "platform/local_time.h"

namespace tarvelon {

// The texts the placeholders stand for.
struct AlarmFacts {
    const char16_t* state;  // "raised", "cleared" or "test"
    const char16_t* tile;
    const char16_t* host;
    const char16_t* figure;
    int64_t value;
    int32_t level;
    LocalTime time;
};

AlarmFacts factsOf(const RuleEvent& event, const LocalTime& time);

// command with {state} {tile} {host} {figure} {value} {level} {time} replaced; any other brace is kept.
// A double quote in a text becomes \" and backslashes just before a quote are doubled, so that a
// placeholder written inside quotes stays one argument.
std::u16string fillPlaceholders(const char16_t* command, const AlarmFacts& facts);

// The notice of a raise or a clear: "Alarm raised" / "Alarm cleared", then
// "TILE (HOST): FIGURE VALUE, above LEVEL".
void ruleNotice(const RuleEvent& event, const AlarmRule& rule, AlarmNotice& notice);

// Notices waiting for the tray, which shows one a second: a burst of raises loses none up to the
// queue's size, and the oldest are shown first.
constexpr int kQueuedNotices = 16;
struct NoticeQueue {
    AlarmNotice notices[kQueuedNotices];
    int32_t first;
    int32_t count;
};
// False when the queue is full and notice was dropped.
bool pushNotice(NoticeQueue& queue, const AlarmNotice& notice);
bool popNotice(NoticeQueue& queue, AlarmNotice& notice);

// Commands run at once, never waited for; past kRunningCommands a command is dropped, and the first
// drop after one that ran says so in a notice.
constexpr int kRunningCommands = 4;
struct CommandGate {
    int32_t running;  // set from the processes still alive before each admission
    bool dropNoticed;
};
enum class CommandAdmission { Run, Drop, DropWithNotice };
CommandAdmission admitCommand(CommandGate& gate);

// "time,state,tile,host,figure,value,level" with CRLF; a text with a comma, a quote or a line break
// is quoted, its quotes doubled.
std::string alarmCsvHeader();
std::string alarmCsvLine(const AlarmFacts& facts);

}  // namespace tarvelon
