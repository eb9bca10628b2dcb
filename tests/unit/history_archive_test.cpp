// The archive files against a scratch folder: a torn slot, a truncated file and another layout, a
// program killed in mid-minute, the minutes and hours summed over gaps, and old archives deleted.
#include <gtest/gtest.h>
#include <utime.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "history/archive_layout.h"
#include "history/archive_worker.h"
#include "history/tile_archive.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr int64_t kMinute = 1'765'000'020;  // a minute's start, 47 minutes into its hour

class HistoryArchive : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarvelon-history-XXXXXX";
        root = mkdtemp(pattern);
        folder = fromUtf8(root);
        setTileKey(key, u"gpu-box", 7000, 0x0100);
    }
    void TearDown() override { std::system(("rm -rf " + root).c_str()); }

    std::string path() const { return root + "/" + toUtf8(archiveName(key).c_str()); }
    // Seconds from first on, every step, figure 0 taking values in turn.
    void write(PlacedFile* file, int64_t first, std::initializer_list<uint32_t> values, int step = 1) {
        for (uint32_t value : values) {
            HistoryFigures figures{value, 1, 2, 3, 40001, 5, 6};
            ASSERT_TRUE(writeSeconds(file, &first, &figures, 1));
            first += step;
        }
    }
    PeriodFigures read(HistoryTier tier, int64_t second) {
        PeriodFigures period{};
        readTileRange(folder.c_str(), key, tier, second, 1, &period);
        return period;
    }

    std::string root;
    std::u16string folder;
    TileKey key{};
};

TEST_F(HistoryArchive, MinutesAndHoursSumTheSecondsRecordedAroundGaps) {
    PlacedFile* file = openArchive(folder, key, kMinute);
    ASSERT_NE(file, nullptr);
    write(file, kMinute, {10, 10, 40}, 7);  // three seconds, gaps between
    write(file, kMinute + 60, {100});
    ASSERT_TRUE(rebuildPeriods(file, kMinute, kMinute + 60));
    closePlacedFile(file);

    struct Case {
        HistoryTier tier;
        int64_t second;
        int32_t seconds;
        uint32_t minimum, average, maximum;
    };
    const Case cases[] = {
        {HistoryTier::seconds, kMinute + 7, 1, 10, 10, 10},
        {HistoryTier::seconds, kMinute + 8, 0, 0, 0, 0},  // a gap
        {HistoryTier::minutes, kMinute + 59, 3, 10, 20, 40},
        {HistoryTier::minutes, kMinute + 60, 1, 100, 100, 100},
        {HistoryTier::minutes, kMinute + 120, 0, 0, 0, 0},
        {HistoryTier::hours, kMinute, 4, 10, 40, 100},  // weighted by seconds: (3 * 20 + 100) / 4
    };
    for (const Case& c : cases) {
        const PeriodFigures p = read(c.tier, c.second);
        EXPECT_EQ(p.seconds, c.seconds) << c.second;
        EXPECT_EQ(p.minimum[0], c.minimum) << c.second;
        EXPECT_EQ(p.average[0], c.average) << c.second;
        EXPECT_EQ(p.maximum[0], c.maximum) << c.second;
    }
    EXPECT_EQ(read(HistoryTier::seconds, kMinute).maximum[4], 40001u);  // exact per second
    EXPECT_EQ(read(HistoryTier::minutes, kMinute).maximum[4], 40000u);  // in steps of 64 above 32767
    EXPECT_EQ(std::ifstream(path(), std::ios::binary | std::ios::ate).tellg(), archiveBytes());
    EXPECT_LE(archiveBytes(), 1 << 20);
}

