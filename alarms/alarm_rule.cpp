#include "alarms/alarm_rule.h"

#include <cstring>

#include "platform/store.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr const char16_t* kFigureNames[kRuleFigures] = {
    u"cpu_load_pct", u"cpu_mhz",     u"processes",    u"threads",      u"phys_free_mb",
    u"virt_free_mb", u"net_io_mbit", u"gpu_load_pct", u"gpu_core_mhz", u"gpu_mem_mhz",
    u"gpu_free_mb",  u"gpu_fan_rpm", u"gpu_core_c",   u"gpu_mem_c",    u"not_answering",
};

constexpr int32_t kDefaultHoldSeconds = 10;
constexpr int32_t kNotAnsweringHoldSeconds = 30;
constexpr int32_t kHighLatencyHoldSeconds = 90;

void ruleKeyPath(char16_t (&path)[48], int index) {
    format16(path, 48, u"Software\\Tarvelon\\Alarms\\%d", index);
}

// Ok with the DWORD, NotFound, or Failed for a value of another type or size.
StoreStatus readNumber(StoreKey* key, const char16_t* name, int32_t& out) {
    uint8_t bytes[4];
    uint32_t size = sizeof bytes;
    uint32_t type = 0;
    const StoreStatus status = readStoreValue(key, name, bytes, &size, &type);
    if (status == StoreStatus::NotFound) return status;
    if (status != StoreStatus::Ok || type != static_cast<uint32_t>(StoreType::Dword) || size != 4) {
        return StoreStatus::Failed;
    }
    out = static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                               static_cast<uint32_t>(bytes[3]) << 24);
    return StoreStatus::Ok;
}

StoreStatus readText(StoreKey* key, const char16_t* name, char16_t (&out)[kRuleTextUnits]) {
    char16_t buffer[kRuleTextUnits] = {};
    uint32_t size = sizeof buffer;
    uint32_t type = 0;
    const StoreStatus status = readStoreValue(key, name, buffer, &size, &type);
    if (status == StoreStatus::NotFound) return status;
    if (status != StoreStatus::Ok || type != static_cast<uint32_t>(StoreType::String))
        return StoreStatus::Failed;
    buffer[kRuleTextUnits - 1] = 0;
    copyText16(out, kRuleTextUnits, buffer);
    return StoreStatus::Ok;
}

// False when the key holds something that does not read.
bool readRule(StoreKey* key, AlarmRule& rule) {
    char16_t text[kRuleTextUnits] = {};
    if (readText(key, u"figure", text) != StoreStatus::Ok) return false;
    const int32_t figure = ruleFigureOf(text);
    if (figure < 0) return false;
    rule = defaultRule(figure);
    if (readText(key, u"target", text) != StoreStatus::Ok || !parseRuleTarget(text, rule)) return false;
    if (figure == kNotAnswering && rule.target == RuleTarget::Local) return false;
    int32_t number = 0;
    const struct {
        const char16_t* name;
        int32_t* field;
    } numbers[] = {{u"level", &rule.level},
                   {u"clear", &rule.clear},
                   {u"holdSeconds", &rule.holdSeconds},
                   {u"cooldownSeconds", &rule.cooldownSeconds}};
    for (const auto& value : numbers) {
        const StoreStatus status = readNumber(key, value.name, number);
        if (status == StoreStatus::Failed) return false;
        if (status == StoreStatus::Ok) *value.field = number;
    }
    const struct {
        const char16_t* name;
        bool* field;
    } flags[] = {{u"above", &rule.above}, {u"notify", &rule.notify}, {u"enabled", &rule.enabled}};
    for (const auto& value : flags) {
        const StoreStatus status = readNumber(key, value.name, number);
        if (status == StoreStatus::Failed) return false;
        if (status == StoreStatus::Ok) *value.field = number != 0;
    }
    if (rule.holdSeconds < -1 || rule.cooldownSeconds < 0) return false;
    if (readText(key, u"sound", rule.sound) == StoreStatus::Failed) return false;
    return readText(key, u"command", rule.command) != StoreStatus::Failed;
}

void writeNumber(StoreKey* key, const char16_t* name, int32_t value) {
    const uint32_t bits = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                              static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
    writeStoreValue(key, name, StoreType::Dword, bytes, 4);
}

void writeText(StoreKey* key, const char16_t* name, const char16_t* text) {
    writeStoreText(key, name, text, text16Length(text, kRuleTextUnits - 1));
}

}  // namespace

const char16_t* ruleFigureName(int32_t figure) {
    return figure >= 0 && figure < kRuleFigures ? kFigureNames[figure] : u"";
}

