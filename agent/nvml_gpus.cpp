#include "agent/nvml_gpus.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>

#include "agent/agent_log.h"
#include "platform/clock.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

template <class Function>
Function entryPoint(void* library, const char* name) {
    return reinterpret_cast<Function>(dlsym(library, name));
}

// The newest PCI query first; the older one fills the same leading fields.
NvmlGetPciInfoFunction pciInfoEntryPoint(void* library) {
    auto function = entryPoint<NvmlGetPciInfoFunction>(library, "nvmlDeviceGetPciInfo_v3");
    return function != nullptr ? function
                               : entryPoint<NvmlGetPciInfoFunction>(library, "nvmlDeviceGetPciInfo");
}

bool loadEntryPoints(void* library, NvmlEntryPoints* api) {
    api->init = entryPoint<NvmlInitFunction>(library, "nvmlInit_v2");
    api->shutdown = entryPoint<NvmlShutdownFunction>(library, "nvmlShutdown");
    api->getCount = entryPoint<NvmlGetCountFunction>(library, "nvmlDeviceGetCount_v2");
    api->getHandle = entryPoint<NvmlGetHandleFunction>(library, "nvmlDeviceGetHandleByIndex_v2");
    api->getName = entryPoint<NvmlGetNameFunction>(library, "nvmlDeviceGetName");
    api->getPciInfo = pciInfoEntryPoint(library);
    api->getUtilization = entryPoint<NvmlGetUtilizationFunction>(library, "nvmlDeviceGetUtilizationRates");
    api->getClock = entryPoint<NvmlGetClockFunction>(library, "nvmlDeviceGetClockInfo");
    api->getMaxClock = entryPoint<NvmlGetClockFunction>(library, "nvmlDeviceGetMaxClockInfo");
    api->getMemory = entryPoint<NvmlGetMemoryFunction>(library, "nvmlDeviceGetMemoryInfo");
    api->getFanSpeedRpm = entryPoint<NvmlGetFanSpeedRpmFunction>(library, "nvmlDeviceGetFanSpeedRPM");
    api->getTemperature = entryPoint<NvmlGetTemperatureFunction>(library, "nvmlDeviceGetTemperature");
    api->getFieldValues = entryPoint<NvmlGetFieldValuesFunction>(library, "nvmlDeviceGetFieldValues");
    api->getUuid = entryPoint<NvmlGetTextFunction>(library, "nvmlDeviceGetUUID");
    api->getDriverVersion = entryPoint<NvmlGetDriverVersionFunction>(library, "nvmlSystemGetDriverVersion");
    api->getPowerUsage = entryPoint<NvmlGetMilliwattsFunction>(library, "nvmlDeviceGetPowerUsage");
    api->getEnforcedPowerLimit =
        entryPoint<NvmlGetMilliwattsFunction>(library, "nvmlDeviceGetEnforcedPowerLimit");
    api->getTotalEnergy = entryPoint<NvmlGetCounterFunction>(library, "nvmlDeviceGetTotalEnergyConsumption");
    api->getThrottleReasons =
        entryPoint<NvmlGetCounterFunction>(library, "nvmlDeviceGetCurrentClocksThrottleReasons");
    api->getComputeProcesses =
        entryPoint<NvmlGetProcessesFunction>(library, "nvmlDeviceGetComputeRunningProcesses_v3");
    api->getGraphicsProcesses =
        entryPoint<NvmlGetProcessesFunction>(library, "nvmlDeviceGetGraphicsRunningProcesses_v3");
    api->getProcessUtilization =
        entryPoint<NvmlGetProcessUtilizationFunction>(library, "nvmlDeviceGetProcessUtilization");
    // Without these there is nothing to enumerate; every other operation may be missing and then
    // reads as not answered.
    return api->init != nullptr && api->shutdown != nullptr && api->getCount != nullptr &&
           api->getHandle != nullptr;
}

void fetchName(const NvmlGpus& gpus, NvmlDevice device, char16_t (&name)[kRecordTextUnits]) {
    name[0] = 0;
    if (gpus.api.getName == nullptr) return;
    char bytes[kNvmlNameBytes] = {};
    if (gpus.api.getName(device, bytes, sizeof bytes) != kNvmlSuccess) return;
    bytes[sizeof bytes - 1] = 0;
    copyText16(name, kRecordTextUnits, fromUtf8(bytes).c_str());
}

