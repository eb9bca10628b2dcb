#include "panel/panel_win32.h"

#include "panel/alarms.h"
#include "panel/gdi_surface_win32.h"
#include "panel/panel_draw.h"
#include "panel/tray_win32.h"
#include "settings/settings.h"

namespace tarvelon {
namespace {

PanelState panelState;  // zero at start: the first pass always finds a change
GdiFonts panelFonts;
AlarmState alarmState;

}  // namespace

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
                  notice)) {
        showTrayNotice(notice.title, notice.text);
    }
}

void layoutBeforeWindow() {
    buildPanelList(panelState.current);
    panelState.metrics = computeLayout(panelState.shown, settings.fontsize.load(), settings.layout.load());
    panelFonts.replace(panelState.metrics.lineHeight);
}

}  // namespace tarvelon
