#include "telemetry/gpu_access.h"

#include <atomic>
#include <mutex>

#include "platform/clock.h"
#include "platform/dynlib.h"

namespace tarvelon {
namespace {

enum Operation {
    kOpInitialize,
    kOpEnumPhysical,
    kOpEnumTcc,
    kOpFullName,
    kOpBusId,
    kOpBusSlotId,
    kOpPstates,
    kOpClocks,
    kOpMemory,
    kOpTach,
    kOpThermal,
    kOperationCount
};

constexpr uint32_t kOperationIds[kOperationCount] = {
    kIdInitialize,    kIdEnumPhysicalGpus, kIdEnumTccPhysicalGpus,     kIdGetFullName,
    kIdGetBusId,      kIdGetBusSlotId,     kIdGetDynamicPstatesInfoEx, kIdGetAllClockFrequencies,
    kIdGetMemoryInfo, kIdGetTachReading,   kIdGetThermalSettings,
};

struct CachedEntry {
    void* entry;
    uint32_t generation;  // load generation at which entry was resolved
};

// Everything below except the two atomics is guarded by layerLock.
std::mutex layerLock;
DynamicLibrary* module;
NvQueryInterfaceFunction queryInterface;
uint32_t moduleStamp;
uint32_t loadGeneration;
CachedEntry cache[kOperationCount];

// A call counts itself in flight before it looks at the unloading flag, and an unload sets the flag
// before it looks at the count, so one of the two always sees the other.
std::atomic<int32_t> callsInFlight;
std::atomic<bool> unloading;

constexpr int kUnloadWaitTries = 10;
constexpr uint32_t kUnloadWaitMs = 100;

bool enterLayer() {
    for (int tries = 0;; ++tries) {
        callsInFlight.fetch_add(1);
        if (!unloading.load()) return true;
        callsInFlight.fetch_sub(1);
        if (tries == kUnloadWaitTries) return false;
        sleepMs(kUnloadWaitMs);
    }
}

void leaveLayer() {
    callsInFlight.fetch_sub(1);
}

// Loads nvapi.dll from the system directory and initialises it; on success it replaces the module
// held so far. Called with layerLock held.
int32_t loadLibraryLocked() {
    char16_t path[kLibraryPathUnits];
    if (!systemLibraryPath(u"nvapi.dll", path)) return kStatusNoLibrary;
    DynamicLibrary* loaded = loadLibraryAt(path);
    if (loaded == nullptr) return kStatusNoLibrary;
    const auto query =
        reinterpret_cast<NvQueryInterfaceFunction>(librarySymbol(loaded, "nvapi_QueryInterface"));
    const auto initialize =
        query != nullptr ? reinterpret_cast<NvInitializeFunction>(query(kIdInitialize)) : nullptr;
    if (initialize == nullptr) {
        freeLibrary(loaded);
        return kStatusNotInitialised;
    }
    const int32_t status = initialize();
    if (status != 0) {
        freeLibrary(loaded);
        return status;
    }
    // A reload after a changed stamp took a new reference; the one of the old load goes.
    if (module != nullptr) freeLibrary(module);
    module = loaded;
    queryInterface = query;
    moduleStamp = libraryIdentityStamp(loaded);
    ++loadGeneration;
    return 0;
}

// The loading steps and the lookup of one operation. On success the call stays counted in flight
// and the entry point is returned; otherwise the status is stored and null returned.
void* beginCall(Operation operation, int32_t* status) {
    if (!enterLayer()) {
        *status = kStatusNotInitialised;
        return nullptr;
    }
    void* entry;
    {
        std::lock_guard<std::mutex> guard(layerLock);
        if (module == nullptr || libraryIdentityStamp(module) != moduleStamp) {
            *status = loadLibraryLocked();
            if (*status != 0) {
                leaveLayer();
                return nullptr;
            }
        }
        // A fresh load raises the generation, so this also drops every entry of an earlier load.
        CachedEntry& cached = cache[operation];
        if (cached.generation != loadGeneration) cached.entry = nullptr;
        if (cached.entry == nullptr) {
            cached.entry = queryInterface(kOperationIds[operation]);
            cached.generation = loadGeneration;
        }
        entry = cached.entry;
    }
    if (entry == nullptr) {
        leaveLayer();
        *status = kStatusNoOperation;
    }
    return entry;
}

template <typename Function, typename... Arguments>
int32_t callOperation(Operation operation, Arguments... arguments) {
    int32_t status = 0;
    void* entry = beginCall(operation, &status);
    if (entry == nullptr) return status;
    status = reinterpret_cast<Function>(entry)(arguments...);
    leaveLayer();
    return status;
}

}  // namespace

int32_t NvAPI_Initialize() {
    return callOperation<NvInitializeFunction>(kOpInitialize);
}

int32_t NvAPI_Unload() {
    unloading.store(true);
    int32_t result;
    {
        std::lock_guard<std::mutex> guard(layerLock);
        if (module == nullptr || queryInterface == nullptr) {
            result = kStatusNotLoaded;
        } else if (callsInFlight.load() != 0) {
            result = kStatusNotInitialised;
        } else {
            const auto unload = reinterpret_cast<NvInitializeFunction>(queryInterface(kIdUnload));
            if (unload == nullptr) {
                result = kStatusNoOperation;
            } else if (unload() != 0) {
                result = kStatusNotInitialised;
            } else {
                queryInterface = nullptr;
                freeLibrary(module);
                module = nullptr;
                moduleStamp = 0;
                result = 0;
            }
        }
    }
    unloading.store(false);
    return result;
}

int32_t NvAPI_EnumPhysicalGPUs(NvPhysicalGpuHandle handles[kMaxPhysicalGpus], uint32_t* count) {
    return callOperation<NvEnumGpusFunction>(kOpEnumPhysical, handles, count);
}

int32_t NvAPI_EnumTCCPhysicalGPUs(NvPhysicalGpuHandle handles[kMaxPhysicalGpus], uint32_t* count) {
    return callOperation<NvEnumGpusFunction>(kOpEnumTcc, handles, count);
}

int32_t NvAPI_GPU_GetFullName(NvPhysicalGpuHandle gpu, char name[kGpuNameBytes]) {
    return callOperation<NvGetFullNameFunction>(kOpFullName, gpu, name);
}

int32_t NvAPI_GPU_GetBusId(NvPhysicalGpuHandle gpu, uint32_t* busId) {
    return callOperation<NvGetWordFunction>(kOpBusId, gpu, busId);
}

int32_t NvAPI_GPU_GetBusSlotId(NvPhysicalGpuHandle gpu, uint32_t* slotId) {
    return callOperation<NvGetWordFunction>(kOpBusSlotId, gpu, slotId);
}

int32_t NvAPI_GPU_GetDynamicPstatesInfoEx(NvPhysicalGpuHandle gpu, NV_GPU_DYNAMIC_PSTATES_INFO_EX* info) {
    return callOperation<NvGetPstatesFunction>(kOpPstates, gpu, info);
}

int32_t NvAPI_GPU_GetAllClockFrequencies(NvPhysicalGpuHandle gpu, NV_GPU_CLOCK_FREQUENCIES* clocks) {
    return callOperation<NvGetClocksFunction>(kOpClocks, gpu, clocks);
}

int32_t NvAPI_GPU_GetMemoryInfo(NvPhysicalGpuHandle gpu, NV_DISPLAY_DRIVER_MEMORY_INFO* memory) {
    return callOperation<NvGetMemoryFunction>(kOpMemory, gpu, memory);
}

int32_t NvAPI_GPU_GetTachReading(NvPhysicalGpuHandle gpu, uint32_t* rpm) {
    return callOperation<NvGetWordFunction>(kOpTach, gpu, rpm);
}

int32_t NvAPI_GPU_GetThermalSettings(NvPhysicalGpuHandle gpu, uint32_t sensorIndex,
                                     NV_GPU_THERMAL_SETTINGS* thermal) {
    return callOperation<NvGetThermalFunction>(kOpThermal, gpu, sensorIndex, thermal);
}

}  // namespace tarvelon
