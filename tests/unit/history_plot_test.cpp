// The plot arithmetic: value to pixel, grid and time ticks, and the columns that show gaps as gaps.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "history/history_plot.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

TEST(HistoryPlot, ValueToPixel) {
    struct Case {
        uint32_t value, low, high;
        int32_t pixel;
    };
    const Case cases[] = {{0, 0, 100, 110},  {100, 0, 100, 10}, {50, 0, 100, 60},   {150, 0, 100, 10},
                          {5, 10, 20, 110},  {15, 10, 20, 60},  {7, 7, 7, 110},      {0xFFFFFFFE, 0, 0xFFFFFFFF, 11}};
    for (const Case& c : cases) {
        EXPECT_EQ(valueToPixel(c.value, c.low, c.high, 10, 110), c.pixel) << c.value << " " << c.low << " " << c.high;
    }
}

TEST(HistoryPlot, GridAndTimeTicks) {
    struct Case {
        uint32_t minimum, maximum;
        int32_t lines;
        PlotGrid grid;
    };
    const Case cases[] = {
        {0, 100, 4, {0, 100, 50}},        {0, 100, 5, {0, 100, 20}},    {37, 81, 4, {20, 100, 20}},
        {63, 63, 4, {62, 64, 1}},         {0, 0, 4, {0, 1, 1}},         {2900, 3150, 3, {2900, 3200, 100}},
        {0, 65534, 4, {0, 80000, 20000}}, {5000, 5000000, 4, {0, 6000000, 2000000}},
    };
    for (const Case& c : cases) {
        const PlotGrid grid = choosePlotGrid(c.minimum, c.maximum, c.lines);
        EXPECT_EQ(grid.low, c.grid.low) << c.minimum << ".." << c.maximum;
        EXPECT_EQ(grid.high, c.grid.high) << c.minimum << ".." << c.maximum;
        EXPECT_EQ(grid.step, c.grid.step) << c.minimum << ".." << c.maximum;
    }
    EXPECT_EQ(timeTickSeconds(60), 15);
    EXPECT_EQ(timeTickSeconds(300), 60);
    EXPECT_EQ(timeTickSeconds(900), 180);
    EXPECT_EQ(timeTickSeconds(3600), 600);
    for (const auto& [seconds, label] : {std::pair{0, "0"}, {45, "0.75"}, {30, "0.5"}, {600, "10"}}) {
        char16_t text[16];
        timeTickLabel(seconds, text);
        EXPECT_EQ(toUtf8(text), label);
    }
}

TEST(HistoryPlot, ColumnsShowEachSecondsRangeAndGapsAsNothing) {
    auto ring = std::make_unique<HistoryRing>();
    clearHistory(*ring);
    // 12 seconds ending at 111: 1 2 3 _ _ _ 7 8 9 10 11 12 (_: gap)
    for (int s = 0; s < 12; ++s) {
        const HistoryFigures figures{static_cast<uint32_t>(s + 1)};
        if (s >= 3 && s <= 5) {
            recordHistoryGap(*ring, 100 + s);
        } else {
            recordHistory(*ring, 100 + s, figures);
        }
    }
    PlotColumn columns[24];
    plotColumns(*ring, 0, 111, 12, 4, columns);  // three seconds a column
    const PlotColumn wide[4] = {{true, 1, 3}, {false, 0, 0}, {true, 7, 9}, {true, 10, 12}};
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(columns[x].present, wide[x].present) << x;
        EXPECT_EQ(columns[x].lowest, wide[x].lowest) << x;
        EXPECT_EQ(columns[x].highest, wide[x].highest) << x;
    }
    plotColumns(*ring, 0, 111, 12, 24, columns);  // two columns a second
    EXPECT_EQ(columns[0].highest, 1u);
    EXPECT_EQ(columns[1].highest, 1u);
    EXPECT_EQ(columns[2].highest, 2u);
    EXPECT_FALSE(columns[7].present);
    EXPECT_EQ(columns[23].lowest, 12u);
    plotColumns(*ring, 0, 113, 12, 4, columns);  // two seconds not yet recorded
    EXPECT_TRUE(columns[3].present);
    EXPECT_EQ(columns[3].highest, 12u);
}

}  // namespace
}  // namespace tarvelon
