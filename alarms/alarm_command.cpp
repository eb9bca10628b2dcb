#include "alarms/alarm_command.h"

#include "history/csv_text.h"
#include "alarms/alarm_rule.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

// Escapes text for a command line: quotes, and the backslashes that precede one in text or that
// would precede the quote following the placeholder.
void appendArgumentText(std::u16string& out, const std::u16string& text, bool quoteFollows) {
    size_t backslashes = 0;
    for (const char16_t c : text) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        backslashes = 0;
        out += c;
    }
    out.append(quoteFollows ? backslashes * 2 : backslashes, u'\\');
}

std::u16string timeText(const LocalTime& time) {
    return fromUtf8(csvTime(time));
}

// The text of placeholder name, or false when name is none of them.
bool placeholder(const std::u16string& name, const AlarmFacts& facts, std::u16string& text) {
    if (name == u"state") {
        text = facts.state;
    } else if (name == u"tile") {
        text = facts.tile;
    } else if (name == u"host") {
        text = facts.host;
    } else if (name == u"figure") {
        text = facts.figure;
    } else if (name == u"value") {
        text = fromUtf8(std::to_string(facts.value));
    } else if (name == u"level") {
        text = fromUtf8(std::to_string(facts.level));
    } else if (name == u"time") {
        text = timeText(facts.time);
    } else {
        return false;
    }
    return true;
}

void appendCsvField(std::string& line, const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        line += field;
        return;
    }
    line += '"';
    for (const char c : field) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
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
        appendArgumentText(out, value, close + 1 < text.size() && text[close + 1] == u'"');
        at = close + 1;
    }
    return out;
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
        appendCsvField(line, toUtf8(text));
    }
    line += "," + std::to_string(facts.value) + "," + std::to_string(facts.level) + "\r\n";
    return line;
}

}  // namespace tarvelon
