// The text of `--gpu-processes`: the log's CSV conventions (UTF-8, commas, CRLF, text fields quoted
// and kept from running as formulas), one row per GPU and process.
#pragma once

#include <cstdint>
#include <string>

#include "telemetry/gpu_processes.h"

namespace tarvelon {

// One GPU's ranked rows; gpu is its position as in local/gpuN.
struct GpuProcessList {
    int32_t gpu;
    uint32_t pciBus;
    uint32_t pciSlot;
    int32_t count;
    GpuProcessRow rows[kMaxProcessRows];
};

// The header, then each list's rows in the order given. Memory in whole MB; the processes that could
// not be opened have neither pid nor name.
std::string gpuProcessCsv(const GpuProcessList* lists, int32_t count);

}  // namespace tarvelon
