// The agent's GPUs through the NVIDIA management library: the library loaded at run time (never
// linked, so a machine without the driver simply has no GPUs), the GPUs found once when it opens, and
// each GPU's answers turned into the readings that the shared sampler pass arithmetic makes a
// GpuRecord of, in the units of the Windows driver (kHz, KB), so both programs fill the record alike.
#pragma once

#include <cstdint>
#include <string>

#include "agent/nvml_api.h"
#include "telemetry/local_store.h"
#include "telemetry/sampler_pass.h"

namespace tarvelon {

struct NvmlEntryPoints {
    NvmlInitFunction init;
    NvmlShutdownFunction shutdown;
    NvmlGetCountFunction getCount;
    NvmlGetHandleFunction getHandle;
    NvmlGetNameFunction getName;
    NvmlGetPciInfoFunction getPciInfo;
    NvmlGetUtilizationFunction getUtilization;
    NvmlGetClockFunction getClock;
    NvmlGetClockFunction getMaxClock;
    NvmlGetMemoryFunction getMemory;
    NvmlGetFanSpeedRpmFunction getFanSpeedRpm;  // newer drivers only
    NvmlGetTemperatureFunction getTemperature;
    NvmlGetFieldValuesFunction getFieldValues;  // newer drivers only
    NvmlGetTextFunction getUuid;
    NvmlGetDriverVersionFunction getDriverVersion;
    NvmlGetMilliwattsFunction getPowerUsage;
    NvmlGetMilliwattsFunction getEnforcedPowerLimit;
    NvmlGetCounterFunction getTotalEnergy;  // millijoules since the driver loaded
    NvmlGetCounterFunction getThrottleReasons;
    NvmlGetProcessesFunction getComputeProcesses;  // these three newer drivers only
    NvmlGetProcessesFunction getGraphicsProcesses;
    NvmlGetProcessUtilizationFunction getProcessUtilization;
};

// A library that is missing or refuses to start is opened again this often, so that a driver
// installed or updated after the agent started is found without a restart.
constexpr uint64_t kNvmlOpenAgainMs = 60000;
constexpr size_t kLongestLibraryPath = 4096;

// The GPUs of one opened library: the handles obtained, in index order, their names and UUIDs, and
// the driver's version. GPUs beyond the 16 slots are counted but not kept. The path and the time of
// the last attempt stay when the library could not be opened.
struct NvmlGpus {
    void* library;  // null: no library, no GPUs
    NvmlEntryPoints api;
    int32_t count;
    NvmlDevice devices[kGpuSlots];
    char16_t names[kGpuSlots][kRecordTextUnits];
    char uuids[kGpuSlots][kNvmlUuidBytes];
    char driverVersion[kNvmlDriverVersionBytes];
    char libraryPath[kLongestLibraryPath];
    uint64_t openedAtMs;  // of the last attempt
    bool failing;         // the last pass found the library refusing every GPU as a whole
};

enum class NvmlOpenOutcome {
    NoLibrary,    // the file is missing or lacks the entry points the agent cannot do without
    InitFailed,   // the library is there but refused to start (no driver loaded, say)
    CountFailed,  // started, but could not count the GPUs
    Ready,        // count GPUs found (possibly 0)
};

// Loads the library (a path, or a bare name for the dynamic linker's search path), starts it and
// finds the GPUs. Anything short of Ready leaves gpus without a library and without GPUs.
NvmlOpenOutcome openNvmlGpus(const char* library, NvmlGpus* gpus);
// Whether looking for the library again can find one that starts: a library named by its path always
// (one file to open), one named without a directory only while the NVIDIA driver shows below root
// (/proc/driver/nvidia, or WSL's /dev/dxg), since it cannot start without one and a search that finds
// nothing opens dozens of files and maps the loader's cache: the dearest thing an agent without GPUs
// would otherwise do all minute.
bool nvmlWorthLookingFor(const std::string& library, const std::string& root);
// Opens the library again, as it was first named, when it is not open, kNvmlOpenAgainMs have passed
// since the last attempt and it is worth looking for; logs when it opens. True when it opened.
bool reopenNvmlIfDue(NvmlGpus* gpus, uint64_t nowMs, const std::string& root = "");
// Whether an answer says the library as a whole no longer works (its driver unloaded, or updated
// beneath it), rather than that one GPU cannot answer.
bool nvmlLibraryFailed(NvmlReturn status);
// Shuts the library down and unloads it.
void closeNvmlGpus(NvmlGpus* gpus);

// What the library answered for one GPU in one pass; a status of 0 is an answer.
struct NvmlAnswers {
    NvmlReturn pciStatus;
    NvmlPciInfo pci;
    std::u16string name;  // a copy: the library may be opened again while the endpoint reads it
    NvmlReturn utilizationStatus;
    NvmlUtilization utilization;
    NvmlReturn maxGraphicsStatus;
    unsigned maxGraphicsMhz;
    NvmlReturn graphicsStatus;
    unsigned graphicsMhz;
    NvmlReturn maxMemoryStatus;
    unsigned maxMemoryMhz;
    NvmlReturn memoryClockStatus;
    unsigned memoryMhz;
    NvmlReturn memoryStatus;
    NvmlMemory memory;
    NvmlReturn fanStatus;
    unsigned fanRpm;
    NvmlReturn coreTemperatureStatus;
    unsigned coreTemperatureC;
    NvmlReturn memoryTemperatureStatus;
    unsigned memoryTemperatureC;
    NvmlReturn hotspotTemperatureStatus;  // the library does not tell it; amdgpu's hwmon does
    unsigned hotspotTemperatureC;
    NvmlReturn powerStatus;
    unsigned powerMilliwatts;
    NvmlReturn powerLimitStatus;
    unsigned powerLimitMilliwatts;
    NvmlReturn energyStatus;
    unsigned long long energyMillijoules;
    NvmlReturn throttleStatus;
    unsigned long long throttleReasons;  // kNvmlThrottleReasons bits
};

// What one pass's GPU steps saw, for the metrics endpoint; copies, as the library may open again
// while the endpoint reads them. The GPUs the kernel's drivers tell of fill the slots after NVIDIA's.
struct NvmlPassAnswers {
    bool libraryUp;
    std::string driverVersion;  // NVIDIA's
    NvmlAnswers gpus[kGpuSlots];
    std::string uuids[kGpuSlots];
    const char* vendors[kGpuSlots];  // "nvidia", "amd" or "intel"
};

// The readings of one GPU with the clock answers they point to.
struct GpuPassReadings {
    GpuReadings readings;
    NV_GPU_CLOCK_FREQUENCIES boostClocks;
    NV_GPU_CLOCK_FREQUENCIES currentClocks;
};

// Maximum clocks stand for the boost clocks, bytes become KB, and a clock that was not answered is a
// domain not present, so it keeps its field's last value as on Windows.
void translateNvmlAnswers(const NvmlAnswers& answers, GpuPassReadings* pass);

// Asks the library about GPU index (below min(count, 16)).
NvmlAnswers askNvmlGpu(const NvmlGpus& gpus, int index);

// The GPU step of a pass over the store: a library that failed in the last pass is closed, and one
// that is not open is opened again when that is due; then nothing with no GPUs, otherwise gpuCount
// and every slot. answers, when given, receives whether the library works and what each slot's GPU
// answered, in full precision. root is where the driver is looked for, as reopenNvmlIfDue says.
void sampleNvmlGpus(NvmlGpus& gpus, const std::string& root, LocalStore& store,
                    NvmlPassAnswers* answers = nullptr);

}  // namespace tarvelon
