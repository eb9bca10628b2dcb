// The Network Setup dialog's rules, without the dialog: the server switch, list lines and width,
// control states, add/remove/move and the handshakes with a simulated client manager.
#include "panel/network_setup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "net/query_client.h"
#include "net/query_server.h"
#include "net/slot_table.h"
#include "panel/about.h"
#include "platform/clock.h"
#include "platform/store.h"
#include "platform/text16.h"
#include "settings/settings.h"

namespace tarvelon {
namespace {

// Answers the dialog's requests the way the client manager does, each kind only when told to.
class SimulatedManager {
  public:
    struct Answers {
        bool remove = true;
        bool stopAll = true;
        bool restart = true;
    };
    explicit SimulatedManager(Answers answers) : answers_(answers), thread_([this] { run(); }) {}
    ~SimulatedManager() {
        running_.store(false);
        thread_.join();
    }
    int restarts() const { return restarts_.load(); }

  private:
    void run() {
        while (running_.load()) {
            const int32_t command = slotTableCommand.load();
            if (command == kCommandStopAll && answers_.stopAll) slotTableCommand.store(kCommandStopped);
            if (command == kCommandRestart && answers_.restart) {
                restarts_.fetch_add(1);
                slotTableCommand.store(kCommandNone);
            }
            if (command == kCommandNone) {
                for (ServerSlot& slot : slotTable) {
                    if (slot.State.load() != kStateRemoveRequest || !answers_.remove) continue;
                    slot.Active.store(0);
                    slot.Enabled.store(0);
                    slot.Status.store(kStatusUnresolvable);
                    slot.State.store(kStateRemoved);
                }
            }
            sleepMs(1);
        }
    }
    Answers answers_;
    std::atomic<bool> running_{true};
    std::atomic<int> restarts_{0};
    std::thread thread_;
};

class NetworkSetup : public testing::Test {
  protected:
    void SetUp() override {
        static const std::string directory = [] {
            char pattern[] = "/tmp/tarvelon-network-setup-XXXXXX";
            return std::string(mkdtemp(pattern));
        }();
        setenv("TARVELON_STORE_DIR", directory.c_str(), 1);
        deleteSettingsKey();
        clearSettings();
        clearSlotTable();
        setDefaultSettings(1920, 1080);
    }
    void TearDown() override { deleteSettingsKey(); }

