#include "panel/gpu_tooltip.h"

#include "platform/text16.h"

namespace tarvelon {

int gpuTooltipText(const char16_t* gpuName, const GpuProcessRow* rows, int32_t count,
                   char16_t (&text)[kGpuTooltipUnits]) {
    int length = format16(text, kGpuTooltipUnits, u"%s", gpuName);
    if (count <= 0) {
        return length + format16(text + length, kGpuTooltipUnits - length, u"\r\n%s",
                                 count < 0 ? u"reading processes..." : u"no processes");
    }
    for (int32_t i = 0; i < count && i < kTooltipProcesses; ++i) {
        const GpuProcessRow& row = rows[i];
        const uint32_t megabytes = static_cast<uint32_t>(row.memoryBytes >> 20);
        if (row.unnamed) {
            length += format16(text + length, kGpuTooltipUnits - length, u"\r\nother processes  %d %%  %u MB",
                               row.loadPct, megabytes);
        } else {
            length += format16(text + length, kGpuTooltipUnits - length, u"\r\n%s (%u)  %d %%  %u MB",
                               row.name[0] != 0 ? row.name : u"?", row.pid, row.loadPct, megabytes);
        }
    }
    return length;
}

}  // namespace tarvelon
