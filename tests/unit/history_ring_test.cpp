// The recording ring: wrap, gaps, spans and their statistics, widths; the second each tick records.
#include <gtest/gtest.h>

#include <memory>

#include "history/history_ring.h"
#include "history/tick_second.h"

namespace tarvelon {
namespace {

void put(HistoryRing& ring, int64_t second, uint32_t first) {
    const HistoryFigures figures{first, 1, 2, 3, 4, 5, 6};
    recordHistory(ring, second, figures);
}

struct Ring {
    Ring() { clearHistory(*ring); }
    std::unique_ptr<HistoryRing> ring = std::make_unique<HistoryRing>();
    bool at(int64_t second, uint32_t* value, int figure = 0) const {
        return historyValue(*ring, second, figure, value);
    }
};

TEST(HistoryRing, KeepsTheLastHourWithGapsForSkippedAndSilentSeconds) {
    Ring r;
    uint32_t value = 0;
    EXPECT_FALSE(r.at(0, &value));  // nothing recorded yet
    for (int64_t s = 100; s < 100 + 2 * kHistorySeconds; ++s) {
        if (s % 7 == 0) {
            recordHistoryGap(*r.ring, s);
        } else {
            put(*r.ring, s, static_cast<uint32_t>(s));
        }
    }
    const int64_t newest = 100 + 2 * kHistorySeconds - 1;  // 7299
    ASSERT_TRUE(r.at(newest, &value));
    EXPECT_EQ(value, 7299u);
    ASSERT_TRUE(r.at(newest - kHistorySeconds + 1, &value));  // the oldest second kept
    EXPECT_EQ(value, 3700u);
    EXPECT_FALSE(r.at(newest - kHistorySeconds, &value));  // wrapped over
    EXPECT_FALSE(r.at(newest + 1, &value));                // not yet
    EXPECT_FALSE(r.at(7294, &value));                       // 7 * 1042

    put(*r.ring, newest + 5, 9);  // four seconds skipped
    for (int64_t s = newest + 1; s < newest + 5; ++s) EXPECT_FALSE(r.at(s, &value)) << s;
    ASSERT_TRUE(r.at(newest + 5, &value));
    EXPECT_EQ(value, 9u);

    put(*r.ring, newest + 5 + 3 * kHistorySeconds, 4);  // a long sleep
    EXPECT_FALSE(r.at(newest + 5 + 3 * kHistorySeconds - 1, &value));
    EXPECT_FALSE(r.at(newest + 5 + 2 * kHistorySeconds + 1, &value));
}

TEST(HistoryRing, KeepsEachFiguresWidth) {
    struct Case {
        int figure;
        uint32_t stored;
        uint32_t read;
    };
    const Case cases[] = {
        {0, 0, 0},          {0, 65534, 65534},       {0, 65535, 65534},           {3, 70000, 65534},
        {4, 65535, 65535},  {4, 5000000, 5000000},   {5, 0xFFFFFFFF, 0xFFFFFFFE}, {5, 0xFFFF0000, 0xFFFF0000},
    };
    for (const Case& c : cases) {
        Ring r;
        HistoryFigures figures{};
        figures[c.figure] = c.stored;
        recordHistory(*r.ring, 10, figures);
        uint32_t value = 0;
        ASSERT_TRUE(r.at(10, &value, c.figure)) << c.figure << " " << c.stored;
        EXPECT_EQ(value, c.read) << c.figure << " " << c.stored;
    }
}

// Set back five seconds, the ring goes on from the second the clock shows: the hour before it keeps
// what was recorded then, and never shows the seconds recorded ahead of it.
TEST(HistoryRing, AClockSetBackRecordsOnFromTheSecondItShows) {
    Ring r;
    for (int64_t s = 1000; s < 1010; ++s) put(*r.ring, s, static_cast<uint32_t>(s));
    put(*r.ring, 1004, 99);
    uint32_t value = 0;
    EXPECT_TRUE(r.at(1004, &value));
    EXPECT_EQ(value, 99u);
    EXPECT_TRUE(r.at(1003, &value));
    EXPECT_EQ(value, 1003u);
    EXPECT_FALSE(r.at(1005, &value));         // ahead of the clock
    EXPECT_FALSE(r.at(1005 - 3600, &value));  // the slot 1005 was recorded in
}

TEST(HistoryRing, StatisticsCoverTheSpanAndSkipGaps) {
    Ring r;
    const uint32_t values[] = {10, 0, 40, 0, 25};  // 0: a gap
    for (int s = 0; s < 5; ++s) {
        if (values[s] == 0) {
            recordHistoryGap(*r.ring, 1000 + s);
        } else {
            put(*r.ring, 1000 + s, values[s]);
        }
    }
    struct Case {
        int32_t span;
        int32_t count;
        uint32_t minimum, average, maximum;
    };
    const Case cases[] = {{1, 1, 25, 25, 25}, {2, 1, 25, 25, 25}, {3, 2, 25, 33, 40}, {60, 3, 10, 25, 40}};
    for (const Case& c : cases) {
        const HistoryStats stats = historyStats(*r.ring, 0, 1004, c.span);
        EXPECT_EQ(stats.count, c.count) << c.span;
        EXPECT_EQ(stats.minimum, c.minimum) << c.span;
        EXPECT_EQ(stats.average, c.average) << c.span;
        EXPECT_EQ(stats.maximum, c.maximum) << c.span;
    }
    EXPECT_EQ(historyStats(*r.ring, 0, 1003, 1).count, 0);
}

// A tick records the wall-clock second it falls in, once, and aims the next just past the next second's
// start, however early or late it fired.
TEST(TickSecond, EachSecondOnceAndTheNextTickAfterItsStart) {
    struct Case {
        int64_t last;
        int64_t wallMs;
        int64_t second;
        bool fresh;
        int32_t delayMs;
    };
    const Case cases[] = {
        {99, 100'020, 100, true, 1000},  // on time
        {99, 100'700, 100, true, 320},   // late: the next one catches up
        {100, 100'995, 100, false, 25},  // early, within the second already recorded
        {100, 101'000, 101, true, 1020},
        {kNoHistory, -1'500, -2, true, 520},  // before 1970: still whole seconds
        {100, 40'020, 40, true, 1000},         // the clock set back: recording goes on
    };
    for (const Case& c : cases) {
        const TickSecond tick = tickSecond(c.last, c.wallMs);
        EXPECT_EQ(tick.second, c.second) << c.wallMs;
        EXPECT_EQ(tick.fresh, c.fresh) << c.wallMs;
        EXPECT_EQ(tick.delayMs, c.delayMs) << c.wallMs;
    }
}

}  // namespace
}  // namespace tarvelon
