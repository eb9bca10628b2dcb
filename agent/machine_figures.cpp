#include "agent/machine_figures.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr double kMebibyte = 1048576.0;
constexpr double kMegahertz = 1e6;

Figure figure(double value) {
    return Figure{true, value};
}

Figure answered(NvmlReturn status, double value) {
    return Figure{status == kNvmlSuccess, value};
}

Figure unlessZero(double value) {
    return Figure{value != 0, value};
}

}  // namespace

MachineFigures agentMachineFigures(const AgentPassFigures& pass, long ticksPerSecond) {
    const HostRecord& host = pass.host;
    const HostPassFigures& read = pass.hostFigures;
    MachineFigures figures{};
    figures.hostName = toUtf8(host.hostName);
    figures.cpus = unlessZero(host.cpuCount);
    figures.cpuUtilization = Figure{read.loadRead, read.busyPercent / 100.0};
    // The agent leaves a clock field 0 when the kernel does not tell it: the share of the maximum
    // comes from cpufreq alone, the clock from /proc/cpuinfo too.
    figures.cpuHz = unlessZero(host.cpuMhz * kMegahertz);
    figures.cpuMaxRatio = Figure{host.cpuMhz != 0 && host.cpuMaxFreqPct != 0, host.cpuMaxFreqPct / 100.0};
    figures.processes = Figure{read.processesRead, static_cast<double>(read.processes)};
    figures.threads = Figure{read.threadsRead, static_cast<double>(read.threads)};
    const MemoryStatus& memory = read.memory;
    figures.memoryBytes = Figure{read.memoryRead, static_cast<double>(memory.totalPhys)};
    figures.memoryAvailableBytes = Figure{read.memoryRead, static_cast<double>(memory.availPhys)};
    figures.commitBytes = Figure{read.memoryRead, static_cast<double>(memory.totalPageFile)};
    figures.commitAvailableBytes = Figure{read.memoryRead, static_cast<double>(memory.availPageFile)};
    for (const InterfaceBytes& counters : read.interfaces)
        figures.network.push_back(InterfaceCounters{counters.name, counters.received, counters.sent});
    figures.processorTimesRead = read.processorTimesRead && ticksPerSecond > 0;
    for (int mode = 0; mode < kProcessorTimeFields; ++mode)
        figures.processorSeconds[mode] =
            ticksPerSecond > 0 ? static_cast<double>(read.processorTicks[mode]) / ticksPerSecond : 0;
    figures.lastSampleSeconds = Figure{read.sampledAtSeconds > 0, read.sampledAtSeconds};
    figures.gpuLibraryUp = figure(pass.answers.libraryUp ? 1 : 0);
    figures.gpuCount = figure(host.gpuCount);
    for (int slot = 0; slot < pass.gpuSlots; ++slot) {
        const NvmlAnswers& answers = pass.answers.gpus[slot];
        GpuFigures gpu{};
        gpu.slot = slot;
        gpu.name = toUtf8(answers.name.c_str());
        const char* vendor = pass.answers.vendors[slot];
        gpu.vendor = vendor != nullptr ? vendor : "";
        // A driver's file may hold any bytes: cleaned to UTF-8 as names are.
        gpu.uuid = toUtf8(fromUtf8(pass.answers.uuids[slot]).c_str());
        if (answers.pciStatus == kNvmlSuccess)
            gpu.pciBusId =
                std::string(answers.pci.busId, strnlen(answers.pci.busId, sizeof answers.pci.busId));
        if (gpu.vendor == "nvidia") gpu.driverVersion = pass.answers.driverVersion;
        gpu.utilization = answered(answers.utilizationStatus, answers.utilization.gpu / 100.0);
        gpu.graphicsHz = answered(answers.graphicsStatus, answers.graphicsMhz * kMegahertz);
        gpu.graphicsMaxHz = answered(answers.maxGraphicsStatus, answers.maxGraphicsMhz * kMegahertz);
        gpu.memoryHz = answered(answers.memoryClockStatus, answers.memoryMhz * kMegahertz);
        gpu.memoryMaxHz = answered(answers.maxMemoryStatus, answers.maxMemoryMhz * kMegahertz);
        gpu.memoryBytes = answered(answers.memoryStatus, static_cast<double>(answers.memory.total));
        gpu.memoryFreeBytes = answered(answers.memoryStatus, static_cast<double>(answers.memory.free));
        gpu.memoryUsedBytes = answered(answers.memoryStatus, static_cast<double>(answers.memory.used));
        gpu.fanRpm = answered(answers.fanStatus, answers.fanRpm);
        gpu.coreCelsius = answered(answers.coreTemperatureStatus, answers.coreTemperatureC);
        gpu.memoryCelsius = answered(answers.memoryTemperatureStatus, answers.memoryTemperatureC);
        gpu.hotspotCelsius = answered(answers.hotspotTemperatureStatus, answers.hotspotTemperatureC);
        gpu.powerWatts = answered(answers.powerStatus, answers.powerMilliwatts / 1000.0);
        gpu.powerLimitWatts = answered(answers.powerLimitStatus, answers.powerLimitMilliwatts / 1000.0);
        gpu.energyJoules =
            answered(answers.energyStatus, static_cast<double>(answers.energyMillijoules) / 1000.0);
        gpu.throttleRead = answers.throttleStatus == kNvmlSuccess;
        gpu.throttleReasons = answers.throttleReasons;
        figures.gpus.push_back(gpu);
    }
    for (const GpuProcess& process : pass.gpuProcesses) {
        if (process.slot < pass.gpuSlots) figures.gpuProcesses.push_back(process);
    }
    return figures;
}

