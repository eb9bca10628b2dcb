// Loading the settings from whatever the store holds: values present or missing, of any type and
// any size, under the known names and under others, or a damaged store file. Every loaded text is
// terminated, every field holds exactly what a well-formed value gave it (else its default), and
// what a save writes loads back unchanged.
//
// Input: mode (u8). Odd: the rest is the store file itself. Even: store operations until the input
// ends, each an op byte (low two bits 3 delete, else write; the next bits pick string, DWORD or a
// type from the input), a name (u16 choice: a known name, or a length byte and UTF-16 units), and
// for a write a size (u16, below 600) and the data.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "net/slot_table.h"
#include "platform/store.h"
#include "platform/text16.h"
#include "settings/settings.h"

using namespace tarvelon;

namespace {

constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;
constexpr uint32_t kMaxValueBytes = 600;       // past every read buffer
constexpr size_t kSettingTextReadBytes = 254;  // 126 characters and the terminator
constexpr size_t kSlotTextReadBytes = 2 * kSlotTextUnits;

struct StoredValue {
    uint32_t type;
    std::vector<uint8_t> data;
};
using StoreModel = std::map<std::u16string, StoredValue>;

struct NumberSetting {
    const char16_t* name;
    std::atomic<int32_t> Settings::*field;
    int32_t fallback;  // the default
};
const NumberSetting kNumbers[] = {
    {u"windowPosX", &Settings::windowPosX, kScreenWidth / 2},
    {u"windowPosY", &Settings::windowPosY, kScreenHeight / 2},
    {u"layout", &Settings::layout, 1},
    {u"fontsize", &Settings::fontsize, 12},
    {u"alwaysontop", &Settings::alwaysontop, 0},
    {u"networkServerEnabled", &Settings::networkServerEnabled, 0},
    {u"networkServerPort", &Settings::networkServerPort, 8221},
    {u"removeDeadServer", &Settings::removeDeadServer, 0},
    {u"removeDeactivatedServer", &Settings::removeDeactivatedServer, 0},
    {u"alarmGpuTempC", &Settings::alarmGpuTempC, 0},
    {u"alarmServerLost", &Settings::alarmServerLost, 0},
    {u"historyWindowX", &Settings::historyWindowX, 0},
    {u"historyWindowY", &Settings::historyWindowY, 0},
    {u"historyWindowWidth", &Settings::historyWindowWidth, 0},
    {u"historyWindowHeight", &Settings::historyWindowHeight, 0},
};
struct TextSetting {
    const char16_t* name;
    char16_t (Settings::*field)[kSettingTextUnits];
    const char16_t* fallback;
};
const TextSetting kTexts[] = {
    {u"networkServerHostname", &Settings::networkServerHostname, u"My Hostname"},
    {u"networkServerListen", &Settings::networkServerListen, u"*"},
    {u"historyLogDirectory", &Settings::historyLogDirectory, u""},
};
const char16_t* const kSlotSuffixes[] = {u"Active", u"Enabled", u"Hostname", u"Port", u"HighLatency"};

std::u16string slotName(int index, const char16_t* suffix) {
    std::u16string name = u"networkServerList_";
    name += static_cast<char16_t>(u'0' + index / 10);
    name += static_cast<char16_t>(u'0' + index % 10);
    return name + u"_" + suffix;
}

std::vector<std::u16string> knownNames() {
    std::vector<std::u16string> names;
    for (const NumberSetting& number : kNumbers) names.push_back(number.name);
    for (const TextSetting& text : kTexts) names.push_back(text.name);
    for (int i = 0; i < kServerSlots; ++i) {
        for (const char16_t* suffix : kSlotSuffixes) names.push_back(slotName(i, suffix));
    }
    return names;
}

std::string storeDir;
std::string keyFilePath;  // the one file the settings key lives in

void removeStoreDir() {
    if (DIR* dir = opendir(storeDir.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') unlink((storeDir + "/" + entry->d_name).c_str());
        }
        closedir(dir);
    }
    rmdir(storeDir.c_str());
}

// A fresh store directory under $TMPDIR, else on a memory file system when there is one: every input
// rewrites the key. A crash leaves it behind; scripts/fuzz points TMPDIR into its scratch directory.
void makeStoreDir() {
    const char* base = std::getenv("TMPDIR");
    if (base == nullptr || *base == 0) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/tarvelon-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    storeDir = pattern;
    setenv("TARVELON_STORE_DIR", storeDir.c_str(), 1);
    std::atexit(removeStoreDir);

    closeUserKey(openUserKey(kSettingsKeyPath, StoreAccess::Write));
    DIR* dir = opendir(storeDir.c_str());
    while (const dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        if (entry->d_name[0] != '.') keyFilePath = storeDir + "/" + entry->d_name;
    }
    if (dir != nullptr) closedir(dir);
    if (keyFilePath.empty()) {
        std::fprintf(stderr, "the store made no file in %s\n", storeDir.c_str());
        std::exit(1);
    }
}

std::u16string readName(FuzzInput& input, const std::vector<std::u16string>& known) {
    const uint16_t choice = input.u16() % 512;
    if (choice < known.size()) return known[choice];
    std::u16string name;
    const int length = input.u8() % 48;
    for (int i = 0; i < length; ++i) {
        const char16_t unit = input.u16();
        if (unit == 0) break;
        name += unit;
    }
    return name;
}

StoreModel writeStore(FuzzInput& input, const std::vector<std::u16string>& known) {
    StoreModel model;
    StoreKey* key = openUserKey(kSettingsKeyPath, StoreAccess::Write);
    FUZZ_CHECK(key != nullptr);
    while (input.left() > 0) {
        const uint8_t op = input.u8();
        const std::u16string name = readName(input, known);
        if ((op & 3) == 3) {
            FUZZ_CHECK(deleteStoreValue(key, name.c_str()));
            model.erase(name);
            continue;
        }
        const int typeChoice = (op >> 2) % 3;
        const uint32_t type = typeChoice == 0 ? 1 : typeChoice == 1 ? 4 : input.u32();
        std::vector<uint8_t> data(input.u16() % kMaxValueBytes);
        input.bytes(data.data(), data.size());
        if (writeStoreValue(key, name.c_str(), static_cast<StoreType>(type), data.data(),
                            static_cast<uint32_t>(data.size()))) {
            model[name] = {type, data};
        }
    }
    closeUserKey(key);
    return model;
}

void writeStoreFile(FuzzInput& input) {
    std::vector<uint8_t> text(input.left());
    input.bytes(text.data(), text.size());
    FILE* file = std::fopen(keyFilePath.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

// What the program holds after a load, texts up to their terminator.
struct SlotSnapshot {
    int32_t active, enabled, port, highLatency;
    std::u16string hostname;
    bool operator==(const SlotSnapshot& o) const {
        return active == o.active && enabled == o.enabled && port == o.port && highLatency == o.highLatency &&
               hostname == o.hostname;
    }
};
struct Snapshot {
    int32_t numbers[std::size(kNumbers)];
    std::u16string texts[std::size(kTexts)];
    SlotSnapshot slots[kServerSlots];
};

std::u16string fieldText(const char16_t (&field)[kSettingTextUnits]) {
    FUZZ_CHECK(field[kSettingTextUnits - 1] == 0);
    return std::u16string(field, text16Length(field, kSettingTextUnits));
}

Snapshot loadAndCheck() {
    clearSettings();
    clearSlotTable();
    setDefaultSettings(kScreenWidth, kScreenHeight);
    loadSettings();
    Snapshot snapshot;
    for (size_t i = 0; i < std::size(kNumbers); ++i)
        snapshot.numbers[i] = (settings.*kNumbers[i].field).load();
    for (size_t i = 0; i < std::size(kTexts); ++i) snapshot.texts[i] = fieldText(settings.*kTexts[i].field);
    for (int i = 0; i < kServerSlots; ++i) {
        const ServerSlot& slot = slotTable[i];
        snapshot.slots[i] = {slot.Active.load(), slot.Enabled.load(), slot.Port, slot.HighLatency.load(),
                             fieldText(slot.Hostname)};
        FUZZ_CHECK(slot.State.load() == 0 && slot.Status.load() == 0);
    }
    return snapshot;
}

// A DWORD field takes a stored REG_DWORD of four bytes and nothing else.
int32_t expectedNumber(const StoreModel& model, const std::u16string& name, int32_t fallback) {
    const auto found = model.find(name);
    if (found == model.end() || found->second.type != 4 || found->second.data.size() != 4) return fallback;
    const std::vector<uint8_t>& d = found->second.data;
    return static_cast<int32_t>(d[0] | d[1] << 8 | d[2] << 16 | static_cast<uint32_t>(d[3]) << 24);
}

// A text field takes a stored REG_SZ of at most readBytes, up to the first 0 unit, and keeps one
// character less than the read holds.
std::u16string expectedText(const StoreModel& model, const std::u16string& name, size_t readBytes,
                            const char16_t* fallback) {
    const auto found = model.find(name);
    if (found == model.end() || found->second.type != 1 || found->second.data.size() > readBytes)
        return fallback;
    const std::vector<uint8_t>& d = found->second.data;
    std::u16string text;
    for (size_t i = 0; i + 1 < d.size() && text.size() < readBytes / 2 - 1; i += 2) {
        const char16_t unit = static_cast<char16_t>(d[i] | d[i + 1] << 8);
        if (unit == 0) break;
        text += unit;
    }
    return text;
}

void checkAgainstModel(const Snapshot& loaded, const StoreModel& model) {
    for (size_t i = 0; i < std::size(kNumbers); ++i) {
        FUZZ_CHECK(loaded.numbers[i] == expectedNumber(model, kNumbers[i].name, kNumbers[i].fallback));
    }
    for (size_t i = 0; i < std::size(kTexts); ++i) {
        FUZZ_CHECK(loaded.texts[i] ==
                   expectedText(model, kTexts[i].name, kSettingTextReadBytes, kTexts[i].fallback));
    }
    for (int i = 0; i < kServerSlots; ++i) {
        SlotSnapshot expected{};
        // Without an Active value the slot is not read at all.
        if (model.count(slotName(i, u"Active")) != 0) {
            expected.active = expectedNumber(model, slotName(i, u"Active"), 0);
            expected.enabled = expectedNumber(model, slotName(i, u"Enabled"), 0);
            expected.hostname = expectedText(model, slotName(i, u"Hostname"), kSlotTextReadBytes, u"");
            expected.port = expectedNumber(model, slotName(i, u"Port"), 0);
            expected.highLatency = expectedNumber(model, slotName(i, u"HighLatency"), 0);
        }
        FUZZ_CHECK(loaded.slots[i] == expected);
    }
}

// Everything a save keeps: the settings, and the stored fields of the configured slots.
void checkReloaded(const Snapshot& loaded, const Snapshot& reloaded) {
    for (size_t i = 0; i < std::size(kNumbers); ++i) FUZZ_CHECK(reloaded.numbers[i] == loaded.numbers[i]);
    for (size_t i = 0; i < std::size(kTexts); ++i) FUZZ_CHECK(reloaded.texts[i] == loaded.texts[i]);
    for (int i = 0; i < kServerSlots; ++i) {
        if (loaded.slots[i].active != 0) {
            FUZZ_CHECK(reloaded.slots[i] == loaded.slots[i]);
        } else {
            FUZZ_CHECK(reloaded.slots[i] == SlotSnapshot{});
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    makeStoreDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<std::u16string> known = knownNames();
    FuzzInput input(data, size);
    deleteSettingsKey();
    const bool wholeFile = (input.u8() & 1) != 0;
    StoreModel model;
    if (wholeFile) {
        writeStoreFile(input);
    } else {
        model = writeStore(input, known);
    }

    const Snapshot loaded = loadAndCheck();
    if (!wholeFile) checkAgainstModel(loaded, model);
    saveSettings();
    checkReloaded(loaded, loadAndCheck());
    return 0;
}
