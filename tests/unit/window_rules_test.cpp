#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "panel/window_rules.h"

namespace tarvelon {
namespace {

constexpr ScreenRect kScreen{0, 0, 1280, 1024};

TEST(DragStep, FollowsTheCursorInsideTheScreen) {
    const DragResult step = dragStep({500, 400}, {490, 395}, {300, 200, 136, 112}, kScreen, 1);
    EXPECT_EQ(step.x, 310);
    EXPECT_EQ(step.y, 205);
    EXPECT_EQ(step.layout, 1);
}

TEST(DragStep, StopsAtTheEdgesOfTheVirtualScreen) {
    struct Case {
        ScreenPoint cursor, anchor;
        ScreenRect window, screen;
        int32_t x, y;
    } cases[] = {
        {{100, 100}, {300, 300}, {50, 50, 136, 112}, kScreen, 0, 0},
        {{1200, 1000}, {100, 100}, {1000, 800, 136, 112}, kScreen, 1280 - 136, 1024 - 112},
        // Monitors left of the primary one: the box starts at a negative origin.
        {{-1900, 500}, {200, 500}, {100, 300, 136, 112}, {-1920, 0, 3200, 1080}, -1920, 300},
        // Wider than the box: the right-edge rule comes last, so the left edge ends left of the origin.
        {{640, 500}, {600, 500}, {0, 0, 2000, 112}, kScreen, 1280 - 2000, 0},
    };
    for (const Case& c : cases) {
        const DragResult step = dragStep(c.cursor, c.anchor, c.window, c.screen, 1);
        EXPECT_EQ(step.x, c.x);
        EXPECT_EQ(step.y, c.y);
    }
}

TEST(DragStep, EdgesPickTheLayoutAndTheMiddleKeepsIt) {
    struct Case {
        ScreenPoint cursor;
        int32_t before, after;
    } cases[] = {
        {{15, 500}, 1, 2},      {{16, 500}, 1, 1},     {{1265, 500}, 1, 2}, {{1264, 500}, 1, 1},
        {{600, 15}, 2, 1},      {{600, 1009}, 2, 1},   {{600, 500}, 2, 2},  {{600, 500}, 1, 1},
        {{5, 5}, 2, 1},  // a corner: top/bottom wins
        {{600, 500}, 7, 7},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dragStep(c.cursor, c.cursor, {300, 300, 136, 112}, kScreen, c.before).layout, c.after)
            << c.cursor.x << "," << c.cursor.y;
    }
}

TEST(DragStep, FarAwayPositionsDoNotOverflow) {
    const DragResult step = dragStep({0, 0}, {-2000000000, -2000000000}, {2000000000, 2000000000, 136, 112},
                                     kScreen, 1);
    EXPECT_EQ(step.x, 1280 - 136);
    EXPECT_EQ(step.y, 1024 - 112);
}

TEST(TrayRouting, OnlyTheCallbackMessageIsRouted) {
    const TrayRouting tray{1111, 129, false, true, false};
    EXPECT_EQ(routeTrayEvent(tray, 1112, 0x0204), TrayAction::NotHandled);
    EXPECT_EQ(routeTrayEvent(tray, 1111, 0x0201), TrayAction::NotHandled);  // single left click
    EXPECT_EQ(routeTrayEvent(tray, 1111, 0x0203), TrayAction::DoubleClickHandler);
    EXPECT_EQ(routeTrayEvent(tray, 1111, 0x0204), TrayAction::ShowMenu);
    EXPECT_EQ(routeTrayEvent(tray, 1111, 0x007B), TrayAction::ShowMenu);
    EXPECT_EQ(routeTrayEvent(tray, 1111, 0x0200), TrayAction::NotHandled);

    const TrayRouting noMenu{1111, 0, true, false, false};
    EXPECT_EQ(routeTrayEvent(noMenu, 1111, 0x0204), TrayAction::NotHandled);
    EXPECT_EQ(routeTrayEvent(noMenu, 1111, 0x0201), TrayAction::LeftButtonHandler);
    EXPECT_EQ(routeTrayEvent(noMenu, 1111, 0x0203), TrayAction::NotHandled);
    const TrayRouting ownMenu{1111, 0, false, false, true};
    EXPECT_EQ(routeTrayEvent(ownMenu, 1111, 0x0204), TrayAction::ContextMenuHandler);
}

TEST(AboutText, HasFourLinesEndingWithTheBuildTime) {
    char text[5000];
    formatAboutText(text, sizeof text, "Dec  7 2026", "07:58:01");
    const std::string about(text);
    EXPECT_EQ(about.rfind("Tarvelon", 0), 0u);
    EXPECT_NE(about.find("\r\nCompile Date: Dec  7 2026\r\nCompile Time: 07:58:01"), std::string::npos);
    size_t lines = 1;
    for (size_t at = about.find("\r\n"); at != std::string::npos; at = about.find("\r\n", at + 2)) ++lines;
    EXPECT_EQ(lines, 4u);
    char tiny[8];
    formatAboutText(tiny, sizeof tiny, "Dec  7 2026", "07:58:01");
    EXPECT_EQ(std::strlen(tiny), 7u);
}

}  // namespace
}  // namespace tarvelon
