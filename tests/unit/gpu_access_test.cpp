#include <cstdlib>
#include <thread>

#include "unit/simulated_driver.h"

namespace tarvelon {
namespace {

using GpuAccess = SimulatedDriverTest;

NvPhysicalGpuHandle firstGpu() {
    NvPhysicalGpuHandle handles[kMaxPhysicalGpus] = {};
    uint32_t count = 0;
    EXPECT_EQ(NvAPI_EnumPhysicalGPUs(handles, &count), 0);
    return handles[0];
}

TEST_F(GpuAccess, WithoutTheLibraryEveryOperationFailsAndThereAreNoGpus) {
    useSystemDirectory(scratch);  // holds no libnvapi.so
    NvPhysicalGpuHandle handles[kMaxPhysicalGpus];
    uint32_t count = 0;
    EXPECT_EQ(NvAPI_Initialize(), kStatusNoLibrary);
    EXPECT_EQ(NvAPI_EnumPhysicalGPUs(handles, &count), kStatusNoLibrary);
    EXPECT_EQ(NvAPI_GPU_GetTachReading(nullptr, &count), kStatusNoLibrary);
    EXPECT_EQ(NvAPI_Unload(), kStatusNotLoaded);

    GpuContext* context = openGpuContext();
    EXPECT_EQ(context->found, 0);
    EXPECT_EQ(context->count, 0);
    EXPECT_EQ(gpuName(context, 0)[0], 0);
    closeGpuContext(context);
}

TEST_F(GpuAccess, ResolvesEachOperationOncePerLoad) {
    configure("physical 1\n");
    const NvPhysicalGpuHandle gpu = firstGpu();
    uint32_t rpm = 0;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(NvAPI_GPU_GetTachReading(gpu, &rpm), 0);
    EXPECT_EQ(rpm, 1500u);
    EXPECT_EQ(queries(kIdGetTachReading), 1);
    EXPECT_EQ(calls(kIdGetTachReading), 3);
    EXPECT_EQ(calls(kIdInitialize), 1);  // by the load itself

    EXPECT_EQ(NvAPI_Unload(), 0);
    EXPECT_EQ(calls(kIdUnload), 1);
    EXPECT_EQ(NvAPI_Unload(), kStatusNotLoaded);

    // The next call loads and initialises again, and entry points of the old load are not reused.
    EXPECT_EQ(NvAPI_GPU_GetTachReading(gpu, &rpm), 0);
    EXPECT_EQ(calls(kIdInitialize), 2);
    EXPECT_EQ(queries(kIdGetTachReading), 2);
    EXPECT_EQ(NvAPI_Unload(), 0);
}

TEST_F(GpuAccess, ReloadsWhenTheLibraryFileIsReplaced) {
    useSystemDirectory(privateLibraryDirectory());
    configure("physical 1\n");
    const NvPhysicalGpuHandle gpu = firstGpu();
    uint32_t busId = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusId(gpu, &busId), 0);
    EXPECT_EQ(NvAPI_GPU_GetBusId(gpu, &busId), 0);
    EXPECT_EQ(calls(kIdInitialize), 1);
    EXPECT_EQ(queries(kIdGetBusId), 1);

    // A driver update: a new file under the same name.
    const std::string file = scratch + "/system/libnvapi.so";
    ASSERT_EQ(
        std::system(("cp '" + file + "' '" + file + ".new' && mv '" + file + ".new' '" + file + "'").c_str()),
        0);
    EXPECT_EQ(NvAPI_GPU_GetBusId(gpu, &busId), 0);
    EXPECT_EQ(busId, 1u);
    EXPECT_EQ(calls(kIdInitialize), 2);
    EXPECT_EQ(queries(kIdGetBusId), 2);

