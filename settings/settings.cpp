#include "settings/settings.h"

#include <cstring>
#include <iterator>
#include <mutex>

#include "platform/store.h"
#include "platform/text16.h"
#include "settings/stored_slot.h"

namespace tarvelon {

const char16_t kSettingsKeyPath[] = u"Software\\Tarvelon\\";
Settings settings;
StoredSlot* storedSlots[kServerSlots];

namespace {

// Software\Tarvelon\Alarms\0 to 31 hold the alarm rules.
constexpr int kAlarmRuleKeys = 32;

std::mutex textLock;
std::mutex saveLock;
bool wipedForGood = false;  // guarded by saveLock

// One stored value of the record: a DWORD field or a text field.
struct SettingValue {
    const char16_t* name;
    std::atomic<int32_t> Settings::*number;
    char16_t (Settings::*text)[kSettingTextUnits];
};

// In stored order: these come before the per-server values, kTrailingValues after them.
const SettingValue kLeadingValues[] = {
    {u"windowPosX", &Settings::windowPosX, nullptr},
    {u"windowPosY", &Settings::windowPosY, nullptr},
    {u"layout", &Settings::layout, nullptr},
    {u"fontsize", &Settings::fontsize, nullptr},
    {u"alwaysontop", &Settings::alwaysontop, nullptr},
    {u"networkServerEnabled", &Settings::networkServerEnabled, nullptr},
    {u"networkServerHostname", nullptr, &Settings::networkServerHostname},
    {u"networkServerPort", &Settings::networkServerPort, nullptr},
    {u"networkServerListen", nullptr, &Settings::networkServerListen},
};
const SettingValue kTrailingValues[] = {
    {u"removeDeadServer", &Settings::removeDeadServer, nullptr},
    {u"removeDeactivatedServer", &Settings::removeDeactivatedServer, nullptr},
    {u"alarmGpuTempC", &Settings::alarmGpuTempC, nullptr},
    {u"alarmServerLost", &Settings::alarmServerLost, nullptr},
    {u"networkServerAllow", nullptr, &Settings::networkServerAllow},
    {u"historyLogDirectory", nullptr, &Settings::historyLogDirectory},
    {u"historyWindowX", &Settings::historyWindowX, nullptr},
    {u"historyWindowY", &Settings::historyWindowY, nullptr},
    {u"historyWindowWidth", &Settings::historyWindowWidth, nullptr},
    {u"historyWindowHeight", &Settings::historyWindowHeight, nullptr},
};

constexpr const char16_t* kSlotSuffixes[] = {u"Active", u"Enabled", u"Hostname", u"Port", u"HighLatency"};

// "networkServerList_NN_" joined with a suffix.
void slotValueName(char16_t (&name)[64], int index, const char16_t* suffix) {
    char16_t prefix[32];
    format16(prefix, 32, u"%s_%02d_", u"networkServerList", index);
    format16(name, 64, u"%s%s", prefix, suffix);
}

// The stored DWORD, or NotFound/MoreData/Failed; a value of another type or size counts as Failed.
StoreStatus readDword(StoreKey* key, const char16_t* name, int32_t& out) {
    uint8_t buffer[4];
    uint32_t size = sizeof buffer;
    uint32_t type = 0;
    const StoreStatus status = readStoreValue(key, name, buffer, &size, &type);
    if (status != StoreStatus::Ok) return status;
    if (type != static_cast<uint32_t>(StoreType::Dword) || size != 4) return StoreStatus::Failed;
    out = static_cast<int32_t>(buffer[0] | buffer[1] << 8 | buffer[2] << 16 | static_cast<uint32_t>(buffer[3]) << 24);
    return StoreStatus::Ok;
}

void loadDword(StoreKey* key, const char16_t* name, std::atomic<int32_t>& field) {
    int32_t value = 0;
    if (readDword(key, name, value) == StoreStatus::Ok) field.store(value);
}

// Reads a REG_SZ through a buffer of bufferUnits units into field, which keeps its old content when the
// value is missing, does not fit or is not a string. The field keeps at most bufferUnits - 1
// characters, so that what a save writes, terminator included, fits the buffer of the next load.
void loadText(StoreKey* key, const char16_t* name, char16_t (&field)[kSettingTextUnits], int bufferUnits) {
    char16_t buffer[kSettingTextUnits] = {};
    uint32_t size = static_cast<uint32_t>(bufferUnits) * 2;
    uint32_t type = 0;
    if (readStoreValue(key, name, buffer, &size, &type) == StoreStatus::Ok &&
        type == static_cast<uint32_t>(StoreType::String)) {
        std::memset(field, 0, sizeof field);
        std::memcpy(field, buffer, size & ~1u);
    }
    field[bufferUnits - 1] = 0;
}

void writeDword(StoreKey* key, const char16_t* name, int32_t value) {
    const uint32_t bits = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                              static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
    writeStoreValue(key, name, StoreType::Dword, bytes, 4);
}

void writeText(StoreKey* key, const char16_t* name, const char16_t* text, size_t capacity) {
    writeStoreText(key, name, text, text16Length(text, capacity - 1));
}

// The registry deletes no key that still has subkeys: the alarm rules' keys go first.
void deleteWholeKey() {
    for (int i = 0; i < kAlarmRuleKeys; ++i) {
        char16_t path[48];
        format16(path, 48, u"%sAlarms\\%d", kSettingsKeyPath, i);
        deleteUserKey(path);
    }
    char16_t alarms[48];
    format16(alarms, 48, u"%sAlarms", kSettingsKeyPath);
    deleteUserKey(alarms);
    deleteUserKey(kSettingsKeyPath);
}

void loadValues(StoreKey* key, const SettingValue* values, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const SettingValue& value = values[i];
        if (value.number != nullptr) {
            loadDword(key, value.name, settings.*value.number);
        } else {
            std::lock_guard<std::mutex> guard(textLock);
            loadText(key, value.name, settings.*value.text, kSettingTextChars + 1);
        }
    }
}

void saveValues(StoreKey* key, const SettingValue* values, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const SettingValue& value = values[i];
        if (value.number != nullptr) {
            writeDword(key, value.name, (settings.*value.number).load());
        } else {
            char16_t text[kSettingTextUnits];
            readSettingText(settings.*value.text, text);
            writeText(key, value.name, text, kSettingTextUnits);
        }
    }
}

