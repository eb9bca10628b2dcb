// The program's entry point: makes sure it is the only Tarvelon of the session, brings the process up
// in its fixed order (sockets, tables, settings, worker threads, panel data, window, dialogs, tray
// icon, timer), runs the message loop until the panel window is destroyed, and removes the tray icon
// on the way out.
#include <windows.h>

#include "net/local_processes.h"
#include "net/query_client.h"
#include "net/query_server.h"
#include "net/slot_table.h"
#include "panel/alarm_rules_win32.h"
#include "panel/dialog_win32.h"
#include "panel/export_win32.h"
#include "panel/general_setup_win32.h"
#include "panel/gpu_tooltip_win32.h"
#include "panel/history_window_win32.h"
#include "panel/network_setup_win32.h"
#include "panel/panel_win32.h"
#include "panel/panel_window_win32.h"
#include "panel/tray_win32.h"
#include "panel/window_rules.h"
#include "platform/sockets.h"
#include "platform/text16.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "telemetry/sampler.h"

namespace tarvelon {
namespace {

// The tray state exists before the entry point runs, and is torn down at process exit.
[[maybe_unused]] const bool trayStateCreated = (createTrayIcon(), true);

HBRUSH classBrush = nullptr;

void failSocketStart(int32_t errorCode) {
    char16_t text[200];
    format16(text, 200, u"Windows Socket DLL initzialisation failed\r\nWSA Error Code : %d", errorCode);
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text), L"Socket DLL Error", MB_ICONERROR);
}

void registerPanelClass() {
    classBrush = CreateSolidBrush(RGB(0, 0, 0));
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = panelWindowProcedure;
    windowClass.hInstance = appInstance;
    windowClass.hIcon = LoadIconW(appInstance, MAKEINTRESOURCEW(IDI_TARVELON));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = classBrush;
    windowClass.lpszClassName = L"Tarvelon";
    RegisterClassExW(&windowClass);
}

// A second Tarvelon of one session would show a second panel and icon, fail to bind the server's port
// and save settings over the first one's: it hands over to the running one instead.
bool anotherInstanceRuns() {
    CreateMutexW(nullptr, FALSE, kInstanceMutexName);
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    if (const HWND running = FindWindowW(L"Tarvelon", nullptr)) {
        DWORD processId = 0;
        GetWindowThreadProcessId(running, &processId);
        // The running panel may only take the foreground if this process, started by the user, lets it.
        AllowSetForegroundWindow(processId);
        PostMessageW(running, RegisterWindowMessageW(kBringToFrontMessageName), 0, 0);
    }
    return true;
}

void fillTrayIcon() {
    trayIcon->instance = appInstance;
    trayIcon->ownerWindow = mainWindow;
    trayIcon->callbackMessage = kTrayCallbackMessage;
    trayIcon->menuId = IDR_CONTEXT_MENU;
    trayIcon->taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    trayIcon->onDoubleClick = bringToFront;
    NOTIFYICONDATAW& data = trayIcon->notifyData;
    data.hWnd = mainWindow;
    data.uID = IDI_TARVELON;
    data.uCallbackMessage = kTrayCallbackMessage;
    trayIcon->normalIconId = IDI_TARVELON;
    trayIcon->alertIconId = IDI_TARVELON_ALERT;
    loadTrayIcons();
}

// Hands keyboard messages to the dialog they are for: Tab, Shift+Tab, Enter, Escape and mnemonics.
bool routeDialogMessage(MSG& message, HWND generalSetup, HWND networkSetup) {
    for (const HWND dialog : {generalSetup, networkSetup}) {
        if (dialog != nullptr && IsDialogMessageW(dialog, &message)) return true;
    }
    return false;
}

int run(HINSTANCE instance, int showCommand) {
    if (anotherInstanceRuns()) return 0;
    int32_t socketError = 0;
    if (!startSockets(&socketError)) {
        failSocketStart(socketError);
        return 0;
    }
    clearSlotTable();
    clearSettings();
    setDefaultSettings(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    loadSettings();
    loadAlarmRulesWin32();
    applyStoredServerAllowList();
    startSampler();
    setServerProcessesSource(localProcessLists);
    startQueryServer();
    startQueryClient();
    appInstance = instance;
    layoutBeforeWindow();
    registerPanelClass();

    // Creating the window sends WM_MOVE for its initial 0,0, which the window procedure stores: take the
    // stored position first.
    const int32_t storedX = settings.windowPosX;
    const int32_t storedY = settings.windowPosY;
    mainWindow = CreateWindowExW(WS_EX_LAYERED | WS_EX_TOOLWINDOW, L"Tarvelon", L"", WS_BORDER, 0, 0, 500, 500,
                                 nullptr, nullptr, instance, nullptr);
    if (mainWindow == nullptr) return 0;
    SetWindowLongW(mainWindow, GWL_STYLE, 0);
    SetWindowLongW(mainWindow, GWL_EXSTYLE, GetWindowLongW(mainWindow, GWL_EXSTYLE) | WS_EX_LAYERED);
    SetLayeredWindowAttributes(mainWindow, RGB(0, 0, 0), 0, LWA_COLORKEY);
    // SWP_FRAMECHANGED makes the frameless style take effect before the window is first shown.
    SetWindowPos(mainWindow, nullptr, storedX, storedY, -1, -1,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    ShowWindow(mainWindow, panelShowCommand(showCommand));
    // The first ShowWindow of a process may take the show state its starter asked for instead.
    if (IsIconic(mainWindow)) ShowWindow(mainWindow, SW_RESTORE);
    SendMessageW(mainWindow, kAlwaysOnTopMessage, static_cast<WPARAM>(settings.alwaysontop.load()), 0);

    const HWND generalSetup = createGeneralSetup(instance, mainWindow, settings.fontsize);
    const HWND networkSetup = createNetworkSetup(instance);
    createHistoryWindow(instance);
    createGpuTooltip(mainWindow);

    fillTrayIcon();
    installTrayIcon();
    SetTimer(mainWindow, kPanelTimer, 1000, nullptr);

    MSG message{};
    BOOL result;
    // -1 is a failed GetMessageW (an invalid window handle, which this loop never passes): stop too.
    while ((result = GetMessageW(&message, nullptr, 0, 0)) != 0 && result != -1) {
        if (routeDialogCloseKey(message) || routeHistoryInput(message) ||
            routeDialogMessage(message, generalSetup, networkSetup))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    removeTrayIcon();
    flushHistoryWin32();
    return static_cast<int>(message.wParam);
}

}  // namespace
}  // namespace tarvelon

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    if (int exported = 0; tarvelon::runExportIfAsked(&exported)) ExitProcess(static_cast<UINT>(exported));
    const int exitCode = tarvelon::run(instance, showCommand);
    // Worker threads never end by themselves; end the process with them rather than running static
    // destructors under their feet.
    tarvelon::destroyTrayIcon();
    ExitProcess(static_cast<UINT>(exitCode));
}
