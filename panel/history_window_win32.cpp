#include "panel/history_window_win32.h"

#include <commdlg.h>
#include <windowsx.h>

#include <string>

#include "history/csv_text.h"
#include "history/plot_view.h"
#include "history/range_read.h"
#include "net/remote_processes.h"
#include "net/slot_table.h"
#include "panel/alarm_rules_win32.h"
#include "panel/dialog_win32.h"
#include "panel/gdi_surface_win32.h"
#include "panel/gpu_process_list.h"
#include "panel/history_draw.h"
#include "panel/panel_colours.h"
#include "panel/panel_layout.h"
#include "panel/panel_win32.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text16.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "telemetry/d3dkmt_access.h"
#include "telemetry/gpu_process_watch.h"

namespace tarvelon {
namespace {

constexpr int32_t kMinWidth = 320;  // at 96 DPI
constexpr int32_t kMinHeight = 400;
constexpr int32_t kFontPoints = 12;  // line height at 96 DPI

HWND window = nullptr;
TileId shownTile{kLocalSource, -1};
TileKey shownKey{};               // taken when shown: the window follows the server wherever its tile moves
PlotView plotView = spanView(3);  // 60 minutes
GdiFonts fonts;
int32_t fontsDpi = 0;
int32_t hoverX = -1;     // the plot column under the mouse
int32_t dragFromX = -1;  // where a drag across the plots started
bool trackingLeave = false;
int32_t wheelPending = 0;  // wheel delta short of a notch

std::u16string folder;
RangeRead shownRange;

int32_t scaled(int32_t pixels) {
    return MulDiv(pixels, windowDpi(window), kBaseDpi);
}

const PanelGroup* groupOf(TileId tile) {
    for (const PanelGroup& group : shownPanelList().groups) {
        if (group.host.present != 0 && group.source == tile.source) return &group;
    }
    return nullptr;
}

void setTitle() {
    const PanelGroup* group = groupOf(shownTile);
    if (group == nullptr) return;
    char16_t title[kHistoryTitleUnits];
    historyTitle(*group, shownTile.gpu, title);
    SetWindowTextW(window, reinterpret_cast<const wchar_t*>(title));
}

int32_t lineHeight() {
    return MulDiv(kFontPoints, windowDpi(window), kBaseDpi);
}

// A GPU of this machine gets its processes listed under the plots, where Windows keeps per-process
// GPU figures (not under Wine's own gdi32).
bool localGpuShown() {
    return shownTile.source == kLocalSource && shownTile.gpu >= 0 && systemD3dkmtFunctions() != nullptr;
}

// A watched machine's GPU gets them the same way when its server tells them.
bool remoteGpuShown() {
    return shownTile.source >= 0 && shownTile.source < kServerSlots && shownTile.gpu >= 0 &&
           slotTable[shownTile.source].AnnouncesProcesses.load() != 0;
}

bool processesShown() {
    return localGpuShown() || remoteGpuShown();
}

// Each second the window is open, so the processes are read only while someone looks.
void askShownProcesses() {
    if (localGpuShown()) askGpuProcesses(shownTile.gpu, tickCountMs());
    if (remoteGpuShown()) askRemoteProcesses(shownTile.source, shownTile.gpu, tickCountMs());
}

// The plots start below the buttons and end above the process list.
PixelRect plotArea() {
    RECT button{};
    GetWindowRect(GetDlgItem(window, IDC_SAVE_CSV), &button);
    POINT corner{button.left, button.bottom};
    ScreenToClient(window, &corner);
    RECT client{};
    GetClientRect(window, &client);
    const int32_t top = corner.y + scaled(6);
    // The list gives way where it would leave the plots too little room.
    const int32_t list = processesShown() ? gpuProcessListHeight(lineHeight()) : 0;
    const bool listFits = client.bottom - top - list >= historyPlotsMinHeight(lineHeight());
    return {0, top, client.right, listFits ? client.bottom - list : client.bottom};
}

// The plot column at a client point, -1 off the plots; clamped to the plots while dragging.
int32_t plotColumnAt(int32_t x, int32_t y) {
    const PixelRect area = plotArea();
    const PlotColumns plots = historyPlotColumns(area, lineHeight());
    int32_t column = x - plots.left;
    if (dragFromX >= 0) return column < 0 ? 0 : column >= plots.width ? plots.width - 1 : column;
    return y >= area.top && y < area.bottom && column >= 0 && column < plots.width ? column : -1;
}

int32_t plotWidth() {
    return historyPlotColumns(plotArea(), lineHeight()).width;
}

const PeriodRun& readRange(const PlotRange& range) {
    return readShownRange(shownRange, folder.c_str(), shownKey, tileHistory(panelHistory(), shownKey), range,
                          newestHistorySecond());
}

void paint(HDC target) {
    RECT client{};
    GetClientRect(window, &client);
    const int32_t dpi = windowDpi(window);
    if (dpi != fontsDpi) {
        fonts.replace(MulDiv(kFontPoints, dpi, kBaseDpi));
        fontsDpi = dpi;
    }
    // Drawn off screen and copied in one go, so the plots do not flicker once a second.
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bitmap = CreateCompatibleBitmap(target, client.right, client.bottom);
    HGDIOBJ original = SelectObject(dc, bitmap);
    {
        GdiSurface surface(window, dc, fonts);
        surface.fillRect({0, 0, client.right, client.bottom}, kBlack);
        const int64_t newest = newestHistorySecond();
        const PlotRange range = plotRange(plotView, newest);
        const HistoryView view{&readRange(range),
                               tileHistory(panelHistory(), shownKey),
                               shownTile.gpu >= 0,
                               range,
                               newest,
                               settings.alarmGpuTempC.load(),
                               lineHeight(),
                               plotArea(),
                               hoverX,
                               dragFromX,
                               &alarmPeriodsWin32(),
                               &shownKey};
        drawHistory(view, surface);
        if (view.area.bottom < client.bottom) {
            static GpuProcessRow rows[kListedProcesses];
            const int32_t count = localGpuShown() ? readGpuProcesses(shownTile.gpu, rows, kListedProcesses)
                                                  : readRemoteProcesses(shownTile.source, shownTile.gpu, rows,
                                                                        kListedProcesses);
            drawGpuProcessList(rows, count, {0, view.area.bottom, client.right, client.bottom}, lineHeight(),
                               surface);
        }
    }
    BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    SelectObject(dc, original);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

void storePlace() {
    if (IsIconic(window) || IsZoomed(window)) return;
    RECT rect{};
    GetWindowRect(window, &rect);
    settings.historyWindowX.store(rect.left);
    settings.historyWindowY.store(rect.top);
    settings.historyWindowWidth.store(rect.right - rect.left);
    settings.historyWindowHeight.store(rect.bottom - rect.top);
    saveSettings();
}

// The range shown, a row for each period with a value, in local time.
std::string rangeCsv() {
    const PlotRange range = plotRange(plotView, newestHistorySecond());
    const PeriodRun& shown = readRange(range);
    return csvPeriods(shownRange.tier, shownTile.gpu, shown.periods, shown.count, localTimeOf);
}

void saveAsCsv() {
    const std::string text = rangeCsv();  // taken before the dialog, which lets seconds pass
    wchar_t path[MAX_PATH] = L"tarvelon-history.csv";
    OPENFILENAMEW save{};
    save.lStructSize = sizeof save;
    save.hwndOwner = window;
    save.lpstrFilter = L"CSV files (*.csv)\0*.csv\0All files\0*.*\0";
    save.lpstrFile = path;
    save.nMaxFile = MAX_PATH;
    save.lpstrDefExt = L"csv";
    save.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameW(&save)) return;
    if (!replaceFile(reinterpret_cast<const char16_t*>(path), text.data(), text.size())) {
        showDialogBox(window, u"The file could not be written.", u"Save as CSV", MB_ICONWARNING);
    }
}

void showView(const PlotView& view) {
    plotView = view;
    for (int i = 0; i < kPlotSpans; ++i) {
        CheckDlgButton(window, IDC_SPAN_1 + i, i == view.span ? BST_CHECKED : BST_UNCHECKED);
    }
    InvalidateRect(window, nullptr, FALSE);
}

void hover(int32_t column) {
    if (!trackingLeave) {
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
        trackingLeave = TrackMouseEvent(&track) != 0;
    }
    if (column == hoverX) return;
    hoverX = column;
    InvalidateRect(window, nullptr, FALSE);
}

void endDrag(int32_t column) {
    const int32_t from = dragFromX;
    dragFromX = -1;
    ReleaseCapture();
    showView(zoomToColumns(plotView, newestHistorySecond(), from, column, plotWidth()));
}

INT_PTR CALLBACK historyProcedure(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDCANCEL:  // Escape, Alt+F4, the close box
                    storePlace();
                    ShowWindow(window, SW_HIDE);
                    return TRUE;
                case IDC_SPAN_1:
                case IDC_SPAN_5:
                case IDC_SPAN_15:
                case IDC_SPAN_60:
                case IDC_SPAN_6H:
                case IDC_SPAN_24H:
                case IDC_SPAN_7D:
                case IDC_SPAN_30D:
                case IDC_SPAN_1Y:
                    showView(spanView(LOWORD(wParam) - IDC_SPAN_1));
                    return TRUE;
                case IDC_SAVE_CSV:
                    saveAsCsv();
                    return TRUE;
            }
            return FALSE;
        case WM_PAINT: {
            PAINTSTRUCT paintInfo{};
            HDC dc = BeginPaint(window, &paintInfo);
            paint(dc);
            EndPaint(window, &paintInfo);
            return TRUE;
        }
        case WM_MOUSEMOVE:
            hover(plotColumnAt(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)));
            return TRUE;
        case WM_MOUSELEAVE:
            trackingLeave = false;
            if (dragFromX < 0) hover(-1);
            return TRUE;
        case WM_LBUTTONDOWN: {
            const int32_t column = plotColumnAt(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
            if (column < 0) return FALSE;
            dragFromX = column;
            SetCapture(window);
            return TRUE;
        }
        case WM_CAPTURECHANGED:  // taken away mid-drag (a menu, another window): no zoom
            if (dragFromX >= 0) {
                dragFromX = -1;
                InvalidateRect(window, nullptr, FALSE);
            }
            return TRUE;
        case WM_LBUTTONUP:
            if (dragFromX >= 0) endDrag(plotColumnAt(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)));
            return TRUE;
        case WM_ERASEBKGND:
            return TRUE;  // the paint covers everything
        case WM_SIZE:
            InvalidateRect(window, nullptr, FALSE);
            return TRUE;
        case WM_EXITSIZEMOVE:  // also kept when the program ends with the window open
            storePlace();
            return TRUE;
        case WM_GETMINMAXINFO: {
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            limits->ptMinTrackSize = {scaled(kMinWidth), scaled(kMinHeight)};
            return TRUE;
        }
        case WM_DPICHANGED: {
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            InvalidateRect(window, nullptr, FALSE);
            return TRUE;
        }
    }
    return FALSE;
}

