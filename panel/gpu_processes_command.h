// `tarvelon.exe --gpu-processes FILE`: the processes using each local GPU, sampled twice a second
// apart and written as CSV beside any running panel (no second panel, no hand-over).
#pragma once

#include <cstdint>
#include <string>

namespace tarvelon {

enum class GpuProcessesOutcome : int32_t { written = 0, usage = 1, cannotWrite = 4 };

GpuProcessesOutcome writeGpuProcesses(const std::u16string& file);
// The message for the console.
const char* gpuProcessesMessage(GpuProcessesOutcome outcome);

}  // namespace tarvelon
