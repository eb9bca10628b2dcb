#include "panel/dialog_win32.h"

#include <shellapi.h>

#include "panel/dialog_placement.h"
#include "platform/text16.h"

namespace tarvelon {

namespace {

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

int messageBox(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
    return MessageBoxW(owner, wide(text), wide(caption), type);
}

bool shellOpen(const char16_t* address) {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", wide(address), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

}  // namespace

int (*showDialogBox)(HWND, const char16_t*, const char16_t*, UINT) = messageBox;
bool (*openWebAddress)(const char16_t*) = shellOpen;

void showDialogAtCursor(HWND dialog) {
    POINT cursor;
    GetCursorPos(&cursor);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const ScreenRect workArea{work.left, work.top, work.right - work.left, work.bottom - work.top};
    // Placed twice: a move to a monitor of another scale resizes the dialog, so it is measured again
    // where it landed.
    for (int pass = 0; pass < 2; ++pass) {
        RECT frame;
        GetWindowRect(dialog, &frame);
        const DialogOrigin origin = dialogOriginAtCursor(cursor.x, cursor.y, frame.right - frame.left,
                                                         frame.bottom - frame.top, workArea);
        SetWindowPos(dialog, HWND_TOP, origin.left, origin.top, 0, 0, SWP_NOSIZE);
    }
    ShowWindow(dialog, SW_RESTORE);
    // Active, with the first control focused, so the keys (Escape first) go to the dialog at once,
    // whether it was opened by mouse, by keyboard or from the tray.
    SetForegroundWindow(dialog);
    SetActiveWindow(dialog);
    if (const HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE)) {
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    }
    BringWindowToTop(dialog);
}

bool routeDialogCloseKey(const MSG& message) {
    const bool escape = message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE;
    const bool altF4 = message.message == WM_SYSKEYDOWN && message.wParam == VK_F4;
    if (!escape && !altF4) return false;
    const HWND root = GetAncestor(message.hwnd, GA_ROOT);
    // The atom of the dialog class, #32770.
    if (root == nullptr || GetClassLongW(root, GCW_ATOM) != 32770) return false;
    SendMessageW(root, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return true;
}

void setControlText(HWND dialog, int id, const char16_t* text) {
    SetDlgItemTextW(dialog, id, wide(text));
}

void setControlNumber(HWND dialog, int id, int32_t value) {
    char16_t text[16];
    format16(text, 16, u"%d", value);
    setControlText(dialog, id, text);
}

void getControlText(HWND dialog, int id, char16_t* text, int chars) {
    text[0] = 0;
    const UINT length = GetDlgItemTextW(dialog, id, reinterpret_cast<wchar_t*>(text), chars + 1);
    if (length == static_cast<UINT>(chars)) text[wholeCharacterLength(text, length)] = 0;
}

bool isChecked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void setChecked(HWND dialog, int id, bool checked) {
    CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

}  // namespace tarvelon
