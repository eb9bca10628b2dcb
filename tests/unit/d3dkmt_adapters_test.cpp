#include "telemetry/d3dkmt_adapters.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "platform/text16.h"
#include "unit/simulated_driver.h"

namespace tarvelon {
namespace {

TEST(D3dkmtAdapterChoice, OnlyHardwareWithAPciAddressNotShownByTheNvidiaLibrary) {
    const PciPlace shown[] = {{1, 0}};
    struct Case {
        const char* what;
        AdapterFacts facts;
        bool tile;
    };
    const Case cases[] = {
        {"AMD card", {true, 1, true, 0x1002, true, {3, 0, 0}}, true},
        {"facts not given but an address", {false, 0, false, 0, true, {4, 0, 0}}, true},
        {"the NVIDIA library's own card", {true, 1, true, 0x10DE, true, {1, 0, 0}}, false},
        {"its second function is still that card", {true, 1, true, 0x10DE, true, {1, 0, 1}}, false},
        {"another device on that bus", {true, 1, true, 0x10DE, true, {1, 1, 0}}, true},
        {"software adapter", {true, 1 | kAdapterTypeSoftwareDevice, true, 0x8086, true, {0, 2, 0}}, false},
        {"Basic Render Driver", {true, 1, true, 0x1414, true, {0, 0, 0}}, false},
        {"no PCI address (indirect display)", {true, 3, true, 0x1234, false, {0, 0, 0}}, false},
        {"an address no PCI bus has",
         {true, 1, true, 0x1002, true, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}},
         false},
    };
    for (const Case& c : cases) EXPECT_EQ(adapterBecomesTile(c.facts, shown, 1), c.tile) << c.what;
}

// The native stand-in library with its configuration in a scratch file.
class D3dkmtStandIn : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarvelon-d3dkmt-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        scratch = pattern;
        setenv("TARVELON_SIMULATED_D3DKMT", (scratch + "/adapters.txt").c_str(), 1);
        const std::string path = fixtureLibraryDirectory() + "/libsimulated_d3dkmt.so";
        loaded = loadD3dkmtFunctions(fromUtf8(path).c_str(), &functions);
        ASSERT_NE(loaded, nullptr);
        library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr);
        nvidia[0].present = 1;
        nvidia[0].pciBus = 1;
    }
    void TearDown() override {
        closeD3dkmtAdapters(functions, *list);
        EXPECT_EQ(openHandles(), 0);
        dlclose(library);
        freeLibrary(loaded);
        std::system(("rm -rf '" + scratch + "'").c_str());
    }
    void configure(const std::string& text) {
        std::ofstream(scratch + "/adapters.txt", std::ios::trunc) << text;
        reinterpret_cast<void (*)()>(dlsym(library, "SimulatedD3dkmtReload"))();
    }
    int openHandles() { return reinterpret_cast<int (*)()>(dlsym(library, "SimulatedD3dkmtOpenHandles"))(); }
    int32_t sample(uint64_t nowMs) {
        return sampleD3dkmtAdapters(&functions, *list, nvidia, 1, records, nowMs);
    }

    std::string scratch;
    DynamicLibrary* loaded = nullptr;
    void* library = nullptr;  // the same library, for its test switches
    D3dkmtFunctions functions{};
    std::unique_ptr<D3dkmtAdapters> list{new D3dkmtAdapters{}};
    GpuRecord nvidia[1] = {};
    GpuRecord records[kGpuSlots] = {};
};

// The desk that the Wine test reads too: the NVIDIA library's card, an AMD card, an Intel GPU with a
// carve-out, the Basic Render Driver, and an indirect display.
const std::string kDesk = [] {
    std::ifstream script(std::string(TARVELON_GPU_FIXTURES) + "/d3dkmt-desk.txt");
    return std::string(std::istreambuf_iterator<char>(script), {});
}();

