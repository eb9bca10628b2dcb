// The GPU driver library's access layer: nvapi.dll is loaded by full path from the system directory
// when first needed, every operation is found through the library's one export nvapi_QueryInterface
// and cached per load generation, the library is loaded again when its identity stamp changes, and an
// unload is refused while calls are in flight. Each function returns the driver's status (0 success)
// or one of the layer's own statuses below.
#pragma once

#include <cstdint>

#include "telemetry/nvapi_types.h"

namespace tarvelon {

enum : int32_t {
    kStatusNotInitialised = -1,  // initialisation failed, or an unload kept the library busy
    kStatusNoLibrary = -2,       // nvapi.dll cannot be loaded
    kStatusNoOperation = -3,     // the installed library lacks the operation
    kStatusNotLoaded = -4,       // NvAPI_Unload only: nothing to unload
};

int32_t NvAPI_Initialize();
int32_t NvAPI_Unload();
int32_t NvAPI_EnumPhysicalGPUs(NvPhysicalGpuHandle handles[kMaxPhysicalGpus], uint32_t* count);
int32_t NvAPI_EnumTCCPhysicalGPUs(NvPhysicalGpuHandle handles[kMaxPhysicalGpus], uint32_t* count);
int32_t NvAPI_GPU_GetFullName(NvPhysicalGpuHandle gpu, char name[kGpuNameBytes]);
int32_t NvAPI_GPU_GetBusId(NvPhysicalGpuHandle gpu, uint32_t* busId);
int32_t NvAPI_GPU_GetBusSlotId(NvPhysicalGpuHandle gpu, uint32_t* slotId);
int32_t NvAPI_GPU_GetDynamicPstatesInfoEx(NvPhysicalGpuHandle gpu, NV_GPU_DYNAMIC_PSTATES_INFO_EX* info);
int32_t NvAPI_GPU_GetAllClockFrequencies(NvPhysicalGpuHandle gpu, NV_GPU_CLOCK_FREQUENCIES* clocks);
int32_t NvAPI_GPU_GetMemoryInfo(NvPhysicalGpuHandle gpu, NV_DISPLAY_DRIVER_MEMORY_INFO* memory);
int32_t NvAPI_GPU_GetTachReading(NvPhysicalGpuHandle gpu, uint32_t* rpm);
int32_t NvAPI_GPU_GetThermalSettings(NvPhysicalGpuHandle gpu, uint32_t sensorIndex,
                                     NV_GPU_THERMAL_SETTINGS* thermal);

}  // namespace tarvelon
