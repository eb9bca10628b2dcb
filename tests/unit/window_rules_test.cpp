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

TEST(DragEnd, TheReleaseALostCaptureOrAMoveWithoutTheButtonEndsADrag) {
    const struct {
        bool dragging;
        PointerEvent event;
        bool after;
    } cases[] = {
        {false, PointerEvent::LeftButtonDown, true},  {true, PointerEvent::MoveWithButton, true},
        {false, PointerEvent::MoveWithButton, false}, {true, PointerEvent::LeftButtonUp, false},
        {true, PointerEvent::CaptureLost, false},     {true, PointerEvent::MoveWithoutButton, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(draggingAfter(c.dragging, c.event), c.after) << static_cast<int>(c.event);
    }
}

TEST(MinimisedPanel, IsNeitherStoredNorStartedMinimised) {
    EXPECT_TRUE(positionWorthStoring(false, 640, 512));
    EXPECT_TRUE(positionWorthStoring(false, -32000, 512));
    EXPECT_FALSE(positionWorthStoring(true, 640, 512));
    EXPECT_FALSE(positionWorthStoring(false, -32000, -32000));
    const int32_t shows[][2] = {{1, 1}, {2, 1}, {3, 3}, {4, 4}, {5, 5}, {6, 1}, {7, 1}, {10, 10}, {11, 1}};
    for (const auto& show : shows) EXPECT_EQ(panelShowCommand(show[0]), show[1]) << show[0];
}

TEST(LostPanel, OnlyAPanelOnNoMonitorMovesToTheMiddleOfThePrimaryOne) {
    const ScreenRect monitors[] = {kScreen, {-1920, 0, 1920, 1080}};
    const struct {
        ScreenRect window;
        int32_t monitorCount;
        bool lost;
        ScreenPoint position;
    } cases[] = {
        {{300, 200, 136, 112}, 2, false, {}},
        {{-1000, 500, 136, 112}, 2, false, {}},  // on the second monitor
        {{1279, 1023, 136, 112}, 2, false, {}},  // one pixel on the primary monitor
        {{1280, 200, 136, 112}, 2, true, {572, 456}},
        {{-1000, 500, 136, 112}, 1, true, {572, 456}},  // that monitor was unplugged
        {{-32000, -32000, 160, 24}, 2, true, {560, 500}},
        {{5000, 5000, 0, 0}, 2, true, {639, 511}},
        {{5000, 5000, 136, 112}, 0, false, {}},  // no monitor known
    };
    for (const auto& c : cases) {
        ScreenPoint position{-1, -1};
        EXPECT_EQ(findLostPanel(c.window, monitors, c.monitorCount, kScreen, &position), c.lost)
            << c.window.left;
        if (c.lost) {
            EXPECT_EQ(position.x, c.position.x);
            EXPECT_EQ(position.y, c.position.y);
        }
    }
}

TEST(TrayRouting, OnlyTheCallbackMessageIsRouted) {
    const TrayRouting tray{1111, 129, false, true, false, 0};
    EXPECT_EQ(routeTrayEvent(tray, 1112, 0x0204), TrayAction::NotHandled);
    EXPECT_EQ(routeTrayEvent(tray, 1111, 0x0201), TrayAction::NotHandled);  // single left click
    EXPECT_EQ(routeTrayEvent(tray, 1111, 0x0203), TrayAction::DoubleClickHandler);
    EXPECT_EQ(routeTrayEvent(tray, 1111, 0x0204), TrayAction::ShowMenu);
    EXPECT_EQ(routeTrayEvent(tray, 1111, 0x007B), TrayAction::ShowMenu);
    EXPECT_EQ(routeTrayEvent(tray, 1111, 0x0200), TrayAction::NotHandled);

    const TrayRouting noMenu{1111, 0, true, false, false, 0};
    EXPECT_EQ(routeTrayEvent(noMenu, 1111, 0x0204), TrayAction::NotHandled);
    EXPECT_EQ(routeTrayEvent(noMenu, 1111, 0x0201), TrayAction::LeftButtonHandler);
    EXPECT_EQ(routeTrayEvent(noMenu, 1111, 0x0203), TrayAction::NotHandled);
    const TrayRouting ownMenu{1111, 0, false, false, true, 0};
    EXPECT_EQ(routeTrayEvent(ownMenu, 1111, 0x0204), TrayAction::ContextMenuHandler);

    // A restarted shell has forgotten the icon; an unregistered message (0) is never taken for it.
    const TrayRouting shell{1111, 129, false, true, false, 0xC0DE};
    EXPECT_EQ(routeTrayEvent(shell, 0xC0DE, 0), TrayAction::AddAgain);
    EXPECT_EQ(routeTrayEvent(tray, 0, 0), TrayAction::NotHandled);
}

TEST(AboutText, HasFiveLinesEndingWithTheVersionAndBuildTime) {
    char text[5000];
    formatAboutText(text, sizeof text, "1.2.3", "Dec  7 2026", "07:58:01");
    const std::string about(text);
    EXPECT_EQ(about.rfind("Tarvelon", 0), 0u);
    EXPECT_NE(about.find("\r\nVersion: 1.2.3\r\nCompile Date: Dec  7 2026\r\nCompile Time: 07:58:01"),
              std::string::npos);
    size_t lines = 1;
    for (size_t at = about.find("\r\n"); at != std::string::npos; at = about.find("\r\n", at + 2)) ++lines;
    EXPECT_EQ(lines, 5u);
    char tiny[8];
    formatAboutText(tiny, sizeof tiny, "1.2.3", "Dec  7 2026", "07:58:01");
    EXPECT_EQ(std::strlen(tiny), 7u);
}

}  // namespace
}  // namespace tarvelon
