#include "telemetry/gpu_readings.h"

#include <cstring>

#include "telemetry/gpu_access.h"

namespace tarvelon {
namespace {

int32_t readClocks(NvPhysicalGpuHandle gpu, uint32_t clockType, NV_GPU_CLOCK_FREQUENCIES* clocks) {
    std::memset(clocks, 0, sizeof *clocks);
    clocks->version = kClockFrequenciesVersion;
    clocks->clockTypeBits = clockType;
    return NvAPI_GPU_GetAllClockFrequencies(gpu, clocks);
}

int32_t readMemory(NvPhysicalGpuHandle gpu, NV_DISPLAY_DRIVER_MEMORY_INFO* memory) {
    std::memset(memory, 0, sizeof *memory);
    memory->version = kMemoryInfoVersion;
    return NvAPI_GPU_GetMemoryInfo(gpu, memory);
}

int32_t readTemperature(NvPhysicalGpuHandle gpu, uint32_t target, NV_GPU_THERMAL_SETTINGS* thermal) {
    std::memset(thermal, 0, sizeof *thermal);
    thermal->version = kThermalSettingsVersion;
    thermal->sensor[0].controller = kThermalControllerGpuInternal;
    thermal->sensor[0].target = target;
    return NvAPI_GPU_GetThermalSettings(gpu, 0, thermal);
}

}  // namespace

void readGpuReadings(GpuContext* context, int32_t index, GpuReadings* readings) {
    std::memset(readings, 0, sizeof *readings);
    const NvPhysicalGpuHandle gpu = context->handles[index];

    readings->busIdStatus = NvAPI_GPU_GetBusId(gpu, &readings->busId);
    readings->busSlotIdStatus = NvAPI_GPU_GetBusSlotId(gpu, &readings->busSlotId);
    readings->name = gpuName(context, index);

    readings->pstates.version = kPstatesInfoVersion;
    readings->pstatesStatus = NvAPI_GPU_GetDynamicPstatesInfoEx(gpu, &readings->pstates);

    readings->boostClocksStatus = readClocks(gpu, kClockTypeBoost, &context->boostClocks);
    readings->boostClocks = &context->boostClocks;
    readings->currentClocksStatus = readClocks(gpu, kClockTypeCurrent, &context->currentClocks);
    readings->currentClocks = &context->currentClocks;

    readings->totalMemoryStatus = readMemory(gpu, &readings->totalMemory);
    readings->freeMemoryStatus = readMemory(gpu, &readings->freeMemory);

    readings->tachRpm = 0;
    readings->tachStatus = NvAPI_GPU_GetTachReading(gpu, &readings->tachRpm);

    readings->coreThermalStatus = readTemperature(gpu, kThermalTargetGpu, &readings->coreThermal);
    readings->memoryThermalStatus = readTemperature(gpu, kThermalTargetMemory, &readings->memoryThermal);
}

}  // namespace tarvelon
