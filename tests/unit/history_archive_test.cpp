// The archive files against a scratch folder: a torn slot, a truncated file and another layout, a
// program killed in mid-minute, the minutes and hours summed over gaps, and old archives deleted.
#include <gtest/gtest.h>
#include <utime.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "history/archive_layout.h"
#include "history/archive_worker.h"
#include "history/range_read.h"
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
    const int64_t minutes[] = {kMinute, kMinute + 60};
    ASSERT_TRUE(rebuildPeriods(file, minutes, 2));
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

// The clock stepped: forward a year within one batch (a mistyped year, corrected), back two hours
// within one, or behind the last run at a restart. Only the periods that hold the seconds written
// are summed again, and a period is never emptied from slots that hold other periods.
TEST_F(HistoryArchive, ClockStepsSumOnlyThePeriodsOfTheSecondsWritten) {
    constexpr int64_t kYear = 400 * 24 * 3600 + 30;  // past what the hour tier holds
    struct Expected {
        HistoryTier tier;
        int64_t second;
        int32_t seconds;
    };
    struct Case {
        const char* name;
        std::vector<int64_t> earlierRun;  // each written with its periods
        std::vector<std::vector<int64_t>> batches;
        std::vector<Expected> expected;
    };
    const Case cases[] = {
        {"forward within a batch",
         {},
         {{kMinute}, {kMinute + 1, kMinute + kYear}},
         {{HistoryTier::minutes, kMinute, 2},
          {HistoryTier::hours, kMinute, 2},
          {HistoryTier::minutes, kMinute + kYear, 1}}},
        {"back within a batch",
         {},
         {{kMinute}, {kMinute + 1, kMinute - 7230, kMinute - 7229}},
         {{HistoryTier::minutes, kMinute, 2},
          {HistoryTier::minutes, kMinute - 7230, 2},
          {HistoryTier::hours, kMinute - 7230, 2}}},
        {"restart behind the last run",
         {kMinute, kMinute + 3600},  // the second slot of kMinute holds kMinute + 3600 now
         {{kMinute + 90}},
         {{HistoryTier::minutes, kMinute, 1},
          {HistoryTier::hours, kMinute, 2},
          {HistoryTier::minutes, kMinute + 3600, 1}}},
    };
    for (const Case& c : cases) {
        std::system(("rm -rf " + root + "/*").c_str());
        PlacedFile* file = openArchive(folder, key, kMinute);
        ASSERT_NE(file, nullptr);
        for (const int64_t second : c.earlierRun) {
            write(file, second, {7});
            ASSERT_TRUE(rebuildPeriods(file, &second, 1));
        }
        closePlacedFile(file);
        {
            ArchiveWorker worker(folder);
            const HistoryFigures figures{30, 1, 2, 3, 4, 5, 6};
            for (const std::vector<int64_t>& batch : c.batches) {
                for (const int64_t second : batch) worker.record(key, second, figures);
                worker.flush();
            }
        }
        for (const Expected& e : c.expected) {
            EXPECT_EQ(read(e.tier, e.second).seconds, e.seconds) << c.name << " " << e.second - kMinute;
        }
    }
}

// The window keeps what it read while the range stays; another tile opened within the same second
// reads its own.
TEST_F(HistoryArchive, TheShownRangeIsReadAgainForAnotherTile) {
    TileKey other{};
    setTileKey(other, u"gpu-box", 7000, 0x0200);
    for (const auto& [tile, value] : {std::pair{key, 11u}, {other, 22u}}) {
        PlacedFile* file = openArchive(folder, tile, kMinute);
        ASSERT_NE(file, nullptr);
        const HistoryFigures figures{value, 1, 2, 3, 4, 5, 6};
        ASSERT_TRUE(writeSeconds(file, &kMinute, &figures, 1));
        closePlacedFile(file);
    }
    RangeRead read;
    const PlotRange range{kMinute - 29, 30};
    EXPECT_EQ(readShownRange(read, folder.c_str(), key, nullptr, range, kMinute).periods[29].maximum[0], 11u);
    EXPECT_EQ(readShownRange(read, folder.c_str(), other, nullptr, range, kMinute).periods[29].maximum[0], 22u);
}

// Archives nobody has written for 30 days go (a server off the list); set-aside files, the index and
// the archives of this PC and of the servers on the list stay.
TEST_F(HistoryArchive, ArchivesUnwrittenFor30DaysAreDeleted) {
    constexpr int64_t kDay = 24 * 3600;
    struct Case {
        const char* name;
        int64_t age;
        bool kept;
    };
    const Case cases[] = {
        {"old-7000.tvh", 30 * kDay, false},
        {"old-7000-gpu-0100.tvh", 30 * kDay, false},
        {"recent-7000.tvh", 30 * kDay - 60, true},
        {"old-7000.tvh.unreadable-1", 400 * kDay, true},
        {"tiles.txt", 400 * kDay, true},
        {"local.tvh", 400 * kDay, true},
        {"local-gpu-0100.tvh", 400 * kDay, true},
        {"listed-7000.tvh", 400 * kDay, true},
        {"listed-7000-gpu-0100.tvh", 400 * kDay, true},
        {"listed-7001.tvh", 400 * kDay, false},
    };
    for (const Case& c : cases) {
        std::ofstream(root + "/" + c.name) << "x";
        const utimbuf times{static_cast<time_t>(kMinute - c.age), static_cast<time_t>(kMinute - c.age)};
        utime((root + "/" + c.name).c_str(), &times);
    }
    TileKey configured[2];
    setTileKey(configured[0], u"", 0, -1);
    setTileKey(configured[1], u"listed", 7000, -1);
    pruneArchives(folder, kMinute, configured, 2);
    for (const Case& c : cases) EXPECT_EQ(std::ifstream(root + "/" + c.name).good(), c.kept) << c.name;
}

// Pruning waits out the first hour of a run and then a day after each prune, by the monotonic clock;
// a step of the wall clock puts it off for an hour.
TEST(HistoryPrune, OnceADayNeverInTheFirstHourNorAtAClockStep) {
    constexpr int64_t kWall = 1'765'000'000;
    struct Call {
        int64_t wall;  // the wall clock in seconds
        int64_t tickMs;
        bool due;
    };
    constexpr int64_t kAhead = kWall + 30 * 86400;  // the clock put 30 days ahead at once
    constexpr int64_t kBack = kAhead + 2 * 86400 - 7200;  // and a day later two hours back
    const Call calls[] = {
        {kWall, 5000, false},                          // the first write of a run
        {kWall + 1800, 1805 * 1000, false},            // within the first hour
        {kWall + 3600, 3605 * 1000, true},             // an hour in
        {kWall + 3605, 3610 * 1000, false},            // once a day
        {kAhead + 3610, 3615 * 1000, false},           // a day is not over, and the clock stepped
        {kAhead + 3610 + 86400, 90015 * 1000, true},   // a day after the last, the clock steady since
        {kBack + 3610, 176415 * 1000, false},          // a day again, but the clock stepped back
        {kBack + 3610 + 3599, 180014 * 1000, false},   // steady since, not yet an hour
        {kBack + 3610 + 3600, 180015 * 1000, true},
    };
    PruneSchedule schedule;
    for (size_t row = 0; row < std::size(calls); ++row) {
        EXPECT_EQ(pruneDue(schedule, calls[row].wall, calls[row].tickMs), calls[row].due) << row;
    }
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
