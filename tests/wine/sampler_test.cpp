// The priming run against the real platform: the driver library from the system directory (or its
// absence), the memory status, the processor key and the settings' host name.
#include "telemetry/sampler.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/dynlib.h"
#include "platform/pe_header.h"
#include "platform/sensors.h"
#include "platform/text16.h"
#include "settings/settings.h"
#include "telemetry/gpu_access.h"
#include "telemetry/local_store.h"
#include "wine/simulated_driver.h"

namespace tarvelon {
namespace {

class PrimingRun : public ::testing::Test {
  protected:
    void SetUp() override {
        clearLocalStore();
        clearSettings();
        removeSimulatedDriver();
        ASSERT_FALSE(fileExists(installedDriverLibrary()));
    }
    void TearDown() override {
        EXPECT_EQ(gpuLibraryUsers, 0);
        removeSimulatedDriver();
        EXPECT_FALSE(fileExists(installedDriverLibrary())) << "the library is still loaded";
    }
    LocalStore prime() {
        samplingRoutine(kPrimingRun);
        return readLocalStore();
    }
};

TEST_F(PrimingRun, WithoutTheDriverLibraryThereAreNoGpus) {
    // A library beside the program must not be found: loading goes by the system directory only.
    ASSERT_TRUE(fileExists(builtDriverLibrary()));
    configureSimulatedDriver("physical 2\n");
    const LocalStore store = prime();
    EXPECT_EQ(store.host.gpuCount, 0);
    for (const GpuRecord& gpu : store.gpus) EXPECT_EQ(gpu.present, 0);
    EXPECT_GT(store.host.physTotalMb, 0u);
    EXPECT_EQ(NvAPI_Unload(), kStatusNotLoaded);
}

TEST_F(PrimingRun, ATccGpuIsNamedWithItsSuffix) {
    ASSERT_TRUE(installSimulatedDriver());
    configureSimulatedDriver(
        "physical 1\ntcc 1\ngpu 0 name NVIDIA GeForce RTX 3060\ngpu 1 name NVIDIA A100-PCIE-40GB\n"
        "gpu 0 rpm 1500\ngpu 0 coreTemp 55\ngpu 0 memTemp 71\n");
    const LocalStore store = prime();
    EXPECT_EQ(store.host.gpuCount, 2);
    EXPECT_EQ(toUtf8(store.gpus[0].gpuName), "NVIDIA GeForce RTX 3060");
    EXPECT_EQ(toUtf8(store.gpus[1].gpuName), "NVIDIA A100-PCIE-40GB TCC");
    EXPECT_EQ(store.gpus[0].present, 1);
    EXPECT_EQ(store.gpus[1].present, 1);
    EXPECT_EQ(store.gpus[2].present, 0);
    EXPECT_EQ(store.gpus[0].fanRpmDiv32, 46);
    EXPECT_EQ(store.gpus[0].coreTempC, 55);
    EXPECT_EQ(store.gpus[0].memTempC, 71);
    EXPECT_EQ(store.gpus[0].memTotalMb, 8192);
    EXPECT_EQ(store.gpus[0].coreMhz, 1500);
}

TEST_F(PrimingRun, TwentyGpusAreCountedAndSixteenFilled) {
    ASSERT_TRUE(installSimulatedDriver());
    configureSimulatedDriver("physical 20\n");
    const LocalStore store = prime();
    EXPECT_EQ(store.host.gpuCount, 20);
    for (int slot = 0; slot < kGpuSlots; ++slot) {
        EXPECT_EQ(store.gpus[slot].present, 1) << slot;
        EXPECT_EQ(toUtf8(store.gpus[slot].gpuName), "Simulated GPU " + std::to_string(slot));
    }
}

TEST_F(PrimingRun, HostFiguresAreTheMachinesOwn) {
    writeSettingText(settings.networkServerHostname, u"a-rather-long-machine-name-for-the-panel-0123456789");
    const LocalStore store = prime();
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
    EXPECT_EQ(store.host.physTotalMb, static_cast<uint32_t>(memory.ullTotalPhys >> 20));
    EXPECT_EQ(store.host.pageTotalMb, static_cast<uint32_t>(memory.ullTotalPageFile >> 20));
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    EXPECT_EQ(store.host.cpuCount, system.dwNumberOfProcessors);
    EXPECT_EQ(toUtf8(store.host.hostName), "a-rather-long-machine-name-for-the-pane");
}

TEST_F(PrimingRun, TheIdentityStampIsTheModulesChecksumAndAChangeReloads) {
    ASSERT_TRUE(installSimulatedDriver());
    std::vector<uint8_t> file(4096);
    FILE* stream = _wfopen(installedDriverLibrary().c_str(), L"rb");
    ASSERT_NE(stream, nullptr);
    file.resize(std::fread(file.data(), 1, file.size(), stream));
    std::fclose(stream);
    const uint32_t fileStamp = peIdentityStamp(file.data(), file.size());
    ASSERT_NE(fileStamp, 0u);

    char16_t path[kLibraryPathUnits];
    ASSERT_TRUE(systemLibraryPath(u"nvapi.dll", path));
    DynamicLibrary* library = loadLibraryAt(path);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(libraryIdentityStamp(library), fileStamp);
    freeLibrary(library);

    configureSimulatedDriver("physical 1\n");
    NvPhysicalGpuHandle handles[kMaxPhysicalGpus];
    uint32_t count = 0;
    ASSERT_EQ(NvAPI_EnumPhysicalGPUs(handles, &count), 0);
    uint32_t busId = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusId(handles[0], &busId), 0);
    EXPECT_EQ(simulatedDriverCounter("simulated_call_count", kIdInitialize), 1);
    EXPECT_EQ(simulatedDriverCounter("simulated_query_count", kIdGetBusId), 1);

