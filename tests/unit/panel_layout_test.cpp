// Panel metrics, the grid of layouts 1 and 2, text rows, and the limits on absurd font sizes.
#include <climits>

#include "unit/panel_world.h"

namespace tarvelon {
namespace {

using Layout = PanelWorld;

struct Box {
    int32_t left, top, right, bottom;
};

// Every shown panel's rectangle.
std::vector<Box> panelBoxes(const PanelList& list, const PanelMetrics& m) {
    std::vector<Box> boxes;
    for (int g = 0; g < kPanelGroups; ++g) {
        const PanelGroup& group = list.groups[g];
        if (g != 0 && group.host.present == 0) continue;
        boxes.push_back(
            {group.host.x, group.host.y, group.host.x + m.panelWidth, group.host.y + m.panelHeight});
        for (const PanelEntry& gpu : group.gpus) {
            if (gpu.present != 0)
                boxes.push_back({gpu.x, gpu.y, gpu.x + m.panelWidth, gpu.y + m.panelHeight});
        }
    }
    return boxes;
}

void expectInsideWindow(const PanelList& list, const PanelMetrics& m, bool mayOverlap = false) {
    const std::vector<Box> boxes = panelBoxes(list, m);
    for (size_t i = 0; i < boxes.size(); ++i) {
        const Box& a = boxes[i];
        EXPECT_GE(a.left, 0) << i;
        EXPECT_GE(a.top, 0) << i;
        EXPECT_LE(a.right, m.windowWidth) << i;
        EXPECT_LE(a.bottom, m.windowHeight) << i;
        for (size_t j = i + 1; j < boxes.size() && !mayOverlap; ++j) {
            const Box& b = boxes[j];
            const bool apart =
                a.right <= b.left || b.right <= a.left || a.bottom <= b.top || b.bottom <= a.top;
            EXPECT_TRUE(apart) << "panels " << i << " and " << j;
        }
    }
}

TEST_F(Layout, MetricsFollowTheFontSize) {
    struct Case {
        int32_t fontsize, headerWidth, panelWidth, panelHeight;
    } cases[] = {{12, 16, 136, 112}, {2, 6, 26, 22}, {20, 24, 224, 184}, {1, 5, 15, 13}};
    for (const Case& c : cases) {
        const PanelMetrics m = computeLayout(state->shown, c.fontsize, 1);
        EXPECT_EQ(m.lineHeight, c.fontsize);
        EXPECT_EQ(m.headerWidth, c.headerWidth) << c.fontsize;
        EXPECT_EQ(m.panelWidth, c.panelWidth) << c.fontsize;
        EXPECT_EQ(m.panelHeight, c.panelHeight) << c.fontsize;
    }
}

TEST_F(Layout, OneLocalHostWithoutGpusIsOnePanel) {
    setLocal(0);
    buildPanelList(state->current);
    takePanelList(state->current, state->shown);
    const PanelMetrics m = computeLayout(state->shown, 12, 1);
    EXPECT_EQ(m.columns, 0);
    EXPECT_EQ(m.rows, 0);
    EXPECT_EQ(m.windowWidth, 136);
    EXPECT_EQ(m.windowHeight, 112);
}

// Two local GPUs, servers with one and three GPUs.
class MixedGrid : public PanelWorld {
  protected:
    void SetUp() override {
        PanelWorld::SetUp();
        setLocal(2);
        addServer(4, 1);
        addServer(9, 3);
        buildPanelList(state->current);
        takePanelList(state->current, state->shown);
    }
    struct Position {
        int group, gpu;  // gpu -1: host panel
        int32_t column, row;
    };
    void expectCells(const PanelMetrics& m, std::initializer_list<Position> cells) {
        for (const Position& p : cells) {
            const PanelGroup& group = state->shown.groups[p.group];
            const PanelEntry& entry = p.gpu < 0 ? group.host : group.gpus[p.gpu];
            EXPECT_EQ(entry.x, p.column * m.panelWidth) << p.group << "/" << p.gpu;
            EXPECT_EQ(entry.y, p.row * m.panelHeight) << p.group << "/" << p.gpu;
        }
    }
};

TEST_F(MixedGrid, Layout1HasOneRowPerHost) {
    const PanelMetrics m = computeLayout(state->shown, 12, 1);
    EXPECT_EQ(m.columns, 3);
    EXPECT_EQ(m.rows, 2);
    EXPECT_EQ(m.windowWidth, 4 * 136);
    EXPECT_EQ(m.windowHeight, 3 * 112);
    expectCells(m, {{0, -1, 0, 0},
                    {0, 0, 1, 0},
                    {0, 1, 2, 0},
                    {1, -1, 0, 1},
                    {1, 0, 1, 1},
                    {2, -1, 0, 2},
                    {2, 0, 1, 2},
                    {2, 1, 2, 2},
                    {2, 2, 3, 2}});
    expectInsideWindow(state->shown, m);
}

TEST_F(MixedGrid, Layout2HasOneColumnPerHost) {
    const PanelMetrics m = computeLayout(state->shown, 12, 2);
    EXPECT_EQ(m.columns, 2);
    EXPECT_EQ(m.rows, 3);
    EXPECT_EQ(m.windowWidth, 3 * 136);
    EXPECT_EQ(m.windowHeight, 4 * 112);
    expectCells(m, {{0, -1, 0, 0},
                    {0, 0, 0, 1},
                    {0, 1, 0, 2},
                    {1, -1, 1, 0},
                    {1, 0, 1, 1},
                    {2, -1, 2, 0},
                    {2, 0, 2, 1},
                    {2, 1, 2, 2},
                    {2, 2, 2, 3}});
    expectInsideWindow(state->shown, m);
}

TEST_F(MixedGrid, AnyOtherLayoutStacksEverythingAtTheOrigin) {
    for (int32_t layout : {0, 3, -1, INT_MAX}) {
        computeLayout(state->shown, 12, 1);  // positions of a real layout are not kept
        const PanelMetrics m = computeLayout(state->shown, 12, layout);
        EXPECT_EQ(m.columns, 0) << layout;
        EXPECT_EQ(m.rows, 0) << layout;
        EXPECT_EQ(m.windowWidth, 136);
        EXPECT_EQ(m.windowHeight, 112);
        for (const Box& box : panelBoxes(state->shown, m)) {
            EXPECT_EQ(box.left, 0);
            EXPECT_EQ(box.top, 0);
        }
    }
}

TEST_F(Layout, RowsHaveGapsBeforeRow5AndForHostsBeforeRow7) {
    PanelEntry entry{};
    entry.x = 1000;
    entry.y = 2000;
    const PanelMetrics m = computeLayout(state->shown, 12, 1);  // g = 4
    const int32_t y0 = 2000 + 16 + 2;
    const int32_t host[] = {y0, y0 + 12, y0 + 24, y0 + 36, y0 + 52, y0 + 64, y0 + 80};
    const int32_t gpu[] = {y0, y0 + 12, y0 + 24, y0 + 36, y0 + 52, y0 + 64, y0 + 76};
    for (int row = 1; row <= kPanelRows; ++row) {
        EXPECT_EQ(rowY(entry, m, true, row), host[row - 1]) << row;
        EXPECT_EQ(rowY(entry, m, false, row), gpu[row - 1]) << row;
    }
    EXPECT_EQ(labelX(entry, m), 1000 + 18);
    EXPECT_EQ(valueX(entry, m), 1000 + 18 + 60);

    // At font size 2 the gaps vanish (g = 0).
    const PanelMetrics small = computeLayout(state->shown, 2, 1);
    const int32_t smallRows[] = {2008, 2010, 2012, 2014, 2016, 2018, 2020};
    for (int row = 1; row <= kPanelRows; ++row) {
        EXPECT_EQ(rowY(entry, small, true, row), smallRows[row - 1]) << row;
    }
}

// Many shapes of grid, both layouts, several font sizes: panels never overlap, stay inside the
// window, and every text row starts inside its panel.
TEST_F(Layout, PanelsTileTheWindowWithoutOverlap) {
    const int localGpus[] = {0, 1, 16};
    const int serverShapes[][4] = {{0, 0, 0, 0}, {1, 0, 0, 0}, {3, 16, 0, 2}, {0, 0, 0, 1}};
    for (int local : localGpus) {
        for (const auto& shape : serverShapes) {
            clearSlotTable();
            setLocal(local);
            for (int s = 0; s < 4; ++s) {
                if (shape[s] > 0 || s == 0) addServer(s * 10, shape[s]);
            }
            buildPanelList(state->current);
            takePanelList(state->current, state->shown);
            for (int32_t layout : {1, 2}) {
                for (int32_t fontsize : {1, 2, 7, 12, 40}) {
                    SCOPED_TRACE(testing::Message()
                                 << "local " << local << " layout " << layout << " font " << fontsize
                                 << " shape " << shape[0] << shape[1] << shape[2] << shape[3]);
                    const PanelMetrics m = computeLayout(state->shown, fontsize, layout);
                    expectInsideWindow(state->shown, m);
                    // At font size 1 the formulas put the last host row on the panel's bottom edge.
                    if (fontsize < 2) continue;
                    const PanelEntry& host = state->shown.groups[0].host;
                    EXPECT_LT(rowY(host, m, true, 7), host.y + m.panelHeight);
                    EXPECT_LT(valueX(host, m), host.x + m.panelWidth);
                }
            }
        }
    }
}

// The most panels there can be, with font sizes no window can hold or no font can have.
TEST_F(Layout, AbsurdFontSizesStayWithinBounds) {
    setLocal(16);
    for (int s = 0; s < kServerSlots; ++s) addServer(s, 16);
    buildPanelList(state->current);
    takePanelList(state->current, state->shown);
    for (int32_t layout : {1, 2, 7}) {
        for (int32_t fontsize : {0, -5, INT_MIN, 100000, INT_MAX, 2978, 2979}) {
            SCOPED_TRACE(testing::Message() << "layout " << layout << " font " << fontsize);
            state->shown = state->current;  // as after a change: positions 0 until laid out
            const PanelMetrics m = computeLayout(state->shown, fontsize, layout);
            EXPECT_GE(m.lineHeight, 1);
            EXPECT_GT(m.windowWidth, 0);
            EXPECT_GT(m.windowHeight, 0);
            EXPECT_LE(m.windowWidth, kMaxWindowExtent);
            EXPECT_LE(m.windowHeight, kMaxWindowExtent);
            if (fontsize < 1) {
                EXPECT_EQ(m.lineHeight, 1);
            }
            expectInsideWindow(state->shown, m, layout == 7);
        }
    }
}

TEST_F(Layout, LineHeightIsTheLargestThatFits) {
    struct Case {
        int32_t fontsize, columns, rows, expected;
    } cases[] = {
        // The largest lines that fit 32767 pixels: one column of 11 * 2978 + 4 = 32762, 65 columns
        // of 11 * 45 + 4 = 499 (32435), 65 rows of 9 * 55 + 4 = 499; one pixel more does not fit.
        {12, 0, 0, 12},     {0, 0, 0, 1},       {-7, 3, 3, 1},        {100000, 0, 0, 2978},
        {2978, 0, 0, 2978}, {2979, 0, 0, 2978}, {100000, 64, 16, 45}, {100000, 16, 64, 55},
        {45, 64, 0, 45},    {46, 64, 0, 45},    {55, 0, 64, 55},      {56, 0, 64, 55},
    };
    for (const Case& c : cases) {
        const int32_t line = effectiveLineHeight(c.fontsize, c.columns, c.rows);
        EXPECT_EQ(line, c.expected) << c.fontsize << " " << c.columns << "x" << c.rows;
    }
}

TEST(PanelDpi, TheFontSizeScalesWithTheMonitorRoundedHalfAway) {
    const struct {
        int32_t fontsize, dpi, scaled;
    } cases[] = {
        {12, 96, 12}, {12, 144, 18}, {12, 120, 15}, {10, 120, 13}, {13, 120, 16}, {2, 144, 3},
        {48, 192, 96}, {0, 144, 0}, {-5, 144, -8}, {INT32_MAX, 192, INT32_MAX},
    };
    for (const auto& c : cases) EXPECT_EQ(fontSizeForDpi(c.fontsize, c.dpi), c.scaled) << c.fontsize << " " << c.dpi;
}

}  // namespace
}  // namespace tarvelon
