// The history window's picture on a recording surface: the figure lines, the alarm line on the GPU
// core temperature only, gaps left empty, bands, the readout under the mouse, and the window title.
#include "panel/history_draw.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "panel/recording_surface.h"
#include "platform/text16.h"
#include "unit/panel_world.h"

namespace tarvelon {
namespace {

constexpr Rgb kLine{48, 128, 48};
constexpr Rgb kAlarm{148, 32, 32};
constexpr Rgb kBand{96, 160, 96};
constexpr Rgb kTint{176, 160, 160};

struct Drawn {
    RecordingSurface surface{{0, 0, 400, 800}};
    int fillsOf(Rgb colour, int32_t left, int32_t right) const {
        int count = 0;
        for (const RecordedFill& fill : surface.fills) {
            if (fill.colour == colour && fill.rect.left >= left && fill.rect.right <= right) ++count;
        }
        return count;
    }
};

// 60 seconds ending at 1059: core temperature 50 then 80, the middle 20 seconds a gap.
struct SteppedSeconds {
    std::unique_ptr<HistoryRing> ring = std::make_unique<HistoryRing>();
    PeriodFigures seconds[60] = {};
    PeriodRun run{seconds, 60, 1000, 1};
    SteppedSeconds() {
        clearHistory(*ring);
        for (int s = 0; s < 60; ++s) {
            const HistoryFigures figures{1, 2, 3, 4, 5, s < 30 ? 50u : 80u, 7};
            if (s >= 20 && s < 40) {
                recordHistoryGap(*ring, 1000 + s);
            } else {
                recordHistory(*ring, 1000 + s, figures);
            }
        }
        takeRingSeconds(*ring, seconds, 60, 1000);
    }
    HistoryView view(bool gpuTile, int32_t alarmC) const {
        return {&run, ring.get(), gpuTile, {1000, 60}, 1059, alarmC, 12, {0, 0, 400, 800}, -1, -1};
    }
};

TEST(HistoryDraw, FiguresAlarmLineAndGaps) {
    const SteppedSeconds stepped;
    for (const bool gpuTile : {true, false}) {
        Drawn drawn;
        drawHistory(stepped.view(gpuTile, 75), drawn.surface);
        const char16_t* line = gpuTile ? u"Core \u00B0C  now 80  min 50  avg 65  max 80"
                                       : u"Virtual free MB  now 80  min 50  avg 65  max 80";
        EXPECT_NE(drawn.surface.findText(line), nullptr) << gpuTile;
        EXPECT_EQ(drawn.fillsOf(kAlarm, 0, 400) > 0, gpuTile);
    }
    Drawn drawn;
    drawHistory(stepped.view(true, 0), drawn.surface);
    EXPECT_EQ(drawn.fillsOf(kAlarm, 0, 400), 0);  // no limit set
    // Plots run from x 60 to 392, 332 columns for 60 seconds: the gap's seconds 20 to 39 are
    // columns 111 to 221, which draw nothing; either side draws.
    EXPECT_EQ(drawn.fillsOf(kLine, 60 + 111, 60 + 222), 0);
    EXPECT_GT(drawn.fillsOf(kLine, 60, 60 + 110), 0);
    EXPECT_GT(drawn.fillsOf(kLine, 60 + 223, 392), 0);
    // Under the mouse, a column of one second reads its time and value alone; a gap reads "-"; a
    // column past the plots (the window narrowed under a still mouse) reads nothing.
    struct Case {
        int32_t hoverX;
        const char16_t* ending;
    };
    const Case cases[] = {{10, u":41  50"}, {150, u":07  -"}, {300, u":34  80"}, {400, u"max 80"}};
    for (const Case& c : cases) {
        HistoryView hovered = stepped.view(true, 0);
        hovered.hoverX = c.hoverX;
        Drawn read;
        drawHistory(hovered, read.surface);
        std::u16string line;
        for (const RecordedText& text : read.surface.texts) {
            if (text.text.rfind(u"Core \u00B0C  ", 0) == 0) line = text.text;
        }
        ASSERT_GT(line.size(), 12u) << c.hoverX;
        EXPECT_EQ(line.substr(line.size() - std::u16string(c.ending).size()), c.ending) << c.hoverX;
    }
}

// Three hours of which each column shows a part: the band, and under the mouse a line across the
// plots and each figure's minimum, average and maximum there.
TEST(HistoryDraw, BandsAndTheReadout) {
    PeriodFigures hours[3] = {};
    for (int h = 0; h < 3; ++h) {
        hours[h].start = 7200 + h * 3600;
        hours[h].seconds = 3600;
        for (int f = 0; f < kHistoryFigures; ++f) {
            hours[h].minimum[f] = 40;
            hours[h].average[f] = 50;
            hours[h].maximum[f] = 70;
        }
    }
    const PeriodRun run{hours, 3, 7200, 3600};
    for (const int32_t hoverX : {-1, 100}) {
        Drawn drawn;
        drawHistory({&run, nullptr, true, {7200, 3 * 3600}, 18000, 0, 12, {0, 0, 400, 800}, hoverX, -1},
                    drawn.surface);
        EXPECT_GT(drawn.fillsOf(kBand, 60, 392), 0);
        int readouts = 0;
        bool crossing = false;
        for (const RecordedText& text : drawn.surface.texts) {
            const std::string line = toUtf8(text.text.c_str());
            readouts += line.size() > 24 &&
                        line.compare(line.size() - 24, 24, "  min 40  avg 50  max 70") == 0 &&
                        line.find("now") == std::string::npos;
        }
        for (const RecordedFill& fill : drawn.surface.fills) {
            crossing |=
                fill.rect.left == 160 && fill.rect.right == 161 && fill.rect.bottom - fill.rect.top > 600;
        }
        EXPECT_EQ(readouts, hoverX < 0 ? 0 : kHistoryFigures);
        EXPECT_EQ(crossing, hoverX >= 0);
    }
}

// Seconds 20 to 39 raised on the GPU's core temperature tint columns 111 to 221 of that plot alone: not
// the host figure of the same number, nor another tile's.
TEST(HistoryDraw, RaisedPeriodTintsItsFigure) {
    const SteppedSeconds stepped;
    auto periods = std::make_unique<AlarmPeriods>();
    TileKey gpu, other;
    setTileKey(gpu, u"", 0, 0x100);
    setTileKey(other, u"", 0, 0x200);
    periods->periods[0] = {gpu, 12, 0, 0, 0x100, 1020, 1040};
    periods->periods[1] = {gpu, 5, 1, 0, 0x100, 1020, 1040};
    periods->periods[2] = {other, 12, 2, 0, 0x200, 1045, 1050};
    periods->count = 3;
    HistoryView view = stepped.view(true, 0);
    view.alarms = periods.get();
    view.tile = &gpu;
    Drawn drawn;
    drawHistory(view, drawn.surface);
    std::vector<std::array<int32_t, 4>> tints;
    for (const RecordedFill& fill : drawn.surface.fills) {
        if (fill.colour == kTint)
            tints.push_back({fill.rect.left, fill.rect.top, fill.rect.right, fill.rect.bottom});
    }
    // The sixth of seven plots 111 pixels apart, below its 12-pixel text line.
    EXPECT_EQ(tints, (std::vector<std::array<int32_t, 4>>{{60 + 111, 5 * 111 + 14, 60 + 222, 6 * 111 - 4}}));
}

class HistoryTitle : public PanelWorld {};

TEST_F(HistoryTitle, NamesTheHostOrTheGpu) {
    setLocal(1);
    addServer(2, 0, u"");
    copyText16(slotTable[2].Hostname, kSlotTextUnits, u"10.0.0.9");
    buildPanelList(state->current);
    takePanelList(state->current, state->shown);
    char16_t title[kHistoryTitleUnits];
    historyTitle(state->shown.groups[0], -1, title);
    EXPECT_EQ(toUtf8(title), "History - SYSTEM");
    copyText16(state->shown.groups[0].gpuRecords[0].gpuName, kRecordTextUnits, u"Simulated GeForce");
    historyTitle(state->shown.groups[0], 0, title);
    EXPECT_EQ(toUtf8(title), "History - Simulated GeForce");
    historyTitle(state->shown.groups[1], -1, title);
    EXPECT_EQ(toUtf8(title), "History - 10.0.0.9");
}

}  // namespace
}  // namespace tarvelon
