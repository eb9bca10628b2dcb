#include "panel/history_window_win32.h"

#include <commdlg.h>

#include <string>
#include <vector>

#include "history/csv_text.h"
#include "panel/dialog_win32.h"
#include "panel/gdi_surface_win32.h"
#include "panel/history_draw.h"
#include "panel/panel_colours.h"
#include "panel/panel_layout.h"
#include "panel/panel_win32.h"
#include "platform/files.h"
#include "platform/text16.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace tarvelon {
namespace {

constexpr int32_t kMinWidth = 320;  // at 96 DPI
constexpr int32_t kMinHeight = 400;
constexpr int32_t kFontPoints = 12;  // line height at 96 DPI

HWND window = nullptr;
TileId shownTile{kLocalSource, -1};
TileKey shownKey{};  // taken when shown: the window follows the server wherever its tile moves
int32_t spanSeconds = 3600;
GdiFonts fonts;
int32_t fontsDpi = 0;

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

// The plots start below the row of buttons.
int32_t plotsTop() {
    RECT button{};
    GetWindowRect(GetDlgItem(window, IDC_SPAN_1), &button);
    POINT corner{button.left, button.bottom};
    ScreenToClient(window, &corner);
    return corner.y + scaled(6);
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
        const HistoryView view{tileHistory(panelHistory(), shownKey),
                               shownTile.gpu >= 0,
                               newestHistorySecond(),
                               spanSeconds,
                               settings.alarmGpuTempC.load(),
                               MulDiv(kFontPoints, dpi, kBaseDpi),
                               {0, plotsTop(), client.right, client.bottom}};
        drawHistory(view, surface);
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

// One row a second that has a value, oldest first, in local time: the export's writer.
std::string tileCsv() {
    const HistoryRing* ring = tileHistory(panelHistory(), shownKey);
    std::vector<PeriodFigures> seconds(kHistorySeconds);
    const int64_t newest = newestHistorySecond();
    for (int32_t i = 0; i < kHistorySeconds && ring != nullptr; ++i) {
        PeriodFigures& second = seconds[static_cast<size_t>(i)];
        second.start = newest - kHistorySeconds + 1 + i;
        second.seconds = 1;
        for (int f = 0; f < kHistoryFigures && second.seconds != 0; ++f) {
            if (!historyValue(*ring, second.start, f, &second.average[f])) second.seconds = 0;
        }
    }
    return csvPeriods(HistoryTier::seconds, shownTile.gpu, seconds.data(), kHistorySeconds, localTimeOf);
}

void saveAsCsv() {
    const std::string text = tileCsv();  // taken before the dialog, which lets seconds pass
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

void selectSpan(int32_t seconds) {
    spanSeconds = seconds;
    for (int i = 0; i < 4; ++i) {
        CheckDlgButton(window, IDC_SPAN_1 + i, kHistorySpans[i] == seconds ? BST_CHECKED : BST_UNCHECKED);
    }
    InvalidateRect(window, nullptr, FALSE);
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
                    selectSpan(kHistorySpans[LOWORD(wParam) - IDC_SPAN_1]);
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

}  // namespace

HWND createHistoryWindow(HINSTANCE instance) {
    window = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_HISTORY), nullptr, historyProcedure, 0);
    if (window != nullptr) selectSpan(spanSeconds);
    return window;
}

void showHistory(TileId tile) {
    if (window == nullptr) return;
    if (!shownTileKey(shownPanelList(), tile, &shownKey)) return;
    shownTile = tile;
    setTitle();
    if (!IsWindowVisible(window)) {
        const int32_t width = settings.historyWindowWidth.load();
        const int32_t height = settings.historyWindowHeight.load();
        if (width > 0 && height > 0) {
            SetWindowPos(window, HWND_TOP, settings.historyWindowX.load(), settings.historyWindowY.load(), width,
                         height, SWP_NOACTIVATE);
        } else {
            SetWindowPos(window, HWND_TOP, 0, 0, scaled(480), scaled(640), SWP_NOMOVE | SWP_NOACTIVATE);
            showDialogAtCursor(window);
        }
    }
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    InvalidateRect(window, nullptr, FALSE);
}

void refreshHistoryWindow() {
    if (window == nullptr || !IsWindowVisible(window)) return;
    shownTileOf(shownPanelList(), shownKey, &shownTile);  // its server may have moved
    setTitle();
    InvalidateRect(window, nullptr, FALSE);
}

}  // namespace tarvelon
