// The GPU driver library's vocabulary as this program uses it: interface ids, request versions, the
// opaque GPU handle and the answer structures, laid out byte for byte as the driver fills them.
// Shared by the access layer and by the simulated driver library of the tests.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define NVAPI_CALL __cdecl
#else
#define NVAPI_CALL
#endif

namespace tarvelon {

struct NvPhysicalGpu;
using NvPhysicalGpuHandle = NvPhysicalGpu*;

// nvapi_QueryInterface: interface id → entry point, or null when the library lacks the operation.
using NvQueryInterfaceFunction = void*(NVAPI_CALL*)(uint32_t interfaceId);

constexpr int kMaxPhysicalGpus = 64;  // capacity of an enumeration's handle array
constexpr int kGpuNameBytes = 64;     // capacity of a full-name buffer

enum : uint32_t {
    kIdInitialize = 0x0150E828,
    kIdUnload = 0xD22BDD7E,
    kIdEnumPhysicalGpus = 0xE5AC921F,
    kIdEnumTccPhysicalGpus = 0xD9930B07,
    kIdGetFullName = 0xCEEE8E9F,
    kIdGetBusId = 0x1BE0B8E5,
    kIdGetBusSlotId = 0x2A0A350F,
    kIdGetDynamicPstatesInfoEx = 0x60DED2ED,
    kIdGetAllClockFrequencies = 0xDCB616C3,
    kIdGetMemoryInfo = 0x07F9B368,
    kIdGetTachReading = 0x5F608315,
    kIdGetThermalSettings = 0xE3640A56,
};

constexpr uint32_t requestVersion(uint32_t size, uint32_t version) {
    return size | (version << 16);
}

struct NvUtilizationDomain {
    uint32_t presentBits;  // bit 0: bIsPresent
    uint32_t percentage;
};

struct NV_GPU_DYNAMIC_PSTATES_INFO_EX {
    uint32_t version;
    uint32_t flags;
    NvUtilizationDomain utilization[8];
};
constexpr uint32_t kPstatesInfoVersion = requestVersion(sizeof(NV_GPU_DYNAMIC_PSTATES_INFO_EX), 1);
static_assert(kPstatesInfoVersion == 0x00010048);
static_assert(offsetof(NV_GPU_DYNAMIC_PSTATES_INFO_EX, utilization) == 8);

struct NvClockDomain {
    uint32_t presentBits;  // bit 0: bIsPresent
    uint32_t frequency;    // kHz
};

enum : uint32_t { kClockTypeCurrent = 0, kClockTypeBase = 1, kClockTypeBoost = 2 };
enum : int { kClockDomainGraphics = 0, kClockDomainMemory = 4 };

struct NV_GPU_CLOCK_FREQUENCIES {
    uint32_t version;
    uint32_t clockTypeBits;  // ClockType in the low bits, the rest reserved
    NvClockDomain domain[32];
};
constexpr uint32_t kClockFrequenciesVersion = requestVersion(sizeof(NV_GPU_CLOCK_FREQUENCIES), 2);
static_assert(kClockFrequenciesVersion == 0x00020108);
static_assert(offsetof(NV_GPU_CLOCK_FREQUENCIES, domain) == 8);

struct NV_DISPLAY_DRIVER_MEMORY_INFO {
    uint32_t version;
    uint32_t dedicatedVideoMemory;  // all in KB
    uint32_t availableDedicatedVideoMemory;
    uint32_t systemVideoMemory;
    uint32_t sharedSystemMemory;
    uint32_t curAvailableDedicatedVideoMemory;
};
constexpr uint32_t kMemoryInfoVersion = requestVersion(sizeof(NV_DISPLAY_DRIVER_MEMORY_INFO), 2);
static_assert(kMemoryInfoVersion == 0x00020018);

enum : uint32_t { kThermalControllerGpuInternal = 1 };
enum : uint32_t { kThermalTargetGpu = 1, kThermalTargetMemory = 2 };

struct NvThermalSensor {
    uint32_t controller;
    int32_t defaultMinTemp;
    int32_t defaultMaxTemp;
    int32_t currentTemp;  // °C
    uint32_t target;
};

struct NV_GPU_THERMAL_SETTINGS {
    uint32_t version;
    uint32_t count;
    NvThermalSensor sensor[3];
};
constexpr uint32_t kThermalSettingsVersion = requestVersion(sizeof(NV_GPU_THERMAL_SETTINGS), 2);
static_assert(kThermalSettingsVersion == 0x00020044);
static_assert(offsetof(NV_GPU_THERMAL_SETTINGS, sensor) == 8);
static_assert(offsetof(NV_GPU_THERMAL_SETTINGS, sensor[1]) == 28);
static_assert(offsetof(NvThermalSensor, target) == 16);

// Entry point types of the operations, in the library's calling convention.
using NvInitializeFunction = int32_t(NVAPI_CALL*)();
using NvEnumGpusFunction = int32_t(NVAPI_CALL*)(NvPhysicalGpuHandle handles[kMaxPhysicalGpus],
                                                uint32_t* count);
using NvGetFullNameFunction = int32_t(NVAPI_CALL*)(NvPhysicalGpuHandle gpu, char name[kGpuNameBytes]);
using NvGetWordFunction = int32_t(NVAPI_CALL*)(NvPhysicalGpuHandle gpu, uint32_t* result);
using NvGetPstatesFunction = int32_t(NVAPI_CALL*)(NvPhysicalGpuHandle gpu,
                                                  NV_GPU_DYNAMIC_PSTATES_INFO_EX* info);
using NvGetClocksFunction = int32_t(NVAPI_CALL*)(NvPhysicalGpuHandle gpu, NV_GPU_CLOCK_FREQUENCIES* clocks);
using NvGetMemoryFunction = int32_t(NVAPI_CALL*)(NvPhysicalGpuHandle gpu,
                                                 NV_DISPLAY_DRIVER_MEMORY_INFO* memory);
using NvGetThermalFunction = int32_t(NVAPI_CALL*)(NvPhysicalGpuHandle gpu, uint32_t sensorIndex,
                                                  NV_GPU_THERMAL_SETTINGS* thermal);

}  // namespace tarvelon