void loadSlot(StoreKey* key, int index) {
    if (storedSlots[index] == nullptr) return;
    StoredSlot& slot = *storedSlots[index];
    char16_t name[64];
    slotValueName(name, index, u"Active");
    slot.Active.store(0);
    int32_t active = 0;
    const StoreStatus status = readDword(key, name, active);
    if (status == StoreStatus::NotFound) return;
    if (status == StoreStatus::Ok) slot.Active.store(active);
    slotValueName(name, index, u"Enabled");
    loadDword(key, name, slot.Enabled);
    // All 127 characters that Add keeps and save writes, so a long name survives a restart.
    slotValueName(name, index, u"Hostname");
    loadText(key, name, slot.Hostname, kSlotTextUnits);
    slotValueName(name, index, u"Port");
    int32_t port = 0;
    if (readDword(key, name, port) == StoreStatus::Ok) slot.Port = port;
    slotValueName(name, index, u"HighLatency");
    loadDword(key, name, slot.HighLatency);
}

void saveSlot(StoreKey* key, int index) {
    if (storedSlots[index] == nullptr) return;
    StoredSlot& slot = *storedSlots[index];
    char16_t name[64];
    if (slot.Active.load(std::memory_order_acquire) == 0) {
        for (const char16_t* suffix : kSlotSuffixes) {
            slotValueName(name, index, suffix);
            deleteStoreValue(key, name);
        }
        return;
    }
    slotValueName(name, index, u"Active");
    writeDword(key, name, slot.Active.load());
    slotValueName(name, index, u"Enabled");
    writeDword(key, name, slot.Enabled.load());
    slotValueName(name, index, u"Hostname");
    writeText(key, name, slot.Hostname, kSlotTextUnits);
    slotValueName(name, index, u"Port");
    writeDword(key, name, slot.Port);
    slotValueName(name, index, u"HighLatency");
    writeDword(key, name, slot.HighLatency.load());
}

}  // namespace