TEST_F(D3dkmtStandIn, TheDeskGivesTwoTilesInPciOrderWithTheirFigures) {
    configure(kDesk);
    ASSERT_EQ(sample(1000), 2);
    EXPECT_EQ(openHandles(), 2);  // the other three closed at once
    EXPECT_EQ(toUtf8(records[0].gpuName), "Intel(R) UHD Graphics 770");
    EXPECT_EQ(records[0].pciBus, 0);
    EXPECT_EQ(records[0].pciSlot, 2);
    EXPECT_EQ(toUtf8(records[1].gpuName), "AMD Radeon RX 6800");
    EXPECT_EQ(records[1].pciBus, 3);
    EXPECT_EQ(records[1].gpuLoad, 0);  // one sample is no load yet

    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(sample(2000), 2);
    EXPECT_NEAR(records[0].gpuLoad, 30, 1);
    EXPECT_NEAR(records[1].gpuLoad, 40, 1);
    EXPECT_EQ(records[0].memTotalMb, 16384);  // shared memory of the carve-out GPU
    EXPECT_EQ(records[0].memFreeMb, 14336);
    EXPECT_EQ(records[1].memTotalMb, 16384);
    EXPECT_EQ(records[1].memFreeMb, 12288);
    EXPECT_EQ(records[1].coreMhz, 2105);
    EXPECT_EQ(records[1].coreBoostMhz, 2400);
    EXPECT_EQ(records[1].memMhz, 1000);
    EXPECT_EQ(records[1].fanRpmDiv32, 46);
    EXPECT_EQ(records[1].coreTempC, 65);
    EXPECT_EQ(records[0].coreMhz, 0);  // the Intel GPU gives no clocks
    EXPECT_EQ(openHandles(), 2);
}

TEST_F(D3dkmtStandIn, AVanishingAdapterLeavesAtOnceAndTheOtherKeepsItsLoad) {
    configure(kDesk);
    ASSERT_EQ(sample(1000), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string docked = "adapter 5 name Docked GPU\nadapter 5 address 9 0 0\n";
    configure(std::string(kDesk) + "adapter 2 gone\n" + docked);
    // Within the minute: the removed answer made a rescan at once, which finds the docked GPU too.
    ASSERT_EQ(sample(2000), 2);
    EXPECT_EQ(toUtf8(records[0].gpuName), "AMD Radeon RX 6800");
    EXPECT_NEAR(records[0].gpuLoad, 40, 1);  // its running times carried through the rescan
    EXPECT_EQ(toUtf8(records[1].gpuName), "Docked GPU");
    EXPECT_EQ(openHandles(), 2);

    configure(std::string(kDesk) + docked);  // plugged in again: seen at the next rescan
    EXPECT_EQ(sample(3000), 2);
    requestD3dkmtRescan();
    EXPECT_EQ(sample(4000), 3);
    EXPECT_EQ(openHandles(), 3);
}

TEST_F(D3dkmtStandIn, RescansOnceAMinuteWithoutGrowingHandles) {
    configure(kDesk);
    ASSERT_EQ(sample(0), 2);
    configure(std::string(kDesk) + "adapter 5 name Second AMD\nadapter 5 address 9 0 0\n");
    EXPECT_EQ(sample(kRescanPeriodMs - 1), 2);
    EXPECT_EQ(sample(kRescanPeriodMs), 3);
    for (uint64_t minute = 2; minute < 62; ++minute) sample(minute * kRescanPeriodMs);
    EXPECT_EQ(openHandles(), 3);
}

TEST_F(D3dkmtStandIn, GarbageGivesTheSoundFiguresAndNoOthers) {
    configure(R"(count 1000
adapter 0 unterminated
adapter 0 address 5 0 0
adapter 0 dedicated 8589934592
adapter 0 segments 5000
adapter 0 nodes 3
adapter 0 node 0 1 50
adapter 0 node 1 1 20
adapter 0 back
adapter 0 temp 65535
adapter 0 fan 1200
adapter 1 address 6 0 0
adapter 1 nodes 100000
adapter 1 fail 62 -1073741811
)");
    ASSERT_EQ(sample(0), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(sample(1000), 2);
    EXPECT_EQ(toUtf8(records[0].gpuName), std::string(39, 'X'));
    EXPECT_EQ(records[0].memTotalMb, 0);  // thousands of segments are not believed
    EXPECT_EQ(records[0].coreTempC, 0);
    EXPECT_EQ(records[0].fanRpmDiv32, 37);
    EXPECT_NEAR(records[0].gpuLoad, 20, 1);  // node 0 ran backwards; node 2 stands still
    EXPECT_EQ(records[1].gpuLoad, 0);        // a hundred thousand engines are not believed
    EXPECT_EQ(records[1].fanRpmDiv32, 0);
}

TEST(D3dkmtFunctionsLookup, ALibraryWithoutThemGivesNoTiles) {
    D3dkmtFunctions functions{};
    EXPECT_EQ(loadD3dkmtFunctions(fromUtf8(fixtureLibraryDirectory() + "/libnvapi.so").c_str(), &functions),
              nullptr);
    EXPECT_EQ(loadD3dkmtFunctions(u"/nonexistent/libgdi32.so", &functions), nullptr);
    D3dkmtAdapters list{};
    GpuRecord records[kGpuSlots] = {};
    EXPECT_EQ(sampleD3dkmtAdapters(nullptr, list, nullptr, 0, records, 0), 0);
}

}  // namespace
}  // namespace tarvelon
