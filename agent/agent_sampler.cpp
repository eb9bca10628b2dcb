#include "agent/agent_sampler.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "agent/agent_log.h"
#include "platform/clock.h"
#include "platform/fatal.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"

namespace tarvelon {
namespace {

// One pass a second, on a steady schedule: a pause after each pass would add a wake-up every ten.
constexpr uint64_t kPassPeriodMs = 1000;

}  // namespace

void runAgentPass(AgentSampler& sampler, uint64_t nowMs) {
    char16_t hostName[kSettingTextUnits];
    readSettingText(settings.networkServerHostname, hostName);
    LocalStore store = readLocalStore();
    AgentPassFigures figures{};
    const bool keep = sampler.keepFigures;
    const HostSourceGaps gaps =
        sampleLinuxHost(sampler.host, nowMs, hostName, store.host, keep ? &figures.hostFigures : nullptr);
    sampleNvmlGpus(sampler.gpus, store, keep ? &figures.answers : nullptr);
    publishLocalStore(store);
    if (keep) {
        figures.host = store.host;
        figures.gpuSlots = std::min(sampler.gpus.count, kGpuSlots);
        std::lock_guard<std::mutex> guard(sampler.figuresLock);
        sampler.figures = std::move(figures);
    }
    for (const std::string& line : hostGapLines(sampler.gaps, gaps)) logLine(line);
    sampler.gaps = gaps;
}

AgentPassFigures latestPassFigures(AgentSampler& sampler) {
    std::lock_guard<std::mutex> guard(sampler.figuresLock);
    return sampler.figures;
}

void startAgentSampler(AgentSampler& sampler) {
    startThreadOrFail(kSiteSamplerThread, [&sampler] {
        return std::thread([&sampler] {
            uint64_t dueMs = tickCountMs();
            for (;;) {
                dueMs += kPassPeriodMs;
                const uint64_t nowMs = tickCountMs();
                if (dueMs > nowMs) {
                    sleepMs(static_cast<uint32_t>(dueMs - nowMs));
                } else {
                    dueMs = nowMs;  // late (a suspended machine): no passes to catch up on
                }
                runAgentPass(sampler, tickCountMs());
            }
        });
    }).detach();
}

}  // namespace tarvelon
