#include "panel/history_draw.h"

#include <vector>

#include "history/history_plot.h"
#include "panel/alarms.h"
#include "panel/panel_colours.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr const char16_t* kHostNames[kHistoryFigures] = {
    u"CPU load %", u"CPU MHz", u"Processes", u"Threads", u"Physical free MB", u"Virtual free MB", u"Net IO Mbit",
};
constexpr const char16_t* kGpuNames[kHistoryFigures] = {
    u"GPU load %", u"Core MHz", u"Memory MHz", u"Free MB", u"Fan RPM", u"Core \u00B0C", u"Memory \u00B0C",
};
constexpr int kCoreTemperature = 5;
constexpr int kGridValueChars = 8;  // room left of each plot for its grid values

// From the panel's palette: the plot in a panel's body with the grid in a deactivated panel's body,
// the figure in the GPU header's green, the alarm limit in the hottest value's red.
const Rgb& plotBody() {
    return toneColours(PanelTone::normal).body;
}
const Rgb& gridLine() {
    return toneColours(PanelTone::deactivated).body;
}
const Rgb& plotLine() {
    return toneColours(PanelTone::normal).gpuHeader;
}
constexpr const Rgb& kAlarmLine = kLoadScale[4];

int32_t charWidth(int32_t lineHeight) {
    return (lineHeight * 11 + 10) / 20;  // the fixed-pitch font's advance
}

void drawText(Surface& surface, int32_t x, int32_t y, const char16_t* text, int length) {
    surface.drawText(x, y, PanelFont::text, text, length);
}

struct Plot {
    PixelRect box;  // the plotted area, below the plot's text line
    int32_t left;   // of the text line and the grid values
    int32_t textY;
};

void drawFigureLine(const HistoryView& view, int figure, const Plot& plot, Surface& surface) {
    const HistoryStats stats = historyStats(*view.ring, figure, view.end, view.spanSeconds);
    uint32_t now = 0;
    const bool hasNow = historyValue(*view.ring, view.end, figure, &now);
    const char16_t* name = (view.gpuTile ? kGpuNames : kHostNames)[figure];
    char16_t text[128];
    int length = hasNow ? format16(text, 128, u"%s  now %u", name, now) : format16(text, 128, u"%s  now -", name);
    if (stats.count != 0) {
        length += format16(text + length, 128 - length, u"  min %u  avg %u  max %u", stats.minimum, stats.average,
                           stats.maximum);
    }
    drawText(surface, plot.left, plot.textY, text, length);
}

void drawGrid(const PlotGrid& grid, const Plot& plot, int32_t lineHeight, Surface& surface) {
    char16_t text[16];
    for (uint64_t value = grid.low; value <= grid.high; value += grid.step) {
        const int32_t y = valueToPixel(static_cast<uint32_t>(value), grid.low, grid.high, plot.box.top,
                                       plot.box.bottom - 1);
        surface.fillRect({plot.box.left, y, plot.box.right, y + 1}, gridLine());
        const int length = format16(text, 16, u"%7u", static_cast<uint32_t>(value));
        // Kept beside the plot, clear of the figure's line above it.
        int32_t textY = y - lineHeight / 2;
        if (textY < plot.box.top) textY = plot.box.top;
        if (textY > plot.box.bottom - lineHeight) textY = plot.box.bottom - lineHeight;
        drawText(surface, plot.left, textY, text, length);
    }
}

void drawAlarmLine(const PlotGrid& grid, const Plot& plot, int32_t alarmC, Surface& surface) {
    if (alarmC < static_cast<int32_t>(grid.low) || alarmC > static_cast<int32_t>(grid.high)) return;
    const int32_t y = valueToPixel(static_cast<uint32_t>(alarmC), grid.low, grid.high, plot.box.top, plot.box.bottom - 1);
    for (int32_t x = plot.box.left; x < plot.box.right; x += 8) {
        const int32_t end = x + 5 < plot.box.right ? x + 5 : plot.box.right;
        surface.fillRect({x, y, end, y + 1}, kAlarmLine);
    }
}

