// Settings persistence, checked through the store itself. The same tests run natively (file store in
// a temporary directory) and under Wine against the real registry (tests/wine/registry_test.cpp).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "net/slot_table.h"
#include "platform/store.h"
#include "platform/text16.h"
#include "settings/settings.h"

namespace tarvelon {
namespace {

class SettingsStore : public testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32
        static const std::string directory = [] {
            char pattern[] = "/tmp/tarvelon-settings-XXXXXX";
            return std::string(mkdtemp(pattern));
        }();
        setenv("TARVELON_STORE_DIR", directory.c_str(), 1);
#endif
        deleteSettingsKey();
        clearSettings();
        clearSlotTable();
        setDefaultSettings(1920, 1080);
    }
    void TearDown() override { deleteSettingsKey(); }

    // The raw stored value: status, type and bytes.
    struct Raw {
        StoreStatus status;
        uint32_t type;
        std::string bytes;
    };
    static Raw raw(const char16_t* name) {
        Raw result{StoreStatus::Failed, 0, {}};
        StoreKey* key = openUserKey(kSettingsKeyPath, StoreAccess::Read);
        if (key == nullptr) return result;
        char buffer[1024];
        uint32_t size = sizeof buffer;
        result.status = readStoreValue(key, name, buffer, &size, &result.type);
        if (result.status == StoreStatus::Ok) result.bytes.assign(buffer, size);
        closeUserKey(key);
        return result;
    }
    static void put(const char16_t* name, StoreType type, const void* data, uint32_t size) {
        StoreKey* key = openUserKey(kSettingsKeyPath, StoreAccess::Write);
        ASSERT_NE(key, nullptr);
        writeStoreValue(key, name, type, data, size);
        closeUserKey(key);
    }
    static void putDword(const char16_t* name, int32_t value) { put(name, StoreType::Dword, &value, 4); }
    static void putText(const char16_t* name, const std::u16string& text) {
        put(name, StoreType::String, text.c_str(), static_cast<uint32_t>(2 * (text.size() + 1)));
    }
    static void addServer(int index, const char16_t* host, int32_t port) {
        ServerSlot& slot = slotTable[index];
        copyText16(slot.Hostname, kSlotTextUnits, host);
        slot.Port = port;
        slot.Enabled = 1;
        slot.Active = 1;
    }
    static std::string hostname() {
        char16_t text[kSettingTextUnits];
        readSettingText(settings.networkServerHostname, text);
        return toUtf8(text);
    }
};

TEST_F(SettingsStore, DefaultsAreAFirstStart) {
    loadSettings();  // no key yet: the defaults stand
    EXPECT_EQ(settings.windowPosX, 960);
    EXPECT_EQ(settings.windowPosY, 540);
    EXPECT_EQ(settings.layout, 1);
    EXPECT_EQ(settings.fontsize, 12);
    EXPECT_EQ(settings.alwaysontop, 0);
    EXPECT_EQ(settings.networkServerEnabled, 0);
    EXPECT_EQ(hostname(), "My Hostname");
    EXPECT_EQ(settings.networkServerPort, 8221);
    EXPECT_EQ(toUtf8(settings.networkServerListen), "*");
    EXPECT_EQ(settings.removeDeadServer, 0);
    EXPECT_EQ(settings.removeDeactivatedServer, 0);
    EXPECT_EQ(settings.alarmGpuTempC, 0);
    EXPECT_EQ(settings.alarmServerLost, 0);
    for (const ServerSlot& slot : slotTable) EXPECT_EQ(slot.Active, 0);
    clearSettings();
    setDefaultSettings(1023, 767);  // odd sizes truncate
    EXPECT_EQ(settings.windowPosX, 511);
    EXPECT_EQ(settings.windowPosY, 383);
}

