// GPU discovery and naming for one run of the sampler: the GPUs the driver library reports, physical
// ones first and then those in TCC mode, their display names fetched once, and the two answer
// buffers of the clock queries. The process-wide user count decides when the library is initialised
// and when it is unloaded.
#pragma once

#include <cstdint>

#include "telemetry/nvapi_types.h"

namespace tarvelon {

constexpr int kMaxGpus = 2 * kMaxPhysicalGpus;  // physical plus TCC
constexpr int kGpuNameUnits = 128;

struct GpuContext {
    uint8_t found;                          // 1 when at least one GPU was found
    int32_t count;                          // physicalCount + tccCount
    NvPhysicalGpuHandle handles[kMaxGpus];  // discovery order: physical, then TCC
    int32_t physicalCount;
    NvPhysicalGpuHandle physicalHandles[kMaxPhysicalGpus];
    int32_t tccCount;
    NvPhysicalGpuHandle tccHandles[kMaxPhysicalGpus];
    char16_t emptyName[kGpuNameUnits];
    char16_t names[kMaxGpus][kGpuNameUnits];  // one entry per GPU; empty until fetched
    NV_GPU_CLOCK_FREQUENCIES boostClocks;
    NV_GPU_CLOCK_FREQUENCIES currentClocks;
};

// Number of open contexts; the first opens the library, the last to close unloads it.
extern int gpuLibraryUsers;

// Allocates a context and enumerates the GPUs. Shows the out-of-memory box and exits when the
// context cannot be allocated.
GpuContext* openGpuContext();

// Display name of GPU index ("<name> TCC" for a TCC GPU), the empty name when index is out of range
// or the driver does not answer; valid while the context lives.
const char16_t* gpuName(GpuContext* context, int32_t index);

// Leaves the library (unloading it after its last user), wipes the context and frees it.
void closeGpuContext(GpuContext* context);

}  // namespace tarvelon
