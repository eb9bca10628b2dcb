#include "platform/posix/proc_text.h"

#include <gtest/gtest.h>

namespace tarvelon {
namespace {

TEST(ProcText, MeminfoGivesBytesAndCommitAsMemoryPlusSwap) {
    MemoryStatus status{};
    ASSERT_TRUE(
        parseMeminfo("MemTotal:       16384000 kB\nMemFree:         1000000 kB\nMemAvailable:    4096000 kB\n"
                     "Buffers:          100 kB\nSwapCached:       0 kB\nSwapTotal:       2048000 "
                     "kB\nSwapFree:        1024000 kB\n",
                     &status));
    EXPECT_EQ(status.totalPhys, 16384000ull * 1024);
    EXPECT_EQ(status.availPhys, 4096000ull * 1024);
    EXPECT_EQ(status.totalPageFile, (16384000ull + 2048000) * 1024);
    EXPECT_EQ(status.availPageFile, (4096000ull + 1024000) * 1024);

    ASSERT_TRUE(parseMeminfo("MemTotal: 1000 kB\nMemFree: 250 kB\n", &status));  // old kernels, no swap
    EXPECT_EQ(status.availPhys, 250ull * 1024);
    EXPECT_EQ(status.totalPageFile, 1000ull * 1024);
    EXPECT_FALSE(parseMeminfo("SwapTotal: 1 kB\n", &status));
}

TEST(ProcText, CpuTimesCountIdleAndIowaitAsNotBusy) {
    uint64_t busy = 0, total = 0;
    ASSERT_TRUE(parseCpuTimes("cpu  100 20 30 800 50 0 0 0 7 0\ncpu0 1 2 3 4\n", &busy, &total));
    EXPECT_EQ(total, 1000u);
    EXPECT_EQ(busy, 150u);
    EXPECT_FALSE(parseCpuTimes("cpu0 1 2 3 4\n", &busy, &total));
    EXPECT_FALSE(parseCpuTimes("cpu 1 2\n", &busy, &total));
}

TEST(ProcText, LoadavgAndNetDev) {
    int32_t threads = 0;
    ASSERT_TRUE(parseLoadavgThreads("0.52 0.58 0.59 3/1234 56789\n", &threads));
    EXPECT_EQ(threads, 1234);
    EXPECT_FALSE(parseLoadavgThreads("garbage", &threads));

    const std::vector<InterfaceBytes> interfaces = parseNetDev(
        "Inter-|   Receive                                                |  Transmit\n"
        " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo "
        "colls "
        "carrier compressed\n"
        "    lo:  123456     100    0    0    0     0          0         0   123456     100    0    0    0   "
        "  0 "
        "      0          0\n"
        "  eth0:9876543210 5000 0 0 0 0 0 0 1234567 4000 0 0 0 0 0 0\n");
    ASSERT_EQ(interfaces.size(), 2u);
    EXPECT_EQ(interfaces[0].name, "lo");
    EXPECT_EQ(interfaces[0].received, 123456u);
    EXPECT_EQ(interfaces[1].name, "eth0");
    EXPECT_EQ(interfaces[1].received, 9876543210u);
    EXPECT_EQ(interfaces[1].sent, 1234567u);
}

TEST(ProcText, MalformedLinesAreRefusedNotMisread) {
    struct Case {
        const char* loadavg;
        bool read;
        int32_t threads;
    } cases[] = {
        {"0.52 0.58 0.59 3/1234 56789\n", true, 1234}, {"0.52 0.58 0.59 31234 56789\n", false, 0},
        {"0.52 0.58\n0.59 3/1234\n", false, 0},       {"0.52 0.58 0.59 3/99999999999 1\n", false, 0},
        {"", false, 0},
    };
    for (const Case& c : cases) {
        int32_t threads = 0;
        EXPECT_EQ(parseLoadavgThreads(c.loadavg, &threads), c.read) << c.loadavg;
        EXPECT_EQ(threads, c.threads) << c.loadavg;
    }

    // A name is matched whole at the start of a line, and its number must follow.
    uint64_t bytes = 0;
    EXPECT_FALSE(meminfoBytes("DirectMemTotal: 5 kB\nMemTotalX: 6 kB\n", "MemTotal", &bytes));
    EXPECT_FALSE(meminfoBytes("MemTotal: kB 7\n", "MemTotal", &bytes));
    EXPECT_TRUE(meminfoBytes("MemTotalX: 6 kB\nMemTotal:   8 kB", "MemTotal", &bytes));
    EXPECT_EQ(bytes, 8192u);

    // An interface line without a name or with too few columns is left out.
    const std::vector<InterfaceBytes> interfaces =
        parseNetDev("   : 1 2 3 4 5 6 7 8 9\n eth1: 1 2 3\n eth2:5 0 0 0 0 0 0 0 6 0 0 0 0 0 0 0");
    ASSERT_EQ(interfaces.size(), 1u);
    EXPECT_EQ(interfaces[0].name, "eth2");
    EXPECT_EQ(interfaces[0].received, 5u);
    EXPECT_EQ(interfaces[0].sent, 6u);
}

}  // namespace
}  // namespace tarvelon