TEST_F(SettingsStore, SaveThenLoadGivesBackEveryField) {
    settings.windowPosX = -1200;
    settings.windowPosY = 77;
    settings.layout = 2;
    settings.fontsize = 20;
    settings.alwaysontop = 1;
    settings.networkServerEnabled = 1;
    writeSettingText(settings.networkServerHostname, u"render-01");
    settings.networkServerPort = 29831;
    writeSettingText(settings.networkServerListen, u"10.0.0.1;::1");
    settings.removeDeadServer = 1;
    settings.removeDeactivatedServer = 1;
    settings.alarmGpuTempC = 85;
    settings.alarmServerLost = 1;
    writeSettingText(settings.networkServerAllow, u"10.0.0.0/8, fd00::/8");
    writeSettingText(settings.historyLogDirectory, u"D:\\logs\\tarvelon");
    settings.historyWindowX = -900;
    settings.historyWindowY = 40;
    settings.historyWindowWidth = 640;
    settings.historyWindowHeight = 720;
    addServer(0, u"gpu-box", 8221);
    addServer(5, u"fe80::1", 9000);
    slotTable[5].Enabled = 0;
    slotTable[5].HighLatency = 1;
    saveSettings();

    clearSettings();
    clearSlotTable();
    setDefaultSettings(800, 600);
    loadSettings();
    EXPECT_EQ(settings.windowPosX, -1200);
    EXPECT_EQ(settings.windowPosY, 77);
    EXPECT_EQ(settings.layout, 2);
    EXPECT_EQ(settings.fontsize, 20);
    EXPECT_EQ(settings.alwaysontop, 1);
    EXPECT_EQ(settings.networkServerEnabled, 1);
    EXPECT_EQ(hostname(), "render-01");
    EXPECT_EQ(settings.networkServerPort, 29831);
    EXPECT_EQ(toUtf8(settings.networkServerListen), "10.0.0.1;::1");
    EXPECT_EQ(settings.removeDeadServer, 1);
    EXPECT_EQ(settings.removeDeactivatedServer, 1);
    EXPECT_EQ(settings.alarmGpuTempC, 85);
    EXPECT_EQ(settings.alarmServerLost, 1);
    EXPECT_EQ(toUtf8(settings.networkServerAllow), "10.0.0.0/8, fd00::/8");
    EXPECT_EQ(toUtf8(settings.historyLogDirectory), "D:\\logs\\tarvelon");
    EXPECT_EQ(settings.historyWindowX, -900);
    EXPECT_EQ(settings.historyWindowY, 40);
    EXPECT_EQ(settings.historyWindowWidth, 640);
    EXPECT_EQ(settings.historyWindowHeight, 720);
    EXPECT_EQ(slotTable[0].Active, 1);
    EXPECT_EQ(slotTable[0].Enabled, 1);
    EXPECT_EQ(toUtf8(slotTable[0].Hostname), "gpu-box");
    EXPECT_EQ(slotTable[0].Port, 8221);
    EXPECT_EQ(slotTable[0].HighLatency, 0);
    EXPECT_EQ(slotTable[5].Active, 1);
    EXPECT_EQ(slotTable[5].Enabled, 0);
    EXPECT_EQ(toUtf8(slotTable[5].Hostname), "fe80::1");
    EXPECT_EQ(slotTable[5].Port, 9000);
    EXPECT_EQ(slotTable[5].HighLatency, 1);
    for (int i : {1, 2, 3, 4, 6, 63}) EXPECT_EQ(slotTable[i].Active, 0) << i;
}

