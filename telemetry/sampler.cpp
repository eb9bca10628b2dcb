#include "telemetry/sampler.h"

#include <thread>

#include "platform/clock.h"
#include "platform/fatal.h"
#include "platform/sensors.h"
#include "settings/settings.h"
#include "telemetry/d3dkmt_adapters.h"
#include "telemetry/gpu_process_watch.h"
#include "telemetry/gpu_readings.h"
#include "telemetry/local_store.h"
#include "telemetry/sampler_pass.h"

namespace tarvelon {
namespace {

constexpr uint32_t kSamplePeriodMs = 900;

struct CounterKind {
    bool isArray;
    CounterFormat format;
};
constexpr CounterKind kCounterKinds[kPerfCounterCount] = {
    {false, CounterFormat::Double}, {true, CounterFormat::Double}, {true, CounterFormat::Double},
    {false, CounterFormat::Long},   {false, CounterFormat::Long},  {true, CounterFormat::Long},
    {true, CounterFormat::Long},
};

bool queryOpen;
bool counterAdded[kPerfCounterCount];
uint16_t cachedProcessorCount = kProcessorCountUnknown;

// The adapters beside the NVIDIA library's GPUs; their handles live from one rescan to the next.
D3dkmtAdapters otherAdapters;

// The system's figures of the pass before, for its rates; a pass that does not read them drops them.
bool lastTimesRead;
ProcessorTimes lastTimes;
int32_t lastInterfaceCount = -1;
uint64_t lastInterfaceTickMs;
InterfaceOctets lastInterfaces[kMaxInterfaces];

// Reads every added counter of a collected sample; array buffers stay in arrays until freed.
void readCounters(CounterReading (&counters)[kPerfCounterCount], CounterArray (&arrays)[kPerfCounterCount]) {
    for (int i = 0; i < kPerfCounterCount; ++i) {
        if (!counterAdded[i]) continue;
        const auto counter = static_cast<PerfCounter>(i);
        CounterReading& reading = counters[i];
        reading.present = true;
        if (kCounterKinds[i].isArray) {
            reading.read = readPerfArray(counter, kCounterKinds[i].format, &arrays[i]);
            reading.items = arrays[i].items;
            reading.itemCount = arrays[i].count;
        } else if (kCounterKinds[i].format == CounterFormat::Double) {
            reading.read = readPerfDouble(counter, &reading.doubleValue);
        } else {
            reading.read = readPerfLong(counter, &reading.longValue);
        }
    }
}

// Reads the system's own figures for the counters this pass could not use. The processor times are
// read on every pass: they are cheap, and a counter may read without measuring.
void readSystemFigures(HostReadings& host) {
    SystemReadings& system = host.system;
    ProcessorTimes times{};
    const bool timesRead = readProcessorTimes(&times);
    system.timesRead = timesRead && lastTimesRead;
    system.previousTimes = lastTimes;
    system.times = times;
    lastTimesRead = timesRead;
    lastTimes = times;

    if (!counterUsable(host, kCounterProcesses) || !counterUsable(host, kCounterThreads)) {
        system.countsRead = readProcessCounts(&system.processes, &system.threads);
    }
    if (!counterUsable(host, kCounterMaxFrequencyPct) || !counterUsable(host, kCounterFrequencyMhz)) {
        system.clockCount = readProcessorClocks(system.clocks);
    }

    system.previousInterfaceCount = -1;
    system.interfaceCount = -1;
    if (counterUsable(host, kCounterBytesReceived) && counterUsable(host, kCounterBytesSent)) {
        lastInterfaceCount = -1;
        return;
    }
    const uint64_t now = tickCountMs();
    system.interfaceCount = readInterfaceOctets(system.interfaces);
    if (lastInterfaceCount >= 0 && system.interfaceCount >= 0) {
        system.previousInterfaceCount = lastInterfaceCount;
        for (int32_t i = 0; i < lastInterfaceCount; ++i) system.previousInterfaces[i] = lastInterfaces[i];
        system.octetsElapsedMs = now - lastInterfaceTickMs;
    }
    lastInterfaceCount = system.interfaceCount;
    lastInterfaceTickMs = now;
    for (int32_t i = 0; i < system.interfaceCount; ++i) lastInterfaces[i] = system.interfaces[i];
}

}  // namespace

void openSamplerCounters() {
    lastTimesRead = false;
    lastInterfaceCount = -1;
    queryOpen = false;
    for (bool& added : counterAdded) added = false;
    if (!openPerfQuery(counterAdded)) return;
    queryOpen = collectPerfQuery();
    if (!queryOpen) closePerfQuery();
}

void samplePass(GpuContext* context) {
    LocalStore store = readLocalStore();

    HostReadings host{};
    readSettingText(settings.networkServerHostname, host.hostName);
    host.memoryRead = readMemoryStatus(&host.memory);
    if (cachedProcessorCount == kProcessorCountUnknown) {
        cachedProcessorCount = chooseProcessorCount(processorKeySubkeyCount(), systemProcessorCount());
    }
    host.cpuCount = cachedProcessorCount;
    CounterArray arrays[kPerfCounterCount] = {};
    host.countersCollected = queryOpen && collectPerfQuery();
    if (host.countersCollected) readCounters(host.counters, arrays);
    readSystemFigures(host);
    applyHostReadings(store.host, host);
    for (CounterArray& array : arrays) {
        if (array.buffer != nullptr) freePerfArray(&array);
    }

    // The NVIDIA library's GPUs first; the other adapters follow them and leave out the ones they show.
    const int32_t nvidiaCount = context->found != 0 ? context->count : 0;
    const int32_t nvidiaSlots = nvidiaCount < kGpuSlots ? nvidiaCount : kGpuSlots;
    for (int32_t slot = 0; slot < nvidiaSlots; ++slot) {
        GpuReadings readings;
        readGpuReadings(context, slot, &readings);
        fillGpuRecord(store.gpus[slot], readings);
    }
    GpuRecord others[kGpuSlots] = {};
    const int32_t otherCount = sampleD3dkmtAdapters(systemD3dkmtFunctions(), otherAdapters, store.gpus,
                                                    nvidiaSlots, others, tickCountMs());
    for (int32_t i = 0; i < otherCount && nvidiaSlots + i < kGpuSlots; ++i) {
        const uint8_t changed = store.gpus[nvidiaSlots + i].changed;
        store.gpus[nvidiaSlots + i] = others[i];
        store.gpus[nvidiaSlots + i].changed = changed;
    }
    prepareGpuSlots(store, nvidiaCount + otherCount);
    // Only while someone looks at them: it opens every process of the machine.
    sampleAskedGpuProcesses(systemD3dkmtFunctions(), store.gpus, store.host.gpuCount, tickCountMs());

    publishLocalStore(store);
}

uint32_t samplingRoutine(uint32_t mode) {
    GpuContext* context = openGpuContext();
    for (;;) {
        samplePass(context);
        if (mode == kPrimingRun) break;
        sleepMs(kSamplePeriodMs);
    }
    closeGpuContext(context);
    return 0;
}

void startSampler() {
    openSamplerCounters();
    samplingRoutine(kPrimingRun);
    startThreadOrFail(kSiteSamplerThread, [] { return std::thread(samplingRoutine, 0u); }).detach();
}

}  // namespace tarvelon