void clearSettings() {
    settings.windowPosX.store(0);
    settings.windowPosY.store(0);
    settings.layout.store(0);
    settings.fontsize.store(0);
    settings.alwaysontop.store(0);
    settings.networkServerEnabled.store(0);
    settings.networkServerPort.store(0);
    settings.removeDeadServer.store(0);
    settings.removeDeactivatedServer.store(0);
    settings.alarmGpuTempC.store(0);
    settings.alarmServerLost.store(0);
    settings.historyWindowX.store(0);
    settings.historyWindowY.store(0);
    settings.historyWindowWidth.store(0);
    settings.historyWindowHeight.store(0);
    std::lock_guard<std::mutex> guard(textLock);
    std::memset(settings.networkServerHostname, 0, sizeof settings.networkServerHostname);
    std::memset(settings.networkServerListen, 0, sizeof settings.networkServerListen);
    std::memset(settings.networkServerAllow, 0, sizeof settings.networkServerAllow);
    std::memset(settings.historyLogDirectory, 0, sizeof settings.historyLogDirectory);
}

void setDefaultSettings(int32_t primaryScreenWidth, int32_t primaryScreenHeight) {
    settings.windowPosX.store(primaryScreenWidth / 2);
    settings.windowPosY.store(primaryScreenHeight / 2);
    settings.fontsize.store(12);
    settings.layout.store(1);
    settings.alwaysontop.store(0);
    settings.networkServerEnabled.store(0);
    writeSettingText(settings.networkServerHostname, u"My Hostname");
    settings.networkServerPort.store(8221);
    writeSettingText(settings.networkServerListen, u"*");
    settings.removeDeadServer.store(0);
    settings.removeDeactivatedServer.store(0);
    settings.alarmGpuTempC.store(0);
    settings.alarmServerLost.store(0);
    writeSettingText(settings.networkServerAllow, u"");
    writeSettingText(settings.historyLogDirectory, u"");
    settings.historyWindowX.store(0);
    settings.historyWindowY.store(0);
    settings.historyWindowWidth.store(0);
    settings.historyWindowHeight.store(0);
}

void readSettingText(const char16_t (&field)[kSettingTextUnits], char16_t (&out)[kSettingTextUnits]) {
    std::lock_guard<std::mutex> guard(textLock);
    std::memcpy(out, field, sizeof out);
    out[kSettingTextUnits - 1] = 0;
}

void writeSettingText(char16_t (&field)[kSettingTextUnits], const char16_t* text, int maxUnits) {
    if (maxUnits > kSettingTextChars) maxUnits = kSettingTextChars;
    std::lock_guard<std::mutex> guard(textLock);
    std::memset(field, 0, sizeof field);
    copyText16(field, static_cast<size_t>(maxUnits) + 1, text);
}

void loadSettings() {
    StoreKey* key = openUserKey(kSettingsKeyPath, StoreAccess::Read);
    if (key == nullptr) return;
    loadValues(key, kLeadingValues, std::size(kLeadingValues));
    for (int i = 0; i < kServerSlots; ++i) loadSlot(key, i);
    loadValues(key, kTrailingValues, std::size(kTrailingValues));
    closeUserKey(key);
}

void saveSettings() {
    std::lock_guard<std::mutex> guard(saveLock);
    if (wipedForGood) return;
    StoreKey* key = openUserKey(kSettingsKeyPath, StoreAccess::Write);
    if (key == nullptr) return;
    saveValues(key, kLeadingValues, std::size(kLeadingValues));
    for (int i = 0; i < kServerSlots; ++i) saveSlot(key, i);
    saveValues(key, kTrailingValues, std::size(kTrailingValues));
    closeUserKey(key);
}

void deleteSettingsKey() {
    std::lock_guard<std::mutex> guard(saveLock);
    deleteWholeKey();
}

void wipeSettingsForGood() {
    std::lock_guard<std::mutex> guard(saveLock);
    wipedForGood = true;
    deleteWholeKey();
}

}  // namespace tarvelon