// A bar per column from its lowest to its highest value, reaching back to the previous column so the
// line stays joined; a column without values stays empty.
void drawColumns(const std::vector<PlotColumn>& columns, const PlotGrid& grid, const Plot& plot, Surface& surface) {
    const int32_t top = plot.box.top;
    const int32_t bottom = plot.box.bottom - 1;
    for (size_t x = 0; x < columns.size(); ++x) {
        const PlotColumn& column = columns[x];
        if (!column.present) continue;
        uint32_t low = column.lowest;
        uint32_t high = column.highest;
        if (x > 0 && columns[x - 1].present) {
            if (columns[x - 1].highest < low) low = columns[x - 1].highest;
            if (columns[x - 1].lowest > high) high = columns[x - 1].lowest;
        }
        const int32_t yHigh = valueToPixel(high, grid.low, grid.high, top, bottom);
        const int32_t yLow = valueToPixel(low, grid.low, grid.high, top, bottom);
        const int32_t left = plot.box.left + static_cast<int32_t>(x);
        surface.fillRect({left, yHigh, left + 1, yLow + 1}, plotLine());
    }
}

void drawTimeAxis(const HistoryView& view, int32_t left, int32_t right, int32_t y, Surface& surface) {
    const int32_t width = right - left;
    const int32_t step = timeTickSeconds(view.spanSeconds);
    char16_t text[16];
    for (int32_t ago = 0; ago <= view.spanSeconds; ago += step) {
        const int32_t x = right - 1 - static_cast<int32_t>(int64_t{ago} * (width - 1) / view.spanSeconds);
        surface.fillRect({x, y, x + 1, y + 4}, kHeaderText);
        const int length = timeTickLabel(ago, text);
        drawText(surface, x - length * charWidth(view.lineHeight) / 2, y + 4, text, length);
    }
}

}  // namespace

void drawHistory(const HistoryView& view, Surface& surface) {
    surface.fillRect(view.area, kBlack);
    surface.setBackgroundColour(kBlack);
    surface.setTextColour(kHeaderText);
    const int32_t lineHeight = view.lineHeight;
    const int32_t axisHeight = lineHeight + 6;
    const int32_t plotsLeft = view.area.left + 4 + kGridValueChars * charWidth(lineHeight);
    const int32_t plotsRight = view.area.right - 8;
    const int32_t pitch = (view.area.bottom - view.area.top - axisHeight) / kHistoryFigures;
    if (view.ring == nullptr || plotsRight - plotsLeft < 8 || pitch < 2 * lineHeight + 8) return;

    std::vector<PlotColumn> columns(static_cast<size_t>(plotsRight - plotsLeft));
    for (int figure = 0; figure < kHistoryFigures; ++figure) {
        const int32_t top = view.area.top + figure * pitch;
        const Plot plot{{plotsLeft, top + lineHeight + 2, plotsRight, top + pitch - 4}, view.area.left + 4, top};
        drawFigureLine(view, figure, plot, surface);
        surface.fillRect(plot.box, plotBody());

        plotColumns(*view.ring, figure, view.end, view.spanSeconds, plot.box.right - plot.box.left, columns.data());
        const HistoryStats stats = historyStats(*view.ring, figure, view.end, view.spanSeconds);
        const int32_t gridLines = (plot.box.bottom - plot.box.top) / (lineHeight + 2);
        const PlotGrid grid = choosePlotGrid(stats.minimum, stats.maximum, gridLines < 1 ? 1 : gridLines > 4 ? 4 : gridLines);
        drawGrid(grid, plot, lineHeight, surface);
        if (view.gpuTile && figure == kCoreTemperature && view.alarmC > 0) drawAlarmLine(grid, plot, view.alarmC, surface);
        drawColumns(columns, grid, plot, surface);
    }
    drawTimeAxis(view, plotsLeft, plotsRight, view.area.top + kHistoryFigures * pitch, surface);
}

void historyTitle(const PanelGroup& group, int gpu, char16_t (&title)[kHistoryTitleUnits]) {
    char16_t name[kRecordTextUnits];
    copyText16(name, kRecordTextUnits, gpu >= 0 ? group.gpuRecords[gpu].gpuName : hostTitle(group));
    format16(title, kHistoryTitleUnits, u"History - %s", name);
}

}  // namespace tarvelon
