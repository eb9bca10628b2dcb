#include "panel/panel_draw.h"

#include <cstdarg>

#include "panel/panel_colours.h"
#include "settings/settings.h"
#include "telemetry/text16.h"

namespace tarvelon {
namespace {

constexpr int kTextUnits = 64;

// Visits the shown panels in drawing order: each present group's host panel, then its GPU panels
// with their position index in the group (-1 for the host panel).
template <class Visit>
void visitPanels(const PanelList& list, Visit&& visit) {
    for (int g = 0; g < kPanelGroups; ++g) {
        const PanelGroup& group = list.groups[g];
        if (g != 0 && group.host.present == 0) continue;
        visit(group, group.host, -1);
        for (int k = 0; k < kGpuSlots; ++k) {
            if (group.gpus[k].present != 0) visit(group, group.gpus[k], k);
        }
    }
}

void drawFormatted(Surface& surface, int32_t x, int32_t y, const char16_t* format, ...) {
    char16_t text[kTextUnits];
    va_list arguments;
    va_start(arguments, format);
    const int length = vformat16(text, kTextUnits, format, arguments);
    va_end(arguments);
    surface.drawText(x, y, PanelFont::text, text, length);
}

void drawRecordText(Surface& surface, int32_t x, int32_t y, const char16_t (&text)[kRecordTextUnits]) {
    surface.drawText(x, y, PanelFont::text, text, static_cast<int32_t>(text16Length(text, kRecordTextUnits)));
}

// Above 99999 a value is shown in thousands, so that it keeps its five characters.
void drawLargeNumber(Surface& surface, int32_t x, int32_t y, uint32_t value) {
    if (value > 99999) {
        drawFormatted(surface, x, y, u"%3d G", static_cast<int>(value / 1000));
    } else {
        drawFormatted(surface, x, y, u"%5d", static_cast<int>(value));
    }
}

const ToneColours& groupColours(const PanelGroup& group) {
    return toneColours(panelTone(group.host));
}

void drawHeader(const PanelGroup& group, const PanelEntry& entry, int gpuIndex, const PanelMetrics& m,
                Surface& surface) {
    const bool hostPanel = gpuIndex < 0;
    const ToneColours& colours = groupColours(group);
    const Rgb strip = hostPanel ? colours.hostHeader : colours.gpuHeader;
    surface.setTextColour(kHeaderText);
    surface.fillRect({entry.x, entry.y, entry.x + m.headerWidth, entry.y + m.panelHeight}, strip);
    surface.setBackgroundColour(strip);

    char16_t text[kTextUnits];
    int length;
    if (hostPanel) {
        length = format16(text, kTextUnits, u"Cores %d", static_cast<int>(group.hostRecord.cpuCount));
    } else {
        const GpuRecord& gpu = group.gpuRecords[gpuIndex];
        length = format16(text, kTextUnits, u"GPU %d PCI %d/%d", gpuIndex, static_cast<int>(gpu.pciBus),
                          static_cast<int>(gpu.pciSlot));
    }
    surface.drawText(entry.x + 1, entry.y + m.panelHeight - 4, PanelFont::header, text, length);

    // The title strip covers the top of the vertical strip.
    surface.fillRect({entry.x, entry.y, entry.x + m.panelWidth, entry.y + m.headerWidth}, strip);
    const int32_t titleX = entry.x + 4;
    const int32_t titleY = entry.y + 2;
    if (!hostPanel) {
        drawRecordText(surface, titleX, titleY, group.gpuRecords[gpuIndex].gpuName);
    } else if (group.source == kLocalSource) {
        drawFormatted(surface, titleX, titleY, u"SYSTEM");
    } else if (group.hostRecord.hostName[0] != 0) {
        drawRecordText(surface, titleX, titleY, group.hostRecord.hostName);
    } else {
        drawFormatted(surface, titleX, titleY, u"Unknown");
    }
}

// Printed as formats without arguments, so "%%" shows one percent sign.
constexpr const char16_t* kHostLabels[kPanelRows] = {
    u"CPU Load%%", u"  CPU Mhz", u"    Procs", u"  Threads", u"P Free MB", u"V Free MB", u"Net IO Mb",
};
constexpr const char16_t* kGpuLabels[kPanelRows] = {
    u"GPU Load%%", u" Core MHz",      u"  Mem MHz",      u"  Free MB",
    u"  Fan RPM",  u"  Core \u00B0C", u"   Mem \u00B0C",
};

void drawHostValues(const HostRecord& host, const PanelEntry& entry, const PanelMetrics& m,
                    Surface& surface) {
    const int32_t x = valueX(entry, m);
    auto y = [&](int row) { return rowY(entry, m, true, row); };
    surface.setTextColour(loadColour(host.cpuLoad));
    drawFormatted(surface, x, y(1), u"%5d", static_cast<int>(host.cpuLoad));
    surface.setTextColour(loadColour(host.cpuMaxFreqPct));
    drawFormatted(surface, x, y(2), u"%5d", static_cast<int>(host.cpuMhz));
    surface.setTextColour(kPlainValue);
    drawFormatted(surface, x, y(3), u"%5d", static_cast<int>(host.processCount));
    drawFormatted(surface, x, y(4), u"%5d", static_cast<int>(host.threadCount));
    surface.setTextColour(loadColour(host.physUsedPct));
    drawLargeNumber(surface, x, y(5), host.physFreeMb);
    surface.setTextColour(loadColour(host.pageUsedPct));
    drawLargeNumber(surface, x, y(6), host.pageFreeMb);
    surface.setTextColour(kPlainValue);
    drawLargeNumber(surface, x, y(7), host.netIoMbit);
}

void drawGpuValues(const GpuRecord& gpu, const PanelEntry& entry, const PanelMetrics& m, Surface& surface) {
    const int32_t x = valueX(entry, m);
    auto y = [&](int row) { return rowY(entry, m, false, row); };
    surface.setTextColour(loadColour(gpu.gpuLoad));
    drawFormatted(surface, x, y(1), u"%5d", static_cast<int>(gpu.gpuLoad));
    surface.setTextColour(loadColour(gpu.coreClockPct));
    drawFormatted(surface, x, y(2), u"%5d", static_cast<int>(gpu.coreMhz));
    surface.setTextColour(loadColour(gpu.memClockPct));
    drawFormatted(surface, x, y(3), u"%5d", static_cast<int>(gpu.memMhz));
    surface.setTextColour(loadColour(gpu.memUsedPct));
    drawFormatted(surface, x, y(4), u"%5d", static_cast<int>(gpu.memFreeMb));
    // The colour follows the stored byte, the number is the speed it stands for.
    surface.setTextColour(loadColour(gpu.fanRpmDiv32));
    drawFormatted(surface, x, y(5), u"%5d", static_cast<int>(gpu.fanRpmDiv32) * 32);
    surface.setTextColour(temperatureColour(gpu.coreTempC));
    drawFormatted(surface, x, y(6), u"%5d", static_cast<int>(gpu.coreTempC));
    surface.setTextColour(temperatureColour(gpu.memTempC));
    drawFormatted(surface, x, y(7), u"%5d", static_cast<int>(gpu.memTempC));
}

}  // namespace

void fitWindowAndClear(const PanelMetrics& metrics, Surface& surface) {
    const PixelRect window = surface.windowRect();
    const int64_t width = int64_t{window.right} - window.left;
    const int64_t height = int64_t{window.bottom} - window.top;
    if (width != metrics.windowWidth || height != metrics.windowHeight) {
        surface.moveWindow(window.left, window.top, metrics.windowWidth, metrics.windowHeight);
        settings.windowPosX.store(window.left);
        settings.windowPosY.store(window.top);
    }
    surface.fillRect(surface.clientRect(), kBlack);
}

void drawPanelBackgrounds(const PanelList& shown, const PanelMetrics& m, Surface& surface) {
    visitPanels(shown, [&](const PanelGroup& group, const PanelEntry& entry, int) {
        surface.fillRect({entry.x, entry.y, entry.x + m.panelWidth, entry.y + m.panelHeight},
                         groupColours(group).body);
    });
}

void drawPanelHeaders(const PanelList& shown, const PanelMetrics& m, Surface& surface) {
    visitPanels(shown, [&](const PanelGroup& group, const PanelEntry& entry, int gpuIndex) {
        drawHeader(group, entry, gpuIndex, m, surface);
    });
}

void drawPanelLabels(const PanelList& shown, const PanelMetrics& m, Surface& surface) {
    visitPanels(shown, [&](const PanelGroup& group, const PanelEntry& entry, int gpuIndex) {
        const bool hostPanel = gpuIndex < 0;
        surface.setTextColour(kLabelText);
        surface.setBackgroundColour(groupColours(group).body);
        const char16_t* const* labels = hostPanel ? kHostLabels : kGpuLabels;
        for (int row = 1; row <= kPanelRows; ++row) {
            drawFormatted(surface, labelX(entry, m), rowY(entry, m, hostPanel, row), labels[row - 1]);
        }
    });
}

void drawPanelValues(const PanelList& shown, const PanelMetrics& m, Surface& surface) {
    visitPanels(shown, [&](const PanelGroup& group, const PanelEntry& entry, int gpuIndex) {
        surface.setBackgroundColour(groupColours(group).body);
        if (gpuIndex < 0) {
            drawHostValues(group.hostRecord, entry, m, surface);
        } else {
            drawGpuValues(group.gpuRecords[gpuIndex], entry, m, surface);
        }
    });
}

namespace {

void layOutAndDrawFrame(PanelState& state, Surface& surface) {
    state.metrics =
        computeLayout(state.shown, fontSizeForDpi(settings.fontsize.load(), state.dpi), settings.layout.load());
    surface.replaceFonts(state.metrics.lineHeight);
    fitWindowAndClear(state.metrics, surface);
    drawPanelBackgrounds(state.shown, state.metrics, surface);
    drawPanelHeaders(state.shown, state.metrics, surface);
    drawPanelLabels(state.shown, state.metrics, surface);
}

}  // namespace

void fullPass(PanelState& state, Surface& surface) {
    buildPanelList(state.current);
    takePanelList(state.current, state.shown);
    layOutAndDrawFrame(state, surface);
    drawPanelValues(state.shown, state.metrics, surface);
}

void tickPass(PanelState& state, Surface& surface) {
    buildPanelList(state.current);
    if (takePanelList(state.current, state.shown)) layOutAndDrawFrame(state, surface);
    drawPanelValues(state.shown, state.metrics, surface);
}

}  // namespace tarvelon
