// History by what a tile watches: it follows its server through a move, keeps its seconds while hidden
// or deactivated (as gaps, in the rings and the archives alike), and a GPU dropping out leaves the
// others' history where it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "history/history_read.h"
#include "panel/history_feed.h"
#include "panel/panel.h"
#include "unit/panel_world.h"

namespace tarvelon {
namespace {

class HistoryFeedTest : public PanelWorld {
  protected:
    void SetUp() override {
        PanelWorld::SetUp();
        char pattern[] = "/tmp/tarvelon-feed-XXXXXX";
        root = mkdtemp(pattern);
        archive = std::make_unique<ArchiveWorker>(fromUtf8(root));
    }
    void TearDown() override {
        freeTiles(*tiles);
        archive.reset();
        std::system(("rm -rf " + root).c_str());
        PanelWorld::TearDown();
    }
    void record(int64_t second) {
        buildPanelList(state->current);
        takePanelList(state->current, state->shown);
        recordShownTiles(*tiles, state->shown, second, archive.get());
    }
    static void name(int slot, const char16_t* host, int32_t port, uint8_t load) {
        copyText16(slotTable[slot].Hostname, kSlotTextUnits, host);
        slotTable[slot].Port = port;
        updateSlotRecords(slotTable[slot], [&](HostRecord& record, GpuRecord(&)[kGpuSlots]) { record.cpuLoad = load; });
    }
    // The local machine with GPUs on PCI buses 1 and 2 (loads 30 and 70); the first one may be gone.
    static void localGpus(bool firstPresent) {
        LocalStore values{};
        for (int i = 0; i < 2; ++i) {
            values.gpus[i].present = i == 1 || firstPresent;
            values.gpus[i].pciBus = static_cast<uint8_t>(i + 1);
            values.gpus[i].gpuLoad = static_cast<uint8_t>(30 + 40 * i);
        }
        publishLocalStore(values);
    }
    std::unique_ptr<HistoryTiles> tiles = std::make_unique<HistoryTiles>();
    std::string root;
    std::unique_ptr<ArchiveWorker> archive;
};

TEST_F(HistoryFeedTest, HistoryFollowsWhatTheTileWatches) {
    localGpus(true);
    addServer(3, 0);
    addServer(4, 0);
    name(3, u"alpha", 7000, 10);
    name(4, u"beta", 7001, 90);
    record(10);
    exchangeSlots(3, 4);  // Move UP/DOWN
    record(11);
    settings.removeDeadServer = 1;
    slotTable[4].Status = kStatusNoResponse;  // alpha hidden for a second
    record(12);
    slotTable[4].Status = kStatusOk;
    slotTable[3].Enabled = 0;  // beta deactivated, still shown
    record(13);
    localGpus(false);  // the GPU on bus 1 drops out
    record(14);

    struct Case {
        const char16_t* host;
        int32_t port;
        int32_t gpu;
        int64_t second;
        int32_t value;  // -1: a gap
    };
    const Case cases[] = {
        {u"alpha", 7000, -1, 10, 10}, {u"alpha", 7000, -1, 11, 10}, {u"alpha", 7000, -1, 12, -1},
        {u"alpha", 7000, -1, 13, 10}, {u"beta", 7001, -1, 11, 90},  {u"beta", 7001, -1, 12, 90},
        {u"beta", 7001, -1, 13, -1},  {u"", 0, 0x0100, 13, 30},     {u"", 0, 0x0100, 14, -1},
        {u"", 0, 0x0200, 13, 70},     {u"", 0, 0x0200, 14, 70},
    };
    archive->flush();
    for (const Case& c : cases) {
        TileKey key;
        setTileKey(key, c.host, c.port, c.gpu);
        const HistoryRing* ring = tileHistory(*tiles, key);
        ASSERT_NE(ring, nullptr) << c.gpu;
        uint32_t value = 0;
        const bool present = historyValue(*ring, c.second, 0, &value);
        EXPECT_EQ(present ? static_cast<int32_t>(value) : -1, c.value) << c.port << " " << c.gpu << " @" << c.second;
        PeriodFigures archived{};
        readTileRange(fromUtf8(root).c_str(), key, HistoryTier::seconds, c.second, 1, &archived);
        EXPECT_EQ(archived.seconds != 0 ? static_cast<int32_t>(archived.average[0]) : -1, c.value)
            << "archived " << c.port << " " << c.gpu << " @" << c.second;
    }

    TileKey key;
    TileId tile{};
    setTileKey(key, u"alpha", 7000, -1);
    ASSERT_TRUE(shownTileOf(state->shown, key, &tile));
    EXPECT_EQ(tile.source, 4);  // where alpha sits since the move
    slotTable[4].Active = 0;
    record(14 + kHistorySeconds);  // an hour without alpha: its ring goes
    EXPECT_EQ(tileHistory(*tiles, key), nullptr);
    setTileKey(key, u"beta", 7001, -1);
    EXPECT_NE(tileHistory(*tiles, key), nullptr);
}

}  // namespace
}  // namespace tarvelon
