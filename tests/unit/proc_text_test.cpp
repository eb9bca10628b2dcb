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

}  // namespace
}  // namespace tarvelon
