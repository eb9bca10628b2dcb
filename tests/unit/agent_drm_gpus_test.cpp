// The agent's AMD and Intel GPUs over a fixture tree laid out as the kernel lays out sysfs (class
// entries linking into /sys/devices, a connector and render nodes beside the cards), named from
// excerpts of the ID lists.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>

#include "agent/drm_gpus.h"
#include "agent/exposition.h"
#include "agent_fixture_root.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

const std::string kFixtures = TARVELON_GPU_FIXTURES;
const std::string kIntel = "/sys/devices/pci0000:00/0000:00:01.0/0000:03:00.0";
const std::string kAmd = "/sys/devices/pci0000:00/0000:00:01.1/0000:0a:00.0";

class DrmGpusTest : public ::testing::Test {
  protected:
    void SetUp() override { root.copyTree(kFixtures + "/gpu-root"); }

    int32_t pass(uint64_t nowMs, int32_t nvidiaCount = 0) {
        return sampleDrmGpus(drm, nowMs, nvidiaCount, store, &answers);
    }
    std::string metrics(int32_t slots) const {
        AgentPassFigures figures{};
        figures.host = store.host;
        figures.gpuSlots = slots;
        figures.answers = answers;
        return machineExposition(agentMachineFigures(figures, 100));
    }

    FixtureRoot root;
    DrmGpus drm = makeDrmGpus(root.path(), idListsIn(kFixtures + "/gpu-id-lists"));
    LocalStore store{};
    NvmlPassAnswers answers{};
};

struct ExpectedRecord {
    const char16_t* name;
    int pciBus, gpuLoad, coreBoostMhz, coreMhz, coreClockPct, memBoostMhz, memMhz, memClockPct, memTotalMb,
        memFreeMb, memUsedPct, fanRpmDiv32, coreTempC, memTempC;
};

void expectRecord(const GpuRecord& gpu, const ExpectedRecord& want) {
    EXPECT_EQ(gpu.present, 1);
    EXPECT_EQ(toUtf8(gpu.gpuName), toUtf8(want.name));
    const int got[] = {gpu.pciBus,      gpu.gpuLoad,     gpu.coreBoostMhz, gpu.coreMhz,    gpu.coreClockPct,
                       gpu.memBoostMhz, gpu.memMhz,      gpu.memClockPct,  gpu.memTotalMb, gpu.memFreeMb,
                       gpu.memUsedPct,  gpu.fanRpmDiv32, gpu.coreTempC,    gpu.memTempC};
    const int expected[] = {want.pciBus,       want.gpuLoad,     want.coreBoostMhz, want.coreMhz,
                            want.coreClockPct, want.memBoostMhz, want.memMhz,       want.memClockPct,
                            want.memTotalMb,   want.memFreeMb,   want.memUsedPct,   want.fanRpmDiv32,
                            want.coreTempC,    want.memTempC};
    for (size_t i = 0; i < sizeof got / sizeof got[0]; ++i) EXPECT_EQ(got[i], expected[i]) << "field " << i;
}

