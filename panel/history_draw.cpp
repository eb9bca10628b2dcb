#include "panel/history_draw.h"

#include <memory>
#include <vector>

#include "history/plot_axis.h"
#include "panel/alarms.h"
#include "panel/panel_colours.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr const char16_t* kHostNames[kHistoryFigures] = {
    u"CPU load %",       u"CPU MHz",         u"Processes",   u"Threads",
    u"Physical free MB", u"Virtual free MB", u"Net IO Mbit",
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
// Behind a raised period, a warning panel's reddish body: light enough for the band and the grid.
const Rgb& raisedTint() {
    return toneColours(PanelTone::warning).body;
}
// The band of a column between the plot's body and its line.
constexpr Rgb kBand{96, 160, 96};

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

void drawFigureLine(const HistoryView& view, int figure, const PlotColumn* columns, const Plot& plot,
                    Surface& surface) {
    const char16_t* name = (view.gpuTile ? kGpuNames : kHostNames)[figure];
    char16_t text[128];
    int length = 0;
    PlotColumn shown;
    if (view.hoverX >= 0) {
        char16_t time[kTimeLabelUnits];
        const int32_t width = plot.box.right - plot.box.left;
        readoutTime(columnSecond(view.range, view.hoverX, width), view.range.seconds, view.run->periodSeconds,
                    time);
        shown = columns[view.hoverX];
        length = format16(text, 128, u"%s  %s", name, time);
        if (shown.seconds == 1) {
            length += format16(text + length, 128 - length, u"  %u", shown.average);
        } else if (shown.seconds == 0) {
            length += format16(text + length, 128 - length, u"  -");
        }
    } else {
        uint32_t now = 0;
        const bool hasNow = view.ring != nullptr && historyValue(*view.ring, view.newest, figure, &now);
        length =
            hasNow ? format16(text, 128, u"%s  now %u", name, now) : format16(text, 128, u"%s  now -", name);
        shown = rangeColumn(columns, plot.box.right - plot.box.left);
    }
    if (shown.seconds > 1 || (view.hoverX < 0 && shown.seconds != 0)) {
        length += format16(text + length, 128 - length, u"  min %u  avg %u  max %u", shown.lowest,
                           shown.average, shown.highest);
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
    const int32_t y =
        valueToPixel(static_cast<uint32_t>(alarmC), grid.low, grid.high, plot.box.top, plot.box.bottom - 1);
    for (int32_t x = plot.box.left; x < plot.box.right; x += 8) {
        const int32_t end = x + 5 < plot.box.right ? x + 5 : plot.box.right;
        surface.fillRect({x, y, end, y + 1}, kAlarmLine);
    }
}

// Per column the band from its lowest to its highest value, then its average as a line that reaches
// back to the previous column's so it stays joined; a column without values stays empty.
void drawColumns(const PlotColumn* columns, int32_t width, const PlotGrid& grid, const Plot& plot,
                 Surface& surface) {
    const int32_t top = plot.box.top;
    const int32_t bottom = plot.box.bottom - 1;
    for (int32_t x = 0; x < width; ++x) {
        const PlotColumn& column = columns[x];
        if (column.seconds == 0) continue;
        const int32_t left = plot.box.left + x;
        if (column.lowest != column.highest) {
            const int32_t yHigh = valueToPixel(column.highest, grid.low, grid.high, top, bottom);
            const int32_t yLow = valueToPixel(column.lowest, grid.low, grid.high, top, bottom);
            surface.fillRect({left, yHigh, left + 1, yLow + 1}, kBand);
        }
        int32_t yFrom = valueToPixel(column.average, grid.low, grid.high, top, bottom);
        int32_t yTo = yFrom;
        if (x > 0 && columns[x - 1].seconds != 0) {
            const int32_t yBefore = valueToPixel(columns[x - 1].average, grid.low, grid.high, top, bottom);
            if (yBefore < yFrom) yFrom = yBefore;
            if (yBefore > yTo) yTo = yBefore;
        }
        surface.fillRect({left, yFrom, left + 1, yTo + 1}, plotLine());
    }
}

void drawRaised(const HistoryView& view, int figure, const Plot& plot, bool* raised, Surface& surface) {
    if (view.alarms == nullptr || view.tile == nullptr) return;
    const int32_t width = plot.box.right - plot.box.left;
    raisedColumns(*view.alarms, *view.tile, view.gpuTile ? 7 + figure : figure, view.range, width, raised);
    for (int32_t x = 0; x < width;) {
        if (!raised[x]) {
            ++x;
            continue;
        }
        const int32_t from = x;
        while (x < width && raised[x]) ++x;
        surface.fillRect({plot.box.left + from, plot.box.top, plot.box.left + x, plot.box.bottom},
                         raisedTint());
    }
}

void drawTimeAxis(const HistoryView& view, int32_t left, int32_t width, int32_t y, Surface& surface) {
    TimeTick ticks[kMostTimeTicks];
    const int count =
        timeTicks(view.range.first, view.range.seconds, width, charWidth(view.lineHeight), ticks);
    for (int i = 0; i < count; ++i) {
        const int32_t x = left + ticks[i].x;
        surface.fillRect({x, y, x + 1, y + 4}, kHeaderText);
        drawText(surface, x - ticks[i].length * charWidth(view.lineHeight) / 2, y + 4, ticks[i].label,
                 ticks[i].length);
    }
}

}  // namespace

