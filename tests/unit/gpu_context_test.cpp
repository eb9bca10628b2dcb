#include "platform/text16.h"
#include "unit/simulated_driver.h"

namespace tarvelon {
namespace {

using GpuDiscovery = SimulatedDriverTest;

TEST_F(GpuDiscovery, ListsPhysicalGpusFirstThenTccGpusWithTheirSuffix) {
    configure(
        "physical 2\ntcc 1\n"
        "gpu 0 name GeForce RTX 4090\ngpu 1 name GeForce GTX 1080\ngpu 2 name Tesla V100\n");
    GpuContext* context = openGpuContext();
    EXPECT_EQ(context->found, 1);
    EXPECT_EQ(context->count, 3);
    EXPECT_EQ(context->physicalCount, 2);
    EXPECT_EQ(context->tccCount, 1);
    EXPECT_EQ(context->handles[0], context->physicalHandles[0]);
    EXPECT_EQ(context->handles[1], context->physicalHandles[1]);
    EXPECT_EQ(context->handles[2], context->tccHandles[0]);
    EXPECT_EQ(toUtf8(gpuName(context, 0)), "GeForce RTX 4090");
    EXPECT_EQ(toUtf8(gpuName(context, 1)), "GeForce GTX 1080");
    EXPECT_EQ(toUtf8(gpuName(context, 2)), "Tesla V100 TCC");
    EXPECT_EQ(toUtf8(gpuName(context, 2)), "Tesla V100 TCC");  // cached, not suffixed twice
    EXPECT_EQ(gpuName(context, 3), context->emptyName);
    EXPECT_EQ(gpuName(context, -1), context->emptyName);
    EXPECT_EQ(calls(kIdGetFullName), 3);
    closeGpuContext(context);
}

struct EnumerationCase {
    const char* config;
    int32_t physical;
    int32_t tcc;
};

TEST_F(GpuDiscovery, ListsOnlyTheGpusOfTheEnumerationsThatSucceed) {
    const EnumerationCase cases[] = {
        {"physical 2\ntcc 1\nfail NvAPI_EnumPhysicalGPUs -1\n", 0, 1},
        {"physical 2\ntcc 1\nfail NvAPI_EnumTCCPhysicalGPUs -1\n", 2, 0},
        {"physical 2\ntcc 1\nmissing NvAPI_EnumTCCPhysicalGPUs\n", 2, 0},
        {"physical 0\ntcc 0\n", 0, 0},
        {"physical 20\n", 20, 0},
        {"physical 70\ntcc 64\n", 64, 64},  // a count beyond the 64 handles the driver can write
    };
    for (const EnumerationCase& test : cases) {
        SCOPED_TRACE(test.config);
        configure(test.config);
        GpuContext* context = openGpuContext();
        EXPECT_EQ(context->physicalCount, test.physical);
        EXPECT_EQ(context->tccCount, test.tcc);
        EXPECT_EQ(context->count, test.physical + test.tcc);
        EXPECT_EQ(context->found, test.physical + test.tcc != 0 ? 1 : 0);
        if (test.physical == 0 && test.tcc == 1) {
            EXPECT_EQ(toUtf8(gpuName(context, 0)), "Simulated GPU 2 TCC");
        }
        closeGpuContext(context);
    }
}

TEST_F(GpuDiscovery, NamesAreWidenedByteByByteFromAtMost64Bytes) {
    const std::string long64(64, 'N');
    configure("physical 3\ntcc 1\ngpu 0 name " + long64 + "\ngpu 1 name Caf\xE9 GPU\ngpu 3 name " + long64 +
              "\n");
    GpuContext* context = openGpuContext();
    EXPECT_EQ(toUtf8(gpuName(context, 0)), long64);
    const char16_t* latin = gpuName(context, 1);
    EXPECT_EQ(latin[3], 0xE9);
    EXPECT_EQ(latin[4], u' ');
    EXPECT_EQ(toUtf8(gpuName(context, 3)), long64 + " TCC");
    closeGpuContext(context);
}

TEST_F(GpuDiscovery, AFailedNameIsEmptyAndAskedForAgain) {
    configure("physical 1\nfail NvAPI_GPU_GetFullName -1\n");
    GpuContext* context = openGpuContext();
    EXPECT_EQ(gpuName(context, 0), context->emptyName);
    EXPECT_EQ(gpuName(context, 0), context->emptyName);
    EXPECT_EQ(calls(kIdGetFullName), 2);
    closeGpuContext(context);
}

TEST_F(GpuDiscovery, TheLastContextToCloseUnloadsAndTheNextOneLoadsAgain) {
    configure("physical 1\n");
    GpuContext* first = openGpuContext();
    GpuContext* second = openGpuContext();
    EXPECT_EQ(gpuLibraryUsers, 2);
    EXPECT_EQ(calls(kIdInitialize), 2);  // the load's own and the first user's
    closeGpuContext(first);
    EXPECT_EQ(calls(kIdUnload), 0);
    closeGpuContext(second);
    EXPECT_EQ(gpuLibraryUsers, 0);
    EXPECT_EQ(calls(kIdUnload), 1);

    GpuContext* third = openGpuContext();
    EXPECT_EQ(calls(kIdInitialize), 4);
    EXPECT_EQ(third->count, 1);
    closeGpuContext(third);
    EXPECT_EQ(calls(kIdUnload), 2);
}

}  // namespace
}  // namespace tarvelon