TEST_F(DrmGpusTest, BothGpusInBusOrderWithEveryFigureTheirFilesTell) {
    EXPECT_EQ(pass(1000), 2);  // the connector and the render nodes are no GPUs
    root.write(kIntel + "/hwmon/hwmon5/energy1_input", "1150000000\n");
    EXPECT_EQ(pass(2000), 2);
    EXPECT_EQ(store.host.gpuCount, 2);
    EXPECT_EQ(store.gpus[2].present, 0);
    // Intel's card1 sits on bus 3, before AMD's card0 on bus 10. What Intel does not tell reads 0, and
    // its unknown video memory as full, as for a GPU that does not answer.
    expectRecord(store.gpus[0], {u"DG2 [Arc A770]", 3, 0, 2400, 2100, 87, 0, 0, 0, 0, 0, 100, 0, 0, 0});
    expectRecord(store.gpus[1], {u"AMD Radeon RX 6800 XT", 10, 37, 2575, 1800, 69, 1000, 1000, 100, 16368,
                                 12272, 26, 45, 54, 68});

    const std::string text = metrics(2);
    for (const char* line : {
             "tarvelon_gpu_info{gpu=\"0\",vendor=\"intel\",name=\"DG2 [Arc "
             "A770]\",pci_bus_id=\"0000:03:00.0\"} 1\n",
             "tarvelon_gpu_info{gpu=\"1\",vendor=\"amd\",name=\"AMD Radeon RX 6800 "
             "XT\",uuid=\"4c6f8a21d3e09b57\","
             "pci_bus_id=\"0000:0a:00.0\"} 1\n",
             "tarvelon_gpu_utilization_ratio{gpu=\"1\"} 0.37\n",
             "tarvelon_gpu_clock_hertz{gpu=\"0\",clock=\"graphics\"} 2100000000\n",
             "tarvelon_gpu_clock_max_hertz{gpu=\"1\",clock=\"memory\"} 1000000000\n",
             "tarvelon_gpu_memory_used_bytes{gpu=\"1\"} 4294967296\n",
             "tarvelon_gpu_fan_speed_rpm{gpu=\"1\"} 1450\n",
             "tarvelon_gpu_temperature_celsius{gpu=\"1\",sensor=\"hotspot\"} 71\n",
             "tarvelon_gpu_power_watts{gpu=\"0\"} 150\n",  // 150 J drawn in the second between passes
             "tarvelon_gpu_power_watts{gpu=\"1\"} 187\n",
             "tarvelon_gpu_power_limit_watts{gpu=\"0\"} 225\n",
             "tarvelon_gpu_power_limit_watts{gpu=\"1\"} 255\n",
             "tarvelon_gpu_energy_joules_total{gpu=\"0\"} 1150\n",
         }) {
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    }
    for (const char* absent :
         {"tarvelon_gpu_utilization_ratio{gpu=\"0\"", "tarvelon_gpu_temperature_celsius{gpu=\"0\"",
          "tarvelon_gpu_memory_total_bytes{gpu=\"0\"", "clock=\"memory\"} 0",
          "tarvelon_gpu_fan_speed_rpm{gpu=\"0\"", "tarvelon_gpu_clock_throttle_active{"}) {
        EXPECT_EQ(text.find(absent), std::string::npos) << absent;
    }
}

TEST_F(DrmGpusTest, AVanishedGpuIsLeftOutAndAGarbledFileLeavesItsFigureOut) {
    EXPECT_EQ(pass(1000, 1), 3);  // after one NVIDIA GPU
    EXPECT_EQ(toUtf8(store.gpus[1].gpuName), "DG2 [Arc A770]");
    root.removeTree(kIntel);
    root.write(kAmd + "/gpu_busy_percent", "busy\n");
    root.write(kAmd + "/pp_dpm_sclk", "0: 500Mhz\n1: 1800");
    EXPECT_EQ(pass(2000, 1), 2);
    EXPECT_EQ(store.host.gpuCount, 2);
    EXPECT_EQ(store.gpus[2].present, 0);
    // The AMD GPU moved into the Intel GPU's slot: none of the Intel GPU's clocks stay in it.
    expectRecord(store.gpus[1],
                 {u"AMD Radeon RX 6800 XT", 10, 0, 0, 0, 0, 1000, 1000, 100, 16368, 12272, 26, 45, 54, 68});
    const std::string text = metrics(2);
    EXPECT_EQ(text.find("tarvelon_gpu_utilization_ratio{gpu=\"1\"}"), std::string::npos);
    EXPECT_NE(text.find("tarvelon_gpu_temperature_celsius{gpu=\"1\",sensor=\"core\"} 54\n"),
              std::string::npos);

    root.removeTree(kAmd);
    EXPECT_EQ(pass(3000, 0), 0);
    EXPECT_EQ(store.host.gpuCount, 0);
    EXPECT_EQ(store.gpus[1].present, 0);
}

