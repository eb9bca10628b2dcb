#include "panel/general_setup_win32.h"

#include <commctrl.h>
#include <shlobj.h>

#include "panel/dialog_win32.h"
#include "panel/general_setup.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "settings/start_with_windows.h"

namespace tarvelon {

namespace {

constexpr UINT kFontSizeMessage = WM_USER;
constexpr UINT kAlwaysOnTopMessage = WM_USER + 1;

HWND dialog;
HWND panelWindow;
HWND slider;
int32_t dialogFontSize;
bool controlsUpdating;  // edit and slider notifications caused by our own filling are ignored
char16_t programPath[kProgramPathChars + 1];  // empty when it does not fit

// The box follows the stored value, which the user may also change outside the program.
void showStartWithWindows() {
    setChecked(dialog, IDC_START_WITH_WINDOWS, programPath[0] != 0 && startsWithWindows(programPath));
}

// The Alarms dialog writes the same two values.
void showAlarmSettings() {
    setControlNumber(dialog, IDC_ALARM_GPU_TEMP, settings.alarmGpuTempC.load());
    setChecked(dialog, IDC_ALARM_SERVER_LOST, settings.alarmServerLost.load() != 0);
}

void startWithWindowsClicked() {
    if (programPath[0] == 0) return;
    setChecked(dialog, IDC_START_WITH_WINDOWS,
               setStartWithWindows(programPath, isChecked(dialog, IDC_START_WITH_WINDOWS)));
}

void fillGeneralSetup() {
    setControlNumber(dialog, IDC_FONT_SIZE, dialogFontSize);
    RECT panel{};
    GetWindowRect(panelWindow, &panel);
    setControlNumber(dialog, IDC_WINDOW_X, panel.left);
    setControlNumber(dialog, IDC_WINDOW_Y, panel.top);
    setChecked(dialog, IDC_ALWAYS_ON_TOP, settings.alwaysontop.load() != 0);
}

void moveSlider(int32_t position) {
    SendMessageW(slider, TBM_SETPOS, TRUE, position);
}

void sendFontSize() {
    SendMessageW(panelWindow, kFontSizeMessage, static_cast<WPARAM>(dialogFontSize), 0);
}

void fontFieldChanged() {
    char16_t text[kNumberFieldChars + 1];
    getControlText(dialog, IDC_FONT_SIZE, text, kNumberFieldChars);
    dialogFontSize = fontSizeFromText(text);
    controlsUpdating = true;
    moveSlider(dialogFontSize);
    controlsUpdating = false;
    sendFontSize();
}

void positionFieldChanged() {
    char16_t x[kNumberFieldChars + 1];
    char16_t y[kNumberFieldChars + 1];
    getControlText(dialog, IDC_WINDOW_X, x, kNumberFieldChars);
    getControlText(dialog, IDC_WINDOW_Y, y, kNumberFieldChars);
    SetWindowPos(panelWindow, HWND_TOP, coordinateFromText(x), coordinateFromText(y), 0, 0,
                 SWP_NOSIZE | SWP_NOACTIVATE);
}

void sliderMoved() {
    dialogFontSize = static_cast<int32_t>(SendMessageW(slider, TBM_GETPOS, 0, 0));
    controlsUpdating = true;
    fillGeneralSetup();
    sendFontSize();
    controlsUpdating = false;
}

void defaultFontSize() {
    dialogFontSize = kFontSizeDefault;
    controlsUpdating = true;
    fillGeneralSetup();
    moveSlider(kFontSizeDefault);
    sendFontSize();
    controlsUpdating = false;
}

void alwaysOnTopClicked() {
    const int32_t onTop = isChecked(dialog, IDC_ALWAYS_ON_TOP) ? 1 : 0;
    settings.alwaysontop.store(onTop);
    SendMessageW(panelWindow, kAlwaysOnTopMessage, static_cast<WPARAM>(onTop), 0);
}

// A limit counts once typed in full: when the field loses the focus or the dialog hides, never per
// keystroke (an "8" on the way to "85" is no limit).
void applyAlarmLimit() {
    char16_t text[kNumberFieldChars + 1];
    getControlText(dialog, IDC_ALARM_GPU_TEMP, text, kNumberFieldChars);
    const int32_t limit = alarmLimitFromText(text);
    if (limit == settings.alarmGpuTempC.load()) return;
    settings.alarmGpuTempC.store(limit);
    saveSettings();
}

void serverLostClicked() {
    settings.alarmServerLost.store(isChecked(dialog, IDC_ALARM_SERVER_LOST) ? 1 : 0);
    saveSettings();
}

void logDirectoryChanged() {
    char16_t text[kSettingTextUnits];
    getControlText(dialog, IDC_LOG_DIRECTORY, text, kSettingTextChars);
    writeSettingText(settings.historyLogDirectory, text);
    saveSettings();
}

// The shell's folder picker; the choice goes into the field, whose change stores it.
void browseLogDirectory() {
    BROWSEINFOW browse{};
    browse.hwndOwner = dialog;
    browse.lpszTitle = L"Folder for the CSV log";
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
    if (chosen == nullptr) return;
    wchar_t path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(chosen, path)) setControlText(dialog, IDC_LOG_DIRECTORY, reinterpret_cast<char16_t*>(path));
    CoTaskMemFree(chosen);
}

// Ends the program without another save, so the deleted key stays deleted.
[[noreturn]] void cleanupAndExit() {
    deleteStartWithWindows();
    wipeSettingsForGood();
    SendMessageW(panelWindow, WM_DESTROY, 0, 0);
    PostQuitMessage(0);
    ExitProcess(0);
}

void command(int id, int notification) {
    switch (id) {
        case IDOK:
        case IDCANCEL:  // Escape, Alt+F4
            applyAlarmLimit();
            ShowWindow(dialog, SW_HIDE);
            break;
        case IDC_FONT_SIZE:
            if (notification == EN_CHANGE && !controlsUpdating) fontFieldChanged();
            break;
        case IDC_WINDOW_X:
        case IDC_WINDOW_Y:
            if (notification == EN_CHANGE && !controlsUpdating) positionFieldChanged();
            break;
        case IDC_FONT_DEFAULT:
            defaultFontSize();
            break;
        case IDC_ALWAYS_ON_TOP:
            alwaysOnTopClicked();
            break;
        case IDC_ALARM_GPU_TEMP:
            if (notification == EN_KILLFOCUS && !controlsUpdating) applyAlarmLimit();
            break;
        case IDC_ALARM_SERVER_LOST:
            serverLostClicked();
            break;
        case IDC_START_WITH_WINDOWS:
            startWithWindowsClicked();
            break;
        case IDC_LOG_DIRECTORY:
            if (notification == EN_CHANGE && !controlsUpdating) logDirectoryChanged();
            break;
        case IDC_LOG_BROWSE:
            browseLogDirectory();
            break;
        case IDC_CLEANUP:
            cleanupAndExit();
    }
}

INT_PTR CALLBACK generalSetupProcedure(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            command(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_HSCROLL:
            if (reinterpret_cast<HWND>(lParam) == slider && !controlsUpdating) sliderMoved();
            return TRUE;
    }
    return FALSE;
}

}  // namespace

