// The figures the metrics endpoints show for one machine, in Prometheus's base units (bytes, hertz,
// ratios): the agent's own at full precision, or another Tarvelon server's as its reply carried them.
// A figure that was not read is absent rather than zero.
#pragma once

#include <regex.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/gpu_processes.h"
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
    std::string name;    // UTF-8
    std::string vendor;  // the agent only, like the UUID, the PCI bus id and the driver version
    std::string uuid;
    std::string pciBusId;
    std::string driverVersion;
    Figure utilization;
    Figure graphicsHz;
    Figure graphicsMaxHz;
    Figure memoryHz;
    Figure memoryMaxHz;
    Figure memoryBytes;
    Figure memoryFreeBytes;
    Figure memoryUsedBytes;  // the agent only, like the power figures and the throttle reasons
    Figure fanRpm;
    Figure coreCelsius;
    Figure memoryCelsius;
    Figure hotspotCelsius;  // the agent's AMD GPUs only
    Figure powerWatts;
    Figure powerLimitWatts;
    Figure energyJoules;
    bool throttleRead;
    uint64_t throttleReasons;  // kNvmlThrottleReasons bits
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
    Figure memoryAvailableBytes;
    Figure commitBytes;
    Figure commitAvailableBytes;
    Figure networkBytesPerSecond;            // a server's reply only: the summed rate it carries
    std::vector<InterfaceCounters> network;  // the agent only: the kernel's counters
    bool processorTimesRead;                 // the agent only, like the two figures after it
    double processorSeconds[kProcessorTimeFields];
    Figure lastSampleSeconds;  // Unix time
    Figure gpuLibraryUp;
    Figure gpuCount;
    std::vector<GpuFigures> gpus;
    std::vector<GpuProcess> gpuProcesses;  // the agent with --collect-processes only
};

// The processor modes of /proc/stat's times, in their order there.
constexpr const char* kProcessorModes[kProcessorTimeFields] = {"user",   "nice", "system",  "idle",
                                                               "iowait", "irq",  "softirq", "steal"};

// What one pass of the agent's sampler saw: the record it published, the host figures before
// rounding and each slot's management library answers.
struct AgentPassFigures {
    HostRecord host;
    HostPassFigures hostFigures;
    int32_t gpuSlots;  // slots of answers filled
    NvmlPassAnswers answers;
    std::vector<GpuProcess> gpuProcesses;  // by slot, at most kMostProcessesPerGpu each
};
// ticksPerSecond: the kernel's clock ticks (USER_HZ) that /proc/stat counts in.
MachineFigures agentMachineFigures(const AgentPassFigures& pass, long ticksPerSecond);

// A POSIX extended expression over whole interface names (anchored at both ends); false when it does
// not compile. The C library's matcher, not std::regex: the agent carries no C++ locale.
bool compileInterfacePattern(const std::string& expression, regex_t* pattern);
// Leaves out the interfaces whose whole name the pattern matches.
void dropInterfaces(MachineFigures& figures, const regex_t& ignored);

// A server's accepted reply, as the query client stored it; a temperature of 0 on the wire is a
// sensor that could not be read.
MachineFigures replyMachineFigures(const SlotRecords& records);

}  // namespace tarvelon