PlotColumns historyPlotColumns(const PixelRect& area, int32_t lineHeight) {
    const int32_t left = area.left + 4 + kGridValueChars * charWidth(lineHeight);
    return {left, area.right - 8 - left};
}

int32_t historyPlotsMinHeight(int32_t lineHeight) {
    return kHistoryFigures * (2 * lineHeight + 8) + lineHeight + 6;
}

void drawHistory(const HistoryView& asked, Surface& surface) {
    const PlotColumns plots = historyPlotColumns(asked.area, asked.lineHeight);
    // A window narrowed under a still mouse keeps the column it last named: past the plots, it names none.
    HistoryView view = asked;
    if (view.hoverX >= plots.width) view.hoverX = -1;
    if (view.dragFromX >= plots.width) view.dragFromX = plots.width - 1;
    surface.fillRect(view.area, kBlack);
    surface.setBackgroundColour(kBlack);
    surface.setTextColour(kHeaderText);
    const int32_t lineHeight = view.lineHeight;
    const int32_t axisHeight = lineHeight + 6;
    const int32_t pitch = (view.area.bottom - view.area.top - axisHeight) / kHistoryFigures;
    if (view.run == nullptr || plots.width < 8 ||
        view.area.bottom - view.area.top < historyPlotsMinHeight(lineHeight))
        return;

    std::vector<PlotColumn> columns(static_cast<size_t>(plots.width));
    std::unique_ptr<bool[]> raised(new bool[static_cast<size_t>(plots.width)]);
    const int32_t plotsTop = view.area.top + lineHeight + 2;
    const int32_t plotsBottom = view.area.top + kHistoryFigures * pitch - 4;
    for (int figure = 0; figure < kHistoryFigures; ++figure) {
        const int32_t top = view.area.top + figure * pitch;
        const Plot plot{{plots.left, top + lineHeight + 2, plots.left + plots.width, top + pitch - 4},
                        view.area.left + 4,
                        top};
        plotColumns(*view.run, figure, view.range, plots.width, columns.data());
        drawFigureLine(view, figure, columns.data(), plot, surface);
        surface.fillRect(plot.box, plotBody());
        drawRaised(view, figure, plot, raised.get(), surface);
        if (view.dragFromX >= 0 && view.hoverX >= 0) {
            const int32_t from = view.dragFromX < view.hoverX ? view.dragFromX : view.hoverX;
            const int32_t to = view.dragFromX < view.hoverX ? view.hoverX : view.dragFromX;
            surface.fillRect({plots.left + from, plot.box.top, plots.left + to + 1, plot.box.bottom},
                             gridLine());
        }

        const PlotColumn all = rangeColumn(columns.data(), plots.width);
        const int32_t gridLines = (plot.box.bottom - plot.box.top) / (lineHeight + lineHeight / 2);
        const PlotGrid grid = choosePlotGrid(all.lowest, all.highest,
                                             gridLines < 1   ? 1
                                             : gridLines > 4 ? 4
                                                             : gridLines);
        drawGrid(grid, plot, lineHeight, surface);
        if (view.gpuTile && figure == kCoreTemperature && view.alarmC > 0)
            drawAlarmLine(grid, plot, view.alarmC, surface);
        drawColumns(columns.data(), plots.width, grid, plot, surface);
    }
    if (view.hoverX >= 0) {
        surface.fillRect({plots.left + view.hoverX, plotsTop, plots.left + view.hoverX + 1, plotsBottom},
                         kHeaderText);
    }
    drawTimeAxis(view, plots.left, plots.width, view.area.top + kHistoryFigures * pitch, surface);
}

void historyTitle(const PanelGroup& group, int gpu, char16_t (&title)[kHistoryTitleUnits]) {
    char16_t name[kRecordTextUnits];
    copyText16(name, kRecordTextUnits, gpu >= 0 ? group.gpuRecords[gpu].gpuName : hostTitle(group));
    format16(title, kHistoryTitleUnits, u"History - %s", name);
}

}  // namespace tarvelon