TEST_F(SettingsStore, StoredNamesTypesAndSizesAreTheContract) {
    addServer(0, u"gpu-box", 8221);
    addServer(5, u"render", 8222);
    saveSettings();

    const Raw x = raw(u"windowPosX");
    EXPECT_EQ(x.status, StoreStatus::Ok);
    EXPECT_EQ(x.type, 4u);
    EXPECT_EQ(x.bytes, std::string("\xC0\x03\0\0", 4));  // 960, little-endian
    const Raw host = raw(u"networkServerHostname");
    EXPECT_EQ(host.type, 1u);
    EXPECT_EQ(host.bytes.size(), (11u + 1u) * 2u);
    EXPECT_EQ(raw(u"networkServerListen").bytes, std::string("*\0\0\0", 4));
    EXPECT_EQ(raw(u"networkServerAllow").type, 1u);
    EXPECT_EQ(raw(u"networkServerAllow").bytes, std::string("\0\0", 2));
    EXPECT_EQ(raw(u"historyLogDirectory").type, 1u);
    EXPECT_EQ(raw(u"historyLogDirectory").bytes, std::string("\0\0", 2));  // empty: no log
    EXPECT_EQ(raw(u"networkServerList_05_Hostname").type, 1u);
    EXPECT_EQ(raw(u"networkServerList_05_Hostname").bytes.size(), (6u + 1u) * 2u);
    for (const char16_t* name : {u"networkServerList_00_Active", u"networkServerList_00_Enabled",
                                 u"networkServerList_00_Port", u"networkServerList_00_HighLatency",
                                 u"removeDeadServer", u"removeDeactivatedServer", u"fontsize",
                                 u"alarmGpuTempC", u"alarmServerLost", u"historyWindowX", u"historyWindowY",
                                 u"historyWindowWidth", u"historyWindowHeight"}) {
        EXPECT_EQ(raw(name).type, 4u) << toUtf8(name);
        EXPECT_EQ(raw(name).bytes.size(), 4u) << toUtf8(name);
    }
    for (const char16_t* name : {u"networkServerList_01_Active", u"networkServerList_04_Hostname",
                                 u"networkServerList_06_Port", u"networkServerList_63_Enabled"}) {
        EXPECT_EQ(raw(name).status, StoreStatus::NotFound) << toUtf8(name);
    }
}

TEST_F(SettingsStore, AFreedSlotLosesItsValuesAtTheNextSave) {
    addServer(3, u"old-box", 8221);
    saveSettings();
    EXPECT_EQ(raw(u"networkServerList_03_Hostname").status, StoreStatus::Ok);
    slotTable[3].Active = 0;
    saveSettings();
    for (const char16_t* name : {u"networkServerList_03_Active", u"networkServerList_03_Enabled",
                                 u"networkServerList_03_Hostname", u"networkServerList_03_Port",
                                 u"networkServerList_03_HighLatency"}) {
        EXPECT_EQ(raw(name).status, StoreStatus::NotFound) << toUtf8(name);
    }
}

TEST_F(SettingsStore, ActiveDecidesWhetherASlotIsRead) {
    // No "Active": the other values are ignored.
    putDword(u"networkServerList_02_Enabled", 1);
    putText(u"networkServerList_02_Hostname", u"ghost");
    putDword(u"networkServerList_02_Port", 8221);
    // "Active" 0: the rest is read but the slot stays free.
    putDword(u"networkServerList_07_Active", 0);
    putDword(u"networkServerList_07_Enabled", 1);
    putText(u"networkServerList_07_Hostname", u"parked");
    putDword(u"networkServerList_07_Port", 9100);
    loadSettings();
    EXPECT_EQ(slotTable[2].Active, 0);
    EXPECT_EQ(slotTable[2].Hostname[0], 0);
    EXPECT_EQ(slotTable[2].Port, 0);
    EXPECT_EQ(slotTable[7].Active, 0);
    EXPECT_EQ(slotTable[7].Enabled, 1);
    EXPECT_EQ(toUtf8(slotTable[7].Hostname), "parked");
    EXPECT_EQ(slotTable[7].Port, 9100);
}

TEST_F(SettingsStore, LongServerNamesSurviveARestart) {
    for (size_t length : {38u, 39u, 60u, 127u}) {
        const std::u16string name(length, u'n');
        clearSlotTable();
        addServer(1, name.c_str(), 8221);
        saveSettings();
        clearSlotTable();
        loadSettings();
        EXPECT_EQ(slotTable[1].Hostname, name) << length;
    }
}

