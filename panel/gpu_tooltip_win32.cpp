#include "panel/gpu_tooltip_win32.h"

#include <commctrl.h>

#include "panel/gpu_tooltip.h"
#include "panel/panel_win32.h"
#include "platform/clock.h"
#include "telemetry/d3dkmt_access.h"
#include "telemetry/gpu_process_watch.h"

namespace tarvelon {
namespace {

HWND tooltip = nullptr;
HWND panelWindow = nullptr;
wchar_t shownText[kGpuTooltipUnits];

// The local GPU tile under the cursor, -1 when the cursor is over none.
int32_t gpuUnderCursor() {
    POINT cursor{};
    GetCursorPos(&cursor);
    ScreenToClient(panelWindow, &cursor);
    TileId tile{};
    if (!tileAtWin32(cursor.x, cursor.y, &tile) || tile.source != kLocalSource) return -1;
    return tile.gpu;
}

const char16_t* localGpuName(int32_t gpu) {
    for (const PanelGroup& group : shownPanelList().groups) {
        if (group.host.present != 0 && group.source == kLocalSource && gpu < kGpuSlots)
            return group.gpuRecords[gpu].gpuName;
    }
    return u"";
}

}  // namespace

void createGpuTooltip(HWND panel) {
    if (systemD3dkmtFunctions() == nullptr) return;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};  // the tooltip class
    InitCommonControlsEx(&controls);
    panelWindow = panel;
    tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                              WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, panel, nullptr, nullptr, nullptr);
    if (tooltip == nullptr) return;
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = panel;
    tool.uId = reinterpret_cast<UINT_PTR>(panel);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tooltip, TTM_SETMAXTIPWIDTH, 0, 600);  // lines break where the text breaks them
}

bool gpuTooltipNotify(LPARAM lParam) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (tooltip == nullptr || header->hwndFrom != tooltip || header->code != TTN_GETDISPINFOW) return false;
    auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
    const int32_t gpu = gpuUnderCursor();
    shownText[0] = 0;  // no text, no tooltip: over any other tile
    if (gpu >= 0) {
        askGpuProcesses(gpu, tickCountMs());
        GpuProcessRow rows[kTooltipProcesses];
        const int32_t count = readGpuProcesses(gpu, rows, kTooltipProcesses);
        char16_t text[kGpuTooltipUnits];
        gpuTooltipText(localGpuName(gpu), rows, count, text);
        static_assert(sizeof(wchar_t) == sizeof(char16_t));
        for (int i = 0; i < kGpuTooltipUnits; ++i) shownText[i] = static_cast<wchar_t>(text[i]);
    }
    info->lpszText = shownText;
    return true;
}

void refreshGpuTooltip() {
    if (tooltip == nullptr || !IsWindowVisible(tooltip)) return;
    // Setting the callback again makes the control ask for the text anew.
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = panelWindow;
    tool.uId = reinterpret_cast<UINT_PTR>(panelWindow);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tooltip, TTM_UPDATE, 0, 0);
}

}  // namespace tarvelon
