#include "panel/panel_layout.h"

#include <algorithm>
#include <cstdint>

namespace tarvelon {
namespace {

int presentGpuCount(const PanelGroup& group) {
    int count = 0;
    for (const PanelEntry& gpu : group.gpus) count += gpu.present != 0 ? 1 : 0;
    return count;
}

// The r-th present group (r = 0 for the local machine) along one axis, its GPUs along the other.
// Any other layout stacks every panel at the origin, also those a real layout placed before.
void placeGroups(PanelList& shown, const PanelMetrics& m, int32_t layout) {
    const bool hostsInRows = layout == 1;
    const bool hostsInColumns = layout == 2;
    int r = 0;
    for (int g = 0; g < kPanelGroups; ++g) {
        PanelGroup& group = shown.groups[g];
        if (g != 0 && group.host.present == 0) continue;
        const int32_t hostX = hostsInColumns ? r * m.panelWidth : 0;
        const int32_t hostY = hostsInRows ? r * m.panelHeight : 0;
        group.host.x = hostX;
        group.host.y = hostY;
        int k = 0;
        for (PanelEntry& gpu : group.gpus) {
            if (gpu.present == 0) continue;
            ++k;
            gpu.x = hostsInRows ? k * m.panelWidth : hostX;
            gpu.y = hostsInColumns ? k * m.panelHeight : hostY;
        }
        ++r;
    }
}

}  // namespace

int32_t fontSizeForDpi(int32_t fontsize, int32_t dpi) {
    const int64_t twice = int64_t{fontsize} * dpi * 2;
    const int64_t rounded = (twice + (twice < 0 ? -kBaseDpi : kBaseDpi)) / (2 * kBaseDpi);
    return static_cast<int32_t>(std::clamp<int64_t>(rounded, INT32_MIN, INT32_MAX));
}

int32_t effectiveLineHeight(int32_t fontsize, int32_t columns, int32_t rows) {
    // panelWidth x (columns + 1) and panelHeight x (rows + 1) must not pass the limit.
    const int32_t byWidth = (kMaxWindowExtent / (columns + 1) - 4) / 11;
    const int32_t byHeight = (kMaxWindowExtent / (rows + 1) - 4) / 9;
    return std::max<int32_t>(1, std::min({fontsize, byWidth, byHeight}));
}

PanelMetrics computeLayout(PanelList& shown, int32_t fontsize, int32_t layout) {
    int32_t remoteGroups = 0;
    int32_t widestGroup = presentGpuCount(shown.groups[0]);
    for (int g = 1; g < kPanelGroups; ++g) {
        if (shown.groups[g].host.present == 0) continue;
        ++remoteGroups;
        widestGroup = std::max(widestGroup, presentGpuCount(shown.groups[g]));
    }

    PanelMetrics m{};
    if (layout == 1) {
        m.columns = widestGroup;
        m.rows = remoteGroups;
    } else if (layout == 2) {
        m.columns = remoteGroups;
        m.rows = widestGroup;
    }
    m.lineHeight = effectiveLineHeight(fontsize, m.columns, m.rows);
    m.headerWidth = m.lineHeight + 4;
    m.panelWidth = 11 * m.lineHeight + 4;
    m.panelHeight = 9 * m.lineHeight + 4;
    m.windowWidth = m.panelWidth * (m.columns + 1);
    m.windowHeight = m.panelHeight * (m.rows + 1);

    placeGroups(shown, m, layout);
    return m;
}

int32_t labelX(const PanelEntry& entry, const PanelMetrics& metrics) {
    return entry.x + metrics.headerWidth + 2;
}

int32_t valueX(const PanelEntry& entry, const PanelMetrics& metrics) {
    return labelX(entry, metrics) + 5 * metrics.lineHeight;
}

int32_t rowY(const PanelEntry& entry, const PanelMetrics& metrics, bool hostPanel, int row) {
    const int32_t line = metrics.lineHeight;
    const int32_t gap = line / 3;
    // A gap before row 5 in every panel, and before row 7 in host panels.
    int32_t gaps = row >= 5 ? gap : 0;
    if (hostPanel && row >= 7) gaps += gap;
    return entry.y + metrics.headerWidth + 2 + (row - 1) * line + gaps;
}

}  // namespace tarvelon