    // The library takes the new stamp when it next reads its configuration, at the enumeration.
    configureSimulatedDriver("physical 1\nstamp 0x1234\n");
    EXPECT_EQ(NvAPI_EnumPhysicalGPUs(handles, &count), 0);
    EXPECT_EQ(NvAPI_GPU_GetBusId(handles[0], &busId), 0);
    EXPECT_EQ(simulatedDriverCounter("simulated_call_count", kIdInitialize), 2);
    EXPECT_EQ(simulatedDriverCounter("simulated_query_count", kIdGetBusId), 2);
    EXPECT_EQ(NvAPI_GPU_GetBusId(handles[0], &busId), 0);
    EXPECT_EQ(simulatedDriverCounter("simulated_query_count", kIdGetBusId), 2);

    EXPECT_EQ(NvAPI_Unload(), 0);
    EXPECT_EQ(GetModuleHandleW(installedDriverLibrary().c_str()), nullptr);
}

// The sources that stand in for the performance counters, most of which Wine cannot add.
TEST(SystemFigures, EverySourceAnswers) {
    ProcessorTimes times;
    ASSERT_TRUE(readProcessorTimes(&times));
    EXPECT_GT(times.total, times.idle);

    int32_t processes = 0;
    int32_t threads = 0;
    ASSERT_TRUE(readProcessCounts(&processes, &threads));
    EXPECT_GT(processes, 1);  // this program and Wine's own services
    EXPECT_GE(threads, processes);

    InterfaceOctets interfaces[kMaxInterfaces];
    const int32_t interfaceCount = readInterfaceOctets(interfaces);
    ASSERT_GT(interfaceCount, 0);
    int loopbacks = 0;
    for (int32_t i = 0; i < interfaceCount; ++i) loopbacks += interfaces[i].loopback ? 1 : 0;
    EXPECT_EQ(loopbacks, 1);

    ProcessorClock clocks[kMaxProcessorClocks];
    ASSERT_EQ(readProcessorClocks(clocks), static_cast<int32_t>(systemProcessorCount()));
    EXPECT_GT(clocks[0].currentMhz, 0u);
    EXPECT_GT(clocks[0].maximumMhz, 0u);
}

}  // namespace
}  // namespace tarvelon