    static void configure(int slot, const char16_t* host, int32_t port) {
        ServerSlot& entry = slotTable[slot];
        copyText16(entry.Hostname, kSlotTextUnits, host);
        entry.Port = port;
        entry.Enabled = 1;
        entry.Active = 1;
        entry.State = kStateStarted;
    }
    static std::string line(int slot, int64_t now) {
        char16_t text[kServerLineUnits];
        formatServerLine(text, slot, now);
        return toUtf8(text);
    }
    static std::string text(const char16_t* t) { return t == nullptr ? "" : toUtf8(t); }
    // What the next start would load.
    static void restart() {
        clearSlotTable();
        clearSettings();
        loadSettings();
    }
};

TEST_F(NetworkSetup, ServerSwitchOnAcceptsOnlyPortsFrom1024To65535) {
    const struct {
        const char16_t* portText;
        bool refused;
        int32_t port;
    } cases[] = {
        {u"8221", false, 8221},  {u"8221abc", false, 8221}, {u"  9000", false, 9000},
        {u"1024", false, 1024},  {u"65535", false, 65535},  {u"1023", true, 1023},
        {u"65536", true, 65536}, {u"abc", true, 0},         {u"-8221", true, -8221},
    };
    for (const auto& c : cases) {
        settings.networkServerEnabled = 0;
        settings.networkServerPort = 7;
        const ServerSwitchOutcome outcome = switchServer(true, u"box", c.portText, u"*");
        EXPECT_EQ(outcome.refused, c.refused) << "case " << (&c - cases);
        EXPECT_EQ(outcome.port, c.port) << "case " << (&c - cases);
        if (c.refused) {
            EXPECT_EQ(text(outcome.message.caption), "Server Port Error");
            EXPECT_EQ(text(outcome.message.text), "The server port must between 1024 and 65535");
            EXPECT_EQ(settings.networkServerEnabled, 0);
            EXPECT_EQ(settings.networkServerPort, 7);
        } else {
            EXPECT_EQ(outcome.message.caption, nullptr);
            EXPECT_EQ(settings.networkServerEnabled, 1);
            EXPECT_EQ(settings.networkServerPort, c.port);
        }
    }
}

TEST_F(NetworkSetup, AcceptedSwitchStoresTheFieldsAndSaves) {
    const std::u16string longName(200, u'n');
    ASSERT_FALSE(switchServer(true, longName.c_str(), u"9000", u"10.0.0.1;::1").refused);
    restart();
    char16_t stored[kSettingTextUnits];
    readSettingText(settings.networkServerHostname, stored);
    EXPECT_EQ(toUtf8(stored), std::string(125, 'n'));
    readSettingText(settings.networkServerListen, stored);
    EXPECT_EQ(toUtf8(stored), "10.0.0.1;::1");
    EXPECT_EQ(settings.networkServerPort, 9000);
    EXPECT_EQ(settings.networkServerEnabled, 1);

    // Switching off stores whatever the port field says, unchecked.
    const ServerSwitchOutcome off = switchServer(false, u"box", u"abc", u"*");
    EXPECT_FALSE(off.refused);
    restart();
    EXPECT_EQ(settings.networkServerEnabled, 0);
    EXPECT_EQ(settings.networkServerPort, 0);
}

TEST_F(NetworkSetup, AnAllowListIsStoredOnlyWhenEveryEntryReads) {
    // The list is put in force for the live server too: everyone may ask again afterwards, so the
    // server tests that follow in the same process are answered.
    struct EveryoneAfter {
        ~EveryoneAfter() { setServerAllowList(AllowList{}); }
    } everyoneAfter;
    EXPECT_EQ(storeServerAllowList(u"10.0.0.0/8, fd00::/8").caption, nullptr);
    const DialogMessage refused = storeServerAllowList(u"10.0.0.0/8, 10.0.0.300 , ::1");
    ASSERT_NE(refused.caption, nullptr);
    EXPECT_EQ(toUtf8(refused.caption), "Allow List Error");
    EXPECT_EQ(toUtf8(refused.text).rfind("\"10.0.0.300\" is not an address or a network", 0), 0u);
    restart();
    char16_t stored[kSettingTextUnits];
    readSettingText(settings.networkServerAllow, stored);
    EXPECT_EQ(toUtf8(stored), "10.0.0.0/8, fd00::/8");
}

TEST_F(NetworkSetup, ListLinesShowIndexHostPortStatusAgeAndLatency) {
    configure(3, u"gpu-box", 8221);
    slotTable[3].Status = kStatusOk;
    slotTable[3].LastQueryTime = 1000;
    slotTable[3].LatencyMs = 12;
    EXPECT_EQ(line(3, 1000), "#03 gpu-box @ 8221 > OK [0|12]");

    configure(42, u"::1", 65535);
    slotTable[42].Status = kStatusNoResponse;
    slotTable[42].Enabled = 0;  // deactivated wins over any status
    slotTable[42].LastQueryTime = 1000 - 10000;
    slotTable[42].LatencyMs = 0xFFFFFFFFu;
    EXPECT_EQ(line(42, 1000), "#42 ::1 @ 65535 > deactivated [10000|-1]");

    slotTable[42].Enabled = 1;
    slotTable[42].Status = 99;
    slotTable[42].LastQueryTime = 5000;  // clock set back
    EXPECT_EQ(line(42, 1000), "#42 ::1 @ 65535 > Unknown Status [0|-1]");
}

TEST_F(NetworkSetup, ListHoldsActiveSlotsInSlotOrderAndIsWideEnoughForTheLongestLine) {
    ServerList list;
    buildServerList(list, 0);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.horizontalExtent, 2);