void fetchText(NvmlGetTextFunction get, NvmlDevice device, char* text, unsigned length) {
    text[0] = 0;
    if (get == nullptr || get(device, text, length) != kNvmlSuccess) text[0] = 0;
    text[length - 1] = 0;
}

void setDomain(NV_GPU_CLOCK_FREQUENCIES& clocks, int domain, NvmlReturn status, unsigned megahertz) {
    if (status != kNvmlSuccess) return;
    clocks.domain[domain].presentBits = 1;
    clocks.domain[domain].frequency = megahertz * 1000u;
}

uint32_t kilobytes(uint64_t bytes) {
    const uint64_t value = bytes / 1024;
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

// A field value of any integer type, as the unsigned degrees the record keeps.
unsigned fieldAsUnsigned(const NvmlFieldValue& field) {
    switch (field.valueType) {
        case kNvmlValueDouble:
            return static_cast<unsigned>(static_cast<int64_t>(field.value.doubleValue));
        case kNvmlValueUnsignedInt:
            return field.value.unsignedInt;
        case kNvmlValueUnsignedLong:
            return static_cast<unsigned>(field.value.unsignedLong);
        case kNvmlValueUnsignedLongLong:
            return static_cast<unsigned>(field.value.unsignedLongLong);
        case kNvmlValueSignedLongLong:
            return static_cast<unsigned>(field.value.signedLongLong);
        case kNvmlValueSignedInt:
            return static_cast<unsigned>(field.value.signedInt);
        default:
            return 0;
    }
}

}  // namespace

NvmlOpenOutcome openNvmlGpus(const char* library, NvmlGpus* gpus) {
    std::memset(gpus, 0, sizeof *gpus);
    std::strncpy(gpus->libraryPath, library, sizeof gpus->libraryPath - 1);
    gpus->openedAtMs = tickCountMs();
    const auto without = [gpus](NvmlOpenOutcome outcome) {
        char path[kLongestLibraryPath];
        std::memcpy(path, gpus->libraryPath, sizeof path);
        const uint64_t openedAtMs = gpus->openedAtMs;
        std::memset(gpus, 0, sizeof *gpus);
        std::memcpy(gpus->libraryPath, path, sizeof path);
        gpus->openedAtMs = openedAtMs;
        return outcome;
    };
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return without(NvmlOpenOutcome::NoLibrary);
    if (!loadEntryPoints(handle, &gpus->api)) {
        dlclose(handle);
        return without(NvmlOpenOutcome::NoLibrary);
    }
    if (gpus->api.init() != kNvmlSuccess) {
        dlclose(handle);
        return without(NvmlOpenOutcome::InitFailed);
    }
    unsigned count = 0;
    if (gpus->api.getCount(&count) != kNvmlSuccess) {
        gpus->api.shutdown();
        dlclose(handle);
        return without(NvmlOpenOutcome::CountFailed);
    }
    gpus->library = handle;
    if (gpus->api.getDriverVersion == nullptr ||
        gpus->api.getDriverVersion(gpus->driverVersion, sizeof gpus->driverVersion) != kNvmlSuccess)
        gpus->driverVersion[0] = 0;
    gpus->driverVersion[sizeof gpus->driverVersion - 1] = 0;
    // A GPU whose handle is refused (no permission, lost) is not one of ours; the rest keep their order.
    for (unsigned index = 0; index < count; ++index) {
        NvmlDevice device = nullptr;
        if (gpus->api.getHandle(index, &device) != kNvmlSuccess) continue;
        if (gpus->count < kGpuSlots) {
            gpus->devices[gpus->count] = device;
            fetchName(*gpus, device, gpus->names[gpus->count]);
            fetchText(gpus->api.getUuid, device, gpus->uuids[gpus->count], kNvmlUuidBytes);
        }
        ++gpus->count;
    }
    return NvmlOpenOutcome::Ready;
}

bool nvmlLibraryFailed(NvmlReturn status) {
    return status == kNvmlErrorUninitialized || status == kNvmlErrorDriverNotLoaded ||
           status == kNvmlErrorLibraryDriverMismatch;
}

bool nvmlWorthLookingFor(const std::string& library, const std::string& root) {
    if (library.find('/') != std::string::npos) return true;
    struct stat entry;
    return stat((root + "/proc/driver/nvidia").c_str(), &entry) == 0 ||
           stat((root + "/dev/dxg").c_str(), &entry) == 0;
}