MachineFigures replyMachineFigures(const SlotRecords& records) {
    const HostRecord& host = records.host;
    MachineFigures figures{};
    figures.hostName = toUtf8(host.hostName);
    figures.cpus = figure(host.cpuCount);
    figures.cpuUtilization = figure(host.cpuLoad / 100.0);
    figures.cpuHz = unlessZero(host.cpuMhz * kMegahertz);
    figures.cpuMaxRatio = Figure{host.cpuMhz != 0, host.cpuMaxFreqPct / 100.0};
    figures.processes = figure(host.processCount);
    figures.threads = figure(host.threadCount);
    figures.memoryBytes = figure(host.physTotalMb * kMebibyte);
    figures.memoryAvailableBytes = figure(host.physFreeMb * kMebibyte);
    figures.commitBytes = figure(host.pageTotalMb * kMebibyte);
    figures.commitAvailableBytes = figure(host.pageFreeMb * kMebibyte);
    // Megabits of 2^20 bits: whole mebibytes a second, times 8.
    figures.networkBytesPerSecond = figure(host.netIoMbit * kMebibyte / 8);
    figures.gpuCount = figure(host.gpuCount);
    for (int slot = 0; slot < kGpuSlots; ++slot) {
        const GpuRecord& record = records.gpus[slot];
        if (record.present == 0) continue;
        GpuFigures gpu{};
        gpu.slot = slot;
        gpu.name = toUtf8(record.gpuName);
        // The reply carries the bus and the device; the domain and function are 0 on desktops.
        char busId[32];
        std::snprintf(busId, sizeof busId, "00000000:%02X:%02X.0", record.pciBus & 0xFFu,
                      record.pciSlot & 0x1Fu);
        gpu.pciBusId = busId;
        gpu.utilization = figure(record.gpuLoad / 100.0);
        gpu.graphicsHz = figure(record.coreMhz * kMegahertz);
        gpu.graphicsMaxHz = figure(record.coreBoostMhz * kMegahertz);
        gpu.memoryHz = figure(record.memMhz * kMegahertz);
        gpu.memoryMaxHz = figure(record.memBoostMhz * kMegahertz);
        gpu.memoryBytes = figure(record.memTotalMb * kMebibyte);
        gpu.memoryFreeBytes = figure(record.memFreeMb * kMebibyte);
        gpu.fanRpm = figure(record.fanRpmDiv32 * 32.0);
        gpu.coreCelsius = unlessZero(record.coreTempC);
        gpu.memoryCelsius = unlessZero(record.memTempC);
        figures.gpus.push_back(gpu);
    }
    return figures;
}

bool compileInterfacePattern(const std::string& expression, regex_t* pattern) {
    return regcomp(pattern, ("^(" + expression + ")$").c_str(), REG_EXTENDED | REG_NOSUB) == 0;
}

void dropInterfaces(MachineFigures& figures, const regex_t& ignored) {
    std::vector<InterfaceCounters>& network = figures.network;
    network.erase(std::remove_if(network.begin(), network.end(),
                                 [&](const InterfaceCounters& counters) {
                                     return regexec(&ignored, counters.name.c_str(), 0, nullptr, 0) == 0;
                                 }),
                  network.end());
}

}  // namespace tarvelon
