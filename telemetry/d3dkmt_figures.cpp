#include "telemetry/d3dkmt_figures.h"

#include <cstring>

#include "platform/text16.h"

namespace tarvelon {
namespace {

// Beyond these no GPU goes: a figure past them is the driver's garbage, not a reading.
constexpr uint64_t kMaxClockHz = 10'000'000'000ull;
constexpr uint32_t kMaxTemperatureTenths = 1500;  // 150 °C
constexpr uint32_t kMaxFanRpm = 8191;             // the most fanRpmDiv32 carries without wrapping

uint16_t saturate16(uint64_t value) {
    return value > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(value);
}

// A clock in Hz kept in MHz when it is one; 0 and absurd figures leave the kept value.
void keepClock(uint16_t* kept, uint64_t hertz) {
    if (hertz > kMaxClockHz) return;
    const uint64_t megahertz = hertz / 1'000'000;
    if (megahertz != 0) *kept = saturate16(megahertz);
}

uint8_t clockPercent(uint16_t current, uint16_t boost) {
    if (boost == 0) return 0;
    return static_cast<uint8_t>(static_cast<uint32_t>(current) * 100 / boost);
}

// Total and used bytes of the memory the tile shows: the GPU's own (non-aperture) segments, or for an
// integrated GPU with a small carve-out the shared system memory it works in (aperture segments).
// False when a figure it needs was not given.
bool memoryFigures(const D3dkmtReadings& readings, uint64_t* total, uint64_t* used) {
    if (!readings.segmentSizeRead || readings.segmentCount < 0) return false;
    const bool shared = readings.segmentSize.dedicatedVideoMemorySize < kCarveOutBytes;
    *total =
        shared ? readings.segmentSize.sharedSystemMemorySize : readings.segmentSize.dedicatedVideoMemorySize;
    if (*total == 0) return false;
    *used = 0;
    for (int32_t i = 0; i < readings.segmentCount; ++i) {
        const SegmentReading& segment = readings.segments[i];
        if (!segment.read) return false;
        if (segment.aperture == shared) *used += segment.bytesResident;
    }
    return true;
}

}  // namespace

int32_t busiestEngineLoad(const D3dkmtReadings& readings) {
    int32_t busiest = -1;
    for (int32_t i = 0; i < readings.nodeCount; ++i) {
        const NodeRunningTime& node = readings.nodes[i];
        // A running time that went backwards (a driver restart, a counter reset) says nothing.
        if (!node.read || !node.previousRead || node.runningTime < node.previousRunningTime) continue;
        if (node.readAt < node.previousReadAt + kMinLoadWindow100ns) continue;
        const uint64_t window = node.readAt - node.previousReadAt;
        const uint64_t ran = static_cast<uint64_t>(node.runningTime - node.previousRunningTime);
        // Rounded, and never above 100: an engine may be credited with a little more than the wall
        // time between two samples.
        const uint64_t percent = ran >= window ? 100 : (ran * 100 + window / 2) / window;
        if (static_cast<int32_t>(percent) > busiest) busiest = static_cast<int32_t>(percent);
    }
    return busiest;
}

bool startsNewBaseline(const NodeRunningTime& node) {
    if (!node.read) return false;  // the old baseline serves the next pass
    const bool measurable = node.previousRead && node.runningTime >= node.previousRunningTime;
    return !measurable || node.readAt >= node.previousReadAt + kMinLoadWindow100ns;
}

void fillD3dkmtRecord(GpuRecord& gpu, const D3dkmtReadings& readings, KeptClocks& kept) {
    gpu.present = 1;
    gpu.pciBus = static_cast<uint8_t>(readings.address.bus);
    gpu.pciSlot = static_cast<uint8_t>(readings.address.device);
    gpu.filled = 1;
    // The driver's text need not be terminated: at most 39 units of it are read.
    char16_t name[kRecordTextUnits] = {};
    const int32_t units =
        readings.nameUnits < kRecordTextUnits - 1 ? readings.nameUnits : kRecordTextUnits - 1;
    if (readings.name != nullptr && units > 0) std::memcpy(name, readings.name, units * sizeof(char16_t));
    std::memset(gpu.gpuName, 0, sizeof gpu.gpuName);
    copyText16(gpu.gpuName, kRecordTextUnits, name);

    const int32_t load = busiestEngineLoad(readings);
    gpu.gpuLoad = load < 0 ? 0 : static_cast<uint8_t>(load);

    if (readings.nodePerfRead) {
        keepClock(&kept.coreBoostMhz, readings.nodePerf.maxFrequency);
        keepClock(&kept.coreMhz, readings.nodePerf.frequency);
    }
    const D3dkmtAdapterPerfData& perf = readings.adapterPerf;
    if (readings.adapterPerfRead) {
        keepClock(&kept.memBoostMhz, perf.maxMemoryFrequency);
        keepClock(&kept.memMhz, perf.memoryFrequency);
    }
    gpu.coreBoostMhz = kept.coreBoostMhz;
    gpu.coreMhz = kept.coreMhz;
    gpu.coreClockPct = clockPercent(gpu.coreMhz, gpu.coreBoostMhz);
    gpu.memBoostMhz = kept.memBoostMhz;
    gpu.memMhz = kept.memMhz;
    gpu.memClockPct = clockPercent(gpu.memMhz, gpu.memBoostMhz);

    uint64_t total = 0;
    uint64_t used = 0;
    if (memoryFigures(readings, &total, &used)) {
        const uint64_t totalMb = total >> 20;
        const uint64_t freeMb = used >= total ? 0 : (total - used) >> 20;
        gpu.memTotalMb = saturate16(totalMb);
        gpu.memFreeMb = saturate16(freeMb);
        gpu.memUsedPct = totalMb == 0 ? 100 : static_cast<uint8_t>(100 - freeMb * 100 / totalMb);
    } else {
        gpu.memTotalMb = 0;
        gpu.memFreeMb = 0;
        gpu.memUsedPct = 100;
    }

    const bool fanSound = readings.adapterPerfRead && perf.fanRpm <= kMaxFanRpm;
    gpu.fanRpmDiv32 = fanSound ? static_cast<uint8_t>(perf.fanRpm >> 5) : 0;
    const bool temperatureSound = readings.adapterPerfRead && perf.temperature <= kMaxTemperatureTenths;
    gpu.coreTempC = temperatureSound ? static_cast<uint8_t>(perf.temperature / 10) : 0;
    gpu.memTempC = 0;  // Windows keeps no memory temperature
}

}  // namespace tarvelon
