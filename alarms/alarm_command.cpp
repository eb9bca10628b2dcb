#include "alarms/alarm_command.h"

#include "alarms/alarm_rule.h"
#include "history/csv_text.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

// Characters that no common shell (cmd, PowerShell, a POSIX shell) gives a meaning to.
bool safeInLine(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u' ' ||
           c == u'.' || c == u'-' || c == u'_' || c == u':' || c == u'(' || c == u')';
}

std::u16string safeName(const char16_t* text) {
    std::u16string out = text;
    for (char16_t& c : out) c = safeInLine(c) ? c : u'_';
    return out;
}

std::u16string number(int64_t value) {
    return fromUtf8(std::to_string(value));
}

// The text of placeholder name, or false when name is none of them.
bool placeholder(const std::u16string& name, const AlarmFacts& facts, std::u16string& text) {
    if (name == u"state") {
        text = facts.state;
    } else if (name == u"tile") {
        text = safeName(facts.tile);
    } else if (name == u"host") {
        text = safeName(facts.host);
    } else if (name == u"figure") {
        text = facts.figure;
    } else if (name == u"value") {
        text = number(facts.value);
    } else if (name == u"level") {
        text = number(facts.level);
    } else if (name == u"time") {
        text = fromUtf8(csvTime(facts.time));
    } else {
        return false;
    }
    return true;
}

}  // namespace

AlarmFacts factsOf(const RuleEvent& event, const LocalTime& time) {
    return {event.raised ? u"raised" : u"cleared",
            event.tile,
            event.host,
            ruleFigureName(event.figure),
            event.value,
            event.level,
            time};
}

std::u16string fillPlaceholders(const char16_t* command, const AlarmFacts& facts) {
    std::u16string out;
    const std::u16string text = command;
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find(u'{', at);
        const size_t close = open == std::u16string::npos ? open : text.find(u'}', open);
        std::u16string value;
        if (close == std::u16string::npos) {
            out += text.substr(at);
            break;
        }
        out += text.substr(at, open - at);
        if (!placeholder(text.substr(open + 1, close - open - 1), facts, value)) {
            out += u'{';
            at = open + 1;
            continue;
        }
        out += value;
        at = close + 1;
    }
    return out;
}

void alarmVariables(const AlarmFacts& facts, AlarmVariable (&variables)[kAlarmVariables]) {
    variables[0] = {u"TARVELON_STATE", facts.state};
    variables[1] = {u"TARVELON_TILE", facts.tile};
    variables[2] = {u"TARVELON_HOST", facts.host};
    variables[3] = {u"TARVELON_FIGURE", facts.figure};
    variables[4] = {u"TARVELON_VALUE", number(facts.value)};
    variables[5] = {u"TARVELON_LEVEL", number(facts.level)};
    variables[6] = {u"TARVELON_TIME", fromUtf8(csvTime(facts.time))};
}

void ruleNotice(const RuleEvent& event, const AlarmRule& rule, AlarmNotice& notice) {
    format16(notice.title, kNoticeTitleUnits, event.raised ? u"Alarm raised" : u"Alarm cleared");
    format16(notice.text, kNoticeTextUnits, u"%s (%s): %s %I64d, %s %d", event.tile, event.host,
             ruleFigureName(event.figure), static_cast<long long>(event.value),
             rule.above ? u"above" : u"below", event.level);
    notice.information = !event.raised;
}

bool pushNotice(NoticeQueue& queue, const AlarmNotice& notice) {
    if (queue.count == kQueuedNotices) return false;
    queue.notices[(queue.first + queue.count) % kQueuedNotices] = notice;
    ++queue.count;
    return true;
}

bool popNotice(NoticeQueue& queue, AlarmNotice& notice) {
    if (queue.count == 0) return false;
    notice = queue.notices[queue.first];
    queue.first = (queue.first + 1) % kQueuedNotices;
    --queue.count;
    return true;
}

void addTickNotice(TickNotices& tick, const RuleEvent& event, const AlarmRule& rule) {
    const int32_t count = tick.raised + tick.cleared;
    if (count < kNoticesApart) ruleNotice(event, rule, tick.first[count]);
    ++(event.raised ? tick.raised : tick.cleared);
}

void pushTickNotices(NoticeQueue& queue, const TickNotices& tick) {
    const int32_t count = tick.raised + tick.cleared;
    if (count <= kNoticesApart) {
        for (int32_t i = 0; i < count; ++i) pushNotice(queue, tick.first[i]);
        return;
    }
    AlarmNotice notice{};
    format16(notice.title, kNoticeTitleUnits, u"Alarms: %d raised, %d cleared", tick.raised, tick.cleared);
    format16(notice.text, kNoticeTextUnits, u"%s and %d more", tick.first[0].text, count - 1);
    notice.information = tick.raised == 0;
    pushNotice(queue, notice);
}

CommandAdmission admitCommand(CommandGate& gate) {
    if (gate.running < kRunningCommands) {
        gate.dropNoticed = false;
        return CommandAdmission::Run;
    }
    if (gate.dropNoticed) return CommandAdmission::Drop;
    gate.dropNoticed = true;
    return CommandAdmission::DropWithNotice;
}

std::string alarmCsvHeader() {
    return "time,state,tile,host,figure,value,level\r\n";
}

std::string alarmCsvLine(const AlarmFacts& facts) {
    std::string line = csvTime(facts.time);
    for (const char16_t* text : {facts.state, facts.tile, facts.host, facts.figure}) {
        line += ',';
        line += csvTextField(toUtf8(text));
    }
    line += "," + std::to_string(facts.value) + "," + std::to_string(facts.level) + "\r\n";
    return line;
}

}  // namespace tarvelon
