#include "telemetry/d3dkmt_figures.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr uint64_t kMiB = 1ull << 20;

// A discrete card's healthy answers: 8 GiB of its own memory with 2 GiB resident, and system memory
// beside it; the 3D engine ran 0.5 s and the copy engine 0.25 s of the last second.
D3dkmtReadings healthyCard() {
    D3dkmtReadings readings{};
    readings.name = u"AMD Radeon RX 6800";
    readings.nameUnits = 19;
    readings.address = {3, 0, 0};
    readings.nodeCount = 2;
    readings.nodes[0] = {true, 25'000'000, 20'000'000, true, 20'000'000, 10'000'000};
    readings.nodes[1] = {true, 7'500'000, 20'000'000, true, 5'000'000, 10'000'000};
    readings.segmentSizeRead = true;
    readings.segmentSize = {8192 * kMiB, 0, 16384 * kMiB};
    readings.segmentCount = 2;
    readings.segments[0] = {true, false, 2048 * kMiB};
    readings.segments[1] = {true, true, 1000 * kMiB};
    readings.nodePerfRead = true;
    readings.nodePerf.frequency = 2'105'000'000;
    readings.nodePerf.maxFrequency = 2'400'000'000;
    readings.adapterPerfRead = true;
    readings.adapterPerf.memoryFrequency = 1'000'000'000;
    readings.adapterPerf.maxMemoryFrequency = 2'000'000'000;
    readings.adapterPerf.fanRpm = 1500;
    readings.adapterPerf.temperature = 655;  // 65.5 °C
    return readings;
}

// The figures a row expects; name is the tile's title as UTF-8.
struct Figures {
    uint8_t load;
    uint16_t coreMhz, coreBoostMhz;
    uint8_t coreClockPct;
    uint16_t memMhz, memBoostMhz;
    uint16_t memTotalMb, memFreeMb;
    uint8_t memUsedPct, fanRpmDiv32, coreTempC;
    const char* name;
};

struct Case {
    const char* what;
    std::function<void(D3dkmtReadings&)> change;
    Figures expected;
    bool newBaseline = true;  // node 0's reading is the next pass's baseline
};

// 60 letters and no terminating zero.
struct Unterminated {
    char16_t units[60];
    Unterminated() {
        for (int i = 0; i < 60; ++i) units[i] = static_cast<char16_t>(u'A' + i % 26);
    }
};
const Unterminated kUnterminated;

