#include "panel/panel_draw.h"

#include <cstdarg>

#include "panel/panel_colours.h"
#include "panel/value_text.h"
#include "platform/text16.h"
#include "settings/settings.h"

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

// Where a pass draws values: the column's offset from a panel's left edge and each row's from its
// top, worked out once per pass rather than once per value.
struct ValueOffsets {
    int32_t x;
    int32_t host[kPanelRows];
    int32_t gpu[kPanelRows];
};

ValueOffsets valueOffsets(const PanelMetrics& m) {
    ValueOffsets offsets;
    const PanelEntry origin{};
    offsets.x = valueX(origin, m);
    for (int row = 1; row <= kPanelRows; ++row) {
        offsets.host[row - 1] = rowY(origin, m, true, row);
        offsets.gpu[row - 1] = rowY(origin, m, false, row);
    }
    return offsets;
}

// The surface's text colour as the value pass last set it: most neighbouring values share theirs,
// and each change is a call into the drawing system. Colours are told apart by address (a colour
// that comes from two places is merely set once more).
struct ValuePen {
    Surface& surface;
    const Rgb* textColour;
};

// Inline, one call per row: a column gathered into an array first is read back before its stores
// have settled.
inline void drawValue(ValuePen& pen, int32_t x, int32_t y, uint32_t value, const Rgb& colour) {
    if (pen.textColour != &colour) {
        pen.textColour = &colour;
        pen.surface.setTextColour(colour);
    }
    char16_t cell[kValueUnits];
    pen.surface.drawText(x, y, PanelFont::text, cell, formatPanelValue(value, cell));
}

void drawHostValues(const HostRecord& host, const PanelEntry& entry, const ValueOffsets& offsets,
                    ValuePen& pen) {
    const int32_t x = entry.x + offsets.x;
    const int32_t(&y)[kPanelRows] = offsets.host;
    drawValue(pen, x, entry.y + y[0], host.cpuLoad, loadColour(host.cpuLoad));
    drawValue(pen, x, entry.y + y[1], host.cpuMhz, loadColour(host.cpuMaxFreqPct));
    drawValue(pen, x, entry.y + y[2], host.processCount, kPlainValue);
    drawValue(pen, x, entry.y + y[3], host.threadCount, kPlainValue);
    drawValue(pen, x, entry.y + y[4], host.physFreeMb, loadColour(host.physUsedPct));
    drawValue(pen, x, entry.y + y[5], host.pageFreeMb, loadColour(host.pageUsedPct));
    drawValue(pen, x, entry.y + y[6], host.netIoMbit, kPlainValue);
}

void drawGpuValues(const GpuRecord& gpu, const PanelEntry& entry, const ValueOffsets& offsets,
                   ValuePen& pen) {
    const int32_t x = entry.x + offsets.x;
    const int32_t(&y)[kPanelRows] = offsets.gpu;
    drawValue(pen, x, entry.y + y[0], gpu.gpuLoad, loadColour(gpu.gpuLoad));
    drawValue(pen, x, entry.y + y[1], gpu.coreMhz, loadColour(gpu.coreClockPct));
    drawValue(pen, x, entry.y + y[2], gpu.memMhz, loadColour(gpu.memClockPct));
    drawValue(pen, x, entry.y + y[3], gpu.memFreeMb, loadColour(gpu.memUsedPct));
    // The colour follows the stored byte, the number is the speed it stands for.
    drawValue(pen, x, entry.y + y[4], uint32_t{gpu.fanRpmDiv32} * 32, loadColour(gpu.fanRpmDiv32));
    drawValue(pen, x, entry.y + y[5], gpu.coreTempC, temperatureColour(gpu.coreTempC));
    drawValue(pen, x, entry.y + y[6], gpu.memTempC, temperatureColour(gpu.memTempC));
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
    const ValueOffsets offsets = valueOffsets(m);
    ValuePen pen{surface, nullptr};
    bool backgroundSet = false;
    Rgb background{};
    // Group by group rather than panel by panel: a group's panels share their tone.
    for (int g = 0; g < kPanelGroups; ++g) {
        const PanelGroup& group = shown.groups[g];
        if (g != 0 && group.host.present == 0) continue;
        const Rgb body = groupColours(group).body;
        if (!backgroundSet || background != body) {
            surface.setBackgroundColour(body);
            backgroundSet = true;
            background = body;
        }
        drawHostValues(group.hostRecord, group.host, offsets, pen);
        for (int k = 0; k < kGpuSlots; ++k) {
            if (group.gpus[k].present != 0) drawGpuValues(group.gpuRecords[k], group.gpus[k], offsets, pen);
        }
    }
}

void layOutPanels(PanelState& state) {
    state.metrics = computeLayout(state.shown, fontSizeForDpi(settings.fontsize.load(), state.dpi),
                                  settings.layout.load());
}

namespace {

void layOutAndDrawFrame(PanelState& state, Surface& surface) {
    layOutPanels(state);
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
    ++state.listVersion;
    layOutAndDrawFrame(state, surface);
    drawPanelValues(state.shown, state.metrics, surface);
}

void tickPass(PanelState& state, Surface& surface) {
    buildPanelList(state.current);
    if (takePanelList(state.current, state.shown)) {
        ++state.listVersion;
        layOutAndDrawFrame(state, surface);
    }
    drawPanelValues(state.shown, state.metrics, surface);
}

}  // namespace tarvelon
