// Asking the driver library about one GPU of a context: every operation a sampling pass needs, with
// its request version and parameters, in the order the pass fills the GPU's record.
#pragma once

#include "telemetry/gpu_context.h"
#include "telemetry/sampler_pass.h"

namespace tarvelon {

// The clock answers land in the context's two buffers, which readings then points to.
void readGpuReadings(GpuContext* context, int32_t index, GpuReadings* readings);

}  // namespace tarvelon
