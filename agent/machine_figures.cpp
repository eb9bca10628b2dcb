#include "agent/machine_figures.h"

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

MachineFigures agentMachineFigures(const AgentPassFigures& pass) {
    const HostRecord& host = pass.host;
    const HostPassFigures& read = pass.hostFigures;
    MachineFigures figures{};
    figures.hostName = toUtf8(host.hostName);
    figures.cpus = unlessZero(host.cpuCount);
    figures.cpuUtilization = Figure{read.loadRead, read.busyPercent / 100.0};
    // The agent leaves both clock fields 0 on a machine without cpufreq.
    figures.cpuHz = unlessZero(host.cpuMhz * kMegahertz);
    figures.cpuMaxRatio = Figure{host.cpuMhz != 0, host.cpuMaxFreqPct / 100.0};
    figures.processes = Figure{read.processesRead, static_cast<double>(read.processes)};
    figures.threads = Figure{read.threadsRead, static_cast<double>(read.threads)};
    const MemoryStatus& memory = read.memory;
    figures.memoryBytes = Figure{read.memoryRead, static_cast<double>(memory.totalPhys)};
    figures.memoryFreeBytes = Figure{read.memoryRead, static_cast<double>(memory.availPhys)};
    figures.commitBytes = Figure{read.memoryRead, static_cast<double>(memory.totalPageFile)};
    figures.commitFreeBytes = Figure{read.memoryRead, static_cast<double>(memory.availPageFile)};
    for (const InterfaceBytes& counters : read.interfaces)
        figures.network.push_back(InterfaceCounters{counters.name, counters.received, counters.sent});
    figures.gpuCount = figure(host.gpuCount);
    for (int slot = 0; slot < pass.gpuSlots; ++slot) {
        const NvmlAnswers& answers = pass.answers[slot];
        GpuFigures gpu{};
        gpu.slot = slot;
        gpu.name = answers.name != nullptr ? toUtf8(answers.name) : std::string();
        gpu.pciBus = answers.pci.bus;
        gpu.pciDevice = answers.pci.device;
        gpu.utilization = answered(answers.utilizationStatus, answers.utilization.gpu / 100.0);
        gpu.graphicsHz = answered(answers.graphicsStatus, answers.graphicsMhz * kMegahertz);
        gpu.graphicsMaxHz = answered(answers.maxGraphicsStatus, answers.maxGraphicsMhz * kMegahertz);
        gpu.memoryHz = answered(answers.memoryClockStatus, answers.memoryMhz * kMegahertz);
        gpu.memoryMaxHz = answered(answers.maxMemoryStatus, answers.maxMemoryMhz * kMegahertz);
        gpu.memoryBytes = answered(answers.memoryStatus, static_cast<double>(answers.memory.total));
        gpu.memoryFreeBytes = answered(answers.memoryStatus, static_cast<double>(answers.memory.free));
        gpu.fanRpm = answered(answers.fanStatus, answers.fanRpm);
        gpu.coreCelsius = answered(answers.coreTemperatureStatus, answers.coreTemperatureC);
        gpu.memoryCelsius = answered(answers.memoryTemperatureStatus, answers.memoryTemperatureC);
        figures.gpus.push_back(gpu);
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
    figures.memoryFreeBytes = figure(host.physFreeMb * kMebibyte);
    figures.commitBytes = figure(host.pageTotalMb * kMebibyte);
    figures.commitFreeBytes = figure(host.pageFreeMb * kMebibyte);
    // Megabits of 2^20 bits: whole mebibytes a second, times 8.
    figures.networkBytesPerSecond = figure(host.netIoMbit * kMebibyte / 8);
    figures.gpuCount = figure(host.gpuCount);
    for (int slot = 0; slot < kGpuSlots; ++slot) {
        const GpuRecord& record = records.gpus[slot];
        if (record.present == 0) continue;
        GpuFigures gpu{};
        gpu.slot = slot;
        gpu.name = toUtf8(record.gpuName);
        gpu.pciBus = record.pciBus;
        gpu.pciDevice = record.pciSlot;
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

}  // namespace tarvelon
