// The Linux kernel's text files as figures, and the deltas between two readings of them: the
// processor times and online processors of /proc/stat, the memory and commit figures of
// /proc/meminfo, and interface byte counters (as /proc/net/dev gives them) turned into rates that
// survive counters that wrap or restart. Pure functions over text and numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/proc_text.h"
#include "platform/sensors.h"

namespace tarvelon {

// The processor times of the "cpu" line: user nice system idle iowait irq softirq steal, in ticks
// (guest time is already inside user and nice), the numbers of the "cpuN" lines, one per online
// logical processor, and the tasks created since boot ("processes").
constexpr int kProcessorTimeFields = 8;
constexpr uint64_t kMostProcessorNumber = 65536;  // a "cpuN" line beyond it comes from no real kernel
struct ProcStat {
    uint64_t times[kProcessorTimeFields];
    std::vector<int> processors;
    uint64_t forks;
    bool forksRead;
};
bool parseProcStat(const std::string& text, ProcStat* stat);

// Percent of the ticks between two readings spent neither idle nor waiting for I/O; false when no
// tick passed. A field that went backwards (the kernel's I/O wait can) counts as no ticks.
bool busyPercent(const ProcStat& before, const ProcStat& now, double* percent);

// Physical memory from MemTotal and MemAvailable (MemFree on kernels without it), in bytes. The
// commit figures depend on the kernel's overcommit mode: under strict accounting CommitLimit, with
// CommitLimit - Committed_AS available (none when more is committed than the limit); otherwise the
// physical memory plus SwapTotal, with MemAvailable plus SwapFree available.
bool parseMemoryFigures(const std::string& text, bool strictCommit, MemoryStatus* status);

// Whether /proc/sys/vm/overcommit_memory names strict accounting (mode 2).
bool strictOvercommit(const std::string& text);

// Bytes counted between two readings of an interface counter. A smaller reading is a 32-bit counter
// that wrapped when the gap to 2^32 plus the new reading is at most 2 GiB, else a counter that started
// again (the interface was recreated): that pass counts nothing.
uint64_t counterDelta(uint64_t before, uint64_t now);

// Bytes per second of one direction of every interface present in both readings, loopback left
// out, truncated to whole bytes and held to 32 bits. An interface that appeared since the first
// reading has no rate yet.
struct InterfaceRate {
    std::string name;
    int32_t receivedPerSecond;
    int32_t sentPerSecond;
};
std::vector<InterfaceRate> interfaceRates(const std::vector<InterfaceBytes>& before,
                                          const std::vector<InterfaceBytes>& now, double seconds);

// The "cpu MHz" lines of /proc/cpuinfo, one per online processor, in their order; none when the
// kernel does not tell the clock there.
void parseCpuinfoMegahertz(const std::string& text, std::vector<double>* megahertz);

// The kilohertz value of a cpufreq file ("2400000\n"); false when it holds no positive number.
bool parseKilohertz(const std::string& text, double* kilohertz);

}  // namespace tarvelon
