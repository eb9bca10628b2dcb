// The NVIDIA management library as the agent uses it: status codes, the opaque device handle, the
// answer structures laid out as the library fills them, and the entry point types. Shared by the
// agent's GPU reader and the simulated library of the tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvelon {

struct NvmlDeviceOpaque;
using NvmlDevice = NvmlDeviceOpaque*;
using NvmlReturn = int32_t;

// The library file as the driver installs it; found through the dynamic linker's search path.
constexpr char kNvmlLibraryName[] = "libnvidia-ml.so.1";

enum : NvmlReturn {
    kNvmlSuccess = 0,
    kNvmlErrorUninitialized = 1,
    kNvmlErrorInvalidArgument = 2,
    kNvmlErrorNotSupported = 3,
    kNvmlErrorNoPermission = 4,
    kNvmlErrorNotFound = 6,
    kNvmlErrorInsufficientSize = 7,  // the array is too small; the count says how many there are
    kNvmlErrorDriverNotLoaded = 9,
    kNvmlErrorFunctionNotFound = 13,
    kNvmlErrorGpuIsLost = 15,
    kNvmlErrorLibraryDriverMismatch = 18,  // the driver was updated beneath a loaded library
    kNvmlErrorUnknown = 999,
};

constexpr unsigned kNvmlNameBytes = 96;  // room for any device name and its terminating 0

struct NvmlPciInfo {
    char busIdLegacy[16];
    uint32_t domain;
    uint32_t bus;     // 0..255
    uint32_t device;  // 0..31, the device's number on its bus
    uint32_t pciDeviceId;
    uint32_t pciSubSystemId;
    char busId[32];
};
static_assert(sizeof(NvmlPciInfo) == 68 && offsetof(NvmlPciInfo, bus) == 20 &&
              offsetof(NvmlPciInfo, device) == 24);

struct NvmlUtilization {
    uint32_t gpu;  // percent of the last sample period in which a kernel ran
    uint32_t memory;
};

struct NvmlMemory {
    uint64_t total;  // bytes
    uint64_t free;
    uint64_t used;
};

enum NvmlClockType : uint32_t { kNvmlClockGraphics = 0, kNvmlClockSm = 1, kNvmlClockMemory = 2 };
enum NvmlTemperatureSensor : uint32_t { kNvmlTemperatureGpu = 0 };

// Versioned structures carry their size in the low bits and the version from bit 24 on.
constexpr uint32_t nvmlStructVersion(uint32_t size, uint32_t version) {
    return size | (version << 24);
}

struct NvmlFanSpeedInfo {
    uint32_t version;
    uint32_t fan;    // index of the fan asked about
    uint32_t speed;  // RPM
};
constexpr uint32_t kNvmlFanSpeedInfoVersion = nvmlStructVersion(sizeof(NvmlFanSpeedInfo), 1);
static_assert(kNvmlFanSpeedInfoVersion == 0x0100000C);

enum NvmlValueType : uint32_t {
    kNvmlValueDouble = 0,
    kNvmlValueUnsignedInt = 1,
    kNvmlValueUnsignedLong = 2,
    kNvmlValueUnsignedLongLong = 3,
    kNvmlValueSignedLongLong = 4,
    kNvmlValueSignedInt = 5,
};

union NvmlValue {
    double doubleValue;
    uint32_t unsignedInt;
    unsigned long unsignedLong;
    uint64_t unsignedLongLong;
    int64_t signedLongLong;
    int32_t signedInt;
};

// One field of a field-value query: fieldId is set by the caller, the rest by the library.
struct NvmlFieldValue {
    uint32_t fieldId;
    uint32_t scopeId;
    int64_t timestamp;
    int64_t latencyUsec;
    uint32_t valueType;  // an NvmlValueType
    NvmlReturn nvmlReturn;
    NvmlValue value;
};
static_assert(sizeof(NvmlFieldValue) == 40 && offsetof(NvmlFieldValue, value) == 32);

constexpr uint32_t kNvmlFieldMemoryTemperature = 82;  // °C, where the board has a memory sensor

