// The history window's picture on a recording surface: the figure lines, the alarm line on the GPU
// core temperature only, gaps left empty, and the window title.
#include <gtest/gtest.h>

#include <memory>

#include "panel/history_draw.h"
#include "panel/recording_surface.h"
#include "platform/text16.h"
#include "unit/panel_world.h"

namespace tarvelon {
namespace {

constexpr Rgb kLine{48, 128, 48};
constexpr Rgb kAlarm{148, 32, 32};

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
std::unique_ptr<HistoryRing> steppedRing() {
    auto ring = std::make_unique<HistoryRing>();
    clearHistory(*ring);
    for (int s = 0; s < 60; ++s) {
        const HistoryFigures figures{1, 2, 3, 4, 5, s < 30 ? 50u : 80u, 7};
        if (s >= 20 && s < 40) {
            recordHistoryGap(*ring, 1000 + s);
        } else {
            recordHistory(*ring, 1000 + s, figures);
        }
    }
    return ring;
}

TEST(HistoryDraw, FiguresAlarmLineAndGaps) {
    const auto ring = steppedRing();
    for (const bool gpuTile : {true, false}) {
        Drawn drawn;
        drawHistory({ring.get(), gpuTile, 1059, 60, 75, 12, {0, 0, 400, 800}}, drawn.surface);
        const char16_t* line = gpuTile ? u"Core \u00B0C  now 80  min 50  avg 65  max 80"
                                       : u"Virtual free MB  now 80  min 50  avg 65  max 80";
        EXPECT_NE(drawn.surface.findText(line), nullptr) << gpuTile;
        EXPECT_EQ(drawn.fillsOf(kAlarm, 0, 400) > 0, gpuTile);
    }
    Drawn drawn;
    drawHistory({ring.get(), true, 1059, 60, 0, 12, {0, 0, 400, 800}}, drawn.surface);
    EXPECT_EQ(drawn.fillsOf(kAlarm, 0, 400), 0);  // no limit set
    // Plots run from x 60 to 392, 332 columns for 60 seconds: the gap's seconds 20 to 39 are
    // columns 111 to 221, which draw nothing; either side draws.
    EXPECT_EQ(drawn.fillsOf(kLine, 60 + 111, 60 + 222), 0);
    EXPECT_GT(drawn.fillsOf(kLine, 60, 60 + 110), 0);
    EXPECT_GT(drawn.fillsOf(kLine, 60 + 223, 392), 0);
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
