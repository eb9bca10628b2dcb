// The agent's GPUs through the simulated management library: no library, no GPU, one, seventeen,
// failing and missing answers, and how NVML's units become the record's through the shared pass
// arithmetic.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "agent/nvml_gpus.h"
#include "agent_fixture_root.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

class NvmlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        configPath = root.path() + "/simulated-nvml.txt";
        setenv("TARVELON_SIMULATED_NVML", configPath.c_str(), 1);
        configure("");
        library = dlopen(TARVELON_SIMULATED_NVML, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr);
    }
    void TearDown() override {
        closeNvmlGpus(&gpus);
        dlclose(library);
    }

    void configure(const std::string& text) { std::ofstream(configPath, std::ios::trunc) << text; }
    NvmlOpenOutcome open() { return openNvmlGpus(TARVELON_SIMULATED_NVML, &gpus); }
    int calls(const char* operation) {
        auto function = reinterpret_cast<int (*)(const char*)>(dlsym(library, "simulated_nvml_calls"));
        return function != nullptr ? function(operation) : -1;
    }
    void sample() { sampleNvmlGpus(gpus, root.path(), store); }

    FixtureRoot root;
    std::string configPath;
    void* library = nullptr;
    NvmlGpus gpus{};
    LocalStore store{};
};

constexpr char kOneGpu[] =
    "count 1\n"
    "gpu 0 name NVIDIA RTX A4000\n"
    "gpu 0 bus 65\ngpu 0 device 3\ngpu 0 load 37\n"
    "gpu 0 maxGraphics 2100\ngpu 0 graphics 1575\ngpu 0 maxMemory 7001\ngpu 0 memory 7001\n"
    "gpu 0 total 17171480576\ngpu 0 free 12884901888\n"
    "gpu 0 rpm 1500\ngpu 0 coreTemp 64\ngpu 0 memTemp 78\n";

TEST_F(NvmlTest, OneGpuFillsEveryFieldInTheRecordsUnits) {
    configure(kOneGpu);
    ASSERT_EQ(open(), NvmlOpenOutcome::Ready);
    sample();
    EXPECT_EQ(store.host.gpuCount, 1);
    const GpuRecord& gpu = store.gpus[0];
    EXPECT_EQ(gpu.present, 1);
    EXPECT_EQ(gpu.filled, 1);
    EXPECT_EQ(toUtf8(gpu.gpuName), "NVIDIA RTX A4000");
    EXPECT_EQ(gpu.pciBus, 65);
    EXPECT_EQ(gpu.pciSlot, 3);
    EXPECT_EQ(gpu.gpuLoad, 37);
    EXPECT_EQ(gpu.coreBoostMhz, 2100);
    EXPECT_EQ(gpu.coreMhz, 1575);
    EXPECT_EQ(gpu.coreClockPct, 75);
    EXPECT_EQ(gpu.memBoostMhz, 7001);
    EXPECT_EQ(gpu.memMhz, 7001);
    EXPECT_EQ(gpu.memClockPct, 100);
    EXPECT_EQ(gpu.memTotalMb, 16376);  // 17171480576 bytes
    EXPECT_EQ(gpu.memFreeMb, 12288);
    EXPECT_EQ(gpu.memUsedPct, 25);   // 100 - trunc(75.03)
    EXPECT_EQ(gpu.fanRpmDiv32, 46);  // 1500 RPM, shown as 1472
    EXPECT_EQ(gpu.coreTempC, 64);
    EXPECT_EQ(gpu.memTempC, 78);
    for (int slot = 1; slot < kGpuSlots; ++slot) EXPECT_EQ(store.gpus[slot].present, 0) << slot;
}

// A driver installed after the agent started, or updated beneath it: the library is looked for again
// a minute after the last attempt, not sooner, and its GPUs are then sampled; one that fails for
// every GPU as a whole is closed to be opened again.
TEST_F(NvmlTest, ALibraryInstalledOrUpdatedLaterIsOpenedAgainAMinuteAfterTheLastAttempt) {
    configure(kOneGpu);
    const std::string late = root.path() + "/libnvidia-ml.so.1";
    ASSERT_EQ(openNvmlGpus(late.c_str(), &gpus), NvmlOpenOutcome::NoLibrary);
    const uint64_t triedAtMs = gpus.openedAtMs;
    std::ifstream source(TARVELON_SIMULATED_NVML, std::ios::binary);
    std::ofstream(late, std::ios::binary) << source.rdbuf();
    EXPECT_FALSE(reopenNvmlIfDue(&gpus, triedAtMs + kNvmlOpenAgainMs - 1));
    EXPECT_EQ(gpus.library, nullptr);
    ASSERT_TRUE(reopenNvmlIfDue(&gpus, triedAtMs + kNvmlOpenAgainMs));
    EXPECT_EQ(gpus.count, 1);
    EXPECT_FALSE(reopenNvmlIfDue(&gpus, triedAtMs + 3 * kNvmlOpenAgainMs));  // open: nothing to do
    NvmlPassAnswers answers;
    sampleNvmlGpus(gpus, root.path(), store, &answers);
    EXPECT_TRUE(answers.libraryUp);
    EXPECT_EQ(store.host.gpuCount, 1);

    configure(std::string(kOneGpu) + "fail nvmlDeviceGetMemoryInfo 18\n");  // the driver was updated
    sampleNvmlGpus(gpus, root.path(), store, &answers);
    EXPECT_FALSE(answers.libraryUp);
    sampleNvmlGpus(gpus, root.path(), store, &answers);
    EXPECT_EQ(gpus.library, nullptr);
    EXPECT_FALSE(answers.libraryUp);
    EXPECT_EQ(store.host.gpuCount, 0);
    configure(kOneGpu);
    EXPECT_TRUE(reopenNvmlIfDue(&gpus, gpus.openedAtMs + kNvmlOpenAgainMs));

    configure(std::string(kOneGpu) + "fail nvmlDeviceGetMemoryInfo 999\n");  // one GPU's trouble only
    sampleNvmlGpus(gpus, root.path(), store, &answers);
    sampleNvmlGpus(gpus, root.path(), store, &answers);
    EXPECT_NE(gpus.library, nullptr);
}