// The wheel zooms the plots under the mouse wherever the focus is (Wine sends it to the focus).
bool zoomByWheel(const MSG& message) {
    const POINT screen{GET_X_LPARAM(message.lParam), GET_Y_LPARAM(message.lParam)};
    if (GetAncestor(WindowFromPoint(screen), GA_ROOT) != window) return false;
    POINT point = screen;
    ScreenToClient(window, &point);
    const int32_t column = plotColumnAt(point.x, point.y);
    if (column < 0) return false;
    const int32_t notches = takeWheelNotches(wheelPending, GET_WHEEL_DELTA_WPARAM(message.wParam));
    if (notches == 0) return true;
    showView(zoomAround(plotView, newestHistorySecond(), column, plotWidth(), notches));
    return true;
}

}  // namespace

HWND createHistoryWindow(HINSTANCE instance) {
    window = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_HISTORY), nullptr, historyProcedure, 0);
    if (window != nullptr) showView(plotView);
    folder = historyFolder();
    return window;
}

void showHistory(TileId tile) {
    if (window == nullptr) return;
    if (!shownTileKey(shownPanelList(), tile, &shownKey)) return;
    shownTile = tile;
    setTitle();
    askShownProcesses();
    if (!IsWindowVisible(window)) {
        const int32_t width = settings.historyWindowWidth.load();
        const int32_t height = settings.historyWindowHeight.load();
        if (width > 0 && height > 0) {
            SetWindowPos(window, HWND_TOP, settings.historyWindowX.load(), settings.historyWindowY.load(),
                         width, height, SWP_NOACTIVATE);
        } else {
            SetWindowPos(window, HWND_TOP, 0, 0, scaled(480), scaled(640), SWP_NOMOVE | SWP_NOACTIVATE);
            showDialogAtCursor(window);
        }
    }
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    InvalidateRect(window, nullptr, FALSE);
}

bool routeHistoryInput(const MSG& message) {
    if (window == nullptr || !IsWindowVisible(window)) return false;
    if (message.message == WM_MOUSEWHEEL) return zoomByWheel(message);
    if (message.message != WM_KEYDOWN || GetAncestor(message.hwnd, GA_ROOT) != window) return false;
    const int64_t newest = newestHistorySecond();
    switch (message.wParam) {
        case VK_LEFT:
            showView(panView(plotView, newest, -1));
            return true;
        case VK_RIGHT:
            showView(panView(plotView, newest, 1));
            return true;
        case VK_HOME:
            showView(spanView(plotView.span));
            return true;
    }
    return false;
}

void refreshHistoryWindow() {
    if (window == nullptr || !IsWindowVisible(window)) return;
    shownTileOf(shownPanelList(), shownKey, &shownTile);  // its server may have moved
    setTitle();
    askShownProcesses();
    InvalidateRect(window, nullptr, FALSE);
}

}  // namespace tarvelon