TEST(D3dkmtFigures, EachAnswerBecomesItsFigureAndGarbageBecomesNone) {
    const Case cases[] = {
        {"healthy card",
         [](D3dkmtReadings&) {},
         {50, 2105, 2400, 87, 1000, 2000, 8192, 6144, 25, 46, 65, "AMD Radeon RX 6800"}},
        {"integrated GPU with a 128 MB carve-out shows shared memory",
         [](D3dkmtReadings& r) {
             r.segmentSize = {128 * kMiB, 0, 16384 * kMiB};
         },
         {50, 2105, 2400, 87, 1000, 2000, 16384, 15384, 7, 46, 65, "AMD Radeon RX 6800"}},
        {"first sample: no load yet",
         [](D3dkmtReadings& r) { r.nodes[0].previousRead = r.nodes[1].previousRead = false; },
         {0, 2105, 2400, 87, 1000, 2000, 8192, 6144, 25, 46, 65, "AMD Radeon RX 6800"}},
        {"a window under a quarter of a second: no load yet, and the baseline stays",
         [](D3dkmtReadings& r) { r.nodes[0].previousReadAt = r.nodes[1].previousReadAt = 17'500'001; },
         {0, 2105, 2400, 87, 1000, 2000, 8192, 6144, 25, 46, 65, "AMD Radeon RX 6800"},
         false},
        {"running time going backwards counts for nothing, the other engine still does",
         [](D3dkmtReadings& r) { r.nodes[0].runningTime = 1; },
         {25, 2105, 2400, 87, 1000, 2000, 8192, 6144, 25, 46, 65, "AMD Radeon RX 6800"}},
        {"an engine credited with more than the wall time is 100 %",
         [](D3dkmtReadings& r) { r.nodes[1].runningTime = 5'000'000 + 12'000'000; },
         {100, 2105, 2400, 87, 1000, 2000, 8192, 6144, 25, 46, 65, "AMD Radeon RX 6800"}},
        {"load rounds to the nearest percent",
         [](D3dkmtReadings& r) { r.nodes[0].runningTime = 20'000'000 + 4'996'000; },
         {50, 2105, 2400, 87, 1000, 2000, 8192, 6144, 25, 46, 65, "AMD Radeon RX 6800"}},
        {"failed node queries: no load, and the old baseline serves the next pass",
         [](D3dkmtReadings& r) { r.nodes[0].read = r.nodes[1].read = false; },
         {0, 2105, 2400, 87, 1000, 2000, 8192, 6144, 25, 46, 65, "AMD Radeon RX 6800"},
         false},
        {"temperature of 6553.5 °C and a fan beyond any: neither shown",
         [](D3dkmtReadings& r) {
             r.adapterPerf.temperature = 65535;
             r.adapterPerf.fanRpm = 9000;
         },
         {50, 2105, 2400, 87, 1000, 2000, 8192, 6144, 25, 0, 0, "AMD Radeon RX 6800"}},
        {"150 °C and 8191 RPM are still readings",
         [](D3dkmtReadings& r) {
             r.adapterPerf.temperature = 1500;
             r.adapterPerf.fanRpm = 8191;
         },
         {50, 2105, 2400, 87, 1000, 2000, 8192, 6144, 25, 255, 150, "AMD Radeon RX 6800"}},
        {"adapter perf data not given: memory clock kept, fan and temperature 0",
         [](D3dkmtReadings& r) {
             r.adapterPerfRead = false;
             r.adapterPerf.memoryFrequency = 3'000'000'000;
         },
         {50, 2105, 2400, 87, 777, 1777, 8192, 6144, 25, 0, 0, "AMD Radeon RX 6800"}},
        {"clocks answered 0 or absurd keep their last value",
         [](D3dkmtReadings& r) {
             r.nodePerf.frequency = 0;
             r.nodePerf.maxFrequency = 20'000'000'000;
             r.adapterPerf.memoryFrequency = 0;
         },
         {50, 999, 1999, 49, 777, 2000, 8192, 6144, 25, 46, 65, "AMD Radeon RX 6800"}},
        {"a failed segment query: no memory figures",
         [](D3dkmtReadings& r) { r.segments[1].read = false; },
         {50, 2105, 2400, 87, 1000, 2000, 0, 0, 100, 46, 65, "AMD Radeon RX 6800"}},
        {"a segment count refused at the scan: no memory figures",
         [](D3dkmtReadings& r) { r.segmentCount = -1; },
         {50, 2105, 2400, 87, 1000, 2000, 0, 0, 100, 46, 65, "AMD Radeon RX 6800"}},
        {"more resident than there is: nothing free",
         [](D3dkmtReadings& r) { r.segments[0].bytesResident = 9000 * kMiB; },
         {50, 2105, 2400, 87, 1000, 2000, 8192, 0, 100, 46, 65, "AMD Radeon RX 6800"}},
        {"a name without its terminating zero is cut to 39 units",
         [](D3dkmtReadings& r) {
             r.name = kUnterminated.units;
             r.nameUnits = 60;
         },
         {50, 2105, 2400, 87, 1000, 2000, 8192, 6144, 25, 46, 65, "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLM"}},
    };
    for (const Case& c : cases) {
        D3dkmtReadings readings = healthyCard();
        c.change(readings);
        KeptClocks kept{1999, 999, 1777, 777};
        GpuRecord gpu{};
        gpu.changed = 1;
        fillD3dkmtRecord(gpu, readings, kept);
        const Figures& e = c.expected;
        SCOPED_TRACE(c.what);
        EXPECT_EQ(gpu.present, 1);
        EXPECT_EQ(gpu.changed, 1);  // the panel's, never touched
        EXPECT_EQ(gpu.pciBus, 3);
        EXPECT_EQ(gpu.gpuLoad, e.load);
        EXPECT_EQ(gpu.coreMhz, e.coreMhz);
        EXPECT_EQ(gpu.coreBoostMhz, e.coreBoostMhz);
        EXPECT_EQ(gpu.coreClockPct, e.coreClockPct);
        EXPECT_EQ(gpu.memMhz, e.memMhz);
        EXPECT_EQ(gpu.memBoostMhz, e.memBoostMhz);
        EXPECT_EQ(gpu.memTotalMb, e.memTotalMb);
        EXPECT_EQ(gpu.memFreeMb, e.memFreeMb);
        EXPECT_EQ(gpu.memUsedPct, e.memUsedPct);
        EXPECT_EQ(gpu.fanRpmDiv32, e.fanRpmDiv32);
        EXPECT_EQ(gpu.coreTempC, e.coreTempC);
        EXPECT_EQ(gpu.memTempC, 0);
        EXPECT_EQ(toUtf8(gpu.gpuName), e.name);
        EXPECT_EQ(gpu.gpuName[kRecordTextUnits - 1], 0);
        EXPECT_EQ(kept.coreMhz, e.coreMhz);  // what the next pass keeps
        EXPECT_EQ(startsNewBaseline(readings.nodes[0]), c.newBaseline);
    }
}

}  // namespace
}  // namespace tarvelon