    configure(9, u"b", 8221);
    configure(2, u"a-much-longer-name", 8221);
    configure(5, u"c", 8221);
    slotTable[5].Active = 0;
    buildServerList(list, 0);
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(list.lines[0].slot, 2);
    EXPECT_EQ(list.lines[1].slot, 9);
    const std::string longest = toUtf8(list.lines[0].text);
    EXPECT_EQ(longest, "#02 a-much-longer-name @ 8221 > Unknown [0|0]");
    EXPECT_EQ(list.horizontalExtent, 272);  // 45 characters
}

TEST_F(NetworkSetup, SelectionDecidesWhichEntryButtonsWork) {
    const struct {
        bool serverOn;
        int32_t lines, selected;
        NetworkControlStates states;
    } cases[] = {
        {false, 0, -1, {true, false, false, false}}, {true, 5, -1, {false, false, false, false}},
        {false, 1, 0, {true, true, false, false}},  // single line: no moves
        {false, 5, 0, {true, true, false, true}},   // first line
        {false, 5, 4, {true, true, true, false}},   // last line
        {false, 5, 2, {true, true, true, true}},     {true, 2, 1, {false, true, true, false}},
        {false, 3, 7, {true, false, false, false}},  // stale selection beyond the list
    };
    for (const auto& c : cases) {
        const NetworkControlStates s = networkControlStates(c.serverOn, c.lines, c.selected);
        EXPECT_EQ(s.serverFieldsEnabled, c.states.serverFieldsEnabled) << "case " << (&c - cases);
        EXPECT_EQ(s.entryControlsEnabled, c.states.entryControlsEnabled) << "case " << (&c - cases);
        EXPECT_EQ(s.moveUpEnabled, c.states.moveUpEnabled) << "case " << (&c - cases);
        EXPECT_EQ(s.moveDownEnabled, c.states.moveDownEnabled) << "case " << (&c - cases);
    }
    EXPECT_TRUE(isSlotIndex(0));
    EXPECT_TRUE(isSlotIndex(63));
    EXPECT_FALSE(isSlotIndex(64));
    EXPECT_FALSE(isSlotIndex(-1));  // LB_ERR
}

TEST_F(NetworkSetup, AddRefusesMissingDataBadPortsAndAFullTable) {
    const struct {
        const char16_t *address, *port, *caption, *text;
    } refusals[] = {
        {u"", u"8221", u"Data Missing", u"Address or Port is empty, this is not allow :-)"},
        {u"gpu-box", u"", u"Data Missing", u"Address or Port is empty, this is not allow :-)"},
        {u"gpu-box", u"0x2000", u"Port Failure", u"The port number must be between 1024 and 65535"},
        {u"gpu-box", u"1023", u"Port Failure", u"The port number must be between 1024 and 65535"},
        {u"gpu-box", u"65536", u"Port Failure", u"The port number must be between 1024 and 65535"},
        {u"gpu-box", u" ", u"Port Failure", u"The port number must be between 1024 and 65535"},
    };
    for (const auto& r : refusals) {
        const AddOutcome outcome = addServerEntry(r.address, r.port);
        EXPECT_EQ(outcome.slot, -1);
        EXPECT_EQ(text(outcome.message.caption), text(r.caption));
        EXPECT_EQ(text(outcome.message.text), text(r.text));
    }
    for (const ServerSlot& slot : slotTable) EXPECT_EQ(slot.Active, 0);

    for (int i = 0; i < kServerSlots; ++i) ASSERT_EQ(addServerEntry(u"box", u"8221").slot, i);
    const AddOutcome full = addServerEntry(u"box", u"8221");
    EXPECT_EQ(full.slot, -1);
    EXPECT_EQ(text(full.message.caption), "No more space");
    EXPECT_EQ(text(full.message.text), "There is no more server slots free");
    ServerList list;
    buildServerList(list, 0);
    EXPECT_EQ(list.count, 64);
}

TEST_F(NetworkSetup, AddFillsTheLowestFreeSlotAsAFreshStartedEntry) {
    for (int i = 0; i < 10; ++i) configure(i, u"old", 9000);
    ServerSlot& reused = slotTable[3];
    reused.Active = 0;
    reused.Enabled = 0;
    reused.State = kStateRemoved;
    reused.HighLatency = 1;
    reused.LatencyMs = 950;
    reused.LastQueryTime = 77;
    updateSlotRecords(reused, [](HostRecord& host, GpuRecord(&gpus)[kGpuSlots]) {
        host.cpuCount = 16;
        host.hostName[0] = u'x';
        gpus[0].present = 1;
    });

    const std::u16string longName(150, u'h');
    const AddOutcome outcome = addServerEntry(longName.c_str(), u"8221abc");
    ASSERT_EQ(outcome.slot, 3);
    EXPECT_EQ(outcome.message.caption, nullptr);
    EXPECT_EQ(reused.State, kStateStartEnabled);
    EXPECT_EQ(reused.Active, 1);
    EXPECT_EQ(reused.Enabled, 1);
    EXPECT_EQ(reused.Port, 8221);
    EXPECT_EQ(toUtf8(reused.Hostname), std::string(127, 'h'));
    EXPECT_EQ(reused.HighLatency, 0);
    EXPECT_EQ(reused.LatencyMs, 0u);
    const SlotRecords records = readSlotRecords(reused);
    EXPECT_EQ(records.host.cpuCount, 0);
    EXPECT_EQ(records.host.hostName[0], 0);
    EXPECT_EQ(records.gpus[0].present, 0);

    ServerList list;
    buildServerList(list, 0);
    ASSERT_EQ(list.count, 10);
    EXPECT_EQ(list.lines[3].slot, 3);
    EXPECT_EQ(toUtf8(list.lines[3].text).substr(0, 4), "#03 ");

    restart();
    EXPECT_EQ(slotTable[3].Active, 1);
    EXPECT_EQ(slotTable[3].Port, 8221);
}

TEST_F(NetworkSetup, EntrySwitchesAndDisplayFiltersAreStoredAndSaved) {
    configure(4, u"box", 8221);
    EXPECT_TRUE(setEntryDeactivated(4, true));
    EXPECT_TRUE(setEntryHighLatency(4, true));
    setRemoveDeadServer(true);
    setRemoveDeactivatedServer(true);
    EXPECT_FALSE(setEntryDeactivated(64, true));
    EXPECT_FALSE(setEntryHighLatency(-1, true));
    restart();
    EXPECT_EQ(slotTable[4].Enabled, 0);
    EXPECT_EQ(slotTable[4].HighLatency, 1);
    EXPECT_EQ(settings.removeDeadServer, 1);
    EXPECT_EQ(settings.removeDeactivatedServer, 1);

    EXPECT_TRUE(setEntryDeactivated(4, false));
    EXPECT_TRUE(setEntryHighLatency(4, false));
    setRemoveDeadServer(false);
    setRemoveDeactivatedServer(false);
    restart();
    EXPECT_EQ(slotTable[4].Enabled, 1);
    EXPECT_EQ(slotTable[4].HighLatency, 0);
    EXPECT_EQ(settings.removeDeadServer, 0);
    EXPECT_EQ(settings.removeDeactivatedServer, 0);
}

TEST_F(NetworkSetup, RemoveWaitsForTheManagerThenSaves) {
    configure(0, u"a", 8221);
    configure(1, u"b", 8221);
    saveSettings();
    {
        SimulatedManager manager({});
        EXPECT_EQ(removeServerEntry(1, 60000).caption, nullptr);
    }
    EXPECT_EQ(slotTable[1].State, kStateRemoved);
    EXPECT_EQ(slotTable[1].Active, 0);
    restart();
    EXPECT_EQ(slotTable[0].Active, 1);
    EXPECT_EQ(slotTable[1].Active, 0);
}

TEST_F(NetworkSetup, UnansweredRemoveIsReportedAndLeftForTheManager) {
    configure(1, u"b", 8221);
    const DialogMessage message = removeServerEntry(1, 100);
    EXPECT_EQ(text(message.caption), "Client Manager Busy");
    EXPECT_NE(message.text, nullptr);
    EXPECT_EQ(slotTable[1].State, kStateRemoveRequest);
    EXPECT_EQ(slotTable[1].Active, 1);

    // The request is still there when the manager comes back.
    SimulatedManager manager({});
    for (int i = 0; i < 6000 && slotTable[1].State.load() != kStateRemoved; ++i) sleepMs(10);
    EXPECT_EQ(slotTable[1].Active, 0);
}

TEST_F(NetworkSetup, MovePartnerIsTheNeighbouringLine) {
    const struct {
        int32_t lines, selected;
        MoveDirection direction;
        int32_t partner;
    } cases[] = {
        {5, 2, MoveDirection::Up, 1},    {5, 2, MoveDirection::Down, 3}, {5, 0, MoveDirection::Up, -1},
        {5, 4, MoveDirection::Down, -1}, {1, 0, MoveDirection::Up, -1},  {1, 0, MoveDirection::Down, -1},
        {5, -1, MoveDirection::Up, -1},  {5, 5, MoveDirection::Up, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(movePartnerLine(c.lines, c.selected, c.direction), c.partner) << "case " << (&c - cases);
    }
}

TEST_F(NetworkSetup, MovingUpAcrossAGapExchangesWithTheSlotAboveAndKeepsTheGap) {
    configure(0, u"first", 8221);
    configure(2, u"second", 9000);
    slotTable[2].Status = kStatusOk;
    ServerList list;
    buildServerList(list, 0);
    ASSERT_EQ(list.count, 2);
    const int32_t partner = movePartnerLine(list.count, 1, MoveDirection::Up);
    ASSERT_EQ(partner, 0);

    SimulatedManager manager({});
    EXPECT_EQ(moveServerEntries(list.lines[1].slot, list.lines[partner].slot, 60000).caption, nullptr);
    EXPECT_EQ(slotTableCommand, kCommandNone);
    EXPECT_EQ(manager.restarts(), 1);
    EXPECT_EQ(toUtf8(slotTable[0].Hostname), "second");
    EXPECT_EQ(slotTable[0].Status, kStatusOk);  // run-time state travels with the entry
    EXPECT_EQ(toUtf8(slotTable[2].Hostname), "first");
    EXPECT_EQ(slotTable[1].Active, 0);
    EXPECT_EQ(readSlotRecords(slotTable[0]).host.changed, 1);
    EXPECT_EQ(readSlotRecords(slotTable[2]).host.changed, 1);

    restart();
    EXPECT_EQ(toUtf8(slotTable[0].Hostname), "second");
    EXPECT_EQ(slotTable[0].Port, 9000);
    EXPECT_EQ(slotTable[1].Active, 0);
    EXPECT_EQ(toUtf8(slotTable[2].Hostname), "first");
}

TEST_F(NetworkSetup, UnansweredStopAllIsWithdrawnAndNothingMoves) {
    configure(0, u"first", 8221);
    configure(1, u"second", 8221);
    const DialogMessage message = moveServerEntries(0, 1, 100);
    EXPECT_EQ(text(message.caption), "Client Manager Busy");
    EXPECT_EQ(slotTableCommand, kCommandNone);
    EXPECT_EQ(toUtf8(slotTable[0].Hostname), "first");
    EXPECT_EQ(readSlotRecords(slotTable[0]).host.changed, 0);
}

TEST_F(NetworkSetup, UnansweredRestartKeepsTheExchangeAndLeavesTheRequest) {
    configure(0, u"first", 8221);
    configure(1, u"second", 8221);
    SimulatedManager::Answers answers;
    answers.restart = false;
    SimulatedManager manager(answers);
    const DialogMessage message = moveServerEntries(0, 1, 100);
    EXPECT_EQ(text(message.caption), "Client Manager Busy");
    EXPECT_EQ(slotTableCommand, kCommandRestart);
    EXPECT_EQ(toUtf8(slotTable[0].Hostname), "second");
    restart();
    EXPECT_EQ(toUtf8(slotTable[0].Hostname), "second");
}

TEST_F(NetworkSetup, ALateStopAllAnswerGetsTheRestartRequest) {
    for (int32_t command : {kCommandNone, kCommandStopAll, kCommandRestart}) {
        slotTableCommand = command;
        answerLateStopAll();
        EXPECT_EQ(slotTableCommand, command);
    }
    slotTableCommand = kCommandStopped;
    answerLateStopAll();
    EXPECT_EQ(slotTableCommand, kCommandRestart);
}

TEST_F(NetworkSetup, MoveIgnoresSlotsThatAreNotSlotIndexes) {
    for (auto pair : {std::pair<int32_t, int32_t>{-1, 0}, {0, 64}, {3, 3}}) {
        EXPECT_EQ(moveServerEntries(pair.first, pair.second, 100).caption, nullptr);
        EXPECT_EQ(slotTableCommand, kCommandNone);
    }
    EXPECT_EQ(removeServerEntry(64, 100).caption, nullptr);
}

TEST_F(NetworkSetup, AddMoveAndRemoveAgreeWithTheRealClientManager) {
    startQueryClient();
    ASSERT_EQ(addServerEntry(u"127.0.0.1", u"1999").slot, 0);
    ASSERT_EQ(addServerEntry(u"::1", u"2999").slot, 1);
    for (int i = 0; i < 6000 && slotTable[1].State.load() != kStateStarted; ++i) sleepMs(10);
    ASSERT_EQ(slotTable[1].State, kStateStarted);

    EXPECT_EQ(moveServerEntries(0, 1, 60000).caption, nullptr);
    EXPECT_EQ(toUtf8(slotTable[0].Hostname), "::1");
    EXPECT_EQ(slotTableCommand, kCommandNone);

    EXPECT_EQ(removeServerEntry(1, 60000).caption, nullptr);
    EXPECT_EQ(slotTable[1].State, kStateRemoved);
    EXPECT_EQ(slotTable[1].Active, 0);
    EXPECT_EQ(slotTable[0].Active, 1);
    // Removing the last entry also stops the last poll thread, so the table may be reloaded.
    EXPECT_EQ(removeServerEntry(0, 60000).caption, nullptr);
    restart();
    for (const ServerSlot& slot : slotTable) EXPECT_EQ(slot.Active, 0);
}

std::u16string openedAddresses;
int openSuccessAt = 0;  // 1-based call that succeeds, 0 for none

bool fakeOpen(const char16_t* address) {
    openedAddresses += address;
    openedAddresses += u'|';
    return static_cast<int>(std::count(openedAddresses.begin(), openedAddresses.end(), u'|')) ==
           openSuccessAt;
}

TEST_F(NetworkSetup, DocumentationFallsBackToTheHomePageThenExplains) {
    const std::u16string documentation = kDocumentationAddress;
    const std::u16string home = kHomePageAddress;
    char16_t error[kDocumentationErrorUnits] = {};
    const struct {
        int successAt;
        bool opened;
        std::u16string tried;
    } cases[] = {
        {1, true, documentation + u"|"},
        {2, true, documentation + u"|" + home + u"|"},
        {0, false, documentation + u"|" + home + u"|"},
    };
    for (const auto& c : cases) {
        openedAddresses.clear();
        openSuccessAt = c.successAt;
        EXPECT_EQ(openDocumentation(fakeOpen, error), c.opened);
        EXPECT_EQ(openedAddresses, c.tried);
    }
    EXPECT_EQ(
        toUtf8(error),
        "I try to use ShellExecute function to show you the PDF file. But this fails. Please open a web "
        "browser and go to the url\r\n" +
            toUtf8(kHomePageAddress) + "\r\nand read it from there");
    EXPECT_EQ(toUtf8(kDocumentationErrorCaption), "Error open the PDF");
}

TEST_F(NetworkSetup, QueryCountsAreUnsigned64Bit) {
    char16_t counts[64];
    formatQueryCounts(counts, 0, 0);
    EXPECT_EQ(toUtf8(counts), "0 / 0");
    formatQueryCounts(counts, 18446744073709551615ull, 4294967296ull);
    EXPECT_EQ(toUtf8(counts), "18446744073709551615 / 4294967296");
}

}  // namespace
}  // namespace tarvelon
