// The agent's sampler: one pass over the host's files and the GPUs, computed on a copy of the local
// store and published whole, once a second, forever, on a thread of its own. The query server
// answers from the store exactly as the panel program's does.
#pragma once

#include <cstdint>
#include <mutex>

#include "agent/linux_host.h"
#include "agent/machine_figures.h"
#include "agent/nvml_gpus.h"

namespace tarvelon {

struct AgentSampler {
    LinuxHostSampler host;
    NvmlGpus gpus;
    HostSourceGaps gaps;  // as the last pass found them
    bool keepFigures;      // for the metrics endpoint; set before the first pass
    std::mutex figuresLock;  // the sampler thread writes figures, the metrics endpoint reads them
    AgentPassFigures figures;
};

// A copy of what the last pass saw, for the metrics endpoint.
AgentPassFigures latestPassFigures(AgentSampler& sampler);

// One pass at nowMs (monotonic); logs the host sources that went missing or came back.
void runAgentPass(AgentSampler& sampler, uint64_t nowMs);

// Runs passes on a new thread until the process ends; sampler must outlive it.
void startAgentSampler(AgentSampler& sampler);

}  // namespace tarvelon
