#include "agent/agent_sampler.h"

#include <thread>

#include "agent/agent_log.h"
#include "platform/clock.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"

namespace tarvelon {
namespace {

constexpr uint32_t kPassPauseMs = 900;

}  // namespace

void runAgentPass(AgentSampler& sampler, uint64_t nowMs) {
    char16_t hostName[kSettingTextUnits];
    readSettingText(settings.networkServerHostname, hostName);
    LocalStore store = readLocalStore();
    const HostSourceGaps gaps = sampleLinuxHost(sampler.host, nowMs, hostName, store.host);
    sampleNvmlGpus(sampler.gpus, store);
    publishLocalStore(store);
    for (const std::string& line : hostGapLines(sampler.gaps, gaps)) logLine(line);
    sampler.gaps = gaps;
}

void startAgentSampler(AgentSampler& sampler) {
    std::thread([&sampler] {
        for (;;) {
            sleepMs(kPassPauseMs);
            runAgentPass(sampler, tickCountMs());
        }
    }).detach();
}

}  // namespace tarvelon
