// A watched machine's GPU processes over loopback: asked only of a server that announced them, only
// while a window asks, and handed over as the rows a local GPU shows.
#include "net/remote_processes.h"

#include <gtest/gtest.h>

#include <atomic>

#include "net/protocol.h"
#include "net/slot_table.h"
#include "platform/clock.h"
#include "platform/text16.h"
#include "telemetry/gpu_process_watch.h"
#include "unit/net_test_support.h"

namespace tarvelon {
namespace {

using namespace testing_net;

TEST(RemoteProcesses, AskedOnlyOfAnAnnouncingServerAndShownAsRows) {
    startSocketsForTests();
    std::atomic<int> questions{0};
    ScriptedServer server(IpFamily::IPv4, [&questions](uint8_t* buffer, int received) {
        if (received != 3 || buffer[2] != 0x33) return 0;
        ++questions;
        GpuProcessList list{};
        list.count = 2;
        list.total = 5;
        list.processes[0] = {4242, kProcessLoadKnown | kProcessMemoryKnown, 37, 1u << 30, u"render.exe"};
        list.processes[1] = {0, kProcessUnnamed | kProcessMemoryKnown, 0, 1u << 20, u""};
        // The second of two GPUs; the first one's datagram is lost.
        return buildProcessReply(buffer, buffer[0], buffer[1], 1, 2, list);
    });
    ServerSlot& slot = slotTable[5];
    clearSlotTable();
    const ResolvedAddress address = loopbackAddress(IpFamily::IPv4, server.port());
    writeSlotAddress(slot, &address);

    GpuProcessRow rows[8];
    const uint64_t start = tickCountMs();
    askRemoteProcesses(5, 1, start);
    sleepMs(2500);  // two rounds of the asking thread
    EXPECT_EQ(questions.load(), 0) << "a server that did not announce them";
    EXPECT_EQ(readRemoteProcesses(5, 1, rows, 8), -1);

    slot.AnnouncesProcesses.store(1);
    int32_t count = -1;
    EXPECT_TRUE(waitFor([&] {
        askRemoteProcesses(5, 1, tickCountMs());
        count = readRemoteProcesses(5, 1, rows, 8);
        return count >= 0;
    }));
    ASSERT_EQ(count, 2);
    EXPECT_EQ(rows[0].pid, 4242u);
    EXPECT_EQ(toUtf8(rows[0].name), "render.exe");
    EXPECT_EQ(rows[0].loadPct, 37);
    EXPECT_EQ(rows[0].memoryBytes, 1u << 30);
    EXPECT_TRUE(rows[1].unnamed);
    EXPECT_EQ(readRemoteProcesses(5, 0, rows, 8), -1) << "another GPU's rows";

    // Once the window stops asking, so does the thread.
    sleepMs(kProcessAskHoldMs + 1000);
    const int asked = questions.load();
    sleepMs(2000);
    EXPECT_EQ(questions.load(), asked);
    clearSlotTable();
}

}  // namespace
}  // namespace tarvelon
