#include "telemetry/sampler_pass.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/text16.h"

namespace tarvelon {
namespace {

// trunc() of a reading into an integer; values beyond 64 bits and NaN become 0 instead of undefined.
int64_t truncated(double value) {
    if (!(std::fabs(value) < 9.2e18)) return 0;
    return static_cast<int64_t>(value);
}

// The fields are narrowed by keeping their low bits.
uint8_t low8(int64_t value) {
    return static_cast<uint8_t>(static_cast<uint64_t>(value) & 0xFF);
}
uint16_t low16(int64_t value) {
    return static_cast<uint16_t>(static_cast<uint64_t>(value) & 0xFFFF);
}
// Counts and sizes that outgrow their 16-bit field show its largest value rather than a small one.
uint16_t saturate16(int64_t value) {
    if (value < 0) return 0;
    return value > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(value);
}
int32_t wrap32(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

bool containsTotal(const char16_t* name) {
    static const char16_t kTotal[] = u"Total";
    if (name == nullptr) return false;
    for (; *name != 0; ++name) {
        int k = 0;
        while (kTotal[k] != 0 && name[k] == kTotal[k]) ++k;
        if (kTotal[k] == 0) return true;
    }
    return false;
}

// Mean of trunc(value) over the items whose instance name lacks "Total", summed in 32 bits.
// Returns false when no item remains.
bool meanWithoutTotals(const CounterReading& counter, int32_t* mean) {
    int32_t sum = 0;
    int32_t count = 0;
    for (int32_t i = 0; i < counter.itemCount; ++i) {
        if (containsTotal(counter.items[i].name)) continue;
        sum = wrap32(static_cast<int64_t>(sum) + truncated(counter.items[i].doubleValue));
        ++count;
    }
    if (count == 0) return false;
    *mean = wrap32(static_cast<int64_t>(sum) / count);
    return true;
}

// Every interface reduced to whole MB per second, then summed in 32 bits.
int32_t wholeMegabytes(const CounterReading& counter) {
    int32_t sum = 0;
    for (int32_t i = 0; i < counter.itemCount; ++i) {
        sum = wrap32(static_cast<int64_t>(sum) + counter.items[i].longValue / 1024 / 1024);
    }
    return sum;
}

void applyCounters(HostRecord& host, const CounterReading (&counters)[kPerfCounterCount]) {
    const CounterReading& cpuTime = counters[kCounterProcessorTime];
    if (cpuTime.present && cpuTime.read) host.cpuLoad = low8(truncated(cpuTime.doubleValue));

    const CounterReading& maxFrequency = counters[kCounterMaxFrequencyPct];
    const CounterReading& frequency = counters[kCounterFrequencyMhz];
    if (maxFrequency.present && frequency.present) {
        int32_t mean;
        if (meanWithoutTotals(maxFrequency, &mean)) host.cpuMaxFreqPct = low8(mean);
        if (meanWithoutTotals(frequency, &mean)) host.cpuMhz = low16(mean);
    }

    const CounterReading& processes = counters[kCounterProcesses];
    if (processes.present && processes.read) host.processCount = saturate16(processes.longValue);
    const CounterReading& threads = counters[kCounterThreads];
    if (threads.present && threads.read) host.threadCount = saturate16(threads.longValue);

    const CounterReading& received = counters[kCounterBytesReceived];
    const CounterReading& sent = counters[kCounterBytesSent];
    if (received.present && sent.present) {
        const int64_t megabytes = static_cast<int64_t>(wholeMegabytes(received)) + wholeMegabytes(sent);
        host.netIoMbit = saturate16(megabytes * 8);
    }
}

// Readings made from the system's figures, shaped like the counters they stand in for, so that the
// counter arithmetic applies to them unchanged.
struct SystemItems {
    CounterItem maxFrequencyPct[kMaxProcessorClocks];
    CounterItem frequencyMhz[kMaxProcessorClocks];
    CounterItem received[kMaxInterfaces];
    CounterItem sent[kMaxInterfaces];
};

CounterReading singleReading(double doubleValue, int32_t longValue) {
    return CounterReading{true, true, doubleValue, longValue, nullptr, 0};
}

CounterReading arrayReading(const CounterItem* items, int32_t count) {
    return CounterReading{true, true, 0.0, 0, items, count};
}

// Percent of the processor time that was not idle between the two samples.
bool systemProcessorLoad(const SystemReadings& system, double* load) {
    if (!system.timesRead) return false;
    const ProcessorTimes& before = system.previousTimes;
    const ProcessorTimes& after = system.times;
    if (after.total <= before.total || after.idle < before.idle) return false;
    const double total = static_cast<double>(after.total - before.total);
    const double idle = static_cast<double>(after.idle - before.idle);
    *load = idle >= total ? 0.0 : 100.0 * (total - idle) / total;
    return true;
}

int32_t clampedRate(uint64_t before, uint64_t after, uint64_t elapsedMs) {
    if (after < before) return 0;  // the counter was reset
    const double perSecond = static_cast<double>(after - before) * 1000.0 / static_cast<double>(elapsedMs);
    return perSecond >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(perSecond);
}

// Bytes per second of every interface in both samples, without loopback and filter layers.
int32_t systemTraffic(const SystemReadings& system, SystemItems& items) {
    int32_t count = 0;
    for (int32_t i = 0; i < system.interfaceCount; ++i) {
        const InterfaceOctets& now = system.interfaces[i];
        if (now.loopback || now.filterLayer) continue;
        for (int32_t k = 0; k < system.previousInterfaceCount; ++k) {
            const InterfaceOctets& before = system.previousInterfaces[k];
            if (before.id != now.id) continue;
            items.received[count] = {nullptr, 0.0,
                                     clampedRate(before.received, now.received, system.octetsElapsedMs)};
            items.sent[count] = {nullptr, 0.0, clampedRate(before.sent, now.sent, system.octetsElapsedMs)};
            ++count;
            break;
        }
    }
    return count;
}

// Counters that cannot be used give way to the system's figures where the system has them.
void substituteSystemFigures(CounterReading (&counters)[kPerfCounterCount], const HostReadings& readings,
                             SystemItems& items) {
    const SystemReadings& system = readings.system;
    const auto usable = [&](PerfCounter counter) { return counterUsable(readings, counter); };

    // A processor time below 1 % gives way to the system's times too: a counter that does not measure
    // (Wine's reads a constant near 0) shows nothing else, and where the counter works the two agree.
    double load;
    if ((!usable(kCounterProcessorTime) || !(counters[kCounterProcessorTime].doubleValue >= 1.0)) &&
        systemProcessorLoad(system, &load)) {
        counters[kCounterProcessorTime] = singleReading(load, 0);
    }

    if (!usable(kCounterMaxFrequencyPct) || !usable(kCounterFrequencyMhz)) {
        const int32_t clocks =
            system.clockCount < kMaxProcessorClocks ? system.clockCount : kMaxProcessorClocks;
        for (int32_t i = 0; i < clocks; ++i) {
            const ProcessorClock& clock = system.clocks[i];
            const double percent = clock.maximumMhz == 0 ? 0.0 : 100.0 * clock.currentMhz / clock.maximumMhz;
            items.maxFrequencyPct[i] = {nullptr, percent, 0};
            items.frequencyMhz[i] = {nullptr, static_cast<double>(clock.currentMhz), 0};
        }
        if (clocks > 0) {
            counters[kCounterMaxFrequencyPct] = arrayReading(items.maxFrequencyPct, clocks);
            counters[kCounterFrequencyMhz] = arrayReading(items.frequencyMhz, clocks);
        }
    }

    if (system.countsRead) {
        if (!usable(kCounterProcesses)) counters[kCounterProcesses] = singleReading(0.0, system.processes);
        if (!usable(kCounterThreads)) counters[kCounterThreads] = singleReading(0.0, system.threads);
    }

    if ((!usable(kCounterBytesReceived) || !usable(kCounterBytesSent)) && system.octetsElapsedMs != 0 &&
        system.interfaceCount >= 0 && system.previousInterfaceCount >= 0) {
        const int32_t interfaces = systemTraffic(system, items);
        counters[kCounterBytesReceived] = arrayReading(items.received, interfaces);
        counters[kCounterBytesSent] = arrayReading(items.sent, interfaces);
    }
}

bool domainPresent(uint32_t presentBits) {
    return (presentBits & 1) != 0;
}

// A clock field takes the domain's frequency in whole MHz, and keeps its value when that is 0
// (domain not present, query failed, or below 1 MHz).
void applyClock(uint16_t* field, int32_t status, const NV_GPU_CLOCK_FREQUENCIES* clocks, int domain) {
    uint32_t kilohertz = 0;
    if (status == 0 && clocks != nullptr && domainPresent(clocks->domain[domain].presentBits)) {
        kilohertz = clocks->domain[domain].frequency;
    }
    const uint32_t megahertz = kilohertz / 1000;
    if (megahertz != 0) *field = low16(megahertz);
}

uint8_t clockPercent(uint16_t current, uint16_t boost) {
    if (boost == 0) return 0;
    return low8(truncated(static_cast<double>(current) / boost * 100.0));
}

uint32_t kilobytesToMegabytes(int32_t status, uint32_t kilobytes) {
    return status == 0 ? kilobytes / 1024 : 0;
}

uint8_t temperature(int32_t status, const NV_GPU_THERMAL_SETTINGS& thermal) {
    return status == 0 ? low8(thermal.sensor[0].currentTemp) : 0;
}

}  // namespace

uint16_t chooseProcessorCount(int32_t processorKeySubkeys, uint32_t systemProcessors) {
    if (processorKeySubkeys <= 0) return low16(systemProcessors);
    return low16(processorKeySubkeys);
}

uint8_t usedPercent(uint64_t available, uint64_t total) {
    // No total gives no fraction; count it as all in use, as the video memory does.
    if (total == 0) return 100;
    const double fraction = static_cast<double>(available) / static_cast<double>(total);
    return low8(100 - truncated(fraction * 100.0));
}

bool counterUsable(const HostReadings& readings, PerfCounter counter) {
    const CounterReading& reading = readings.counters[counter];
    return readings.countersCollected && reading.present && reading.read;
}

void applyHostReadings(HostRecord& host, const HostReadings& readings) {
    std::memset(host.hostName, 0, sizeof host.hostName);
    copyText16(host.hostName, kRecordTextUnits, readings.hostName);

    if (readings.memoryRead) {
        const MemoryStatus& memory = readings.memory;
        host.physTotalMb = static_cast<uint32_t>(memory.totalPhys >> 20);
        host.physFreeMb = static_cast<uint32_t>(memory.availPhys >> 20);
        host.physUsedPct = usedPercent(memory.availPhys, memory.totalPhys);
        host.pageTotalMb = static_cast<uint32_t>(memory.totalPageFile >> 20);
        host.pageFreeMb = static_cast<uint32_t>(memory.availPageFile >> 20);
        host.pageUsedPct = usedPercent(memory.availPageFile, memory.totalPageFile);
    }

    host.cpuCount = readings.cpuCount;

    CounterReading counters[kPerfCounterCount];
    for (int i = 0; i < kPerfCounterCount; ++i) {
        counters[i] = readings.counters[i];
        counters[i].present = readings.countersCollected && counters[i].present;
    }
    SystemItems items;
    substituteSystemFigures(counters, readings, items);
    applyCounters(host, counters);
}

void fillGpuRecord(GpuRecord& gpu, const GpuReadings& readings) {
    gpu.present = 1;
    gpu.pciBus = readings.busIdStatus == 0 ? low8(readings.busId) : 0;
    gpu.pciSlot = readings.busSlotIdStatus == 0 ? low8(readings.busSlotId) : 0;
    gpu.filled = 1;
    std::memset(gpu.gpuName, 0, sizeof gpu.gpuName);
    copyText16(gpu.gpuName, kRecordTextUnits, readings.name);

    const NvUtilizationDomain& graphics = readings.pstates.utilization[0];
    gpu.gpuLoad =
        readings.pstatesStatus == 0 && domainPresent(graphics.presentBits) ? low8(graphics.percentage) : 0;

    applyClock(&gpu.coreBoostMhz, readings.boostClocksStatus, readings.boostClocks, kClockDomainGraphics);
    applyClock(&gpu.coreMhz, readings.currentClocksStatus, readings.currentClocks, kClockDomainGraphics);
    gpu.coreClockPct = clockPercent(gpu.coreMhz, gpu.coreBoostMhz);
    applyClock(&gpu.memBoostMhz, readings.boostClocksStatus, readings.boostClocks, kClockDomainMemory);
    applyClock(&gpu.memMhz, readings.currentClocksStatus, readings.currentClocks, kClockDomainMemory);
    gpu.memClockPct = clockPercent(gpu.memMhz, gpu.memBoostMhz);

    // The percentage comes from the whole figures, so a card beyond 64 GB still shows its real use.
    const uint32_t totalMb =
        kilobytesToMegabytes(readings.totalMemoryStatus, readings.totalMemory.dedicatedVideoMemory);
    const uint32_t freeMb =
        kilobytesToMegabytes(readings.freeMemoryStatus, readings.freeMemory.curAvailableDedicatedVideoMemory);
    gpu.memTotalMb = saturate16(totalMb);
    gpu.memFreeMb = saturate16(freeMb);
    if (totalMb == 0) {
        gpu.memUsedPct = 100;
    } else {
        const uint8_t freePercent = low8(truncated(static_cast<double>(freeMb) / totalMb * 100.0));
        gpu.memUsedPct = low8(std::abs(freePercent - 100));
    }

    gpu.fanRpmDiv32 = readings.tachStatus == 0 ? low8(static_cast<int32_t>(readings.tachRpm) >> 5) : 0;
    gpu.coreTempC = temperature(readings.coreThermalStatus, readings.coreThermal);
    gpu.memTempC = temperature(readings.memoryThermalStatus, readings.memoryThermal);
}

int32_t prepareGpuSlots(LocalStore& store, int32_t gpuCount) {
    if (gpuCount <= 0 && store.host.gpuCount == 0) return 0;
    if (gpuCount <= 0) {
        // The last GPU went (an adapter unplugged): its tile goes rather than freezing.
        store.host.gpuCount = 0;
        for (GpuRecord& gpu : store.gpus) gpu.present = 0;
        return 0;
    }
    store.host.gpuCount = low8(gpuCount);
    const int32_t filled = gpuCount < kGpuSlots ? gpuCount : kGpuSlots;
    for (int slot = filled; slot < kGpuSlots; ++slot) store.gpus[slot].present = 0;
    return filled;
}

}  // namespace tarvelon
