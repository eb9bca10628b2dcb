// startSampler against the real platform: the performance counters this system offers, the priming
// pass, and the thread that keeps refreshing the local store. The sampler thread keeps its GPU
// library loaded for good, so this program runs without the simulated library.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/clock.h"
#include "platform/sensors.h"
#include "platform/text16.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"
#include "telemetry/sampler.h"
#include "wine/simulated_driver.h"

namespace tarvelon {
namespace {

const char* const kCounterNames[kPerfCounterCount] = {
    "% Processor Time", "% of Maximum Frequency", "Processor Frequency", "Processes",
    "Threads",          "Bytes Received/sec",     "Bytes Sent/sec",
};

// Polls the store for up to a minute; true once the condition holds.
template <typename Condition>
bool eventually(Condition condition) {
    for (int i = 0; i < 600; ++i) {
        if (condition(readLocalStore())) return true;
        sleepMs(100);
    }
    return false;
}

TEST(SamplerThread, PrimesTheStoreAndKeepsItFresh) {
    removeSimulatedDriver();
    ASSERT_FALSE(fileExists(installedDriverLibrary()));
    clearSettings();
    writeSettingText(settings.networkServerHostname, u"first");

    // Which counters this system offers, for the log.
    bool added[kPerfCounterCount] = {};
    const bool queryOpens = openPerfQuery(added);
    closePerfQuery();
    std::printf("counter query: %s\n", queryOpens ? "opened" : "unavailable");
    for (int i = 0; i < kPerfCounterCount; ++i)
        std::printf("  %-24s %s\n", kCounterNames[i], added[i] ? "yes" : "no");

    startSampler();
    LocalStore store = readLocalStore();
    EXPECT_EQ(toUtf8(store.host.hostName), "first");
    EXPECT_GT(store.host.physTotalMb, 0u);
    EXPECT_GT(store.host.cpuCount, 0);
    EXPECT_EQ(store.host.gpuCount, 0);

    writeSettingText(settings.networkServerHostname, u"second");
    ASSERT_TRUE(eventually([](const LocalStore& now) { return toUtf8(now.host.hostName) == "second"; }));
    store = readLocalStore();

    // Where a counter is missing the system fills its field, so the counts and the clock are real
    // whichever source this system offers.
    EXPECT_TRUE(eventually([](const LocalStore& now) { return now.host.processCount > 0; }));
    EXPECT_TRUE(eventually([](const LocalStore& now) { return now.host.threadCount >= now.host.processCount; }));
    EXPECT_TRUE(eventually([](const LocalStore& now) { return now.host.cpuMhz > 0; }));
    store = readLocalStore();
    std::printf("cpuLoad %u cpuMhz %u cpuMaxFreqPct %u processCount %u threadCount %u netIoMbit %u\n",
                store.host.cpuLoad, store.host.cpuMhz, store.host.cpuMaxFreqPct, store.host.processCount,
                store.host.threadCount, store.host.netIoMbit);
}

}  // namespace
}  // namespace tarvelon
