// The arithmetic of one sampling pass: how the readings of the machine's counters, memory status and
// GPU operations become the fields of the local HostRecord and GpuRecords. Everything here is a
// function of the previous records and the readings, so each rule can be checked with made-up input.
#pragma once

#include <cstdint>

#include "platform/sensors.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"
#include "telemetry/nvapi_types.h"

namespace tarvelon {

constexpr uint16_t kProcessorCountUnknown = 65500;

// One counter as the pass saw it. Single values carry doubleValue or longValue; arrays carry items
// (none when the read failed).
struct CounterReading {
    bool present;  // the counter was added to the query
    bool read;     // single values: the read succeeded
    double doubleValue;
    int32_t longValue;
    const CounterItem* items;
    int32_t itemCount;
};

// The system's own figures of one pass, for fields whose counters cannot be added or read. The rates
// come from the difference to the pass before. All zero: the system offered nothing.
struct SystemReadings {
    bool timesRead;  // both samples
    ProcessorTimes previousTimes;
    ProcessorTimes times;
    bool countsRead;
    int32_t processes;
    int32_t threads;
    int32_t clockCount;  // 0 or less: no clocks
    ProcessorClock clocks[kMaxProcessorClocks];
    uint64_t octetsElapsedMs;  // 0: no rate this pass
    int32_t previousInterfaceCount;
    InterfaceOctets previousInterfaces[kMaxInterfaces];
    int32_t interfaceCount;
    InterfaceOctets interfaces[kMaxInterfaces];
};

struct HostReadings {
    char16_t hostName[kSettingTextUnits];
    bool memoryRead;
    MemoryStatus memory;
    uint16_t cpuCount;
    bool countersCollected;  // the query exists and this pass's collection succeeded
    CounterReading counters[kPerfCounterCount];
    SystemReadings system;
};

// Status and answer of every GPU operation of one slot, in the order the pass asks them.
struct GpuReadings {
    int32_t busIdStatus;
    uint32_t busId;
    int32_t busSlotIdStatus;
    uint32_t busSlotId;
    const char16_t* name;
    int32_t pstatesStatus;
    NV_GPU_DYNAMIC_PSTATES_INFO_EX pstates;
    int32_t boostClocksStatus;
    const NV_GPU_CLOCK_FREQUENCIES* boostClocks;
    int32_t currentClocksStatus;
    const NV_GPU_CLOCK_FREQUENCIES* currentClocks;
    int32_t totalMemoryStatus;
    NV_DISPLAY_DRIVER_MEMORY_INFO totalMemory;
    int32_t freeMemoryStatus;
    NV_DISPLAY_DRIVER_MEMORY_INFO freeMemory;
    int32_t tachStatus;
    uint32_t tachRpm;
    int32_t coreThermalStatus;
    NV_GPU_THERMAL_SETTINGS coreThermal;
    int32_t memoryThermalStatus;
    NV_GPU_THERMAL_SETTINGS memoryThermal;
};

// The processor count from the processor key's subkeys (-1: key not opened), or from the system
// information when the key is missing or empty.
uint16_t chooseProcessorCount(int32_t processorKeySubkeys, uint32_t systemProcessors);

// 100 - trunc(100 * available / total), low 8 bits.
uint8_t usedPercent(uint64_t available, uint64_t total);

// A counter's reading counts when this pass collected, the counter was added and its read succeeded.
bool counterUsable(const HostReadings& readings, PerfCounter counter);

// Host name, memory, processor count and the counter fields; a field whose counters cannot be used
// takes the system's figure instead, with the same arithmetic.
void applyHostReadings(HostRecord& host, const HostReadings& readings);

// One GPU slot filled from its readings; the clock fields keep their last nonzero value.
void fillGpuRecord(GpuRecord& gpu, const GpuReadings& readings);

// The GPU step around the slots' own readings. With gpuCount 0 nothing changes when no GPU was shown
// before, and every slot empties when one was; 0 is returned. Otherwise gpuCount is stored, the slots
// from min(gpuCount, 16) on are marked not present, and the number of slots to fill is returned.
int32_t prepareGpuSlots(LocalStore& store, int32_t gpuCount);

}  // namespace tarvelon
