#include "telemetry/gpu_processes.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kSecond = 10'000'000;  // 100 ns units

ProcessOnGpu process(uint32_t pid, uint64_t start, const char16_t* name, int64_t node0, int64_t node1,
                     uint64_t memory) {
    ProcessOnGpu on{};
    on.pid = pid;
    on.startTime = start;
    copyText16(on.name, kProcessNameUnits, name);
    on.nodeCount = 2;
    on.nodeRead[0] = on.nodeRead[1] = true;
    on.runningTimes[0] = node0;
    on.runningTimes[1] = node1;
    on.dedicatedBytes = memory;
    return on;
}

// A second apart: render.exe ran 40 % of it on the 3D engine and holds 512 MB, encode.exe ran 60 % on
// the video engine and holds nothing, idle.exe did nothing. The adapter's engines ran exactly that.
struct Samples {
    GpuProcessSample before{};
    GpuProcessSample after{};
};
void healthy(Samples& s) {
    s.before.taken = s.after.taken = true;
    s.before.takenAt = 50 * kSecond;
    s.after.takenAt = 51 * kSecond;
    s.before.count = s.after.count = 3;
    s.before.processes[0] = process(100, 7, u"render.exe", 10'000'000, 0, 500 * kMiB);
    s.after.processes[0] = process(100, 7, u"render.exe", 14'000'000, 0, 512 * kMiB);
    s.before.processes[1] = process(200, 8, u"encode.exe", 0, 2'000'000, 0);
    s.after.processes[1] = process(200, 8, u"encode.exe", 0, 8'000'000, 0);
    s.before.processes[2] = process(300, 9, u"idle.exe", 5, 5, 0);
    s.after.processes[2] = process(300, 9, u"idle.exe", 5, 5, 0);
    for (GpuProcessSample* sample : {&s.before, &s.after}) {
        sample->nodeCount = 2;
        sample->nodeRead[0] = sample->nodeRead[1] = true;
        sample->dedicatedRead = true;
        sample->dedicatedBytes = 512 * kMiB;
    }
    s.before.runningTimes[0] = 10'000'000;
    s.after.runningTimes[0] = 14'000'000;
    s.before.runningTimes[1] = 2'000'000;
    s.after.runningTimes[1] = 8'000'000;
}

std::string ranked(const Samples& s, int32_t capacity) {
    GpuProcessRow rows[kMaxProcessRows];
    const int32_t count = rankGpuProcesses(s.before, s.after, rows, capacity);
    std::string text;
    for (int32_t i = 0; i < count; ++i) {
        const GpuProcessRow& row = rows[i];
        if (!text.empty()) text += " | ";
        text += row.unnamed ? "others" : std::to_string(row.pid) + " " + toUtf8(row.name);
        text += " " + std::to_string(row.loadPct) + "% " + std::to_string(row.memoryBytes / kMiB) + "MB";
    }
    return text;
}

TEST(GpuProcesses, SharesAndOrder) {
    struct Case {
        const char* what;
        std::function<void(Samples&)> change;
        int32_t capacity;
        const char* expected;
    };
    const Case cases[] = {
        {"healthy: by load, idle left out", [](Samples&) {}, kMaxProcessRows,
         "200 encode.exe 60% 0MB | 100 render.exe 40% 512MB"},
        {"the capacity keeps the busiest", [](Samples&) {}, 1, "200 encode.exe 60% 0MB"},
        {"an id reused by a new process: its own name, no share against the old counters",
         [](Samples& s) { s.after.processes[0] = process(100, 99, u"new.exe", 14'000'000, 0, 512 * kMiB); },
         kMaxProcessRows, "200 encode.exe 60% 0MB | 100 new.exe 0% 512MB"},
        {"a process that ended is gone, one that started has no share yet",
         [](Samples& s) { s.after.processes[1] = process(400, 10, u"late.exe", 9'000'000, 0, 0); },
         kMaxProcessRows, "100 render.exe 40% 512MB"},
        {"a counter that went backwards says nothing; the other engine still does",
         [](Samples& s) {
             s.after.processes[0].runningTimes[0] = 1'000;
             s.after.processes[0].runningTimes[1] = 1'000'000;
         },
         kMaxProcessRows, "200 encode.exe 60% 0MB | 100 render.exe 10% 512MB"},
        {"an unread engine says nothing", [](Samples& s) { s.after.processes[1].nodeRead[1] = false; },
         kMaxProcessRows, "100 render.exe 40% 512MB"},
        {"more running time than wall time is 100 %, never more",
         [](Samples& s) { s.after.processes[0].runningTimes[0] = 30'000'000; }, kMaxProcessRows,
         "100 render.exe 100% 512MB | 200 encode.exe 60% 0MB"},
        {"too short a window gives no share, memory still counts",
         [](Samples& s) { s.after.takenAt = s.before.takenAt + kSecond / 10; }, kMaxProcessRows,
         "100 render.exe 0% 512MB"},
        {"the first sample alone gives no share", [](Samples& s) { s.before.taken = false; }, kMaxProcessRows,
         "100 render.exe 0% 512MB"},
        {"equal loads: more memory first, then the lower id",
         [](Samples& s) {
             s.after.processes[1].runningTimes[1] = 6'000'000;
             s.after.processes[2] = process(50, 9, u"twin.exe", 5, 4'000'005, 0);
             s.before.processes[2].pid = 50;
         },
         kMaxProcessRows, "100 render.exe 40% 512MB | 50 twin.exe 40% 0MB | 200 encode.exe 40% 0MB"},
        {"processes not opened: what the adapter shows beyond the named ones",
         [](Samples& s) {
             s.after.unopened = 2;
             s.after.runningTimes[0] = 17'000'000;
             s.after.dedicatedBytes = 1536 * kMiB;
         },
         kMaxProcessRows, "200 encode.exe 60% 0MB | 100 render.exe 40% 512MB | others 30% 1024MB"},
        {"processes not opened, yet the named ones account for everything: no row",
         [](Samples& s) {
             s.after.unopened = 2;
             s.after.runningTimes[0] = 12'000'000;
             s.after.dedicatedBytes = 100 * kMiB;
         },
         kMaxProcessRows, "200 encode.exe 60% 0MB | 100 render.exe 40% 512MB"},
    };
    for (const Case& c : cases) {
        Samples s;
        healthy(s);
        c.change(s);
        EXPECT_EQ(ranked(s, c.capacity), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace tarvelon
