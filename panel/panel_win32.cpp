#include "panel/panel_win32.h"

#include "panel/alarms.h"
#include "panel/gdi_surface_win32.h"
#include "panel/panel_draw.h"
#include "panel/tray_win32.h"
#include "platform/clock.h"
#include "platform/text16.h"
#include "settings/settings.h"

namespace tarvelon {
namespace {

PanelState panelState;  // zero at start: the first pass always finds a change
GdiFonts panelFonts;
AlarmState alarmState;

// GetDpiForWindow where Windows has it (10, version 1607 on); else the system DPI.
int32_t monitorDpi(HWND window) {
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto dpiForWindow = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (window != nullptr && dpiForWindow != nullptr) {
        if (const UINT dpi = dpiForWindow(window); dpi != 0) return static_cast<int32_t>(dpi);
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kBaseDpi;
}

}  // namespace

void setPanelDpi(HWND window) {
    panelState.dpi = monitorDpi(window);
}

void setPanelDpi(int32_t dpi) {
    panelState.dpi = dpi > 0 ? dpi : kBaseDpi;
}

void fullPassWin32(HWND window, HDC dc) {
    GdiSurface surface(window, dc, panelFonts);
    fullPass(panelState, surface);
}

void tickPassWin32(HWND window, HDC dc) {
    GdiSurface surface(window, dc, panelFonts);
    tickPass(panelState, surface);
}

void notifyAlarmsWin32() {
    AlarmNotice notice;
    if (nextAlarm(alarmState, panelState.shown, settings.alarmGpuTempC.load(), settings.alarmServerLost.load() != 0,
                  static_cast<int64_t>(tickCountMs()), notice)) {
        showTrayNotice(notice.title, notice.text, notice.information);
    }
    showTrayAlert(anyAlarmActive(alarmState));
    char16_t alarms[kNoticeTextUnits];
    activeAlarmsText(alarmState, panelState.shown, alarms, kNoticeTextUnits);
    char16_t tip[kNoticeTextUnits];
    format16(tip, kNoticeTextUnits, alarms[0] != 0 ? u"Tarvelon \u00B7 %s" : u"Tarvelon", alarms);
    setTrayTip(tip);
}

void noteResumeWin32() {
    noteResume(alarmState, static_cast<int64_t>(tickCountMs()));
}

void layoutBeforeWindow() {
    setPanelDpi(nullptr);
    buildPanelList(panelState.current);
    layOutPanels(panelState);
    panelFonts.replace(panelState.metrics.lineHeight);
}

}  // namespace tarvelon