// A library searched for by name is looked for again only once the driver shows; one named by its
// path is always tried.
TEST_F(NvmlTest, ASearchedLibraryIsLookedForAgainOnlyOnceTheDriverShows) {
    const struct {
        const char* library;
        const char* driverEntry;  // made below the root, or nullptr
        bool worth;
    } cases[] = {
        {"libnvidia-ml.so.1", nullptr, false},
        {"libnvidia-ml.so.1", "/proc/driver/nvidia/version", true},
        {"libnvidia-ml.so.1", "/dev/dxg", true},
        {"/usr/lib/libnvidia-ml.so.1", nullptr, true},
    };
    for (const auto& c : cases) {
        FixtureRoot machine;
        if (c.driverEntry != nullptr) machine.write(c.driverEntry, "");
        EXPECT_EQ(nvmlWorthLookingFor(c.library, machine.path()), c.worth)
            << c.library << " " << (c.driverEntry != nullptr ? c.driverEntry : "no driver");
    }
}

TEST_F(NvmlTest, WithoutTheLibraryOrWithoutAGpuTheStoreKeepsNoGpu) {
    EXPECT_EQ(openNvmlGpus("/nonexistent/libnvidia-ml.so.1", &gpus), NvmlOpenOutcome::NoLibrary);
    EXPECT_EQ(openNvmlGpus("libc.so.6", &gpus), NvmlOpenOutcome::NoLibrary);  // loads, but no entry points
    sample();
    EXPECT_EQ(store.host.gpuCount, 0);

    configure("count 0\n");
    ASSERT_EQ(open(), NvmlOpenOutcome::Ready);
    EXPECT_EQ(gpus.count, 0);
    sample();
    EXPECT_EQ(store.host.gpuCount, 0);
    for (const GpuRecord& gpu : store.gpus) EXPECT_EQ(gpu.present, 0);
}

TEST_F(NvmlTest, AStartOrCountThatFailsLeavesNoLibraryBehind) {
    configure("count 2\nfail nvmlInit_v2 9\n");
    EXPECT_EQ(open(), NvmlOpenOutcome::InitFailed);
    EXPECT_EQ(gpus.library, nullptr);

    configure("count 2\nfail nvmlDeviceGetCount_v2 999\n");
    const int shutdowns = calls("nvmlShutdown");
    EXPECT_EQ(open(), NvmlOpenOutcome::CountFailed);
    EXPECT_EQ(gpus.library, nullptr);
    EXPECT_EQ(calls("nvmlShutdown"), shutdowns + 1);  // started, so shut down again
}

TEST_F(NvmlTest, SeventeenGpusAreCountedAndSixteenFilled) {
    std::string text = "count 17\n";
    for (int i = 0; i < 17; ++i) text += "gpu " + std::to_string(i) + " name GPU " + std::to_string(i) + "\n";
    configure(text);
    ASSERT_EQ(open(), NvmlOpenOutcome::Ready);
    EXPECT_EQ(gpus.count, 17);
    const int pciCalls = calls("nvmlDeviceGetPciInfo_v3");
    sample();
    EXPECT_EQ(store.host.gpuCount, 17);
    for (int slot = 0; slot < kGpuSlots; ++slot) {
        EXPECT_EQ(store.gpus[slot].present, 1);
        EXPECT_EQ(toUtf8(store.gpus[slot].gpuName), "GPU " + std::to_string(slot));
    }
    EXPECT_EQ(calls("nvmlDeviceGetPciInfo_v3"), pciCalls + 16);  // GPU 16 is never asked
}

TEST_F(NvmlTest, AGpuWhoseHandleIsRefusedIsNotOneOfOurs) {
    configure(
        "count 3\ngpu 0 name first\ngpu 1 name locked\ngpu 2 name third\n"
        "gpu 1 fail nvmlDeviceGetHandleByIndex_v2 4\n");
    ASSERT_EQ(open(), NvmlOpenOutcome::Ready);
    sample();
    EXPECT_EQ(store.host.gpuCount, 2);
    EXPECT_EQ(toUtf8(store.gpus[0].gpuName), "first");
    EXPECT_EQ(toUtf8(store.gpus[1].gpuName), "third");
    EXPECT_EQ(store.gpus[2].present, 0);
}

