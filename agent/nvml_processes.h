// The processes using the agent's NVIDIA GPUs, from the management library: the compute and
// graphics process lists for each process's memory and the per-process utilization samples for its
// share of the SM, named from /proc/PID/comm. Asked only when a scrape wants processes.
#pragma once

#include <string>
#include <vector>

#include "agent/gpu_processes.h"
#include "agent/nvml_gpus.h"

namespace tarvelon {

struct NvmlProcessReader {
    std::string root;     // prefix of /proc, "" for the machine itself
    const void* library;  // the library the timestamps below came from
    unsigned long long lastSeenUs[kGpuSlots];
    std::vector<NvmlProcessInfo> infos;  // the arrays the library fills, kept with their room
    std::vector<NvmlProcessUtilizationSample> samples;
    std::string text;
};

NvmlProcessReader makeNvmlProcessReader(const std::string& root);

// Appends one GpuProcess per process on each of the library's GPUs (slots 0 on).
void readNvmlProcesses(NvmlProcessReader& reader, const NvmlGpus& gpus, std::vector<GpuProcess>* processes);

}  // namespace tarvelon
