#include "telemetry/sampler.h"

#include "platform/text16.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"
#include "unit/simulated_driver.h"

namespace tarvelon {
namespace {

class SamplerPass : public SimulatedDriverTest {
  protected:
    void SetUp() override {
        SimulatedDriverTest::SetUp();
        clearLocalStore();
        clearSettings();
    }
    void TearDown() override {
        clearLocalStore();
        SimulatedDriverTest::TearDown();
    }

    // One pass on a fresh context, as the priming run makes it.
    LocalStore primingPass() {
        samplingRoutine(kPrimingRun);
        return readLocalStore();
    }
};

TEST_F(SamplerPass, CarriesEveryDriverValueIntoTheRecord) {
    configure(
        "physical 1\ntcc 1\n"
        "gpu 0 name GeForce RTX 4090\ngpu 0 bus 0x41\ngpu 0 slot 3\ngpu 0 load 57\n"
        "gpu 0 coreBoost 2520000\ngpu 0 core 2100000\ngpu 0 memBoost 10501000\ngpu 0 mem 10251000\n"
        "gpu 0 dedicated 25165824\ngpu 0 available 18874368\ngpu 0 rpm 1500\ngpu 0 coreTemp 64\ngpu 0 "
        "memTemp 78\n"
        "gpu 1 name Tesla T4\n");
    const LocalStore store = primingPass();
    EXPECT_EQ(store.host.gpuCount, 2);
    const GpuRecord& gpu = store.gpus[0];
    EXPECT_EQ(gpu.present, 1);
    EXPECT_EQ(gpu.filled, 1);
    EXPECT_EQ(gpu.pciBus, 0x41);
    EXPECT_EQ(gpu.pciSlot, 3);
    EXPECT_EQ(toUtf8(gpu.gpuName), "GeForce RTX 4090");
    EXPECT_EQ(gpu.gpuLoad, 57);
    EXPECT_EQ(gpu.coreBoostMhz, 2520);
    EXPECT_EQ(gpu.coreMhz, 2100);
    EXPECT_EQ(gpu.coreClockPct, 83);
    EXPECT_EQ(gpu.memBoostMhz, 10501);
    EXPECT_EQ(gpu.memMhz, 10251);
    EXPECT_EQ(gpu.memClockPct, 97);
    EXPECT_EQ(gpu.memTotalMb, 24576);
    EXPECT_EQ(gpu.memFreeMb, 18432);
    EXPECT_EQ(gpu.memUsedPct, 25);
    EXPECT_EQ(gpu.fanRpmDiv32, 46);
    EXPECT_EQ(gpu.coreTempC, 64);
    EXPECT_EQ(gpu.memTempC, 78);
    EXPECT_EQ(toUtf8(store.gpus[1].gpuName), "Tesla T4 TCC");
    EXPECT_EQ(store.gpus[2].present, 0);
    // The priming run leaves the library unloaded again.
    EXPECT_EQ(gpuLibraryUsers, 0);
    EXPECT_EQ(calls(kIdUnload), 1);
}

TEST_F(SamplerPass, TwentyGpusFillSixteenSlotsAndTheRestAreNeverAsked) {
    configure("physical 12\ntcc 8\n");
    const LocalStore store = primingPass();
    EXPECT_EQ(store.host.gpuCount, 20);
    for (int slot = 0; slot < kGpuSlots; ++slot) {
        EXPECT_EQ(store.gpus[slot].present, 1) << slot;
        EXPECT_EQ(store.gpus[slot].pciBus, slot + 1) << slot;
    }
    EXPECT_EQ(toUtf8(store.gpus[11].gpuName), "Simulated GPU 11");
    EXPECT_EQ(toUtf8(store.gpus[12].gpuName), "Simulated GPU 12 TCC");
    EXPECT_EQ(calls(kIdGetBusId), 16);
    EXPECT_EQ(calls(kIdGetFullName), 16);
    EXPECT_EQ(calls(kIdGetThermalSettings), 32);
}

TEST_F(SamplerPass, FailingOperationsGiveTheirFailureValues) {
    configure(
        "physical 2\n"
        "gpu 0 fail NvAPI_GPU_GetBusId -1\ngpu 0 fail NvAPI_GPU_GetTachReading -1\n"
        "gpu 0 fail NvAPI_GPU_GetThermalSettings -1\ngpu 0 fail NvAPI_GPU_GetFullName -1\n"
        "missing NvAPI_GPU_GetDynamicPstatesInfoEx\n");
    const LocalStore store = primingPass();
    EXPECT_EQ(store.gpus[0].pciBus, 0);
    EXPECT_EQ(store.gpus[0].fanRpmDiv32, 0);
    EXPECT_EQ(store.gpus[0].coreTempC, 0);
    EXPECT_EQ(store.gpus[0].gpuName[0], 0);
    EXPECT_EQ(store.gpus[0].gpuLoad, 0);
    EXPECT_EQ(store.gpus[0].memTotalMb, 8192);
    EXPECT_EQ(store.gpus[1].pciBus, 2);
    EXPECT_EQ(store.gpus[1].coreTempC, 60);
    EXPECT_EQ(store.gpus[1].memTempC, 70);
}

TEST_F(SamplerPass, ClockDomainsNotPresentKeepTheValuesOfTheLastPass) {
    configure("physical 1\ngpu 0 core 1200000\n");
    primingPass();
    configure("physical 1\ngpu 0 core -\ngpu 0 mem -\ngpu 0 coreBoost 1600000\n");
    const LocalStore store = primingPass();
    EXPECT_EQ(store.gpus[0].coreMhz, 1200);
    EXPECT_EQ(store.gpus[0].memMhz, 6000);
    EXPECT_EQ(store.gpus[0].coreBoostMhz, 1600);
    EXPECT_EQ(store.gpus[0].coreClockPct, 75);
}

TEST_F(SamplerPass, WithoutGpusTheGpuPartIsLeftAlone) {
    useSystemDirectory(scratch);
    const LocalStore store = primingPass();
    EXPECT_EQ(store.host.gpuCount, 0);
    for (const GpuRecord& gpu : store.gpus) EXPECT_EQ(gpu.present, 0);
    EXPECT_GT(store.host.cpuCount, 0);
    EXPECT_GT(store.host.physTotalMb, 0u);
}

TEST_F(SamplerPass, HostNameComesFromTheSettingEveryPass) {
    writeSettingText(settings.networkServerHostname, u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWX");
    LocalStore store = primingPass();
    EXPECT_EQ(toUtf8(store.host.hostName), "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLM");
    writeSettingText(settings.networkServerHostname, u"render-01");
    store = primingPass();
    EXPECT_EQ(toUtf8(store.host.hostName), "render-01");
}

TEST_F(SamplerPass, PublishingLeavesTheChangeFlagsToTheirConsumer) {
    configure("physical 1\n");
    markLocalStoreChanged(1);
    const LocalStore store = primingPass();
    EXPECT_EQ(store.host.changed, 1);
    EXPECT_EQ(store.gpus[0].changed, 1);
    EXPECT_EQ(store.gpus[0].present, 1);
}

TEST_F(SamplerPass, NativelyTheCountersComeFromTheKernel) {
    openSamplerCounters();
    primingPass();
    const LocalStore store = primingPass();
    EXPECT_GT(store.host.processCount, 0);
    EXPECT_GT(store.host.threadCount, store.host.processCount / 2);
    EXPECT_LE(store.host.cpuLoad, 100);
    EXPECT_GE(store.host.pageTotalMb, store.host.physTotalMb);
}

}  // namespace
}  // namespace tarvelon
