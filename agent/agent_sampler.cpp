#include "agent/agent_sampler.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>

#include "agent/agent_log.h"
#include "agent/process_answer.h"
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
        figures.gpuProcesses = std::move(sampler.figures.gpuProcesses);
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

namespace {

// The processes using the GPUs the last pass found, NVIDIA's in the first slots; the caller holds
// passLock.
void lookForProcesses(AgentSampler& sampler, uint64_t nowMs) {
    std::vector<GpuProcess> processes;
    readNvmlProcesses(sampler.nvmlProcesses, sampler.gpus, &processes);
    const int firstSlot = std::min(sampler.gpus.count, kGpuSlots);
    std::vector<std::string> addresses;
    for (const DrmGpu& gpu : sampler.drm.gpus) {
        if (firstSlot + static_cast<int>(addresses.size()) == kGpuSlots) break;
        addresses.push_back(gpu.address);
    }
    walkDrmProcesses(sampler.drmProcesses, addresses, firstSlot, nowMs * 1000000, &processes);
    std::fill(std::begin(sampler.processTotals), std::end(sampler.processTotals), 0);
    for (const GpuProcess& process : processes) {
        uint16_t& total = sampler.processTotals[process.slot];
        if (total < UINT16_MAX) ++total;
    }
    keepTopProcesses(processes);
    sampler.figures.gpuProcesses = std::move(processes);
    sampler.processesWalked = true;
    sampler.processesWalkedMs = nowMs;
}

bool processesStale(const AgentSampler& sampler, uint64_t nowMs) {
    return !sampler.processesWalked || nowMs >= sampler.processesWalkedMs + kFiguresFreshMs;
}

}  // namespace

AgentPassFigures freshPassFigures(AgentSampler& sampler, uint64_t nowMs) {
    std::lock_guard<std::mutex> guard(sampler.passLock);
    refreshLocked(sampler, nowMs);
    if (sampler.collectProcesses && processesStale(sampler, nowMs)) lookForProcesses(sampler, nowMs);
    return sampler.figures;
}

int processListsForQuery(AgentSampler& sampler, uint64_t nowMs, GpuProcessList (&lists)[kGpuSlots]) {
    std::lock_guard<std::mutex> guard(sampler.passLock);
    refreshLocked(sampler, nowMs);
    if (processesStale(sampler, nowMs)) lookForProcesses(sampler, nowMs);
    return processAnswerLists(sampler.figures.gpuProcesses, sampler.processTotals, readLocalStore(), lists);
}

}  // namespace tarvelon
