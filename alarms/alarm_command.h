// What an alarm does besides the notice: the command line with its placeholders filled in, the facts
// in the command's environment, and the line of tarvelon-alarms.csv. The command is started without a
// shell, but it may start one (cmd /c, PowerShell) that gives meaning to quotes, & or %. A tile's or a
// host's name can come from a watched server, so in-line it keeps only letters, digits, space and
// .-_:() and every other character becomes _; the names as they are reach the command only in its
// environment, where no shell parses them.
#pragma once

#include <cstdint>
#include <string>

#include "alarms/alarm_notice.h"
#include "alarms/alarm_watch.h"
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

// command with {state} {figure} {value} {level} {time} and the safe forms of {tile} {host} put in;
// any other brace is kept.
std::u16string fillPlaceholders(const char16_t* command, const AlarmFacts& facts);

// The facts for the command's environment: TARVELON_STATE, TARVELON_TILE, TARVELON_HOST,
// TARVELON_FIGURE, TARVELON_VALUE, TARVELON_LEVEL and TARVELON_TIME, the names as they are.
constexpr int kAlarmVariables = 7;
struct AlarmVariable {
    const char16_t* name;
    std::u16string value;
};
void alarmVariables(const AlarmFacts& facts, AlarmVariable (&variables)[kAlarmVariables]);

// The notice of a raise or a clear: "Alarm raised" / "Alarm cleared", then
// "TILE (HOST): FIGURE VALUE, above LEVEL".
void ruleNotice(const RuleEvent& event, const AlarmRule& rule, AlarmNotice& notice);

// Notices waiting for the tray, which shows one a second; the oldest are shown first.
constexpr int kQueuedNotices = 16;
struct NoticeQueue {
    AlarmNotice notices[kQueuedNotices];
    int32_t first;
    int32_t count;
};
// False when the queue is full and notice was dropped.
bool pushNotice(NoticeQueue& queue, const AlarmNotice& notice);
bool popNotice(NoticeQueue& queue, AlarmNotice& notice);

// The notices of one tick's raises and clears: each its own while they are few, so that a burst
// never fills the queue; past kNoticesApart one notice counts them all and names the first.
constexpr int kNoticesApart = 3;
struct TickNotices {
    AlarmNotice first[kNoticesApart];
    int32_t raised;
    int32_t cleared;
};
void addTickNotice(TickNotices& tick, const RuleEvent& event, const AlarmRule& rule);
void pushTickNotices(NoticeQueue& queue, const TickNotices& tick);

// Commands run at once, never waited for; past kRunningCommands a command is dropped, and the first
// drop after one that ran says so in a notice.
constexpr int kRunningCommands = 4;
struct CommandGate {
    int32_t running;  // set from the processes still alive before each admission
    bool dropNoticed;
};
enum class CommandAdmission { Run, Drop, DropWithNotice };
CommandAdmission admitCommand(CommandGate& gate);

// "time,state,tile,host,figure,value,level" with CRLF, the texts as csvTextField writes them.
std::string alarmCsvHeader();
std::string alarmCsvLine(const AlarmFacts& facts);

}  // namespace tarvelon