bool reopenNvmlIfDue(NvmlGpus* gpus, uint64_t nowMs, const std::string& root) {
    if (gpus->library != nullptr || gpus->libraryPath[0] == 0 || nowMs < gpus->openedAtMs + kNvmlOpenAgainMs)
        return false;
    const std::string path = gpus->libraryPath;
    if (!nvmlWorthLookingFor(path, root)) {
        gpus->openedAtMs = nowMs;
        return false;
    }
    const NvmlOpenOutcome outcome = openNvmlGpus(path.c_str(), gpus);
    gpus->openedAtMs = nowMs;
    if (outcome != NvmlOpenOutcome::Ready) return false;
    logLine(gpuOutcomeLine(outcome, gpus->count, path));
    return true;
}

void closeNvmlGpus(NvmlGpus* gpus) {
    if (gpus->library != nullptr) {
        gpus->api.shutdown();
        dlclose(gpus->library);
    }
    std::memset(gpus, 0, sizeof *gpus);
}

void translateNvmlAnswers(const NvmlAnswers& answers, GpuPassReadings* pass) {
    std::memset(pass, 0, sizeof *pass);
    GpuReadings& readings = pass->readings;
    readings.busIdStatus = answers.pciStatus;
    readings.busId = answers.pci.bus;
    readings.busSlotIdStatus = answers.pciStatus;
    readings.busSlotId = answers.pci.device;
    readings.name = answers.name.c_str();

    readings.pstatesStatus = answers.utilizationStatus;
    readings.pstates.utilization[0].presentBits = 1;
    readings.pstates.utilization[0].percentage = answers.utilization.gpu;

    setDomain(pass->boostClocks, kClockDomainGraphics, answers.maxGraphicsStatus, answers.maxGraphicsMhz);
    setDomain(pass->boostClocks, kClockDomainMemory, answers.maxMemoryStatus, answers.maxMemoryMhz);
    setDomain(pass->currentClocks, kClockDomainGraphics, answers.graphicsStatus, answers.graphicsMhz);
    setDomain(pass->currentClocks, kClockDomainMemory, answers.memoryClockStatus, answers.memoryMhz);
    readings.boostClocks = &pass->boostClocks;
    readings.currentClocks = &pass->currentClocks;

    readings.totalMemoryStatus = answers.memoryStatus;
    readings.totalMemory.dedicatedVideoMemory = kilobytes(answers.memory.total);
    readings.freeMemoryStatus = answers.memoryStatus;
    readings.freeMemory.curAvailableDedicatedVideoMemory = kilobytes(answers.memory.free);

    readings.tachStatus = answers.fanStatus;
    readings.tachRpm = answers.fanRpm;
    readings.coreThermalStatus = answers.coreTemperatureStatus;
    readings.coreThermal.sensor[0].currentTemp = static_cast<int32_t>(answers.coreTemperatureC);
    readings.memoryThermalStatus = answers.memoryTemperatureStatus;
    readings.memoryThermal.sensor[0].currentTemp = static_cast<int32_t>(answers.memoryTemperatureC);
}