HWND createGeneralSetup(HINSTANCE instance, HWND panel, int32_t fontsize) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    panelWindow = panel;
    dialog =
        CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_GENERAL_SETUP), nullptr, generalSetupProcedure, 0);
    if (dialog == nullptr) return nullptr;
    slider = GetDlgItem(dialog, IDC_FONT_SLIDER);
    SendMessageW(slider, TBM_SETRANGE, FALSE, MAKELPARAM(kFontSizeMin, kFontSizeMax));
    const DWORD length =
        GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(programPath), kProgramPathChars + 1);
    if (length == 0 || length > kProgramPathChars) programPath[0] = 0;
    EnableWindow(GetDlgItem(dialog, IDC_START_WITH_WINDOWS), programPath[0] != 0);
    dialogFontSize = fontsize;
    controlsUpdating = true;
    fillGeneralSetup();
    showAlarmSettings();
    char16_t logDirectory[kSettingTextUnits];
    readSettingText(settings.historyLogDirectory, logDirectory);
    setControlText(dialog, IDC_LOG_DIRECTORY, logDirectory);
    SendDlgItemMessageW(dialog, IDC_LOG_DIRECTORY, EM_LIMITTEXT, kSettingTextChars, 0);
    moveSlider(dialogFontSize);
    controlsUpdating = false;
    return dialog;
}

void showGeneralSetup() {
    if (dialog == nullptr) return;
    showStartWithWindows();
    controlsUpdating = true;
    showAlarmSettings();
    controlsUpdating = false;
    showDialogAtCursor(dialog);
}

}  // namespace tarvelon
