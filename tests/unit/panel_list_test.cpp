// The display list: which slots are shown, how GPU entries are packed, and the change test that
// decides between a full redraw and a values-only tick.
#include <atomic>
#include <thread>

#include "unit/panel_world.h"

namespace tarvelon {
namespace {

using DisplayList = PanelWorld;

std::vector<int32_t> shownSources(const PanelList& list) {
    std::vector<int32_t> sources;
    for (const PanelGroup& group : list.groups) {
        if (group.host.present != 0) sources.push_back(group.source);
    }
    return sources;
}

TEST_F(DisplayList, LocalGpusArePackedAndTheirFlagsConsumedOnce) {
    LocalStore values{};
    for (int slot : {1, 4, 9}) {
        values.gpus[slot].present = 1;
        values.gpus[slot].pciBus = static_cast<uint8_t>(slot);
    }
    publishLocalStore(values);
    markLocalStoreChanged(1);

    buildPanelList(state->current);
    const PanelGroup& local = state->current.groups[0];
    EXPECT_EQ(local.source, kLocalSource);
    EXPECT_EQ(local.host.present, 1);
    EXPECT_EQ(local.host.changed, 1);
    EXPECT_EQ(local.host.enabled, 1);
    EXPECT_EQ(local.host.status, kStatusOk);
    const int expectedBus[] = {1, 4, 9};
    for (int k = 0; k < kGpuSlots; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(local.gpus[k].present, k < 3 ? 1 : 0);
        if (k < 3) {
            EXPECT_EQ(local.gpuRecords[k].pciBus, expectedBus[k]);
            EXPECT_EQ(local.gpus[k].changed, 1);
        }
    }
    // The store's flags are gone: a second build sees none.
    buildPanelList(state->current);
    EXPECT_EQ(state->current.groups[0].host.changed, 0);
    EXPECT_EQ(state->current.groups[0].gpus[0].changed, 0);
}

TEST_F(DisplayList, ShowsStartedActiveSlotsThatPassBothFilters) {
    struct Case {
        int32_t active, state, status, enabled, removeDead, removeDeactivated;
        bool shown;
    } cases[] = {
        {1, kStateStarted, kStatusOk, 1, 0, 0, true},
        {0, kStateStarted, kStatusOk, 1, 0, 0, false},
        {1, kStateStartEnabled, kStatusOk, 1, 0, 0, false},
        {1, kStateRemoveRequest, kStatusOk, 1, 0, 0, false},
        {1, kStateRemoved, kStatusOk, 1, 0, 0, false},
        {1, kStateStarted, kStatusNoResponse, 1, 0, 0, true},
        {1, kStateStarted, kStatusNoResponse, 1, 1, 0, false},
        {1, kStateStarted, kStatusUnknown, 1, 1, 0, false},
        {1, kStateStarted, kStatusOk, 0, 0, 0, true},
        {1, kStateStarted, kStatusOk, 0, 0, 1, false},
        {1, kStateStarted, kStatusOk, 0, 1, 0, true},
        {1, kStateStarted, kStatusNoResponse, 0, 0, 1, false},
        {1, kStateStarted, kStatusOk, 1, 1, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "active " << c.active << " state " << c.state << " status " << c.status << " enabled "
                     << c.enabled << " filters " << c.removeDead << c.removeDeactivated);
        clearSlotTable();
        addServer(7, 1, u"gpu-box", c.status, c.enabled);
        slotTable[7].Active = c.active;
        slotTable[7].State = c.state;
        settings.removeDeadServer = c.removeDead;
        settings.removeDeactivatedServer = c.removeDeactivated;
        buildPanelList(state->current);
        EXPECT_EQ(shownSources(state->current),
                  c.shown ? std::vector<int32_t>({kLocalSource, 7}) : std::vector<int32_t>({kLocalSource}));
    }
}

TEST_F(DisplayList, ShownServersArePackedInSlotOrderWithTheirState) {
    addServer(3, 2, u"a", kStatusOk, 1);
    addServer(10, 0, u"b", kStatusNoResponse, 1);
    addServer(11, 0, u"c", kStatusOk, 0);
    ServerSlot& skipped = addServer(20, 1);
    skipped.State = kStateStartEnabled;
    addServer(63, 16, u"d");

    buildPanelList(state->current);
    EXPECT_EQ(shownSources(state->current), std::vector<int32_t>({kLocalSource, 3, 10, 11, 63}));
    const PanelGroup& b = state->current.groups[2];
    EXPECT_EQ(b.host.status, kStatusNoResponse);
    EXPECT_EQ(b.host.enabled, 1);
    const PanelGroup& c = state->current.groups[3];
    EXPECT_EQ(c.host.enabled, 0);
    // GPU entries carry their host's state.
    const PanelGroup& d = state->current.groups[4];
    EXPECT_EQ(d.gpus[15].present, 1);
    EXPECT_EQ(d.gpus[15].status, kStatusOk);
    EXPECT_EQ(d.gpuRecords[15].pciSlot, 63);
    EXPECT_EQ(state->current.groups[5].host.present, 0);
}

TEST_F(DisplayList, NoRemoteGroupWhileTheSlotTableIsReordered) {
    setLocal(2);
    addServer(0, 1);
    for (int32_t command : {kCommandStopAll, kCommandStopped, kCommandRestart}) {
        slotTableCommand = command;
        buildPanelList(state->current);
        EXPECT_EQ(shownSources(state->current), std::vector<int32_t>({kLocalSource})) << command;
        EXPECT_EQ(state->current.groups[0].gpus[1].present, 1);
    }
    slotTableCommand = kCommandNone;
    buildPanelList(state->current);
    EXPECT_EQ(shownSources(state->current), std::vector<int32_t>({kLocalSource, 0}));
}

TEST_F(DisplayList, ChangeTestFiresOnCompositionAndServerStateOnly) {
    setLocal(2, u"here");
    addServer(0, 2, u"alpha");
    addServer(1, 1, u"beta");
    buildPanelList(state->current);
    PanelList& shown = state->shown;
    shown = state->current;

    struct Case {
        const char* what;
        void (*mutate)(PanelList&);
        bool changed;
    } cases[] = {
        {"nothing", [](PanelList&) {}, false},
        {"a value", [](PanelList& l) { l.groups[1].hostRecord.cpuLoad = 99; }, false},
        {"a GPU value", [](PanelList& l) { l.groups[1].gpuRecords[0].coreTempC = 99; }, false},
        {"a position", [](PanelList& l) { l.groups[1].host.x = 500; }, false},
        {"the local host name", [](PanelList& l) { l.groups[0].hostRecord.hostName[0] = u'X'; }, false},
        {"the local GPU count", [](PanelList& l) { l.groups[0].hostRecord.gpuCount = 9; }, false},
        {"the source slot", [](PanelList& l) { l.groups[1].source = 40; }, false},
        {"a GPU name", [](PanelList& l) { l.groups[1].gpuRecords[0].gpuName[0] = u'Z'; }, false},
        {"the text after a host name's end", [](PanelList& l) { l.groups[1].hostRecord.hostName[30] = u'Q'; },
         false},
        {"local host flag", [](PanelList& l) { l.groups[0].host.changed = 1; }, true},
        {"local GPU flag", [](PanelList& l) { l.groups[0].gpus[1].changed = 1; }, true},
        {"local GPU count", [](PanelList& l) { l.groups[0].gpus[2].present = 1; }, true},
        {"local GPU removed", [](PanelList& l) { l.groups[0].gpus[1].present = 0; }, true},
        {"server status", [](PanelList& l) { l.groups[2].host.status = kStatusNoResponse; }, true},
        {"server enabled", [](PanelList& l) { l.groups[2].host.enabled = 0; }, true},
        {"server host name", [](PanelList& l) { l.groups[2].hostRecord.hostName[1] = u'E'; }, true},
        {"server host name longer", [](PanelList& l) { l.groups[2].hostRecord.hostName[4] = u's'; }, true},
        {"server GPU count", [](PanelList& l) { l.groups[2].hostRecord.gpuCount = 3; }, true},
        {"server host flag", [](PanelList& l) { l.groups[2].host.changed = 1; }, true},
        {"server GPU flag", [](PanelList& l) { l.groups[1].gpus[1].changed = 1; }, true},
        {"server GPU present", [](PanelList& l) { l.groups[2].gpus[1].present = 1; }, true},
        {"server gone", [](PanelList& l) { l.groups[2].host.present = 0; }, true},
        {"server added", [](PanelList& l) { l.groups[3].host.present = 1; }, true},
        {"last group", [](PanelList& l) { l.groups[64].host.present = 1; }, true},
    };
    for (const Case& c : cases) {
        PanelList& current = state->current;
        buildPanelList(current);
        c.mutate(current);
        EXPECT_EQ(panelListChanged(current, shown), c.changed) << c.what;
    }
}

TEST_F(DisplayList, AChangedFlagGivesExactlyOneFullRedraw) {
    setLocal(1);
    addServer(2, 1);
    buildPanelList(state->current);
    EXPECT_TRUE(takePanelList(state->current, state->shown));  // everything is new
    buildPanelList(state->current);
    EXPECT_FALSE(takePanelList(state->current, state->shown));

    updateSlotRecords(slotTable[2], [](HostRecord& host, GpuRecord(&)[kGpuSlots]) { host.changed = 1; });
    buildPanelList(state->current);
    EXPECT_TRUE(takePanelList(state->current, state->shown));
    buildPanelList(state->current);
    EXPECT_FALSE(takePanelList(state->current, state->shown));

    markLocalStoreChanged(1);
    buildPanelList(state->current);
    EXPECT_TRUE(takePanelList(state->current, state->shown));
    buildPanelList(state->current);
    EXPECT_FALSE(takePanelList(state->current, state->shown));
}

TEST_F(DisplayList, UnchangedTakeKeepsPositionsAndRefreshesRecords) {
    setLocal(1);
    addServer(0, 1);
    buildPanelList(state->current);
    takePanelList(state->current, state->shown);
    state->shown.groups[1].host.x = 40;
    state->shown.groups[1].gpus[0].y = 50;

    updateSlotRecords(slotTable[0], [](HostRecord& host, GpuRecord(&gpus)[kGpuSlots]) {
        host.cpuLoad = 77;
        gpus[0].coreTempC = 66;
    });
    buildPanelList(state->current);
    EXPECT_FALSE(takePanelList(state->current, state->shown));
    const PanelGroup& group = state->shown.groups[1];
    EXPECT_EQ(group.host.x, 40);
    EXPECT_EQ(group.gpus[0].y, 50);
    EXPECT_EQ(group.hostRecord.cpuLoad, 77);
    EXPECT_EQ(group.gpuRecords[0].coreTempC, 66);

    // A change brings the whole list, positions 0 until the next layout.
    updateSlotRecords(slotTable[0], [](HostRecord& host, GpuRecord(&)[kGpuSlots]) { host.changed = 1; });
    buildPanelList(state->current);
    EXPECT_TRUE(takePanelList(state->current, state->shown));
    EXPECT_EQ(state->shown.groups[1].host.x, 0);
}

// A producer that sets a slot's flag and waits until the panel has consumed it: every set flag must
// give one redraw, none may be lost or counted twice, and nothing may race.
TEST_F(DisplayList, FlagsSetByAnotherThreadAreConsumedOncePerSet) {
    constexpr int kSets = 100;
    ServerSlot& server = addServer(5, 2);
    buildPanelList(state->current);
    takePanelList(state->current, state->shown);

    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (int i = 0; i < kSets; ++i) {
            updateSlotRecords(server, [&](HostRecord& host, GpuRecord(&gpus)[kGpuSlots]) {
                host.changed = 1;
                host.cpuLoad = static_cast<uint8_t>(i);
                gpus[1].changed = 1;
            });
            while (readSlotRecords(server).host.changed != 0) std::this_thread::yield();
        }
        done = true;
    });
    int redraws = 0;
    while (!done) {
        buildPanelList(state->current);
        redraws += takePanelList(state->current, state->shown) ? 1 : 0;
    }
    producer.join();
    buildPanelList(state->current);
    redraws += takePanelList(state->current, state->shown) ? 1 : 0;
    EXPECT_EQ(redraws, kSets);
}

}  // namespace
}  // namespace tarvelon
