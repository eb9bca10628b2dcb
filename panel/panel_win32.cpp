#include "panel/panel_win32.h"

#include "history/csv_log_worker.h"
#include "history/tick_second.h"
#include "panel/alarm_rules_win32.h"
#include "panel/alarms.h"
#include "panel/gdi_surface_win32.h"
#include "panel/history_feed.h"
#include "panel/panel_draw.h"
#include "panel/tray_tooltip.h"
#include "panel/tray_win32.h"
#include "platform/clock.h"
#include "platform/fatal.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "platform/text16.h"
#include "settings/settings.h"

namespace tarvelon {
namespace {

PanelState panelState;  // zero at start: the first pass always finds a change
GdiFonts panelFonts;
AlarmState alarmState;
HistoryTiles historyTiles;
int64_t historyNewest = kNoHistory;
uint32_t indexedListVersion = 0;  // the shown list's version the archive's tile index was built from
CsvLogWorker* csvLog = nullptr;            // started with the first line; lives as long as the process
ArchiveWorker* archive = nullptr;          // started with the first tick; lives as long as the process
constexpr int32_t kExitPatienceMs = 2000;  // for the last seconds to reach the disk at the end
CsvFolderSettle csvFolder;

}  // namespace

int32_t windowDpi(HWND window) {
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

void setPanelDpi(HWND window) {
    panelState.dpi = windowDpi(window);
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
    watchAlarmRulesWin32(panelState.shown);
    AlarmNotice notice;
    if (nextAlarm(alarmState, panelState.shown, settings.alarmGpuTempC.load(),
                  settings.alarmServerLost.load() != 0, static_cast<int64_t>(tickCountMs()), notice) ||
        takeRuleNoticeWin32(notice)) {
        showTrayNotice(notice.title, notice.text, notice.information);
    }
    showTrayAlert(anyAlarmActive(alarmState) || anyRuleRaisedWin32());
}

void noteResumeWin32() {
    noteResume(alarmState, static_cast<int64_t>(tickCountMs()));
}

namespace {

void logLocalTiles(int64_t second) {
    CsvLine line{};
    readSettingText(settings.historyLogDirectory, line.directory);
    if (!csvFolderSettled(csvFolder, line.directory)) return;
    if (csvLog == nullptr) csvLog = startThreadOrFail(kSiteCsvLog, [] { return new CsvLogWorker; });
    line.time = localTimeOf(second);
    line.tick = static_cast<int64_t>(tickCountMs() / 1000);  // a retry is not put off by a clock set back
    fillCsvLine(panelState.shown.groups[0], line);
    csvLog->push(line);  // a full queue means the disk hangs: the line is dropped, the panel goes on
}

}  // namespace

int32_t historyTickWin32() {
    const TickSecond tick = tickSecond(historyNewest, wallClockMs());
    if (tick.fresh) {
        historyNewest = tick.second;
        if (archive == nullptr) {
            archive =
                startThreadOrFail(kSiteHistoryArchive, [] { return new ArchiveWorker(historyFolder()); });
        }
        recordShownTiles(historyTiles, panelState.shown, historyNewest, archive);
        TileKey configured[kServerSlots + 1];
        archive->setConfiguredHosts(configured, configuredHostKeys(configured));
        if (indexedListVersion != panelState.listVersion) {
            archive->setTileIndex(shownTileIndex(panelState.shown));
            indexedListVersion = panelState.listVersion;
        }
        logLocalTiles(historyNewest);
    }
    char16_t tooltip[kTooltipUnits];
    trayTooltipText(panelState.shown, alarmState, ruleWatchesWin32(), alarmRulesWin32(), tooltip);
    setTrayTooltip(tooltip);
    if (csvLog != nullptr && csvLog->takeFailureNotice()) {
        showTrayNotice(u"CSV log paused",
                       u"The log folder cannot be written. Tarvelon tries again every minute.", false);
    }
    return tick.delayMs;
}

void flushHistoryWin32() {
    if (archive != nullptr) archive->flush(kExitPatienceMs);
}

bool tileAtWin32(int32_t x, int32_t y, TileId* tile) {
    const PanelMetrics& m = panelState.metrics;
    const auto inside = [&](const PanelEntry& entry) {
        return entry.present != 0 && x >= entry.x && x < entry.x + m.panelWidth && y >= entry.y &&
               y < entry.y + m.panelHeight;
    };
    for (const PanelGroup& group : panelState.shown.groups) {
        if (group.host.present == 0) continue;
        if (inside(group.host)) {
            *tile = {group.source, -1};
            return true;
        }
        for (int k = 0; k < kGpuSlots; ++k) {
            if (!inside(group.gpus[k])) continue;
            *tile = {group.source, k};
            return true;
        }
    }
    return false;
}

const PanelList& shownPanelList() {
    return panelState.shown;
}

const HistoryTiles& panelHistory() {
    return historyTiles;
}

int64_t newestHistorySecond() {
    return historyNewest;
}

void layoutBeforeWindow() {
    setPanelDpi(nullptr);
    buildPanelList(panelState.current);
    layOutPanels(panelState);
    panelFonts.replace(panelState.metrics.lineHeight);
}

}  // namespace tarvelon
