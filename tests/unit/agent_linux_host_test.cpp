// The agent's host sampler against fixture trees laid out like /proc and /sys: the fields it fills on
// the first pass, the rates of the second, and counters that wrap, restart or appear between passes.
#include <gtest/gtest.h>

#include "agent/linux_host.h"
#include "agent_fixture_root.h"
#include "telemetry/text16.h"

namespace tarvelon {
namespace {

class LinuxHostTest : public ::testing::Test {
  protected:
    void SetUp() override { root.writeTypicalMachine(); }

    HostSourceGaps pass(uint64_t nowMs, const char16_t* name = u"fixture") {
        return sampleLinuxHost(sampler, nowMs, name, host);
    }

    FixtureRoot root;
    LinuxHostSampler sampler = makeLinuxHostSampler(root.path());
    HostRecord host{};
};

TEST_F(LinuxHostTest, FirstPassFillsEverythingButTheRates) {
    const HostSourceGaps gaps = pass(1000);
    EXPECT_FALSE(gaps.processorTimes || gaps.memory || gaps.frequencies || gaps.network);
    EXPECT_EQ(toUtf8(host.hostName), "fixture");
    EXPECT_EQ(host.cpuCount, 4);
    EXPECT_EQ(host.cpuMhz, 2000);
    EXPECT_EQ(host.cpuMaxFreqPct, 50);
    EXPECT_EQ(host.processCount, 3);
    EXPECT_EQ(host.threadCount, 321);
    EXPECT_EQ(host.physTotalMb, 16384u);
    EXPECT_EQ(host.physFreeMb, 8192u);
    EXPECT_EQ(host.physUsedPct, 50);
    EXPECT_EQ(host.pageTotalMb, 12288u);  // CommitLimit
    EXPECT_EQ(host.pageFreeMb, 8192u);    // CommitLimit - Committed_AS
    EXPECT_EQ(host.pageUsedPct, 34);      // 100 - trunc(66.67)
    EXPECT_EQ(host.cpuLoad, 0);
    EXPECT_EQ(host.netIoMbit, 0);
}

TEST_F(LinuxHostTest, LoadComesFromTheTicksBetweenPasses) {
    pass(1000);
    // 300 busy ticks (user, system, irq) and 100 idle ones since the first pass.
    root.writeStat({250, 0, 200, 880, 20, 50, 0, 0}, {0, 1, 2, 3});
    pass(2000);
    EXPECT_EQ(host.cpuLoad, 75);
    // No tick passed: the load keeps its value instead of dividing by nothing.
    pass(3000);
    EXPECT_EQ(host.cpuLoad, 75);
}

TEST_F(LinuxHostTest, EachInterfaceIsReducedToWholeMegabytesBeforeSumming) {
    root.writeNetDev({{"lo", 5000000, 5000000}, {"eth0", 1000, 2000}, {"eth1", 0, 0}, {"wlan0", 0, 0}});
    pass(1000);
    // Over two seconds: eth0 and eth1 each receive 1.5 MB/s, wlan0 sends 0.9 MB/s, loopback moves
    // 100 MB/s and is left out.
    root.writeNetDev({{"lo", 5000000 + 209715200, 5000000 + 209715200},
                      {"eth0", 1000 + 3145728, 2000},
                      {"eth1", 3145728, 0},
                      {"wlan0", 0, 1887437}});
    pass(3000);
    EXPECT_EQ(host.netIoMbit, 16);  // (1 + 1 + 0) whole MB/s, times 8
}

TEST_F(LinuxHostTest, CountersThatWrapOrRestartBetweenPasses) {
    struct Case {
        const char* what;
        uint64_t before;
        uint64_t after;
        uint16_t netIoMbit;
    };
    const Case cases[] = {
        {"a 32-bit counter wraps: 2 MiB before the top, 2 MiB after it", 4294967296u - 2097152, 2097152, 32},
        {"a 64-bit counter that restarted counts nothing this pass", 50000000000u, 1000, 0},
        {"a small counter that fell far counts nothing this pass", 1000000000u, 1000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LinuxHostSampler fresh = makeLinuxHostSampler(root.path());
        root.writeNetDev({{"eth0", c.before, 0}});
        sampleLinuxHost(fresh, 1000, u"fixture", host);
        root.writeNetDev({{"eth0", c.after, 0}});
        sampleLinuxHost(fresh, 2000, u"fixture", host);
        EXPECT_EQ(host.netIoMbit, c.netIoMbit);
    }
}

TEST_F(LinuxHostTest, AnInterfaceThatAppearsCountsFromItsSecondPass) {
    root.writeNetDev({{"eth0", 0, 0}});
    pass(1000);
    root.writeNetDev({{"eth0", 1048576, 0}, {"wg0", 900000000, 900000000}});
    pass(2000);
    EXPECT_EQ(host.netIoMbit, 8);  // wg0's counters so far are no traffic of this second
    root.writeNetDev({{"eth0", 2097152, 0}, {"wg0", 900000000 + 2097152, 900000000}});
    pass(3000);
    EXPECT_EQ(host.netIoMbit, 24);  // eth0 1 MB/s, wg0 2 MB/s
    root.writeNetDev({{"wg0", 900000000 + 2097152, 900000000}});
    pass(4000);
    EXPECT_EQ(host.netIoMbit, 0);  // eth0 is gone, wg0 idle
}

TEST_F(LinuxHostTest, FrequencyMeansCoverTheOnlineProcessorsWithCpufreq) {
    // Processors 0 and 2 online (1 is offline and has no line), 2 has no cpufreq directory; 5 boosts
    // past its maximum.
    root.writeStat({100, 0, 100, 800, 0, 0, 0, 0}, {0, 2, 5});
    root.writeFrequency(0, 1000000, 3000000);
    root.remove("/sys/devices/system/cpu/cpu2/cpufreq/scaling_cur_freq");
    root.writeFrequency(5, 3300000, 3000000);
    pass(1000);
    EXPECT_EQ(host.cpuCount, 3);
    EXPECT_EQ(host.cpuMhz, 2150);       // (1000 + 3300) / 2
    EXPECT_EQ(host.cpuMaxFreqPct, 71);  // (trunc 33.3 + trunc 110) / 2
}

TEST_F(LinuxHostTest, MissingSourcesAreReportedAndLeaveTheirFields) {
    pass(1000);
    for (int processor = 0; processor < 4; ++processor) {
        root.remove("/sys/devices/system/cpu/cpu" + std::to_string(processor) + "/cpufreq/scaling_cur_freq");
    }
    root.remove("/proc/meminfo");
    root.remove("/proc/stat");
    root.remove("/proc/net/dev");
    const HostSourceGaps gaps = pass(2000);
    EXPECT_TRUE(gaps.processorTimes && gaps.memory && gaps.frequencies && gaps.network);
    EXPECT_EQ(host.cpuCount, 4);  // as before
    EXPECT_EQ(host.physTotalMb, 16384u);
    EXPECT_EQ(host.cpuMhz, 0);  // no processor frequency: no clock
    EXPECT_EQ(host.cpuMaxFreqPct, 0);
    EXPECT_EQ(host.netIoMbit, 0);
}

TEST_F(LinuxHostTest, OvercommittedMemoryShowsNoCommitAvailable) {
    root.writeMeminfo(8388608, 1048576, 4194304, 9000000);  // Committed_AS above CommitLimit
    pass(1000);
    EXPECT_EQ(host.pageTotalMb, 4096u);
    EXPECT_EQ(host.pageFreeMb, 0u);
    EXPECT_EQ(host.pageUsedPct, 100);
}

TEST_F(LinuxHostTest, TheVisibleNameIsCutAtThirtyNineCharacters) {
    pass(1000, u"a-build-machine-with-a-rather-long-host-name.example.org");
    EXPECT_EQ(toUtf8(host.hostName), "a-build-machine-with-a-rather-long-host");
    EXPECT_EQ(host.hostName[kRecordTextUnits - 1], 0);
}

TEST(LinuxHostMachine, TheMachineItselfGivesPlausibleFigures) {
    LinuxHostSampler sampler = makeLinuxHostSampler("/");
    HostRecord host{};
    sampleLinuxHost(sampler, 1000, u"self", host);
    EXPECT_GT(host.cpuCount, 0);
    EXPECT_GT(host.physTotalMb, 0u);
    EXPECT_GT(host.processCount, 0);
    EXPECT_GT(host.threadCount, 0);
}

}  // namespace
}  // namespace tarvelon
