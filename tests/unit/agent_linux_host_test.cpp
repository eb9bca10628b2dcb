// The agent's host sampler against fixture trees laid out like /proc and /sys: the fields it fills on
// the first pass, the rates of the second, and counters that wrap, restart or appear between passes.
#include <gtest/gtest.h>

#include "agent/linux_host.h"
#include "agent_fixture_root.h"
#include "platform/text16.h"

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
    EXPECT_EQ(host.pageTotalMb, 16384u);  // physical memory, no swap
    EXPECT_EQ(host.pageFreeMb, 8192u);
    EXPECT_EQ(host.pageUsedPct, 50);
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

TEST_F(LinuxHostTest, WithoutCpufreqTheClockComesFromCpuinfo) {
    for (int processor = 0; processor < 4; ++processor)
        root.removeTree("/sys/devices/system/cpu/cpu" + std::to_string(processor));
    root.write("/proc/cpuinfo",
               "processor\t: 0\ncpu MHz\t\t: 2400.000\nflags\t\t: fpu\n\n"
               "processor\t: 1\ncpu MHz\t\t: 2601.999\n\n");
    EXPECT_FALSE(pass(1000).frequencies);
    EXPECT_EQ(host.cpuMhz, 2500);      // (2400 + 2601) / 2
    EXPECT_EQ(host.cpuMaxFreqPct, 0);  // no maximum told
}

TEST_F(LinuxHostTest, ACpuinfoClockThatStandsStillIsReadOnceAMinute) {
    for (int processor = 0; processor < 4; ++processor)
        root.removeTree("/sys/devices/system/cpu/cpu" + std::to_string(processor));
    const auto writeClocks = [&](int megahertz) {
        std::string text;
        for (int processor = 0; processor < 4; ++processor)
            text += "processor\t: " + std::to_string(processor) +
                    "\ncpu MHz\t\t: " + std::to_string(megahertz) + ".000\n\n";
        root.write("/proc/cpuinfo", text);
    };
    writeClocks(2000);
    pass(1000);
    pass(2000);  // the same clocks twice: standing still
    writeClocks(3000);
    const struct {
        uint64_t atMs;
        int megahertz;
    } passes[] = {{3000, 2000}, {61999, 2000}, {62000, 3000}, {63000, 3000}};
    for (const auto& p : passes) {
        pass(p.atMs);
        EXPECT_EQ(host.cpuMhz, p.megahertz) << p.atMs;
    }
    // A clock that moved between two reads is read every pass.
    writeClocks(3100);
    pass(130000);
    writeClocks(3200);
    pass(131000);
    EXPECT_EQ(host.cpuMhz, 3200);
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

TEST_F(LinuxHostTest, CommitFiguresFollowTheOvercommitMode) {
    // 24 GiB with 20 GiB available, 2 GiB swap with 1 GiB free, CommitLimit 14 GiB.
    struct Case {
        int mode;  // -1: no overcommit_memory file
        uint64_t committedKb;
        uint32_t totalMb, freeMb;
        uint8_t usedPct;
    } cases[] = {
        {0, 13631488, 26624, 21504, 20}, {1, 13631488, 26624, 21504, 20}, {-1, 13631488, 26624, 21504, 20},
        {2, 13631488, 14336, 1024, 93},  {2, 15728640, 14336, 0, 100},  // more committed than the limit
    };
    uint64_t nowMs = 1000;
    for (const Case& c : cases) {
        root.writeMeminfo(25165824, 20971520, 14680064, c.committedKb, 2097152, 1048576);
        if (c.mode < 0) {
            root.remove("/proc/sys/vm/overcommit_memory");
        } else {
            root.writeOvercommit(c.mode);
        }
        pass(nowMs);
        nowMs += 60000;  // the mode is looked at once a minute
        EXPECT_EQ(host.pageTotalMb, c.totalMb) << c.mode;
        EXPECT_EQ(host.pageFreeMb, c.freeMb) << c.mode;
        EXPECT_EQ(host.pageUsedPct, c.usedPct) << c.mode;
        EXPECT_EQ(host.physTotalMb, 24576u);
    }
}

TEST_F(LinuxHostTest, ProcessesAreListedAgainOnlyWhenATaskWasCreatedOrEnded) {
    struct Case {
        const char* what;
        uint64_t forks;
        int threads;
        int present;  // process directories
        int32_t processes;
    } cases[] = {
        {"counters unchanged: the last count stands", 4321, 321, 5, 3},
        {"a task was created", 4322, 321, 5, 5},
        {"a task ended", 4322, 320, 4, 4},
        {"a fork and an exit", 4323, 320, 6, 6},
    };
    pass(1000);
    for (const Case& c : cases) {
        root.writeProcesses(c.present);
        for (int pid = c.present + 1; pid <= 9; ++pid) root.remove("/proc/" + std::to_string(pid * 7));
        root.writeStat({100, 0, 100, 800, 0, 0, 0, 0}, {0, 1, 2, 3}, c.forks);
        root.writeLoadavg(c.threads);
        pass(2000);
        EXPECT_EQ(host.processCount, c.processes) << c.what;
    }
    root.write("/proc/stat", "cpu 1 2 3 4\n");  // no fork counter: listed every pass
    root.writeProcesses(9);
    pass(3000);
    EXPECT_EQ(host.processCount, 9);
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
