// The "Processes" list under a local GPU's plots in its history window: the busiest processes (by
// load, then memory), a line each with the image's name, its id, its load and its dedicated memory,
// the processes that could not be opened as "other processes".
#pragma once

#include <cstdint>

#include "panel/surface.h"
#include "telemetry/gpu_processes.h"

namespace tarvelon {

constexpr int kListedProcesses = 8;
constexpr int kProcessLineUnits = 64;

// The pixels the list takes at the bottom of the window: its heading, kListedProcesses lines and a gap.
int32_t gpuProcessListHeight(int32_t lineHeight);

// One line: name (cut to 20 characters), PID, load %, memory MB, in fixed columns under the heading.
int processLineText(const GpuProcessRow& row, char16_t (&text)[kProcessLineUnits]);

// The heading and the first kListedProcesses of the ranked rows, from the top of area; count -1 while
// none have been read.
void drawGpuProcessList(const GpuProcessRow* rows, int32_t count, const PixelRect& area, int32_t lineHeight,
                        Surface& surface);

}  // namespace tarvelon
