// The host half of the agent's sampler: the kernel's files below a root directory (/ on a real
// machine, a fixture tree in tests) read once per pass and handed to the shared pass arithmetic as
// the same readings the Windows counters give, so HostRecord gets the same fields, units and rounding.
// Rates (processor load, network traffic) come from the deltas between two passes. The files stay
// open from pass to pass: the agent's own cost is mostly these reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/proc_figures.h"
#include "platform/posix/kept_file.h"
#include "telemetry/records.h"

namespace tarvelon {

// One processor's cpufreq files, opened when the processor is first seen online.
struct CpufreqFiles {
    bool looked;
    uint64_t lookedAtMs;
    bool opened;
    KeptFile current;   // scaling_cur_freq
    double maximumKhz;  // cpuinfo_max_freq, which does not change
    std::u16string name;
};

struct LinuxHostSampler {
    std::string root;  // prefix of /proc and /sys, "" for the machine itself
    KeptFile meminfo;
    KeptFile overcommit;
    bool overcommitLooked;
    uint64_t overcommitLookedAtMs;
    bool strictCommit;  // as overcommit_memory said when last looked at
    KeptFile stat;
    KeptFile loadavg;
    KeptFile netDev;
    KeptDirectory proc;
    std::vector<CpufreqFiles> cpufreq;  // by processor number
    KeptFile cpuinfo;                   // the clocks of machines without cpufreq (most VMs)
    std::vector<double> cpuinfoMhz;     // as last read
    std::vector<double> cpuinfoBefore;  // the read before, to tell a clock that stands still
    bool cpuinfoSteady;                 // the last two reads agreed
    uint64_t cpuinfoReadAtMs;
    std::string text;  // the read buffer, kept with its capacity

    // The process count and the task counters it was listed under.
    bool processesCounted;
    int32_t processes;
    uint64_t countedForks;
    int32_t countedThreads;

    bool havePrevious;
    uint64_t previousMs;
    bool previousStatRead;
    ProcStat previousStat;
    std::vector<InterfaceBytes> previousInterfaces;
};

// A sampler over root ("" or "/" for the machine itself) with no previous pass.
LinuxHostSampler makeLinuxHostSampler(const std::string& root);

// What one pass found missing, so the agent can say so once.
struct HostSourceGaps {
    bool processorTimes;  // /proc/stat unreadable
    bool memory;          // /proc/meminfo unreadable
    bool frequencies;     // no cpufreq for any online processor and no /proc/cpuinfo: clock fields are 0
    bool network;         // /proc/net/dev unreadable
};

// What a pass read before the record rounded it, for the metrics endpoint: bytes, the busy share
// unrounded, counts beyond 16 bits and each interface's byte counters as the kernel keeps them.
struct HostPassFigures {
    bool memoryRead;
    MemoryStatus memory;
    bool loadRead;
    double busyPercent;
    bool processesRead;
    int32_t processes;
    bool threadsRead;
    int32_t threads;
    std::vector<InterfaceBytes> interfaces;
    bool processorTimesRead;
    uint64_t processorTicks[kProcessorTimeFields];  // /proc/stat's "cpu" line
    double sampledAtSeconds;                        // wall clock, Unix time
};

// One pass at nowMs (a monotonic clock): fills the host fields of the record from the files, with
// hostName as the visible name, and figures when given. The first pass has no rates yet; they read 0
// until the second.
HostSourceGaps sampleLinuxHost(LinuxHostSampler& sampler, uint64_t nowMs, const char16_t* hostName,
                               HostRecord& host, HostPassFigures* figures = nullptr);

}  // namespace tarvelon