    EXPECT_EQ(NvAPI_GPU_GetBusId(gpu, &busId), 0);
    EXPECT_EQ(calls(kIdInitialize), 2);
    EXPECT_EQ(queries(kIdGetBusId), 2);
    EXPECT_EQ(NvAPI_Unload(), 0);
    EXPECT_EQ(NvAPI_Unload(), kStatusNotLoaded);  // one unload frees the one load that is held
}

TEST_F(GpuAccess, AMissingOperationGivesMinus3AndTheOthersStillWork) {
    configure("physical 1\nmissing NvAPI_GPU_GetTachReading\n");
    const NvPhysicalGpuHandle gpu = firstGpu();
    uint32_t value = 0;
    EXPECT_EQ(NvAPI_GPU_GetTachReading(gpu, &value), kStatusNoOperation);
    EXPECT_EQ(NvAPI_GPU_GetTachReading(gpu, &value), kStatusNoOperation);
    EXPECT_EQ(NvAPI_GPU_GetBusId(gpu, &value), 0);
    EXPECT_EQ(calls(kIdGetTachReading), 0);
    EXPECT_EQ(NvAPI_Unload(), 0);
}

TEST_F(GpuAccess, DriverStatusesPassThroughUnchanged) {
    configure("physical 1\nfail NvAPI_GPU_GetBusId -104\nfail NvAPI_Unload 3\n");
    const NvPhysicalGpuHandle gpu = firstGpu();
    uint32_t value = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusId(gpu, &value), -104);
    // A refused unload keeps the library; the layer reports it as busy.
    EXPECT_EQ(NvAPI_Unload(), kStatusNotInitialised);
    configure("physical 1\n");
    EXPECT_EQ(NvAPI_Initialize(), 0);  // reads the new configuration
    EXPECT_EQ(NvAPI_Unload(), 0);
}

struct InitialisationCase {
    const char* config;
    int32_t status;
};

TEST_F(GpuAccess, AFailedInitialisationLeavesNothingLoaded) {
    const InitialisationCase cases[] = {
        {"physical 1\nfail NvAPI_Initialize 7\n", 7},
        {"physical 1\nmissing NvAPI_Initialize\n", kStatusNotInitialised},
    };
    for (const InitialisationCase& test : cases) {
        SCOPED_TRACE(test.config);
        configure(test.config);
        NvPhysicalGpuHandle handles[kMaxPhysicalGpus];
        uint32_t count = 0;
        EXPECT_EQ(NvAPI_EnumPhysicalGPUs(handles, &count), test.status);
        EXPECT_EQ(calls(kIdEnumPhysicalGpus), 0);
        EXPECT_EQ(NvAPI_Unload(), kStatusNotLoaded);
    }
}

TEST_F(GpuAccess, UnloadIsRefusedWhileACallIsInFlight) {
    configure("physical 1\n");
    const NvPhysicalGpuHandle gpu = firstGpu();
    hold(kIdGetTachReading, true);
    int32_t status = 1;
    std::thread caller([&] {
        uint32_t rpm;
        status = NvAPI_GPU_GetTachReading(gpu, &rpm);
    });
    ASSERT_TRUE(waitUntilHeld(kIdGetTachReading));
    EXPECT_EQ(NvAPI_Unload(), kStatusNotInitialised);
    EXPECT_EQ(calls(kIdUnload), 0);
    hold(kIdGetTachReading, false);
    caller.join();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(NvAPI_Unload(), 0);
}

TEST_F(GpuAccess, CallsWaitForAnUnloadInProgressAndThenGiveUp) {
    configure("physical 1\n");
    const NvPhysicalGpuHandle gpu = firstGpu();
    hold(kIdUnload, true);
    int32_t unloadStatus = 1;
    std::thread unloader([&] { unloadStatus = NvAPI_Unload(); });
    ASSERT_TRUE(waitUntilHeld(kIdUnload));
    uint32_t rpm;
    EXPECT_EQ(NvAPI_GPU_GetTachReading(gpu, &rpm), kStatusNotInitialised);
    EXPECT_EQ(calls(kIdGetTachReading), 0);
    hold(kIdUnload, false);
    unloader.join();
    EXPECT_EQ(unloadStatus, 0);
    // The flag is cleared: the next call loads the library again.
    EXPECT_EQ(NvAPI_GPU_GetTachReading(gpu, &rpm), 0);
    EXPECT_EQ(NvAPI_Unload(), 0);
}

}  // namespace
}  // namespace tarvelon
