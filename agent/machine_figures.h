// The figures the metrics endpoints show for one machine, in Prometheus's base units (bytes, hertz,
// ratios): the agent's own at full precision, or another Tarvelon server's as its reply carried them.
// A figure that was not read is absent rather than zero.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/linux_host.h"
#include "agent/nvml_gpus.h"
#include "net/slot_table.h"

namespace tarvelon {

struct Figure {
    bool present;
    double value;
};

struct InterfaceCounters {
    std::string name;
    uint64_t receivedBytes;
    uint64_t sentBytes;
};

struct GpuFigures {
    int slot;
    std::string name;  // UTF-8
    uint32_t pciBus;
    uint32_t pciDevice;
    Figure utilization;
    Figure graphicsHz;
    Figure graphicsMaxHz;
    Figure memoryHz;
    Figure memoryMaxHz;
    Figure memoryBytes;
    Figure memoryFreeBytes;
    Figure fanRpm;
    Figure coreCelsius;
    Figure memoryCelsius;
};

struct MachineFigures {
    std::string hostName;  // UTF-8
    Figure cpus;
    Figure cpuUtilization;
    Figure cpuHz;
    Figure cpuMaxRatio;
    Figure processes;
    Figure threads;
    Figure memoryBytes;
    Figure memoryFreeBytes;
    Figure commitBytes;
    Figure commitFreeBytes;
    Figure networkBytesPerSecond;            // a server's reply only: the summed rate it carries
    std::vector<InterfaceCounters> network;  // the agent only: the kernel's counters
    Figure gpuCount;
    std::vector<GpuFigures> gpus;
};

// What one pass of the agent's sampler saw: the record it published, the host figures before
// rounding and each slot's management library answers.
struct AgentPassFigures {
    HostRecord host;
    HostPassFigures hostFigures;
    int32_t gpuSlots;  // slots of answers filled
    NvmlAnswers answers[kGpuSlots];
};
MachineFigures agentMachineFigures(const AgentPassFigures& pass);

// A server's accepted reply, as the query client stored it; a temperature of 0 on the wire is a
// sensor that could not be read.
MachineFigures replyMachineFigures(const SlotRecords& records);

}  // namespace tarvelon
