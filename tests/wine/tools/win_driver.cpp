// Drives the windows of another Wine process for the end-to-end tests, through window messages:
//   win_driver wait-window TITLE [SECONDS]       waits until a top-level window TITLE exists
//   win_driver visible TITLE                     prints 1 if TITLE is visible, else 0
//   win_driver set TITLE ID TEXT                 sets the text of control ID of window TITLE
//   win_driver get TITLE ID                      prints the text of control ID
//   win_driver click TITLE ID                    clicks button ID (BM_CLICK, posted)
//   win_driver checked TITLE ID                  prints 1 if check box ID is checked, else 0
//   win_driver enabled TITLE ID                  prints 1 if control ID is enabled, else 0
//   win_driver list TITLE ID                     prints the lines of list box ID
//   win_driver select TITLE ID INDEX             selects line INDEX of list box ID and notifies
//   win_driver box CAPTION [SECONDS]             waits for a message box CAPTION, prints its text
//                                                and closes it with its default button
//   win_driver rect TITLE                        prints left top right bottom of window TITLE
//   win_driver panel                             prints left top right bottom of the panel window
//   win_driver panels                            prints how many panel windows there are
//   win_driver processes                         prints how many tarvelon.exe processes there are
//   win_driver front                             prints "panel" when the panel is the foreground
//                                                window, else the foreground window's title
//   win_driver command ID                        chooses item ID of the panel's menu; returns once
//                                                the panel has handled it
//   win_driver tray-double-click                 sends the panel the tray icon's double-click and
//                                                returns once the panel has handled it
//   win_driver shell-restart [SECONDS]           plays a shell that has just started: a tray window of
//                                                its own, "TaskbarCreated" broadcast; prints "added"
//                                                when the panel adds (NIM_ADD) its icon to it within
//                                                SECONDS
//   win_driver tray-watch SECONDS                plays that shell for SECONDS and prints a line for
//                                                each change of the panel's icon: "balloon" when it
//                                                shows a notice (NIF_INFO), "icon" when its picture
//                                                changes, "modify" for any other
// Exit code 0 on success, 1 when the window or control is missing, 2 on bad usage.
// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "panel/panel_window_win32.h"
#include "resources/resource.h"

namespace {

HWND findTopLevel(const wchar_t* title, double seconds) {
    const DWORD deadline = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    for (;;) {
        HWND window = FindWindowW(nullptr, title);
        if (window != nullptr) return window;
        if (static_cast<LONG>(GetTickCount() - deadline) >= 0) return nullptr;
        Sleep(100);
    }
}

std::string narrow(const wchar_t* text) {
    std::string out;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size > 1) {
        out.resize(static_cast<size_t>(size - 1));
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    }
    return out;
}

std::wstring textOf(HWND window) {
    wchar_t text[4096] = {};
    SendMessageW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text));
    return text;
}

struct BoxSearch {
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK findBox(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<BoxSearch*>(data);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (wcscmp(className, L"#32770") == 0 && IsWindowVisible(window) && textOf(window) == search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK findStaticText(HWND child, LPARAM data) {
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    if (_wcsicmp(className, L"Static") == 0) {
        const std::wstring text = textOf(child);
        if (!text.empty()) *reinterpret_cast<std::wstring*>(data) += text;
    }
    return TRUE;
}

// The tray window of the shell played by shell-restart: it takes the icons that are added to it.
HWND panelWindow;
bool iconAdded;
bool watching;
// Wine sends the icon's bitmap after a fixed part of under 1 KB that holds the texts (tooltip,
// notice): the bytes from here on change with the picture alone.
constexpr DWORD kIconBitsFrom = 1024;
std::vector<BYTE> shownIcon;

LRESULT CALLBACK trayWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        // Wine's Shell_NotifyIconW carries its message (NIM_ADD, NIM_MODIFY, ...) as dwData. Whatever the
        // layout around it, the icon names the panel's window, and its id and flags follow that.
        const auto* words = static_cast<const DWORD*>(data->lpData);
        for (DWORD i = 0; i < data->cbData / 4 && i < 8; ++i) {
            if (words[i] != static_cast<DWORD>(reinterpret_cast<UINT_PTR>(panelWindow))) continue;
            const auto* bytes = static_cast<const BYTE*>(data->lpData);
            const std::vector<BYTE> icon(
                bytes + (data->cbData < kIconBitsFrom ? data->cbData : kIconBitsFrom), bytes + data->cbData);
            if (data->dwData == NIM_ADD) iconAdded = true;
            if (watching && data->dwData == NIM_MODIFY && i + 2 < data->cbData / 4) {
                const bool notice = (words[i + 2] & NIF_INFO) != 0;
                const bool pictureChanged = !icon.empty() && icon != shownIcon;
                if (notice) std::printf("balloon\n");
                if (pictureChanged) std::printf("icon\n");
                if (!notice && !pictureChanged) std::printf("modify\n");
            }
            if (!icon.empty()) shownIcon = icon;
            break;
        }
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int playRestartedShell(double seconds) {
    panelWindow = FindWindowW(L"Tarvelon", nullptr);
    if (panelWindow == nullptr) return 1;
    WNDCLASSW trayClass{};
    trayClass.lpfnWndProc = trayWindowProcedure;
    trayClass.hInstance = GetModuleHandleW(nullptr);
    trayClass.lpszClassName = L"Shell_TrayWnd";
    RegisterClassW(&trayClass);
    // Topmost and newest, so it is the tray window the panel's process finds first.
    HWND tray = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 1, 1,
                                nullptr, nullptr, trayClass.hInstance, nullptr);
    if (tray == nullptr) return 1;
    SendNotifyMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    const DWORD deadline = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    while ((watching || !iconAdded) && static_cast<LONG>(GetTickCount() - deadline) < 0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        Sleep(20);
    }
    DestroyWindow(tray);
    std::printf("%s\n", iconAdded ? "added" : "not added");
    return iconAdded ? 0 : 1;
}

BOOL CALLBACK countPanel(HWND window, LPARAM data) {
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (wcscmp(className, L"Tarvelon") == 0) ++*reinterpret_cast<int*>(data);
    return TRUE;
}

int countProcesses(const wchar_t* exeName) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, exeName) == 0) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

