// The desk's rows of a GPU as the processes answer carries them.
#include "net/local_processes.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text16.h"

namespace tarvelon {
namespace {

TEST(WireListOfRows, CutsToADatagramAndKeepsTheUnnamedRowNameless) {
    GpuRecord gpu{};
    gpu.pciBus = 7;
    GpuProcessRow rows[20]{};
    for (int i = 0; i < 20; ++i) {
        rows[i].pid = 500u + static_cast<uint32_t>(i);
        rows[i].loadPct = 40;
        rows[i].memoryBytes = 1u << 20;
        copyText16(rows[i].name, kProcessNameUnits, u"render.exe");
    }
    rows[1].unnamed = true;
    struct Case {
        int32_t rowCount;
        int32_t count;
        uint16_t total;
    };
    for (const Case& c : {Case{-1, 0, 0}, Case{0, 0, 0}, Case{2, 2, 2}, Case{20, 16, 20}}) {
        const GpuProcessList list = wireListOfRows(gpu, rows, c.rowCount);
        EXPECT_EQ(list.pciBus, 7);
        EXPECT_EQ(list.count, c.count) << c.rowCount;
        EXPECT_EQ(list.total, c.total) << c.rowCount;
    }
    const GpuProcessList list = wireListOfRows(gpu, rows, 2);
    EXPECT_EQ(list.processes[0].pid, 500u);
    EXPECT_EQ(toUtf8(list.processes[0].name), "render.exe");
    EXPECT_EQ(list.processes[0].flags, kProcessLoadKnown | kProcessMemoryKnown);
    EXPECT_EQ(list.processes[1].pid, 0u);
    EXPECT_EQ(list.processes[1].name[0], 0);
    EXPECT_EQ(list.processes[1].flags, kProcessLoadKnown | kProcessMemoryKnown | kProcessUnnamed);
}

}  // namespace
}  // namespace tarvelon
