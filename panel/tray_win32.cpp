#include "panel/tray_win32.h"

#include <cstdlib>
#include <iterator>
#include <new>

#include "panel/window_rules.h"
#include "platform/fatal.h"
#include "platform/text16.h"

namespace tarvelon {

TrayIcon* trayIcon = nullptr;
bool trayIconInstalled = false;

void createTrayIcon() {
    trayIcon = new (std::nothrow) TrayIcon{};
    if (trayIcon == nullptr) failOutOfMemory(kSiteTrayState);
    trayIconInstalled = false;
    trayIcon->notifyData.cbSize = sizeof(NOTIFYICONDATAW);
    trayIcon->notifyData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    std::atexit(destroyTrayIcon);
}

void destroyTrayIcon() {
    if (trayIcon == nullptr) return;
    removeTrayIcon();
    delete trayIcon;
    trayIcon = nullptr;
}

void installTrayIcon() {
    if (trayIcon == nullptr || trayIconInstalled) return;
    trayIconInstalled = true;
    Shell_NotifyIconW(NIM_ADD, &trayIcon->notifyData);
}

void removeTrayIcon() {
    if (trayIcon == nullptr || !trayIconInstalled) return;
    trayIconInstalled = false;
    Shell_NotifyIconW(NIM_DELETE, &trayIcon->notifyData);
}

void showTrayNotice(const char16_t* title, const char16_t* text, bool information) {
    if (trayIcon == nullptr || !trayIconInstalled) return;
    NOTIFYICONDATAW notice = trayIcon->notifyData;
    notice.uFlags = NIF_INFO;
    notice.dwInfoFlags = information ? NIIF_INFO : NIIF_WARNING;
    copyText16(reinterpret_cast<char16_t*>(notice.szInfoTitle), std::size(notice.szInfoTitle), title);
    copyText16(reinterpret_cast<char16_t*>(notice.szInfo), std::size(notice.szInfo), text);
    // Only the newest waits: a later notice says more about now than an older one.
    trayIcon->noticePending = Shell_NotifyIconW(NIM_MODIFY, &notice) == FALSE;
    if (trayIcon->noticePending) trayIcon->pendingNotice = notice;
}

void setTrayTooltip(const char16_t* text) {
    if (trayIcon == nullptr) return;
    char16_t* tip = reinterpret_cast<char16_t*>(trayIcon->notifyData.szTip);
    if (equalText16(tip, text)) return;
    copyText16(tip, std::size(trayIcon->notifyData.szTip), text);
    if (trayIconInstalled) Shell_NotifyIconW(NIM_MODIFY, &trayIcon->notifyData);
}

void addTrayIconAgain() {
    if (trayIcon == nullptr || !trayIconInstalled) return;
    if (Shell_NotifyIconW(NIM_ADD, &trayIcon->notifyData) == FALSE) return;
    if (trayIcon->noticePending) {
        trayIcon->noticePending = Shell_NotifyIconW(NIM_MODIFY, &trayIcon->pendingNotice) == FALSE;
    }
}

void showTrayAlert(bool alert) {
    if (trayIcon == nullptr || trayIcon->alertShown == alert) return;
    trayIcon->alertShown = alert;
    trayIcon->notifyData.hIcon = alert ? trayIcon->alertIcon : trayIcon->normalIcon;
    if (trayIconInstalled) Shell_NotifyIconW(NIM_MODIFY, &trayIcon->notifyData);
}

void loadTrayIcons() {
    if (trayIcon == nullptr) return;
    // The tray sits on the primary monitor: its small icon size at that monitor's DPI.
    using DpiForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    using MetricsForDpi = int(WINAPI*)(int, UINT);
    static const auto dpiForMonitor = reinterpret_cast<DpiForMonitor>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"shcore.dll"), "GetDpiForMonitor")));
    static const auto metricsForDpi = reinterpret_cast<MetricsForDpi>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
    UINT dpiX = 0;
    UINT dpiY = 0;
    const HMONITOR primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    int size = GetSystemMetrics(SM_CXSMICON);
    if (dpiForMonitor != nullptr && metricsForDpi != nullptr && dpiForMonitor(primary, 0, &dpiX, &dpiY) == S_OK) {
        size = metricsForDpi(SM_CXSMICON, dpiX);
    }
    const auto load = [size](UINT id) {
        return static_cast<HICON>(
            LoadImageW(trayIcon->instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    };
    const HICON oldNormal = trayIcon->normalIcon;
    const HICON oldAlert = trayIcon->alertIcon;
    trayIcon->normalIcon = load(trayIcon->normalIconId);
    trayIcon->alertIcon = load(trayIcon->alertIconId);
    trayIcon->notifyData.hIcon = trayIcon->alertShown ? trayIcon->alertIcon : trayIcon->normalIcon;
    if (trayIconInstalled) Shell_NotifyIconW(NIM_MODIFY, &trayIcon->notifyData);
    if (oldNormal != nullptr) DestroyIcon(oldNormal);
    if (oldAlert != nullptr) DestroyIcon(oldAlert);
}

bool handleTrayMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (trayIcon == nullptr) return false;
    const TrayRouting routing{trayIcon->callbackMessage,
                              trayIcon->menuId,
                              trayIcon->onLeftButtonDown != nullptr,
                              trayIcon->onDoubleClick != nullptr,
                              trayIcon->onContextMenu != nullptr,
                              trayIcon->taskbarCreatedMessage};
    const UINT eventCode = static_cast<UINT>(lParam);
    switch (routeTrayEvent(routing, message, eventCode)) {
        case TrayAction::NotHandled:
            return false;
        case TrayAction::LeftButtonHandler:
            return trayIcon->onLeftButtonDown(window, message, wParam, eventCode);
        case TrayAction::DoubleClickHandler:
            return trayIcon->onDoubleClick(window, message, wParam, eventCode);
        case TrayAction::ContextMenuHandler:
            return trayIcon->onContextMenu(window, message, wParam, eventCode);
        case TrayAction::ShowMenu:
            showContextMenu(trayIcon->instance, trayIcon->menuId, trayIcon->ownerWindow);
            return true;
        case TrayAction::AddAgain:
            addTrayIconAgain();
            return true;
    }
    return false;
}