int usage() {
    std::fprintf(stderr, "win_driver: bad usage\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return usage();
    const std::wstring verb = argv[1];
    if (verb == L"panel") {
        HWND panel = FindWindowW(L"Tarvelon", nullptr);
        RECT rect{};
        if (panel == nullptr || !GetWindowRect(panel, &rect)) return 1;
        std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
        return 0;
    }
    if (verb == L"tray-double-click") {
        HWND panel = FindWindowW(L"Tarvelon", nullptr);
        if (panel == nullptr) return 1;
        SendMessageW(panel, tarvelon::kTrayCallbackMessage, IDI_TARVELON, WM_LBUTTONDBLCLK);
        return 0;
    }
    if (verb == L"panels") {
        int count = 0;
        EnumWindows(countPanel, reinterpret_cast<LPARAM>(&count));
        std::printf("%d\n", count);
        return 0;
    }
    if (verb == L"processes") {
        std::printf("%d\n", countProcesses(L"tarvelon.exe"));
        return 0;
    }
    if (verb == L"front") {
        HWND front = GetForegroundWindow();
        if (front != nullptr && front == FindWindowW(L"Tarvelon", nullptr)) {
            std::printf("panel\n");
        } else {
            std::printf("%s\n", front == nullptr ? "(none)" : narrow(textOf(front).c_str()).c_str());
        }
        return 0;
    }
    if (verb == L"command" && argc > 2) {
        HWND panel = FindWindowW(L"Tarvelon", nullptr);
        if (panel == nullptr) return 1;
        SendMessageW(panel, WM_COMMAND, MAKEWPARAM(_wtoi(argv[2]), 0), 0);
        return 0;
    }
    if (verb == L"shell-restart") return playRestartedShell(argc > 2 ? _wtof(argv[2]) : 10);
    if (verb == L"tray-watch" && argc > 2) {
        watching = true;
        return playRestartedShell(_wtof(argv[2]));
    }
    if (argc < 3) return usage();
    if (verb == L"box") {
        const double seconds = argc > 3 ? _wtof(argv[3]) : 10;
        const DWORD deadline = GetTickCount() + static_cast<DWORD>(seconds * 1000);
        BoxSearch search{argv[2], nullptr};
        while (search.found == nullptr) {
            EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
            if (search.found != nullptr) break;
            if (static_cast<LONG>(GetTickCount() - deadline) >= 0) return 1;
            Sleep(100);
        }
        std::wstring text;
        EnumChildWindows(search.found, findStaticText, reinterpret_cast<LPARAM>(&text));
        std::printf("%s\n", narrow(text.c_str()).c_str());
        std::fflush(stdout);
        PostMessageW(search.found, WM_COMMAND, IDOK, 0);
        return 0;
    }
    if (verb == L"wait-window") {
        return findTopLevel(argv[2], argc > 3 ? _wtof(argv[3]) : 10) != nullptr ? 0 : 1;
    }
    HWND window = findTopLevel(argv[2], 5);
    if (window == nullptr) return 1;
    if (verb == L"visible") {
        std::printf("%d\n", IsWindowVisible(window) ? 1 : 0);
        return 0;
    }
    if (verb == L"rect") {
        RECT rect{};
        GetWindowRect(window, &rect);
        std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
        return 0;
    }
    if (argc < 4) return usage();
    HWND control = GetDlgItem(window, _wtoi(argv[3]));
    if (control == nullptr) return 1;
    if (verb == L"set" && argc > 4) {
        SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]));
        return 0;
    }
    if (verb == L"get") {
        std::printf("%s\n", narrow(textOf(control).c_str()).c_str());
        return 0;
    }
    if (verb == L"click") {
        // Posted: a click may open a modal message box, which must not block this program.
        PostMessageW(control, BM_CLICK, 0, 0);
        return 0;
    }
    if (verb == L"checked") {
        std::printf("%d\n", SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
        return 0;
    }
    if (verb == L"enabled") {
        std::printf("%d\n", IsWindowEnabled(control) ? 1 : 0);
        return 0;
    }
    if (verb == L"list") {
        const LRESULT count = SendMessageW(control, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t line[1024] = {};
            SendMessageW(control, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line));
            std::printf("%s\n", narrow(line).c_str());
        }
        return 0;
    }
    if (verb == L"select" && argc > 4) {
        SendMessageW(control, LB_SETCURSEL, static_cast<WPARAM>(_wtoi(argv[4])), 0);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(control));
        return 0;
    }
    return usage();
}
