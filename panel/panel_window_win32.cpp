#include "panel/panel_window_win32.h"

#include "panel/alarms_dialog_win32.h"
#include "panel/general_setup_win32.h"
#include "panel/gpu_tooltip_win32.h"
#include "panel/history_window_win32.h"
#include "panel/network_setup_win32.h"
#include "panel/panel_win32.h"
#include "panel/tray_win32.h"
#include "panel/window_rules.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "tarvelon_version.h"
#include "telemetry/d3dkmt_adapters.h"

namespace tarvelon {

HWND mainWindow = nullptr;
HINSTANCE appInstance = nullptr;

namespace {

int32_t dragging = 0;
POINT dragAnchor{};
// The tile the context menu's "History" opens: the one under the cursor when the panel showed the
// menu, the local host when the tray did.
TileId menuTile{kLocalSource, -1};

TileId tileUnderCursor(HWND window) {
    POINT cursor{};
    GetCursorPos(&cursor);
    ScreenToClient(window, &cursor);
    TileId tile{kLocalSource, -1};
    tileAtWin32(cursor.x, cursor.y, &tile);
    return tile;
}

ScreenRect virtualScreen() {
    return {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
            GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

void dragWindow(HWND window) {
    POINT cursor{};
    GetCursorPos(&cursor);
    RECT rect{};
    GetWindowRect(window, &rect);
    const int32_t width = rect.right - rect.left;
    const int32_t height = rect.bottom - rect.top;
    const int32_t oldLayout = settings.layout;
    const DragResult step = dragStep({cursor.x, cursor.y}, {dragAnchor.x, dragAnchor.y},
                                     {rect.left, rect.top, width, height}, virtualScreen(), oldLayout);
    settings.layout = step.layout;
    if (step.layout != oldLayout) InvalidateRect(window, nullptr, TRUE);
    MoveWindow(window, step.x, step.y, width, height, TRUE);
    settings.windowPosX = step.x;
    settings.windowPosY = step.y;
    saveSettings();
    dragAnchor = cursor;
}

int32_t pointerEvent(PointerEvent event) {
    return draggingAfter(dragging != 0, event) ? 1 : 0;
}

void showAbout(HWND window) {
    char text[5000];
    formatAboutText(text, sizeof text, TARVELON_VERSION, __DATE__, __TIME__);
    MessageBoxA(window, text, "Information", MB_ICONINFORMATION);
}

LRESULT command(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (LOWORD(wParam)) {
        case IDM_INFO:
            showAbout(window);
            return 0;
        case IDM_EXIT:
            removeTrayIcon();
            DestroyWindow(window);
            return 0;
        case IDM_SETUP:
            showGeneralSetup();
            return 0;
        case IDM_NETWORK:
            showNetworkSetup();
            return 0;
        case IDM_HISTORY:
            showHistory(menuTile);
            return 0;
        case IDM_ALARMS:
            showAlarmsDialog(appInstance);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

LRESULT CALLBACK panelWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kTrayCallbackMessage) menuTile = {kLocalSource, -1};
    if (trayIconInstalled && handleTrayMessage(window, message, wParam, lParam)) return 0;
    static const UINT bringToFrontMessage = RegisterWindowMessageW(kBringToFrontMessageName);
    if (message == bringToFrontMessage) {
        bringToFront(window, message, wParam, 0);
        return 0;
    }
    switch (message) {
        case WM_CREATE:
            dragging = 0;
            setPanelDpi(window);
            return 0;
        case WM_DPICHANGED: {
            // Keep the physical size on the new monitor: lay out anew at the suggested position.
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            setPanelDpi(static_cast<int32_t>(HIWORD(wParam)));
            // The whole suggested rectangle: with the size of the new scale the window lies on the new
            // monitor, so a panel dropped on a boundary settles instead of flipping back.
            SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            InvalidateRect(window, nullptr, TRUE);
            loadTrayIcons();
            return 0;
        }
        case WM_DISPLAYCHANGE:
            // The primary monitor, whose scale sizes the tray icon, may have changed, and a GPU may
            // have come or gone with a display.
            loadTrayIcons();
            requestD3dkmtRescan();
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_DEVICECHANGE:
            requestD3dkmtRescan();  // an external GPU plugged in or out, a driver updated
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_POWERBROADCAST:
            if (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND) noteResumeWin32();
            return TRUE;
        case WM_DESTROY:
            removeTrayIcon();
            PostQuitMessage(0);
            return 0;
        case WM_MOVE: {
            RECT rect{};
            GetWindowRect(window, &rect);
            if (!positionWorthStoring(IsIconic(window) != FALSE, rect.left, rect.top)) return 0;
            settings.windowPosX = rect.left;
            settings.windowPosY = rect.top;
            saveSettings();
            return 0;
        }
        case WM_PAINT: {
            PAINTSTRUCT paint{};
            HDC dc = BeginPaint(window, &paint);
            fullPassWin32(window, dc);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_TIMER: {
            HDC dc = GetDC(window);
            tickPassWin32(window, dc);
            ReleaseDC(window, dc);
            notifyAlarmsWin32();
            // Re-armed for the start of the next second each time, so the ticks never drift off it.
            SetTimer(window, kPanelTimer, static_cast<UINT>(historyTickWin32()), nullptr);
            refreshHistoryWindow();
            refreshGpuTooltip();
            return 0;
        }
        case WM_COMMAND:
            return command(window, message, wParam, lParam);
        case WM_NOTIFY:
            if (gpuTooltipNotify(lParam)) return 0;
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_LBUTTONDOWN:
            // The capture first: taking it must not end the drag it starts.
            SetCapture(window);
            dragging = pointerEvent(PointerEvent::LeftButtonDown);
            GetCursorPos(&dragAnchor);
            return 0;
        case WM_MOUSEMOVE:
            if (dragging == 0) return 0;
            dragging = pointerEvent((wParam & MK_LBUTTON) != 0 ? PointerEvent::MoveWithButton
                                                               : PointerEvent::MoveWithoutButton);
            if (dragging == 1) {
                dragWindow(window);
            } else {
                ReleaseCapture();
            }
            return 0;
        case WM_LBUTTONUP:
            dragging = pointerEvent(PointerEvent::LeftButtonUp);
            ReleaseCapture();
            return 0;
        case WM_CAPTURECHANGED:
            dragging = pointerEvent(PointerEvent::CaptureLost);
            return 0;
        case WM_LBUTTONDBLCLK: {
            TileId tile{};
            POINT cursor{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            if (tileAtWin32(cursor.x, cursor.y, &tile)) showHistory(tile);
            return 0;
        }
        case WM_RBUTTONDOWN:
            menuTile = tileUnderCursor(window);
            showContextMenu(appInstance, IDR_CONTEXT_MENU, window);
            return 0;
        case kFontSizeMessage:
            settings.fontsize = static_cast<int32_t>(wParam);
            // Paint now, with a real update region, so the new size is laid out before we return.
            InvalidateRect(window, nullptr, TRUE);
            UpdateWindow(window);
            saveSettings();
            return 0;
        case kAlwaysOnTopMessage:
            settings.alwaysontop = static_cast<int32_t>(wParam);
            SetWindowPos(window, wParam != 0 ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            saveSettings();
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace tarvelon