TEST_F(DrmGpusTest, ANumberPastWhatItsFigureCanBeLeavesTheFigureOut) {
    const std::string hwmon = kAmd + "/hwmon/hwmon3";
    const struct {
        std::string file;
        const char* text;
        const char* series;  // the figure's series, absent
    } cases[] = {
        {kAmd + "/gpu_busy_percent", "18446744073709551653\n", "tarvelon_gpu_utilization_ratio{gpu=\"1\"}"},
        {kAmd + "/gpu_busy_percent", "101\n", "tarvelon_gpu_utilization_ratio{gpu=\"1\"}"},
        {hwmon + "/fan1_input", "4294967297\n", "tarvelon_gpu_fan_speed_rpm{gpu=\"1\"}"},
        {hwmon + "/power1_average", "1470000000000000000000000000000\n",
         "tarvelon_gpu_power_watts{gpu=\"1\"}"},
        {hwmon + "/power1_cap", "10000000001\n", "tarvelon_gpu_power_limit_watts{gpu=\"1\"}"},
        {hwmon + "/temp1_input", "200001\n", "sensor=\"core\""},
    };
    for (const auto& c : cases) {
        DrmGpus fresh = makeDrmGpus(root.path(), idListsIn(kFixtures + "/gpu-id-lists"));
        root.copyTree(kFixtures + "/gpu-root");
        root.write(c.file, c.text);
        const int32_t slots = sampleDrmGpus(fresh, 1000, 0, store, &answers);
        ASSERT_EQ(slots, 2) << c.file;
        const std::string text = metrics(slots);
        EXPECT_EQ(text.find(c.series), std::string::npos) << c.file << " " << c.text;
        EXPECT_NE(text.find("tarvelon_gpu_memory_total_bytes{gpu=\"1\"}"),
                  std::string::npos);  // the rest stays
    }
}

TEST_F(DrmGpusTest, AGpuWhoseFilesAllFailStaysWithoutFiguresAndItsIdIsCleanedUtf8) {
    root.write(kAmd + "/unique_id", "4c6f\xff\"8a\n");
    EXPECT_EQ(pass(1000), 2);
    EXPECT_NE(metrics(2).find("uuid=\"4c6f\xEF\xBF\xBD\\\"8a\""), std::string::npos) << metrics(2);
    // Every figure file of the Intel GPU becomes a FIFO: neither a hang nor a GPU lost and found again.
    for (const char* file : {"/drm/card1/gt_act_freq_mhz", "/drm/card1/gt_max_freq_mhz",
                             "/hwmon/hwmon5/power1_max", "/hwmon/hwmon5/energy1_input"}) {
        root.remove(kIntel + file);
        ASSERT_EQ(mkfifo((root.path() + kIntel + file).c_str(), 0600), 0) << file;
    }
    for (uint64_t atMs : {2000, 62000}) {
        EXPECT_EQ(pass(atMs), 2) << atMs;
        EXPECT_EQ(toUtf8(store.gpus[0].gpuName), "DG2 [Arc A770]");
        const std::string text = metrics(2);
        for (const char* family :
             {"tarvelon_gpu_clock_hertz{gpu=\"0\"", "tarvelon_gpu_clock_max_hertz{gpu=\"0\"",
              "tarvelon_gpu_power_limit_watts{gpu=\"0\"", "tarvelon_gpu_energy_joules_total{gpu=\"0\""})
            EXPECT_EQ(text.find(family), std::string::npos) << family;
    }
}

TEST(GpuNames, AmdgpuIdsThenPciIdsThenHex) {
    const IdListPaths lists = idListsIn(kFixtures + "/gpu-id-lists");
    const struct {
        IdListPaths lists;
        unsigned vendor, device, revision;
        const char* name;
    } cases[] = {
        {lists, 0x1002, 0x73bf, 0xc1, "AMD Radeon RX 6800 XT"},
        {lists, 0x1002, 0x73bf, 0xc2, "Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]"},  // revision not listed
        {lists, 0x8086, 0x56a0, 0x08, "DG2 [Arc A770]"},                              // not NVIDIA's 56a0
        {lists, 0x8086, 0x56a2, 0x08, "8086:56a2"},
        {idListsIn("/nonexistent"), 0x1002, 0x73bf, 0xc1, "1002:73bf"},
    };
    for (const auto& c : cases) EXPECT_EQ(gpuName(c.lists, c.vendor, c.device, c.revision), c.name);
}

}  // namespace
}  // namespace tarvelon
