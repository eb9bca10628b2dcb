#include "telemetry/gpu_context.h"

#include <cstdlib>
#include <cstring>

#include "platform/fatal.h"
#include "platform/text16.h"
#include "telemetry/gpu_access.h"

namespace tarvelon {

int gpuLibraryUsers;

namespace {

// The driver reports a count beside an array of 64 handles; a larger count cannot be trusted.
int32_t enumeratedCount(uint32_t reported) {
    return reported > kMaxPhysicalGpus ? kMaxPhysicalGpus : static_cast<int32_t>(reported);
}

}  // namespace

GpuContext* openGpuContext() {
    auto* context = static_cast<GpuContext*>(std::malloc(sizeof(GpuContext)));
    if (context == nullptr) failOutOfMemory(kSiteGpuContext);
    std::memset(context, 0, sizeof(GpuContext));
    context->emptyName[0] = 0;

    if (gpuLibraryUsers == 0) NvAPI_Initialize();
    ++gpuLibraryUsers;

    context->physicalCount = 0;
    context->tccCount = 0;
    context->count = 0;
    uint32_t reported = 0;
    if (NvAPI_EnumPhysicalGPUs(context->physicalHandles, &reported) == 0) {
        context->physicalCount = enumeratedCount(reported);
    }
    reported = 0;
    if (NvAPI_EnumTCCPhysicalGPUs(context->tccHandles, &reported) == 0) {
        context->tccCount = enumeratedCount(reported);
    }
    context->count = context->physicalCount + context->tccCount;
    if (context->count != 0) {
        context->found = 1;
        std::memcpy(context->handles, context->physicalHandles,
                    sizeof(NvPhysicalGpuHandle) * static_cast<size_t>(context->physicalCount));
        std::memcpy(context->handles + context->physicalCount, context->tccHandles,
                    sizeof(NvPhysicalGpuHandle) * static_cast<size_t>(context->tccCount));
    }
    return context;
}

const char16_t* gpuName(GpuContext* context, int32_t index) {
    if (index < 0 || index >= context->count) return context->emptyName;
    char16_t* entry = context->names[index];
    if (entry[0] != 0) return entry;

    char name[kGpuNameBytes] = {};
    if (NvAPI_GPU_GetFullName(context->handles[index], name) != 0) return context->emptyName;
    // Widen byte by byte; the buffer holds at most 64 bytes even when the driver left no terminator.
    int length = 0;
    while (length < kGpuNameBytes && name[length] != 0) {
        entry[length] = static_cast<unsigned char>(name[length]);
        ++length;
    }
    entry[length] = 0;
    if (index >= context->physicalCount) {
        char16_t plain[kGpuNameUnits];
        copyText16(plain, kGpuNameUnits, entry);
        format16(entry, kGpuNameUnits, u"%s TCC", plain);
    }
    return entry;
}

void closeGpuContext(GpuContext* context) {
    --gpuLibraryUsers;
    if (gpuLibraryUsers == 0) NvAPI_Unload();
    std::memset(context, 0, sizeof(GpuContext));
    std::free(context);
}

}  // namespace tarvelon