int32_t ruleFigureOf(const char16_t* name) {
    for (int32_t figure = 0; figure < kRuleFigures; ++figure) {
        if (equalText16(name, kFigureNames[figure])) return figure;
    }
    return -1;
}

bool parseRuleTarget(const char16_t* text, AlarmRule& rule) {
    if (equalText16(text, u"local")) {
        rule.target = RuleTarget::Local;
    } else if (equalText16(text, u"*")) {
        rule.target = RuleTarget::AnyServer;
    } else if (equalText16(text, u"all")) {
        rule.target = RuleTarget::All;
    } else {
        // HOST:PORT, the port after the last colon (an IPv6 address holds colons of its own).
        const size_t length = text16Length(text, kRuleTextUnits);
        size_t colon = length;
        while (colon > 0 && text[colon - 1] != u':') --colon;
        if (colon < 2 || colon == length || length - colon > 5 || length >= kRuleTextUnits) return false;
        int32_t port = 0;
        for (size_t i = colon; i < length; ++i) {
            if (text[i] < u'0' || text[i] > u'9') return false;
            port = port * 10 + (text[i] - u'0');
        }
        if (port < 1 || port > 65535) return false;
        std::memset(rule.host, 0, sizeof rule.host);
        std::memcpy(rule.host, text, (colon - 1) * sizeof(char16_t));
        rule.port = port;
        rule.target = RuleTarget::Server;
    }
    return true;
}

void ruleTargetText(const AlarmRule& rule, char16_t* out, int capacity) {
    switch (rule.target) {
        case RuleTarget::Local:
            format16(out, static_cast<size_t>(capacity), u"local");
            break;
        case RuleTarget::AnyServer:
            format16(out, static_cast<size_t>(capacity), u"*");
            break;
        case RuleTarget::All:
            format16(out, static_cast<size_t>(capacity), u"all");
            break;
        case RuleTarget::Server:
            format16(out, static_cast<size_t>(capacity), u"%s:%d", rule.host, rule.port);
            break;
    }
}

AlarmRule defaultRule(int32_t figure) {
    AlarmRule rule{};
    rule.used = true;
    rule.enabled = true;
    rule.target = figure == kNotAnswering ? RuleTarget::AnyServer : RuleTarget::Local;
    rule.figure = figure;
    rule.above = true;
    rule.holdSeconds = figure == kNotAnswering ? -1 : kDefaultHoldSeconds;
    rule.cooldownSeconds = 300;
    rule.notify = true;
    return rule;
}

int32_t ruleHoldSeconds(const AlarmRule& rule, bool highLatency) {
    if (rule.holdSeconds >= 0) return rule.holdSeconds;
    return highLatency ? kHighLatencyHoldSeconds : kNotAnsweringHoldSeconds;
}

int loadAlarmRules(AlarmRules& rules, int32_t (&unreadable)[kAlarmRules]) {
    int count = 0;
    for (int i = 0; i < kAlarmRules; ++i) {
        AlarmRule& rule = rules.rules[i];
        rule = AlarmRule{};
        char16_t path[48];
        ruleKeyPath(path, i);
        StoreKey* key = openUserKey(path, StoreAccess::Read);
        if (key == nullptr) continue;
        if (!readRule(key, rule)) {
            rule = AlarmRule{};
            unreadable[count++] = i;
        }
        closeUserKey(key);
    }
    return count;
}

void saveAlarmRule(const AlarmRules& rules, int index) {
    char16_t path[48];
    ruleKeyPath(path, index);
    const AlarmRule& rule = rules.rules[index];
    if (!rule.used) {
        deleteUserKey(path);
        return;
    }
    StoreKey* key = openUserKey(path, StoreAccess::Write);
    if (key == nullptr) return;
    char16_t target[kRuleTextUnits];
    ruleTargetText(rule, target, kRuleTextUnits);
    writeText(key, u"figure", ruleFigureName(rule.figure));
    writeText(key, u"target", target);
    writeNumber(key, u"above", rule.above ? 1 : 0);
    writeNumber(key, u"level", rule.level);
    writeNumber(key, u"clear", rule.clear);
    // The default hold of not_answering follows the server, so it is left unwritten.
    if (rule.holdSeconds >= 0) {
        writeNumber(key, u"holdSeconds", rule.holdSeconds);
    } else {
        deleteStoreValue(key, u"holdSeconds");
    }
    writeNumber(key, u"cooldownSeconds", rule.cooldownSeconds);
    writeNumber(key, u"notify", rule.notify ? 1 : 0);
    writeNumber(key, u"enabled", rule.enabled ? 1 : 0);
    writeText(key, u"sound", rule.sound);
    writeText(key, u"command", rule.command);
    closeUserKey(key);
}

}  // namespace tarvelon