// A file that does not read is renamed aside with its bytes and a fresh one started; a torn slot
// alone is only a gap.
TEST_F(HistoryArchive, AFileThatDoesNotReadIsSetAsideAndATornSlotIsAGap) {
    struct Case {
        const char* name;
        int64_t offset;  // where a byte is changed; -1: the file is cut to half
        bool setAside;
    };
    const Case cases[] = {
        {"torn second", slotOffset(HistoryTier::seconds, kMinute + 1) + 5, false},
        {"another layout", 8, true},
        {"truncated", -1, true},
    };
    for (const Case& c : cases) {
        std::system(("rm -rf " + root + "/*").c_str());
        PlacedFile* file = openArchive(folder, key, kMinute);
        ASSERT_NE(file, nullptr);
        write(file, kMinute, {11, 12});
        if (c.offset < 0) {
            resizePlaced(file, archiveBytes() / 2);
        } else {
            const uint8_t changed = 0x5A;
            writePlaced(file, c.offset, &changed, 1);
        }
        closePlacedFile(file);

        file = openArchive(folder, key, kMinute + 2);
        ASSERT_NE(file, nullptr) << c.name;
        closePlacedFile(file);
        const std::string aside = root + "/" + toUtf8(asideName(archiveName(key), kMinute + 2).c_str());
        EXPECT_EQ(std::ifstream(aside).good(), c.setAside) << c.name;
        EXPECT_EQ(read(HistoryTier::seconds, kMinute).seconds, c.setAside ? 0 : 1) << c.name;
        EXPECT_EQ(read(HistoryTier::seconds, kMinute + 1).seconds, 0) << c.name;
    }
    std::system(("rm -rf " + root + "/*").c_str());
    PeriodFigures none{};
    EXPECT_FALSE(readTileRange(folder.c_str(), key, HistoryTier::seconds, kMinute, 1, &none));
}

// Killed after its seconds reached the disk but before their minute did: the next run, started in a
// later minute, sums that minute and its hour again from the seconds the file holds.
TEST_F(HistoryArchive, AMinuteCutByAKillCoversTheSecondsOfBothRuns) {
    PlacedFile* file = openArchive(folder, key, kMinute);
    ASSERT_NE(file, nullptr);
    write(file, kMinute, {5, 90});
    closePlacedFile(file);
    {
        ArchiveWorker worker(folder);
        const HistoryFigures figures{30, 1, 2, 3, 4, 5, 6};
        worker.record(key, kMinute + 65, figures);  // restarted in the next minute
        worker.flush();
    }
    const PeriodFigures minute = read(HistoryTier::minutes, kMinute);
    EXPECT_EQ(minute.seconds, 2);
    EXPECT_EQ(minute.minimum[0], 5u);
    EXPECT_EQ(minute.average[0], 48u);
    EXPECT_EQ(minute.maximum[0], 90u);
    EXPECT_EQ(read(HistoryTier::hours, kMinute).seconds, 3);
}

// Archives nobody has written for 30 days go (a server off the list); set-aside files and the index stay.
TEST_F(HistoryArchive, ArchivesUnwrittenFor30DaysAreDeleted) {
    constexpr int64_t kDay = 24 * 3600;
    struct Case {
        const char* name;
        int64_t age;
        bool kept;
    };
    const Case cases[] = {
        {"old-7000.tvh", 30 * kDay, false},
        {"recent-7000.tvh", 30 * kDay - 60, true},
        {"old-7000.tvh.unreadable-1", 400 * kDay, true},
        {"tiles.txt", 400 * kDay, true},
    };
    for (const Case& c : cases) {
        std::ofstream(root + "/" + c.name) << "x";
        const utimbuf times{static_cast<time_t>(kMinute - c.age), static_cast<time_t>(kMinute - c.age)};
        utime((root + "/" + c.name).c_str(), &times);
    }
    pruneArchives(folder, kMinute);
    for (const Case& c : cases) EXPECT_EQ(std::ifstream(root + "/" + c.name).good(), c.kept) << c.name;
}

TEST(HistoryArchiveNames, NameTheTileByWhatItWatches) {
    struct Case {
        const char16_t* host;
        int32_t port;
        int32_t gpu;
        const char16_t* name;
    };
    const Case cases[] = {
        {u"", 0, -1, u"local.tvh"},
        {u"", 0, 0x0100, u"local-gpu-0100.tvh"},
        {u"gpu-box.lan", 7000, -1, u"gpu-box.lan-7000.tvh"},
        {u"fe80::1", 7000, 0x12A03, u"fe80_003A_003A1-7000-gpu-012A03.tvh"},
    };
    for (const Case& c : cases) {
        TileKey key;
        setTileKey(key, c.host, c.port, c.gpu);
        EXPECT_EQ(toUtf8(archiveName(key).c_str()), toUtf8(c.name));
    }
}

}  // namespace
}  // namespace tarvelon
