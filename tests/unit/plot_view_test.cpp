// The range shown and what its columns show: spans, drag and wheel zoom, panning, the tier each range
// is read from, and periods binned into columns as bands with averages, gaps kept.
#include <gtest/gtest.h>

#include <memory>

#include "history/plot_columns.h"

namespace tarvelon {
namespace {

constexpr int64_t N = 100000000;  // the newest second
constexpr int64_t kDay = 86400;

TEST(PlotView, ZoomPanAndTheirTiers) {
    const PlotView hour = spanView(3);
    const PlotView narrowed = zoomAround(hour, N, 200, 400, 1);
    struct Case {
        PlotView view;
        bool following;
        int64_t first, seconds;
        HistoryTier tier;
    };
    const Case cases[] = {
        {hour, true, N - 3599, 3600, HistoryTier::seconds},
        {zoomToColumns(hour, N, 100, 199, 400), false, N - 2699, 900, HistoryTier::seconds},
        {zoomToColumns(hour, N, 199, 100, 400), false, N - 2699, 900, HistoryTier::seconds},
        {zoomToColumns(hour, N, 100, 102, 400), true, N - 3599, 3600, HistoryTier::seconds},  // a click
        {narrowed, false, N - 2699, 1800, HistoryTier::seconds},
        {zoomAround(narrowed, N, 200, 400, -1), true, N - 3599, 3600, HistoryTier::seconds},
        {zoomAround(spanView(0), N, 0, 400, 3), false, N - 59, 30, HistoryTier::seconds},
        {zoomAround(spanView(8), N, 0, 400, -1), true, N - 366 * kDay + 1, 366 * kDay, HistoryTier::hours},
        {panView(hour, N, -1), false, N - 4499, 3600, HistoryTier::minutes},
        {panView(panView(hour, N, -1), N, 1), true, N - 3599, 3600, HistoryTier::seconds},
        {panView(hour, N, 1), true, N - 3599, 3600, HistoryTier::seconds},
        {panView(spanView(6), N, -1), false, N - 8 * kDay - 64799, 7 * kDay, HistoryTier::hours},
        {panView(spanView(8), N, -1), false, N - 366 * kDay + 1, 365 * kDay, HistoryTier::hours},
    };
    int row = 0;
    for (const Case& c : cases) {
        const PlotRange range = plotRange(c.view, N);
        EXPECT_EQ(c.view.following, c.following) << row;
        EXPECT_EQ(range.first, c.first) << row;
        EXPECT_EQ(range.seconds, c.seconds) << row;
        EXPECT_EQ(plotTier(range, N), c.tier) << row;
        ++row;
    }
}

// A touchpad's small deltas add up to notches; a turn back starts afresh.
TEST(PlotView, WheelDeltasAddUpToNotches) {
    int32_t pending = 0;
    const std::pair<int32_t, int32_t> turns[] = {{40, 0}, {40, 0}, {40, 1}, {300, 2}, {-30, 0},
                                                 {-100, -1}, {120, 1}, {-240, -2}};
    for (const auto& [delta, notches] : turns) EXPECT_EQ(takeWheelNotches(pending, delta), notches) << delta;
}

PeriodFigures period(int64_t start, int32_t seconds, uint32_t minimum, uint32_t average, uint32_t maximum) {
    PeriodFigures p{};
    p.start = start;
    p.seconds = seconds;
    p.minimum[0] = minimum;
    p.average[0] = average;
    p.maximum[0] = maximum;
    return p;
}

TEST(PlotColumns, BandsAveragesAndGaps) {
    // Six minutes from 6000: the second half-recorded, the third a gap.
    const PeriodFigures minutes[6] = {period(6000, 60, 10, 20, 30), period(6060, 30, 5, 15, 25),
                                      period(6120, 0, 0, 0, 0),     period(6180, 60, 40, 40, 40),
                                      period(6240, 60, 0, 50, 100), period(6300, 60, 1, 1, 1)};
    struct Case {
        PlotRange range;
        int32_t width;
        int32_t x;
        PlotColumn column;
    };
    const Case cases[] = {
        {{6000, 360}, 3, 0, {90, 5, 18, 30}},   {{6000, 360}, 3, 1, {60, 40, 40, 40}},
        {{6000, 360}, 3, 2, {120, 0, 26, 100}}, {{6000, 360}, 12, 1, {60, 10, 20, 30}},
        {{6000, 360}, 12, 5, {0, 0, 0, 0}},     {{6030, 60}, 2, 1, {30, 5, 15, 25}},
        {{6300, 120}, 2, 1, {0, 0, 0, 0}},  // past the periods read
    };
    for (const Case& c : cases) {
        PlotColumn columns[12];
        plotColumns({minutes, 6, 6000, 60}, 0, c.range, c.width, columns);
        const PlotColumn& got = columns[c.x];
        EXPECT_EQ(got.seconds, c.column.seconds) << c.range.first << " " << c.width << " " << c.x;
        if (got.seconds == 0) continue;
        EXPECT_EQ(got.lowest, c.column.lowest) << c.width << " " << c.x;
        EXPECT_EQ(got.average, c.column.average) << c.width << " " << c.x;
        EXPECT_EQ(got.highest, c.column.highest) << c.width << " " << c.x;
    }
    PlotColumn columns[3];
    plotColumns({minutes, 6, 6000, 60}, 0, {6000, 360}, 3, columns);
    const PlotColumn all = rangeColumn(columns, 3);
    EXPECT_EQ(all.lowest, 0u);
    EXPECT_EQ(all.average, 26u);
    EXPECT_EQ(all.highest, 100u);
    EXPECT_EQ(periodsCovering({6030, 60}, HistoryTier::minutes), 2);
    EXPECT_EQ(periodsCovering({6030, 30}, HistoryTier::minutes), 1);
}

TEST(PlotColumns, RingSecondsOverTheArchive) {
    auto ring = std::make_unique<HistoryRing>();
    clearHistory(*ring);
    for (uint32_t v : {1u, 2u, 0u, 4u}) {
        const HistoryFigures figures{v, v, v, v, v, v, v};
        if (v == 0) {
            recordHistoryGap(*ring, 102);
        } else {
            recordHistory(*ring, 99 + v, figures);
        }
    }
    PeriodFigures seconds[5] = {};
    seconds[2] = period(102, 1, 5, 5, 5);  // on disk, missed by the ring
    seconds[3] = period(103, 1, 7, 7, 7);  // the ring's is fresher
    takeRingSeconds(*ring, seconds, 5, 100);
    const int32_t present[5] = {1, 1, 1, 1, 0};
    const uint32_t values[5] = {1, 2, 5, 4, 0};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(seconds[i].seconds, present[i]) << i;
        if (present[i] != 0) {
            EXPECT_EQ(seconds[i].maximum[0], values[i]) << i;
        }
    }
}

}  // namespace
}  // namespace tarvelon
