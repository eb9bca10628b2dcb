// The kernel's text files as figures: what each parser accepts and refuses, and the delta rules for
// processor ticks and interface counters.
#include <gtest/gtest.h>

#include "agent/proc_figures.h"

namespace tarvelon {
namespace {

TEST(ProcStat, ReadsTheAggregateLineAndTheOnlineProcessors) {
    ProcStat stat;
    ASSERT_TRUE(
        parseProcStat("cpu  10 1 20 300 4 5 6 7 8 9\ncpu0 1 1 1 1\ncpu3 2 2 2 2\ncpufreq 1\n"
                      "cpu4294967295 1 1 1 1\ncpu65536 1 1 1 1\nintr 5\n",
                      &stat));
    EXPECT_EQ(stat.times[0], 10u);
    EXPECT_EQ(stat.times[7], 7u);  // steal; guest and guest_nice are inside user and nice
    EXPECT_EQ(stat.processors, (std::vector<int>{0, 3}));
    EXPECT_FALSE(stat.forksRead);
    ASSERT_TRUE(parseProcStat("cpu 1 2 3 4\nintr 1 2\nprocesses 98765\nprocs_running 1\n", &stat));
    EXPECT_TRUE(stat.forksRead);
    EXPECT_EQ(stat.forks, 98765u);

    // An old kernel with four fields still gives a load; text without the aggregate line gives none.
    EXPECT_TRUE(parseProcStat("cpu 1 2 3 4\n", &stat));
    EXPECT_EQ(stat.times[4], 0u);
    EXPECT_FALSE(parseProcStat("cpu0 1 2 3 4\nintr 7\n", &stat));
    EXPECT_FALSE(parseProcStat("cpu 1 2\n", &stat));
    EXPECT_FALSE(parseProcStat("", &stat));
}

TEST(ProcStat, BusyPercentCountsIoWaitAsIdleAndIgnoresFieldsThatGoBack) {
    ProcStat before{{100, 0, 100, 700, 100, 0, 0, 0}, {}, 0, false};
    ProcStat now{{160, 0, 120, 710, 110, 0, 0, 0}, {}, 0, false};  // 80 busy of 100
    double percent = -1;
    ASSERT_TRUE(busyPercent(before, now, &percent));
    EXPECT_DOUBLE_EQ(percent, 80.0);

    now.times[4] = 90;  // I/O wait went backwards: it adds no ticks instead of a huge unsigned gap
    ASSERT_TRUE(busyPercent(before, now, &percent));
    EXPECT_DOUBLE_EQ(percent, 80.0 / 90.0 * 100.0);

    EXPECT_FALSE(busyPercent(before, before, &percent));
}

TEST(Meminfo, PhysicalAndCommitFigures) {
    MemoryStatus status{};
    ASSERT_TRUE(
        parseMemoryFigures("MemTotal: 2048 kB\nMemFree: 512 kB\nMemAvailable: 1024 kB\n"
                           "CommitLimit: 4096 kB\nCommitted_AS: 1024 kB\n",
                           true, &status));
    EXPECT_EQ(status.totalPhys, 2048u * 1024);
    EXPECT_EQ(status.availPhys, 1024u * 1024);
    EXPECT_EQ(status.totalPageFile, 4096u * 1024);
    EXPECT_EQ(status.availPageFile, 3072u * 1024);

    // A kernel without MemAvailable offers MemFree; a field name is matched whole, at a line start.
    ASSERT_TRUE(parseMemoryFigures("XMemTotal: 1 kB\nMemTotal: 2048 kB\nMemFree: 512 kB\n", true, &status));
    EXPECT_EQ(status.totalPhys, 2048u * 1024);
    EXPECT_EQ(status.availPhys, 512u * 1024);
    EXPECT_EQ(status.totalPageFile, 0u);

    EXPECT_FALSE(parseMemoryFigures("MemFree: 512 kB\n", false, &status));
    EXPECT_FALSE(parseMemoryFigures("MemTotal: 2048 kB\n", false, &status));
}

TEST(InterfaceCounters, DeltaRules) {
    struct Case {
        uint64_t before;
        uint64_t now;
        uint64_t delta;
    };
    const Case cases[] = {
        {1000, 1000, 0},
        {1000, 5000, 4000},
        {4294967000u, 704, 1000},                   // a 32-bit counter wrapped
        {4294967295u, 0, 1},                        // wrapped at the very top
        {2147483648u, 0, 2147483648u},              // the largest gap taken for a wrap
        {2147483647u, 0, 0},                        // a larger one is a restart
        {uint64_t{1} << 40, 1000, 0},               // a 64-bit counter never wraps: a restart
        {0, uint64_t{1} << 40, uint64_t{1} << 40},  // 64-bit counters count on
    };
    for (const Case& c : cases) {
        EXPECT_EQ(counterDelta(c.before, c.now), c.delta) << c.before << " -> " << c.now;
    }
}

TEST(InterfaceCounters, RatesLeaveOutLoopbackAndNewInterfacesAndHoldTo32Bits) {
    const std::vector<InterfaceBytes> before = {{"lo", 0, 0}, {"eth0", 0, 0}, {"big", 0, 0}};
    const std::vector<InterfaceBytes> now = {
        {"lo", 1000, 1000}, {"eth0", 3001, 999}, {"big", uint64_t{1} << 36, 0}, {"new0", 500, 500}};
    const std::vector<InterfaceRate> rates = interfaceRates(before, now, 2.0);
    ASSERT_EQ(rates.size(), 2u);
    EXPECT_EQ(rates[0].name, "eth0");
    EXPECT_EQ(rates[0].receivedPerSecond, 1500);  // truncated
    EXPECT_EQ(rates[0].sentPerSecond, 499);
    EXPECT_EQ(rates[1].name, "big");
    EXPECT_EQ(rates[1].receivedPerSecond, 2147483647);

    EXPECT_TRUE(interfaceRates(before, now, 0.0).empty());
}

TEST(Cpufreq, KilohertzValues) {
    double kilohertz = 0;
    EXPECT_TRUE(parseKilohertz("2400000\n", &kilohertz));
    EXPECT_EQ(kilohertz, 2400000.0);
    EXPECT_FALSE(parseKilohertz("0\n", &kilohertz));
    EXPECT_FALSE(parseKilohertz("<unknown>\n", &kilohertz));
    EXPECT_FALSE(parseKilohertz("", &kilohertz));
}

}  // namespace
}  // namespace tarvelon
