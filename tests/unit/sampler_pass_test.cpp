#include "telemetry/sampler_pass.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/text16.h"

namespace tarvelon {
namespace {

// Readings of a healthy GPU; each test changes what it is about.
struct GpuInput {
    NV_GPU_CLOCK_FREQUENCIES boost{};
    NV_GPU_CLOCK_FREQUENCIES current{};
    GpuReadings readings{};

    GpuInput() {
        readings.busId = 1;
        readings.busSlotId = 0;
        readings.name = u"GeForce";
        readings.pstates.utilization[0] = {1, 40};
        setClock(boost, kClockDomainGraphics, 1800000);
        setClock(boost, kClockDomainMemory, 7000000);
        setClock(current, kClockDomainGraphics, 1500000);
        setClock(current, kClockDomainMemory, 3500000);
        readings.boostClocks = &boost;
        readings.currentClocks = &current;
        readings.totalMemory.dedicatedVideoMemory = 8192 * 1024;
        readings.freeMemory.curAvailableDedicatedVideoMemory = 2048 * 1024;
        readings.tachRpm = 1500;
        readings.coreThermal.sensor[0].currentTemp = 65;
        readings.memoryThermal.sensor[0].currentTemp = 80;
    }
    static void setClock(NV_GPU_CLOCK_FREQUENCIES& clocks, int domain, uint32_t khz) {
        clocks.domain[domain] = {1, khz};
    }
    GpuRecord fill(GpuRecord record = GpuRecord{}) const {
        fillGpuRecord(record, readings);
        return record;
    }
};

TEST(GpuPass, FillsEveryFieldFromHealthyReadings) {
    const GpuRecord gpu = GpuInput().fill();
    EXPECT_EQ(gpu.present, 1);
    EXPECT_EQ(gpu.filled, 1);
    EXPECT_EQ(gpu.pciBus, 1);
    EXPECT_EQ(toUtf8(gpu.gpuName), "GeForce");
    EXPECT_EQ(gpu.gpuLoad, 40);
    EXPECT_EQ(gpu.coreBoostMhz, 1800);
    EXPECT_EQ(gpu.coreMhz, 1500);
    EXPECT_EQ(gpu.coreClockPct, 83);  // trunc(83.33)
    EXPECT_EQ(gpu.memBoostMhz, 7000);
    EXPECT_EQ(gpu.memMhz, 3500);
    EXPECT_EQ(gpu.memClockPct, 50);
    EXPECT_EQ(gpu.memTotalMb, 8192);
    EXPECT_EQ(gpu.memFreeMb, 2048);
    EXPECT_EQ(gpu.memUsedPct, 75);
    EXPECT_EQ(gpu.fanRpmDiv32, 46);  // 1500 RPM, shown as 1472
    EXPECT_EQ(gpu.coreTempC, 65);
    EXPECT_EQ(gpu.memTempC, 80);
}

TEST(GpuPass, FanSpeedIsAnArithmeticShiftKeepingTheLowByte) {
    const struct {
        uint32_t rpm;
        uint8_t expected;
    } cases[] = {{0, 0},      {31, 0},   {1500, 46}, {8160, 255},
                 {8191, 255}, {8192, 0}, {8224, 1},  {0xFFFFFFE0u, 255}};
    for (const auto& test : cases) {
        GpuInput input;
        input.readings.tachRpm = test.rpm;
        EXPECT_EQ(input.fill().fanRpmDiv32, test.expected) << test.rpm;
    }
}

TEST(GpuPass, ClocksKeepTheirLastNonzeroValue) {
    GpuRecord previous{};
    previous.coreBoostMhz = 1800;
    previous.coreMhz = 1200;
    previous.memBoostMhz = 7000;
    previous.memMhz = 6000;

    GpuInput absent;  // current graphics clock not present: kept, and the percentage uses the kept value
    absent.current.domain[kClockDomainGraphics].presentBits = 0;
    GpuRecord gpu = absent.fill(previous);
    EXPECT_EQ(gpu.coreMhz, 1200);
    EXPECT_EQ(gpu.coreClockPct, 66);
    EXPECT_EQ(gpu.memMhz, 3500);

    GpuInput belowOneMhz;
    belowOneMhz.current.domain[kClockDomainMemory].frequency = 999;
    EXPECT_EQ(belowOneMhz.fill(previous).memMhz, 6000);

    GpuInput failed;  // a failed query counts as no domain present
    failed.readings.boostClocksStatus = -1;
    failed.readings.currentClocksStatus = -1;
    gpu = failed.fill(previous);
    EXPECT_EQ(gpu.coreBoostMhz, 1800);
    EXPECT_EQ(gpu.coreMhz, 1200);
    EXPECT_EQ(gpu.memBoostMhz, 7000);
    EXPECT_EQ(gpu.memMhz, 6000);
    EXPECT_EQ(gpu.memClockPct, 85);

    GpuInput wide;  // low 16 bits of the MHz value
    wide.current.domain[kClockDomainGraphics].frequency = 70000000;
    EXPECT_EQ(wide.fill(previous).coreMhz, 70000 - 65536);
}

TEST(GpuPass, ClockPercentagesAreZeroWithoutBoostAndMayExceed100) {
    GpuInput noBoost;
    noBoost.boost.domain[kClockDomainGraphics].presentBits = 0;
    EXPECT_EQ(noBoost.fill().coreClockPct, 0);

    GpuInput overclocked;
    GpuInput::setClock(overclocked.current, kClockDomainGraphics, 1980000);
    EXPECT_EQ(overclocked.fill().coreClockPct, 110);
    GpuInput::setClock(overclocked.current, kClockDomainGraphics, 5400000);
    EXPECT_EQ(overclocked.fill().coreClockPct, 300 - 256);
}

TEST(GpuPass, VideoMemoryInWholeMegabytes) {
    const struct {
        int32_t totalStatus;
        uint32_t totalKb;
        int32_t freeStatus;
        uint32_t freeKb;
        uint16_t total, free;
        uint8_t used;
    } cases[] = {
        {0, 8192 * 1024, 0, 2048 * 1024, 8192, 2048, 75},
        {0, 1023, 0, 0, 0, 0, 100},                       // under 1 MB: no total, all used
        {-1, 8192 * 1024, 0, 2048 * 1024, 0, 2048, 100},  // failed total
        {0, 3 * 1024, -1, 1024, 3, 0, 100},
        {0, 3 * 1024, 0, 1024, 3, 1, 67},  // 100 - trunc(33.3)
        {0, 1024, 0, 2048, 1, 2, 100},     // more free than total: |200 - 100|
        // Beyond 65535 MB the fields stay at 65535 and the percentage comes from the whole figures.
        {0, 80u << 20, 0, 20u << 20, 65535, 20480, 75},
        {0, 80u << 20, 0, 70u << 20, 65535, 65535, 13},
        {0, 0xFFFFFFFFu, 0, 0x80000000u, 65535, 65535, 50},  // beyond 2 TB: no negative size
    };
    for (const auto& test : cases) {
        GpuInput input;
        input.readings.totalMemoryStatus = test.totalStatus;
        input.readings.totalMemory.dedicatedVideoMemory = test.totalKb;
        input.readings.freeMemoryStatus = test.freeStatus;
        input.readings.freeMemory.curAvailableDedicatedVideoMemory = test.freeKb;
        const GpuRecord gpu = input.fill();
        EXPECT_EQ(gpu.memTotalMb, test.total) << test.totalKb;
        EXPECT_EQ(gpu.memFreeMb, test.free) << test.freeKb;
        EXPECT_EQ(gpu.memUsedPct, test.used) << test.totalKb << " " << test.freeKb;
    }
}

TEST(GpuPass, FailedOrAbsentReadingsGiveZero) {
    GpuRecord previous{};
    std::memset(&previous, 0x77, sizeof previous);
    GpuInput input;
    input.readings.busIdStatus = -1;
    input.readings.busSlotIdStatus = -3;
    input.readings.pstatesStatus = -1;
    input.readings.tachStatus = -1;
    input.readings.coreThermalStatus = -1;
    input.readings.memoryThermalStatus = -2;
    GpuRecord gpu = input.fill(previous);
    EXPECT_EQ(gpu.pciBus, 0);
    EXPECT_EQ(gpu.pciSlot, 0);
    EXPECT_EQ(gpu.gpuLoad, 0);
    EXPECT_EQ(gpu.fanRpmDiv32, 0);
    EXPECT_EQ(gpu.coreTempC, 0);
    EXPECT_EQ(gpu.memTempC, 0);

    GpuInput unmeasured;
    unmeasured.readings.pstates.utilization[0].presentBits = 0;
    unmeasured.readings.pstates.utilization[0].percentage = 40;
    EXPECT_EQ(unmeasured.fill(previous).gpuLoad, 0);
}

TEST(GpuPass, NarrowsByKeepingTheLowBits) {
    GpuInput input;
    input.readings.busId = 0x1FF;
    input.readings.busSlotId = 0x102;
    input.readings.pstates.utilization[0].percentage = 300;
    input.readings.coreThermal.sensor[0].currentTemp = -5;
    const GpuRecord gpu = input.fill();
    EXPECT_EQ(gpu.pciBus, 0xFF);
    EXPECT_EQ(gpu.pciSlot, 0x02);
    EXPECT_EQ(gpu.gpuLoad, 44);
    EXPECT_EQ(gpu.coreTempC, 251);
}

TEST(GpuPass, NamesAreCutTo39UnitsAndNothingStaleFollows) {
    GpuRecord previous{};
    for (char16_t& unit : previous.gpuName) unit = u'x';
    GpuInput input;
    const std::u16string sixty(60, u'G');
    input.readings.name = sixty.c_str();
    GpuRecord gpu = input.fill(previous);
    EXPECT_EQ(text16Length(gpu.gpuName, kRecordTextUnits), 39u);
    EXPECT_EQ(gpu.gpuName[39], 0);

    input.readings.name = u"A";
    gpu = input.fill(gpu);
    for (int i = 1; i < kRecordTextUnits; ++i) EXPECT_EQ(gpu.gpuName[i], 0) << i;
}

TEST(GpuPass, SlotsBeyondTheCountAreEmptyAndNothingChangesWithoutGpus) {
    LocalStore store{};
    store.gpus[15].present = 1;  // never shown: the count says so
    EXPECT_EQ(prepareGpuSlots(store, 0), 0);
    EXPECT_EQ(store.gpus[15].present, 1);

    // The last GPU gone: every tile goes with it.
    for (GpuRecord& gpu : store.gpus) gpu.present = 1;
    store.host.gpuCount = 9;
    EXPECT_EQ(prepareGpuSlots(store, 0), 0);
    EXPECT_EQ(store.host.gpuCount, 0);
    for (int slot = 0; slot < kGpuSlots; ++slot) EXPECT_EQ(store.gpus[slot].present, 0) << slot;

    for (GpuRecord& gpu : store.gpus) gpu.present = 1;
    EXPECT_EQ(prepareGpuSlots(store, 3), 3);
    EXPECT_EQ(store.host.gpuCount, 3);
    EXPECT_EQ(store.gpus[2].present, 1);
    for (int slot = 3; slot < kGpuSlots; ++slot) EXPECT_EQ(store.gpus[slot].present, 0) << slot;

    EXPECT_EQ(prepareGpuSlots(store, 20), 16);
    EXPECT_EQ(store.host.gpuCount, 20);
    EXPECT_EQ(prepareGpuSlots(store, 300), 16);
    EXPECT_EQ(store.host.gpuCount, 300 - 256);
}

// Host readings with a set of counter arrays kept alive beside them.
struct HostInput {
    HostReadings readings{};
    std::vector<CounterItem> arrays[kPerfCounterCount];