TEST_F(NvmlTest, FailingCallsGiveTheFailureValuesAndClocksKeepTheirLast) {
    configure(kOneGpu);
    ASSERT_EQ(open(), NvmlOpenOutcome::Ready);
    sample();
    configure(std::string(kOneGpu) +
              "gpu 0 fail nvmlDeviceGetPciInfo_v3 3\n"
              "gpu 0 fail nvmlDeviceGetUtilizationRates 3\n"
              "gpu 0 fail nvmlDeviceGetClockInfo 15\n"
              "gpu 0 fail nvmlDeviceGetMemoryInfo 999\n"
              "gpu 0 fail nvmlDeviceGetFanSpeedRPM 3\n"
              "gpu 0 fail nvmlDeviceGetTemperature 3\n"
              "gpu 0 fail nvmlDeviceGetFieldValues 13\n"
              "gpu 0 maxGraphics 1800\n");
    sample();
    const GpuRecord& gpu = store.gpus[0];
    EXPECT_EQ(gpu.present, 1);
    EXPECT_EQ(gpu.pciBus, 0);
    EXPECT_EQ(gpu.pciSlot, 0);
    EXPECT_EQ(gpu.gpuLoad, 0);
    EXPECT_EQ(gpu.coreMhz, 1575);       // kept from the last answer
    EXPECT_EQ(gpu.coreBoostMhz, 1800);  // still answered
    EXPECT_EQ(gpu.coreClockPct, 87);    // from the kept clock
    EXPECT_EQ(gpu.memMhz, 7001);
    EXPECT_EQ(gpu.memTotalMb, 0);
    EXPECT_EQ(gpu.memFreeMb, 0);
    EXPECT_EQ(gpu.memUsedPct, 100);
    EXPECT_EQ(gpu.fanRpmDiv32, 0);
    EXPECT_EQ(gpu.coreTempC, 0);
    EXPECT_EQ(gpu.memTempC, 0);
    EXPECT_EQ(toUtf8(gpu.gpuName), "NVIDIA RTX A4000");  // fetched once, when the library opened
}

TEST_F(NvmlTest, MemoryTemperatureOnlyWhereTheBoardHasOne) {
    struct Case {
        const char* lines;
        uint8_t memTempC;
    };
    const Case cases[] = {
        {"", 0},                                          // the field is not supported
        {"gpu 0 memTemp 81\n", 81},                       // unsigned int
        {"gpu 0 memTemp 82\ngpu 0 memTempType 0\n", 82},  // double
        {"gpu 0 memTemp 83\ngpu 0 memTempType 4\n", 83},  // signed long long
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        configure(std::string("count 1\ngpu 0 name x\n") + c.lines);
        closeNvmlGpus(&gpus);
        ASSERT_EQ(open(), NvmlOpenOutcome::Ready);
        sample();
        EXPECT_EQ(store.gpus[0].memTempC, c.memTempC);
    }
}

TEST(NvmlAnswers, TranslationFollowsTheWindowsUnits) {
    NvmlAnswers answers{};
    answers.name = u"card";
    answers.pci.bus = 0x1C3;  // low 8 bits kept
    answers.pci.device = 31;
    answers.utilization.gpu = 100;
    answers.maxGraphicsStatus = kNvmlErrorNotSupported;  // a clock not answered is a domain not present
    answers.graphicsMhz = 300;
    answers.maxMemoryMhz = 5000;
    answers.memoryMhz = 405;
    answers.memory = NvmlMemory{uint64_t{80} << 30, uint64_t{20} << 30, 0};
    answers.fanRpm = 8192;  // wraps to 0, as the Windows tach reading would
    answers.coreTemperatureC = 300;

    GpuRecord gpu{};
    gpu.coreBoostMhz = 1500;  // from an earlier pass
    GpuPassReadings pass;
    translateNvmlAnswers(answers, &pass);
    fillGpuRecord(gpu, pass.readings);
    EXPECT_EQ(gpu.pciBus, 0xC3);
    EXPECT_EQ(gpu.pciSlot, 31);
    EXPECT_EQ(gpu.gpuLoad, 100);
    EXPECT_EQ(gpu.coreBoostMhz, 1500);
    EXPECT_EQ(gpu.coreClockPct, 20);
    EXPECT_EQ(gpu.memClockPct, 8);
    EXPECT_EQ(gpu.memTotalMb, 65535);  // 81920 MB saturates
    EXPECT_EQ(gpu.memFreeMb, 20480);
    EXPECT_EQ(gpu.memUsedPct, 75);
    EXPECT_EQ(gpu.fanRpmDiv32, 0);
    EXPECT_EQ(gpu.coreTempC, 44);  // 300 keeps its low 8 bits
}

}  // namespace
}  // namespace tarvelon
