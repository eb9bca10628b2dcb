// The plot axes: value to pixel, round value ranges (flat figures included), and time ticks and
// readout times on a local clock an hour east of UTC, across changes to and from summer time.
#include "history/plot_axis.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/text16.h"

namespace tarvelon {
namespace {

// The local clock of Berlin for the test's length.
class BerlinClock : public testing::Test {
  protected:
    void SetUp() override {
        const char* was = std::getenv("TZ");
        if (was != nullptr) saved_ = was;
        hadZone_ = was != nullptr;
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
    }
    void TearDown() override {
        if (hadZone_) {
            setenv("TZ", saved_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    std::string saved_;
    bool hadZone_ = false;
};

constexpr int64_t kMonday = 1796646590;  // Mon 7 Dec 2026 13:29:50 in Berlin

TEST(PlotAxis, ValueToPixel) {
    struct Case {
        uint32_t value, low, high;
        int32_t pixel;
    };
    const Case cases[] = {
        {0, 0, 100, 110}, {100, 0, 100, 10}, {50, 0, 100, 60}, {150, 0, 100, 10},
        {5, 10, 20, 110}, {15, 10, 20, 60},  {7, 7, 7, 110},   {0xFFFFFFFE, 0, 0xFFFFFFFF, 11}};
    for (const Case& c : cases) {
        EXPECT_EQ(valueToPixel(c.value, c.low, c.high, 10, 110), c.pixel)
            << c.value << " " << c.low << " " << c.high;
    }
}

TEST(PlotAxis, RoundRangesWideEnoughToRead) {
    struct Case {
        uint32_t minimum, maximum;
        int32_t lines;
        PlotGrid grid;
    };
    const Case cases[] = {
        {0, 100, 4, {0, 100, 50}},
        {0, 100, 5, {0, 100, 20}},
        {37, 81, 4, {20, 100, 20}},
        {63, 63, 4, {55, 70, 5}},
        {0, 0, 4, {0, 10, 5}},
        {1500, 1500, 4, {1400, 1600, 50}},
        {1499, 1501, 2, {1400, 1600, 100}},
        {2900, 3150, 3, {2800, 3200, 200}},
        {0, 65534, 4, {0, 80000, 20000}},
        {5000, 5000000, 4, {0, 6000000, 2000000}},
    };
    for (const Case& c : cases) {
        const PlotGrid grid = choosePlotGrid(c.minimum, c.maximum, c.lines);
        EXPECT_EQ(grid.low, c.grid.low) << c.minimum << ".." << c.maximum;
        EXPECT_EQ(grid.high, c.grid.high) << c.minimum << ".." << c.maximum;
        EXPECT_EQ(grid.step, c.grid.step) << c.minimum << ".." << c.maximum;
    }
}

TEST_F(BerlinClock, TimeTicksOnTheLocalClock) {
    struct Case {
        int64_t first, seconds;
        int32_t width;
        int count;
        int32_t firstX, lastX;
        const char *firstLabel, *lastLabel;
    };
    const Case cases[] = {
        {kMonday, 60, 400, 4, 66, 366, "13:30:00", "13:30:45"},
        {kMonday, 86400, 400, 4, 75, 375, "18:00", "12:00"},
        {kMonday, 7 * 86400, 700, 7, 43, 643, "Tue 00:00", "Mon 00:00"},
        {kMonday - 30 * 86400 + 1, 30 * 86400, 400, 5, 19, 392, "9 Nov", "7 Dec"},  // Mondays
        // Through the night the clock goes back: 01:00 summer time to 05:00 winter time.
        {1792881000, 6 * 3600, 600, 5, 50, 550, "01:00", "05:00"},
        // Midnights of the 1st of January, April (summer time), July and October.
        {kMonday - 365 * 86400 + 1, 365 * 86400, 400, 4, 26, 325, "1 Jan", "1 Oct"},
    };
    for (const Case& c : cases) {
        TimeTick ticks[kMostTimeTicks];
        const int count = timeTicks(c.first, c.seconds, c.width, 7, ticks);
        ASSERT_EQ(count, c.count) << c.seconds;
        EXPECT_EQ(ticks[0].x, c.firstX) << c.seconds;
        EXPECT_EQ(ticks[count - 1].x, c.lastX) << c.seconds;
        EXPECT_EQ(toUtf8(ticks[0].label), c.firstLabel);
        EXPECT_EQ(toUtf8(ticks[count - 1].label), c.lastLabel);
    }
}

TEST_F(BerlinClock, ReadoutTimes) {
    struct Case {
        int64_t range;
        int32_t period;
        const char* text;
    };
    const Case cases[] = {{3600, 1, "13:29:50"},
                          {86400, 60, "13:29"},
                          {7 * 86400, 60, "Mon 13:29"},
                          {365 * 86400, 3600, "Mon 7 Dec 13:29"}};
    for (const Case& c : cases) {
        char16_t text[kTimeLabelUnits];
        readoutTime(kMonday, c.range, c.period, text);
        EXPECT_EQ(toUtf8(text), c.text);
    }
}

}  // namespace
}  // namespace tarvelon