NvmlAnswers askNvmlGpu(const NvmlGpus& gpus, int index) {
    NvmlAnswers answers{};
    const NvmlDevice device = gpus.devices[index];
    const NvmlEntryPoints& api = gpus.api;
    answers.name = gpus.names[index];
    answers.pciStatus =
        api.getPciInfo != nullptr ? api.getPciInfo(device, &answers.pci) : kNvmlErrorFunctionNotFound;
    answers.utilizationStatus = api.getUtilization != nullptr
                                    ? api.getUtilization(device, &answers.utilization)
                                    : kNvmlErrorFunctionNotFound;
    if (api.getMaxClock != nullptr) {
        answers.maxGraphicsStatus = api.getMaxClock(device, kNvmlClockGraphics, &answers.maxGraphicsMhz);
        answers.maxMemoryStatus = api.getMaxClock(device, kNvmlClockMemory, &answers.maxMemoryMhz);
    } else {
        answers.maxGraphicsStatus = answers.maxMemoryStatus = kNvmlErrorFunctionNotFound;
    }
    if (api.getClock != nullptr) {
        answers.graphicsStatus = api.getClock(device, kNvmlClockGraphics, &answers.graphicsMhz);
        answers.memoryClockStatus = api.getClock(device, kNvmlClockMemory, &answers.memoryMhz);
    } else {
        answers.graphicsStatus = answers.memoryClockStatus = kNvmlErrorFunctionNotFound;
    }
    answers.memoryStatus =
        api.getMemory != nullptr ? api.getMemory(device, &answers.memory) : kNvmlErrorFunctionNotFound;

    answers.fanStatus = kNvmlErrorFunctionNotFound;
    if (api.getFanSpeedRpm != nullptr) {
        NvmlFanSpeedInfo fan{kNvmlFanSpeedInfoVersion, 0, 0};
        answers.fanStatus = api.getFanSpeedRpm(device, &fan);
        answers.fanRpm = fan.speed;
    }
    answers.coreTemperatureStatus =
        api.getTemperature != nullptr
            ? api.getTemperature(device, kNvmlTemperatureGpu, &answers.coreTemperatureC)
            : kNvmlErrorFunctionNotFound;
    answers.memoryTemperatureStatus = kNvmlErrorFunctionNotFound;
    answers.hotspotTemperatureStatus = kNvmlErrorFunctionNotFound;
    if (api.getFieldValues != nullptr) {
        NvmlFieldValue field{};
        field.fieldId = kNvmlFieldMemoryTemperature;
        const NvmlReturn status = api.getFieldValues(device, 1, &field);
        answers.memoryTemperatureStatus = status != kNvmlSuccess ? status : field.nvmlReturn;
        if (answers.memoryTemperatureStatus == kNvmlSuccess)
            answers.memoryTemperatureC = fieldAsUnsigned(field);
    }
    answers.powerStatus = api.getPowerUsage != nullptr ? api.getPowerUsage(device, &answers.powerMilliwatts)
                                                       : kNvmlErrorFunctionNotFound;
    answers.powerLimitStatus = api.getEnforcedPowerLimit != nullptr
                                   ? api.getEnforcedPowerLimit(device, &answers.powerLimitMilliwatts)
                                   : kNvmlErrorFunctionNotFound;
    answers.energyStatus = api.getTotalEnergy != nullptr
                               ? api.getTotalEnergy(device, &answers.energyMillijoules)
                               : kNvmlErrorFunctionNotFound;
    answers.throttleStatus = api.getThrottleReasons != nullptr
                                 ? api.getThrottleReasons(device, &answers.throttleReasons)
                                 : kNvmlErrorFunctionNotFound;
    return answers;
}

void sampleNvmlGpus(NvmlGpus& gpus, const std::string& root, LocalStore& store, NvmlPassAnswers* answers) {
    const uint64_t nowMs = tickCountMs();
    if (gpus.failing) {
        const std::string path = gpus.libraryPath;
        logLine("no NVIDIA GPUs: " + path +
                " stopped working (was the NVIDIA driver updated or unloaded?); " +
                "trying it again in a minute");
        closeNvmlGpus(&gpus);
        std::strncpy(gpus.libraryPath, path.c_str(), sizeof gpus.libraryPath - 1);
        gpus.openedAtMs = nowMs;
        // Shown without GPUs, as an agent started without the library is, not with their last figures.
        store.host.gpuCount = 0;
        for (GpuRecord& gpu : store.gpus) gpu.present = 0;
    }
    reopenNvmlIfDue(&gpus, nowMs, root);
    const int32_t slots = prepareGpuSlots(store, gpus.count);
    bool everyGpuFailed = slots > 0;
    for (int32_t index = 0; index < slots; ++index) {
        GpuPassReadings pass;
        const NvmlAnswers asked = askNvmlGpu(gpus, index);
        everyGpuFailed = everyGpuFailed && nvmlLibraryFailed(asked.memoryStatus);
        if (answers != nullptr) {
            answers->gpus[index] = asked;
            answers->uuids[index] = gpus.uuids[index];
            answers->vendors[index] = "nvidia";
        }
        translateNvmlAnswers(asked, &pass);
        fillGpuRecord(store.gpus[index], pass.readings);
    }
    gpus.failing = everyGpuFailed;
    if (answers != nullptr) {
        answers->libraryUp = gpus.library != nullptr && !everyGpuFailed;
        answers->driverVersion = gpus.driverVersion;
    }
}

}  // namespace tarvelon