namespace {

constexpr int kMonitorsLooked = 64;

struct Monitors {
    ScreenRect rects[kMonitorsLooked];
    int32_t count;
};

BOOL CALLBACK addMonitor(HMONITOR, HDC, LPRECT rect, LPARAM data) {
    auto* monitors = reinterpret_cast<Monitors*>(data);
    if (monitors->count == kMonitorsLooked) return FALSE;
    monitors->rects[monitors->count++] = {rect->left, rect->top, rect->right - rect->left,
                                          rect->bottom - rect->top};
    return TRUE;
}

void moveLostWindow(HWND window) {
    Monitors monitors{};
    EnumDisplayMonitors(nullptr, nullptr, addMonitor, reinterpret_cast<LPARAM>(&monitors));
    RECT rect{};
    GetWindowRect(window, &rect);
    const ScreenRect primary{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    ScreenPoint position{};
    if (findLostPanel({rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top}, monitors.rects,
                      monitors.count, primary, &position)) {
        SetWindowPos(window, nullptr, position.x, position.y, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

}  // namespace

bool bringToFront(HWND window, UINT, WPARAM, UINT) {
    ShowWindow(window, SW_SHOW);
    if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
    moveLostWindow(window);
    SetActiveWindow(window);
    BringWindowToTop(window);
    SetForegroundWindow(window);
    return true;
}

void showContextMenu(HINSTANCE instance, UINT menuId, HWND owner) {
    POINT cursor{};
    GetCursorPos(&cursor);
    HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(LOWORD(menuId)));
    if (menu == nullptr) return;
    // Without the owner in the foreground, the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(owner);
    TrackPopupMenu(GetSubMenu(menu, 0), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, owner, nullptr);
    PostMessageW(owner, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

}  // namespace tarvelon
