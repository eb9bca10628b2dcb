#include "agent/agent_sampler.h"

#include <algorithm>
#include <utility>

#include "agent/agent_log.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"

namespace tarvelon {
namespace {

// One pass at nowMs; the caller holds passLock.
void runPass(AgentSampler& sampler, uint64_t nowMs) {
    char16_t hostName[kSettingTextUnits];
    readSettingText(settings.networkServerHostname, hostName);
    LocalStore store = readLocalStore();
    AgentPassFigures figures{};
    const bool keep = sampler.keepFigures;
    const HostSourceGaps gaps =
        sampleLinuxHost(sampler.host, nowMs, hostName, store.host, keep ? &figures.hostFigures : nullptr);
    sampleNvmlGpus(sampler.gpus, sampler.host.root, store, keep ? &figures.answers : nullptr);
    const int32_t gpuSlots =
        sampleDrmGpus(sampler.drm, nowMs, sampler.gpus.count, store, keep ? &figures.answers : nullptr);
    publishLocalStore(store);
    if (keep) {
        figures.host = store.host;
        figures.gpuSlots = gpuSlots;
        sampler.figures = std::move(figures);
    }
    for (const std::string& line : hostGapLines(sampler.gaps, gaps)) logLine(line);
    sampler.gaps = gaps;
    sampler.passed = true;
    sampler.passMs = nowMs;
}

bool refreshLocked(AgentSampler& sampler, uint64_t nowMs) {
    if (sampler.passed && nowMs < sampler.passMs + kFiguresFreshMs) return false;
    runPass(sampler, nowMs);
    return true;
}

}  // namespace

bool refreshAgentFigures(AgentSampler& sampler, uint64_t nowMs) {
    std::lock_guard<std::mutex> guard(sampler.passLock);
    return refreshLocked(sampler, nowMs);
}

AgentPassFigures freshPassFigures(AgentSampler& sampler, uint64_t nowMs) {
    std::lock_guard<std::mutex> guard(sampler.passLock);
    refreshLocked(sampler, nowMs);
    return sampler.figures;
}

}  // namespace tarvelon
