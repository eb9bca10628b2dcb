// The panel window's own procedure on a change of monitor DPI: laid out anew for the new DPI at the
// position Windows suggests.
#include <gtest/gtest.h>
#include <windows.h>

#include "net/slot_table.h"
#include "panel/panel_window_win32.h"
#include "settings/settings.h"

namespace tarvelon {
namespace {

TEST(PanelWindow, FollowsADpiChangeAtTheSuggestedPosition) {
    clearSettings();
    clearSlotTable();
    setDefaultSettings(1280, 1024);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = panelWindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TarvelonDpiTest";
    RegisterClassExW(&windowClass);
    const HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"TarvelonDpiTest", L"", WS_POPUP, 10, 20, 500, 500,
                                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);

    const struct {
        int dpi;
        int left, top, width, height;
    } steps[] = {{96, 10, 20, 136, 112}, {144, 300, 200, 202, 166}, {120, 40, 50, 169, 139}, {96, 0, 0, 136, 112}};
    for (const auto& step : steps) {
        if (step.dpi != 96 || step.left != 10) {
            RECT suggested{step.left, step.top, step.left + 999, step.top + 999};
            SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(step.dpi, step.dpi), reinterpret_cast<LPARAM>(&suggested));
            UpdateWindow(window);
        }
        RECT rect{};
        GetWindowRect(window, &rect);
        EXPECT_EQ(rect.left, step.left) << step.dpi;
        EXPECT_EQ(rect.top, step.top) << step.dpi;
        EXPECT_EQ(rect.right - rect.left, step.width) << step.dpi;
        EXPECT_EQ(rect.bottom - rect.top, step.height) << step.dpi;
    }
    EXPECT_EQ(settings.windowPosX, 0);  // the move was stored
    DestroyWindow(window);
    deleteSettingsKey();
}

}  // namespace
}  // namespace tarvelon