TEST_F(SettingsStore, OversizeTextsKeepThePreviousContentAndStayTerminated) {
    putText(u"networkServerHostname", std::u16string(200, u'h'));
    putText(u"networkServerList_04_Hostname", std::u16string(128, u's'));
    putDword(u"networkServerList_04_Active", 1);
    putText(u"networkServerListen", std::u16string(127, u'l'));  // 127 characters + terminator: too long
    loadSettings();
    EXPECT_EQ(hostname(), "My Hostname");
    EXPECT_EQ(toUtf8(settings.networkServerListen), "*");
    EXPECT_EQ(slotTable[4].Active, 1);
    EXPECT_EQ(slotTable[4].Hostname[0], 0);

    putText(u"networkServerHostname", std::u16string(126, u'h'));  // the longest that fits
    loadSettings();
    EXPECT_EQ(hostname(), std::string(126, 'h'));
}

// A 254-byte text without its terminator loads, and what it leaves must survive a save and a load.
TEST_F(SettingsStore, LongestLoadableTextsSurviveASaveAndALoad) {
    // The unit after the 254 bytes is not 0: the registry would count a 0 there in.
    const std::u16string unterminated(128, u'h');
    put(u"networkServerHostname", StoreType::String, unterminated.data(), 254);
    loadSettings();
    EXPECT_EQ(hostname(), std::string(126, 'h'));
    saveSettings();
    setDefaultSettings(1920, 1080);
    loadSettings();
    EXPECT_EQ(hostname(), std::string(126, 'h'));

    writeSettingText(settings.networkServerListen, std::u16string(140, u'l').c_str(), 200);
    EXPECT_EQ(toUtf8(settings.networkServerListen), std::string(126, 'l'));
    saveSettings();
    setDefaultSettings(1920, 1080);
    loadSettings();
    EXPECT_EQ(toUtf8(settings.networkServerListen), std::string(126, 'l'));
}

TEST_F(SettingsStore, WronglyTypedOrSizedValuesKeepTheirFields) {
    putText(u"fontsize", u"20");
    const uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    put(u"windowPosX", StoreType::Dword, eight, 8);
    put(u"windowPosY", StoreType::Dword, eight, 2);
    putDword(u"networkServerHostname", 7);
    putDword(u"networkServerList_09_Active", 1);
    putText(u"networkServerList_09_Port", u"8221");
    loadSettings();
    EXPECT_EQ(settings.fontsize, 12);
    EXPECT_EQ(settings.windowPosX, 960);
    EXPECT_EQ(settings.windowPosY, 540);
    EXPECT_EQ(hostname(), "My Hostname");
    EXPECT_EQ(slotTable[9].Active, 1);
    EXPECT_EQ(slotTable[9].Port, 0);
}

TEST_F(SettingsStore, ExtremeNumbersAreLoadedAsStored) {
    putDword(u"fontsize", -5);
    putDword(u"networkServerPort", 0x7FFFFFFF);
    putDword(u"layout", 9);
    loadSettings();
    EXPECT_EQ(settings.fontsize, -5);
    EXPECT_EQ(settings.networkServerPort, 0x7FFFFFFF);
    EXPECT_EQ(settings.layout, 9);
}

TEST_F(SettingsStore, AfterTheCleanupNoSaveWritesTheKeyAgain) {
    // In a process of its own: the wipe lasts as long as the process.
    EXPECT_EXIT(
        {
            saveSettings();
            wipeSettingsForGood();
            addServer(0, u"late-remove", 8221);
            saveSettings();
            std::_Exit(openUserKey(kSettingsKeyPath, StoreAccess::Read) == nullptr ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(SettingsStore, CleanupDeletesTheKeySoTheNextStartIsAFirstStart) {
    settings.fontsize = 30;
    addServer(0, u"gpu-box", 8221);
    saveSettings();
    deleteSettingsKey();
    EXPECT_EQ(openUserKey(kSettingsKeyPath, StoreAccess::Read), nullptr);
    clearSettings();
    clearSlotTable();
    setDefaultSettings(1920, 1080);
    loadSettings();
    EXPECT_EQ(settings.fontsize, 12);
    EXPECT_EQ(slotTable[0].Active, 0);
}

}  // namespace
}  // namespace tarvelon
