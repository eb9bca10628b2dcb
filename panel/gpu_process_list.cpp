#include "panel/gpu_process_list.h"

#include "panel/panel_colours.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr int kNameChars = 20;

void drawLine(Surface& surface, const PixelRect& area, int32_t line, int32_t lineHeight, const char16_t* text,
              int length) {
    surface.drawText(area.left + 4, area.top + 4 + line * lineHeight, PanelFont::text, text, length);
}

}  // namespace

int32_t gpuProcessListHeight(int32_t lineHeight) {
    return (1 + kListedProcesses) * lineHeight + 8;
}

int processLineText(const GpuProcessRow& row, char16_t (&text)[kProcessLineUnits]) {
    char16_t name[kNameChars + 1];
    copyText16(name, kNameChars + 1, row.unnamed ? u"other processes" : row.name[0] != 0 ? row.name : u"?");
    const uint32_t megabytes = static_cast<uint32_t>(row.memoryBytes >> 20);
    if (row.unnamed)
        return format16(text, kProcessLineUnits, u"%-20s %7s %6d %9u", name, u"", row.loadPct, megabytes);
    return format16(text, kProcessLineUnits, u"%-20s %7u %6d %9u", name, row.pid, row.loadPct, megabytes);
}

void drawGpuProcessList(const GpuProcessRow* rows, int32_t count, const PixelRect& area, int32_t lineHeight,
                        Surface& surface) {
    surface.fillRect(area, kBlack);
    surface.setBackgroundColour(kBlack);
    surface.setTextColour(kHeaderText);
    char16_t text[kProcessLineUnits];
    int length = format16(text, kProcessLineUnits, u"%-20s %7s %6s %9s", u"Processes", u"PID", u"Load %",
                          u"Memory MB");
    drawLine(surface, area, 0, lineHeight, text, length);
    if (count <= 0) {
        length = format16(text, kProcessLineUnits, u"%s", count < 0 ? u"reading..." : u"none");
        drawLine(surface, area, 1, lineHeight, text, length);
        return;
    }
    for (int32_t i = 0; i < count && i < kListedProcesses; ++i) {
        length = processLineText(rows[i], text);
        drawLine(surface, area, 1 + i, lineHeight, text, length);
    }
}

}  // namespace tarvelon