constexpr unsigned kNvmlUuidBytes = 96;
constexpr unsigned kNvmlDriverVersionBytes = 80;

// The bits of the clock throttle reasons, and the reason label each has on /metrics.
struct NvmlThrottleReason {
    uint64_t bit;
    const char* label;
};
constexpr NvmlThrottleReason kNvmlThrottleReasons[] = {
    {0x1, "gpu_idle"},
    {0x2, "applications_clocks_setting"},
    {0x4, "sw_power_cap"},
    {0x8, "hw_slowdown"},
    {0x10, "sync_boost"},
    {0x20, "sw_thermal_slowdown"},
    {0x40, "hw_thermal_slowdown"},
    {0x80, "hw_power_brake_slowdown"},
    {0x100, "display_clock_setting"},
};

// A process's memory, where the library cannot tell it (under WDDM).
constexpr unsigned long long kNvmlValueNotAvailable = ~0ull;

// One process running on a GPU, as the _v3 process lists fill their arrays.
struct NvmlProcessInfo {
    uint32_t pid;
    unsigned long long usedGpuMemory;  // bytes
    uint32_t gpuInstanceId;
    uint32_t computeInstanceId;
};
static_assert(sizeof(NvmlProcessInfo) == 24 && offsetof(NvmlProcessInfo, usedGpuMemory) == 8);

// One process's utilization over one sample period; a process idle in it has no sample.
struct NvmlProcessUtilizationSample {
    uint32_t pid;
    unsigned long long timeStamp;  // CPU time of the sample, microseconds
    uint32_t smUtil;               // percent
    uint32_t memUtil;
    uint32_t encUtil;
    uint32_t decUtil;
};
static_assert(sizeof(NvmlProcessUtilizationSample) == 32 &&
              offsetof(NvmlProcessUtilizationSample, smUtil) == 16);

using NvmlInitFunction = NvmlReturn (*)();
using NvmlShutdownFunction = NvmlReturn (*)();
using NvmlGetCountFunction = NvmlReturn (*)(unsigned* count);
using NvmlGetHandleFunction = NvmlReturn (*)(unsigned index, NvmlDevice* device);
using NvmlGetNameFunction = NvmlReturn (*)(NvmlDevice device, char* name, unsigned length);
using NvmlGetPciInfoFunction = NvmlReturn (*)(NvmlDevice device, NvmlPciInfo* pci);
using NvmlGetUtilizationFunction = NvmlReturn (*)(NvmlDevice device, NvmlUtilization* utilization);
using NvmlGetClockFunction = NvmlReturn (*)(NvmlDevice device, uint32_t clockType, unsigned* megahertz);
using NvmlGetMemoryFunction = NvmlReturn (*)(NvmlDevice device, NvmlMemory* memory);
using NvmlGetFanSpeedRpmFunction = NvmlReturn (*)(NvmlDevice device, NvmlFanSpeedInfo* fan);
using NvmlGetTemperatureFunction = NvmlReturn (*)(NvmlDevice device, uint32_t sensor, unsigned* celsius);
using NvmlGetFieldValuesFunction = NvmlReturn (*)(NvmlDevice device, int count, NvmlFieldValue* values);
using NvmlGetTextFunction = NvmlReturn (*)(NvmlDevice device, char* text, unsigned length);
using NvmlGetDriverVersionFunction = NvmlReturn (*)(char* version, unsigned length);
using NvmlGetMilliwattsFunction = NvmlReturn (*)(NvmlDevice device, unsigned* milliwatts);
using NvmlGetCounterFunction = NvmlReturn (*)(NvmlDevice device, unsigned long long* value);
// count: the array's room in, the processes written (or, with kNvmlErrorInsufficientSize, there) out.
using NvmlGetProcessesFunction = NvmlReturn (*)(NvmlDevice device, unsigned* count, NvmlProcessInfo* infos);
// Samples newer than lastSeen; a null array asks how many there are.
using NvmlGetProcessUtilizationFunction = NvmlReturn (*)(NvmlDevice device,
                                                         NvmlProcessUtilizationSample* samples,
                                                         unsigned* count, unsigned long long lastSeen);

}  // namespace tarvelon