    HostInput() {
        copyText16(readings.hostName, kSettingTextUnits, u"workstation");
        readings.memoryRead = true;
        readings.memory = {16ull << 30, 4ull << 30, 32ull << 30, 24ull << 30};
        readings.cpuCount = 8;
        readings.countersCollected = true;
        for (CounterReading& counter : readings.counters) counter.present = counter.read = true;
        readings.counters[kCounterProcessorTime].doubleValue = 12.9;
        readings.counters[kCounterProcesses].longValue = 210;
        readings.counters[kCounterThreads].longValue = 3100;
    }
    void setItems(PerfCounter counter, std::vector<CounterItem> items) {
        arrays[counter] = std::move(items);
        readings.counters[counter].items = arrays[counter].data();
        readings.counters[counter].itemCount = static_cast<int32_t>(arrays[counter].size());
    }
    HostRecord apply(HostRecord host = HostRecord{}) const {
        applyHostReadings(host, readings);
        return host;
    }
};

std::vector<CounterItem> frequencyItems(double perProcessor, double total) {
    static const char16_t* const kNames[] = {u"0,0", u"0,1", u"0,2", u"0,3", u"0,4", u"0,5", u"0,6", u"0,7"};
    std::vector<CounterItem> items;
    for (const char16_t* name : kNames) items.push_back({name, perProcessor, 0});
    items.push_back({u"0,_Total", total, 0});
    items.push_back({u"_Total", total, 0});
    return items;
}

TEST(HostPass, FillsNameMemoryProcessorsAndCounters) {
    HostInput input;
    input.setItems(kCounterMaxFrequencyPct, frequencyItems(87.9, 9999));
    input.setItems(kCounterFrequencyMhz, frequencyItems(3200.7, 9999));
    input.setItems(kCounterBytesReceived, {{u"eth0", 0, 1572864}, {u"wlan0", 0, 1572864}});
    input.setItems(kCounterBytesSent, {{u"eth0", 0, 0}, {u"wlan0", 0, 0}});
    const HostRecord host = input.apply();
    EXPECT_EQ(toUtf8(host.hostName), "workstation");
    EXPECT_EQ(host.physTotalMb, 16384u);
    EXPECT_EQ(host.physFreeMb, 4096u);
    EXPECT_EQ(host.physUsedPct, 75);
    EXPECT_EQ(host.pageTotalMb, 32768u);
    EXPECT_EQ(host.pageFreeMb, 24576u);
    EXPECT_EQ(host.pageUsedPct, 25);
    EXPECT_EQ(host.cpuCount, 8);
    EXPECT_EQ(host.cpuLoad, 12);
    EXPECT_EQ(host.cpuMaxFreqPct, 87);  // the two totals are left out of the mean
    EXPECT_EQ(host.cpuMhz, 3200);
    EXPECT_EQ(host.processCount, 210);
    EXPECT_EQ(host.threadCount, 3100);
    EXPECT_EQ(host.netIoMbit, 16);  // (1 + 1) whole MB per second, times 8
}

TEST(HostPass, MeansUseTruncatedValuesAndSkipEveryNameContainingTotal) {
    HostInput input;
    input.setItems(kCounterMaxFrequencyPct, {{u"0,0", 99.9, 0}, {u"0,1", 50.9, 0}, {u"Totals", 1, 0}});
    input.setItems(kCounterFrequencyMhz, {{u"0,0", 1000.5, 0}, {u"0,1", 2001.5, 0}, {u"0,total", 6000, 0}});
    const HostRecord host = input.apply();
    EXPECT_EQ(host.cpuMaxFreqPct, 74);                 // (99 + 50) / 2
    EXPECT_EQ(host.cpuMhz, (1000 + 2001 + 6000) / 3);  // the test is case-sensitive
}

TEST(HostPass, FrequenciesWithoutTheProcessorInformationObject) {
    HostInput input;
    input.readings.counters[kCounterMaxFrequencyPct].present = false;
    input.readings.counters[kCounterFrequencyMhz].present = false;
    input.setItems(kCounterBytesReceived, {{u"eth0", 0, 3 << 20}});
    input.setItems(kCounterBytesSent, {{u"eth0", 0, 1 << 20}});
    const HostRecord host = input.apply();
    EXPECT_EQ(host.cpuMhz, 0);
    EXPECT_EQ(host.cpuMaxFreqPct, 0);
    EXPECT_EQ(host.cpuLoad, 12);
    EXPECT_EQ(host.processCount, 210);
    EXPECT_EQ(host.netIoMbit, 32);
    EXPECT_EQ(host.physTotalMb, 16384u);

    // One of the two is enough to switch both fields off.
    HostInput half;
    half.readings.counters[kCounterFrequencyMhz].present = false;
    half.setItems(kCounterMaxFrequencyPct, frequencyItems(50, 100));
    EXPECT_EQ(half.apply().cpuMaxFreqPct, 0);
}

TEST(HostPass, FrequencyFieldsKeepTheirValueWhenNoItemRemains) {
    HostRecord previous{};
    previous.cpuMhz = 2400;
    previous.cpuMaxFreqPct = 60;
    HostInput onlyTotals;
    onlyTotals.setItems(kCounterMaxFrequencyPct, {{u"_Total", 90, 0}});
    onlyTotals.setItems(kCounterFrequencyMhz, {});
    HostRecord host = onlyTotals.apply(previous);
    EXPECT_EQ(host.cpuMhz, 2400);
    EXPECT_EQ(host.cpuMaxFreqPct, 60);

    HostInput onlyPercent;
    onlyPercent.setItems(kCounterMaxFrequencyPct, {{u"0,0", 90, 0}});
    host = onlyPercent.apply(previous);
    EXPECT_EQ(host.cpuMaxFreqPct, 90);
    EXPECT_EQ(host.cpuMhz, 2400);
}

TEST(HostPass, NetworkTrafficCountsWholeMegabytesPerInterface) {
    const struct {
        std::vector<int32_t> received, sent;
        uint16_t expected;
    } cases[] = {
        {{1048575, 1048575, 1048575}, {}, 0},
        {{1048576}, {1048576}, 16},
        {{1572864, 1572864}, {0, 0}, 16},
        {{2147483647}, {0}, static_cast<uint16_t>(2047 * 8)},
        {{-1048576}, {3 << 20}, 16},
        {{}, {}, 0},
        {{2147483647, 2147483647, 2147483647, 2147483647}, {2147483647}, 65535},  // 81880 saturates
        {{-(3 << 20)}, {0}, 0},
    };
    for (const auto& test : cases) {
        HostInput input;
        std::vector<CounterItem> received, sent;
        for (int32_t value : test.received) received.push_back({u"if", 0, value});
        for (int32_t value : test.sent) sent.push_back({u"if", 0, value});
        input.setItems(kCounterBytesReceived, received);
        input.setItems(kCounterBytesSent, sent);
        EXPECT_EQ(input.apply().netIoMbit, test.expected);
    }

    HostRecord previous{};
    previous.netIoMbit = 80;
    HostInput onlyReceived;
    onlyReceived.readings.counters[kCounterBytesSent].present = false;
    onlyReceived.setItems(kCounterBytesReceived, {{u"eth0", 0, 5 << 20}});
    EXPECT_EQ(onlyReceived.apply(previous).netIoMbit, 80);
}

// The counter fields of the pass before, so that a field left alone shows.
HostRecord countedRecord() {
    HostRecord previous{};
    previous.cpuLoad = 5;
    previous.cpuMhz = 1000;
    previous.cpuMaxFreqPct = 50;
    previous.processCount = 100;
    previous.threadCount = 900;
    previous.netIoMbit = 8;
    return previous;
}

TEST(HostPass, CounterFieldsStayWhenNothingWasCollectedOrAReadFailed) {
    const HostRecord previous = countedRecord();

    HostInput uncollected;
    uncollected.readings.countersCollected = false;
    HostRecord host = uncollected.apply(previous);
    EXPECT_EQ(host.cpuLoad, 5);
    EXPECT_EQ(host.cpuMhz, 1000);
    EXPECT_EQ(host.cpuMaxFreqPct, 50);
    EXPECT_EQ(host.processCount, 100);
    EXPECT_EQ(host.threadCount, 900);
    EXPECT_EQ(host.netIoMbit, 8);
    EXPECT_EQ(host.physTotalMb, 16384u);  // the rest is sampled as usual

    HostInput failedReads;
    failedReads.readings.counters[kCounterProcessorTime].read = false;
    failedReads.readings.counters[kCounterThreads].read = false;
    failedReads.readings.counters[kCounterProcesses].longValue = 70000;
    host = failedReads.apply(previous);
    EXPECT_EQ(host.cpuLoad, 5);
    EXPECT_EQ(host.threadCount, 900);
    EXPECT_EQ(host.processCount, 65535);  // saturates rather than showing 4464

    HostInput manyThreads;
    manyThreads.readings.counters[kCounterThreads].longValue = 200000;
    EXPECT_EQ(manyThreads.apply().threadCount, 65535);
}

// The system's figures of a pass: 70 % busy, two processors at 80 % and 120 % of 3000 MHz, and
// traffic of 1 + 2 whole MB per second on the one interface that counts.
void fillSystem(SystemReadings& system) {
    system.timesRead = true;
    system.previousTimes = {1000, 5000};
    system.times = {1300, 6000};
    system.countsRead = true;
    system.processes = 120;
    system.threads = 1500;
    system.clockCount = 2;
    system.clocks[0] = {2400, 3000};
    system.clocks[1] = {3601, 3000};
    system.octetsElapsedMs = 500;
    system.previousInterfaceCount = 4;
    system.previousInterfaces[0] = {1, false, false, 0, 0};
    system.previousInterfaces[1] = {2, true, false, 0, 0};
    system.previousInterfaces[2] = {3, false, true, 0, 0};
    system.previousInterfaces[3] = {4, false, false, 10 << 20, 0};
    system.interfaceCount = 5;
    system.interfaces[0] = {1, false, false, 786432, 1 << 20};    // 1.5 and 2 MB/s
    system.interfaces[1] = {2, true, false, 100 << 20, 0};        // loopback
    system.interfaces[2] = {3, false, true, 100 << 20, 0};        // filter layer
    system.interfaces[3] = {4, false, false, (10 << 20) - 5, 0};  // reset counter
    system.interfaces[4] = {5, false, false, 100 << 20, 0};       // new: no rate yet
}

TEST(HostPass, SystemFiguresStandInForCountersThatCannotBeUsed) {
    struct Fields {
        uint8_t cpuLoad;
        uint16_t cpuMhz;
        uint8_t cpuMaxFreqPct;
        uint16_t processCount, threadCount, netIoMbit;
    };
    const struct {
        const char* what;
        void (*change)(HostReadings&);
        Fields expected;
    } cases[] = {
        {"counters work", [](HostReadings&) {}, {12, 3200, 87, 210, 3100, 16}},
        {"nothing collected",
         [](HostReadings& r) { r.countersCollected = false; },
         {70, 3000, 100, 120, 1500, 24}},
        {"processor time below 1 %",
         [](HostReadings& r) { r.counters[kCounterProcessorTime].doubleValue = 0.9; },
         {70, 3200, 87, 210, 3100, 16}},
        {"one frequency counter missing",
         [](HostReadings& r) { r.counters[kCounterFrequencyMhz].present = false; },
         {12, 3000, 100, 210, 3100, 16}},
        {"thread read failed",
         [](HostReadings& r) { r.counters[kCounterThreads].read = false; },
         {12, 3200, 87, 210, 1500, 16}},
        {"received array unread",
         [](HostReadings& r) { r.counters[kCounterBytesReceived].read = false; },
         {12, 3200, 87, 210, 3100, 24}},
        {"system without figures",
         [](HostReadings& r) {
             r.countersCollected = false;
             r.system = {};
         },
         {5, 1000, 50, 100, 900, 8}},
        {"processor times stood still",
         [](HostReadings& r) {
             r.countersCollected = false;
             r.system.times = r.system.previousTimes;
         },
         {5, 3000, 100, 120, 1500, 24}},
        {"all idle, clocks unknown, no time passed",
         [](HostReadings& r) {
             r.countersCollected = false;
             r.system.times.idle = 9000;
             r.system.clocks[0].maximumMhz = 0;
             r.system.octetsElapsedMs = 0;
         },
         {0, 3000, 60, 120, 1500, 8}},
    };
    const HostRecord previous = countedRecord();
    for (const auto& test : cases) {
        HostInput input;
        input.setItems(kCounterMaxFrequencyPct, frequencyItems(87.9, 9999));
        input.setItems(kCounterFrequencyMhz, frequencyItems(3200.7, 9999));
        input.setItems(kCounterBytesReceived, {{u"eth0", 0, 1572864}, {u"wlan0", 0, 1572864}});
        input.setItems(kCounterBytesSent, {{u"eth0", 0, 0}, {u"wlan0", 0, 0}});
        fillSystem(input.readings.system);
        test.change(input.readings);
        const HostRecord host = input.apply(previous);
        const Fields& want = test.expected;
        EXPECT_EQ(host.cpuLoad, want.cpuLoad) << test.what;
        EXPECT_EQ(host.cpuMhz, want.cpuMhz) << test.what;
        EXPECT_EQ(host.cpuMaxFreqPct, want.cpuMaxFreqPct) << test.what;
        EXPECT_EQ(host.processCount, want.processCount) << test.what;
        EXPECT_EQ(host.threadCount, want.threadCount) << test.what;
        EXPECT_EQ(host.netIoMbit, want.netIoMbit) << test.what;
    }
}

TEST(HostPass, MemoryPercentagesAndAFailedStatus) {
    const struct {
        uint64_t available, total;
        uint8_t used;
    } cases[] = {
        {1, 3, 67}, {0, 100, 100}, {100, 100, 0}, {5ull << 40, 10ull << 40, 50}, {7, 0, 100}, {200, 100, 156},
    };
    for (const auto& test : cases)
        EXPECT_EQ(usedPercent(test.available, test.total), test.used) << test.available;

    HostRecord previous{};
    previous.physTotalMb = 1234;
    HostInput failed;
    failed.readings.memoryRead = false;
    EXPECT_EQ(failed.apply(previous).physTotalMb, 1234u);

    HostInput huge;  // 2^52 MB keeps its low 32 bits
    huge.readings.memory.totalPhys = 1ull << 52 | 5ull << 20;
    EXPECT_EQ(huge.apply().physTotalMb, 5u);
}

TEST(HostPass, HostNameIsTheFirst39Characters) {
    HostInput input;
    const std::u16string fifty = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWX";
    copyText16(input.readings.hostName, kSettingTextUnits, fifty.c_str());
    HostRecord host = input.apply();
    EXPECT_EQ(std::u16string(host.hostName), fifty.substr(0, 39));
    EXPECT_EQ(host.hostName[39], 0);

    copyText16(input.readings.hostName, kSettingTextUnits, u"*");
    host = input.apply(host);
    EXPECT_EQ(toUtf8(host.hostName), "*");
    EXPECT_EQ(host.hostName[2], 0);
}

TEST(HostPass, ProcessorCountComesFromTheKeyOrTheSystem) {
    EXPECT_EQ(chooseProcessorCount(-1, 6), 6);
    EXPECT_EQ(chooseProcessorCount(0, 6), 6);
    EXPECT_EQ(chooseProcessorCount(12, 6), 12);
    EXPECT_EQ(chooseProcessorCount(70000, 6), 70000 - 65536);
}

}  // namespace
}  // namespace tarvelon
