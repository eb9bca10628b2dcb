// The text of a local GPU tile's tooltip: the GPU's name and the three processes using it most (by
// load, then memory), with their load and dedicated memory.
#pragma once

#include <cstdint>

#include "telemetry/gpu_processes.h"

namespace tarvelon {

constexpr int kTooltipProcesses = 3;
constexpr int kGpuTooltipUnits = 256;

// count -1: not read yet. Lines end in CRLF but the last. Returns the length.
int gpuTooltipText(const char16_t* gpuName, const GpuProcessRow* rows, int32_t count,
                   char16_t (&text)[kGpuTooltipUnits]);

}  // namespace tarvelon
