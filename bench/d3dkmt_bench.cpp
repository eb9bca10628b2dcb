// The adapters beside the NVIDIA library's GPUs, natively against the stand-in library of the tests:
// what one second's reading of four adapters costs, and the handles held after an hour of rescans
// (one a minute, and one for every display or device change Windows reports). Run from the build
// tree: it finds the stand-in in ../tests/fixtures beside itself.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/text16.h"
#include "telemetry/d3dkmt_adapters.h"

namespace tarvelon {
namespace {

std::string standInPath() {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string executable(self, length > 0 ? static_cast<size_t>(length) : 0);
    return executable.substr(0, executable.find_last_of('/')) + "/../tests/fixtures/libsimulated_d3dkmt.so";
}

// Four GPUs with three engines and two segments each, every query answered.
std::string fourAdapters() {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const std::string a = "adapter " + std::to_string(i) + " ";
        text += a + "name Simulated GPU " + std::to_string(i) + "\n" + a + "address " +
                std::to_string(i + 1) + " 0 0\n" + a + "dedicated 8589934592\n" + a +
                "segment 0 0 2147483648\n" + a + "segment 1 1 1073741824\n" + a + "node 0 1 40\n" + a +
                "node 1 6 10\n" + a + "node 2 2 5\n" + a + "core 1800000000\n" + a + "maxCore 2400000000\n" +
                a + "mem 1000000000\n" + a + "maxMem 2000000000\n" + a + "fan 1500\n" + a + "temp 650\n";
    }
    return text;
}

struct StandIn {
    std::string configuration = "/tmp/tarvelon-bench-d3dkmt-" + std::to_string(getpid()) + ".txt";
    DynamicLibrary* library = nullptr;
    void* self = nullptr;
    D3dkmtFunctions functions{};

    StandIn() {
        if (FILE* file = std::fopen(configuration.c_str(), "w")) {
            std::fputs(fourAdapters().c_str(), file);
            std::fclose(file);
        }
        setenv("TARVELON_SIMULATED_D3DKMT", configuration.c_str(), 1);
        library = loadD3dkmtFunctions(fromUtf8(standInPath()).c_str(), &functions);
        self = dlopen(standInPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    ~StandIn() {
        if (self != nullptr) dlclose(self);
        if (library != nullptr) freeLibrary(library);
        std::remove(configuration.c_str());
    }
    int openHandles() const {
        return reinterpret_cast<int (*)()>(dlsym(self, "SimulatedD3dkmtOpenHandles"))();
    }
};

void BM_FourAdaptersOneSecond(benchmark::State& state) {
    StandIn standIn;
    if (standIn.library == nullptr) {
        state.SkipWithError("the stand-in library was not found");
        return;
    }
    std::unique_ptr<D3dkmtAdapters> list(new D3dkmtAdapters{});
    GpuRecord records[kGpuSlots] = {};
    if (sampleD3dkmtAdapters(&standIn.functions, *list, nullptr, 0, records, 0) != 4) {
        state.SkipWithError("four adapters expected");
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(sampleD3dkmtAdapters(&standIn.functions, *list, nullptr, 0, records, 0));
    closeD3dkmtAdapters(standIn.functions, *list);
}
BENCHMARK(BM_FourAdaptersOneSecond)->Unit(benchmark::kMicrosecond);

// An hour of passes, a second apart on the list's clock: 60 minute rescans and 120 for changes Windows
// reported. open_handles_before and _after must be equal (four tiles' worth).
void BM_HourOfRescans(benchmark::State& state) {
    StandIn standIn;
    if (standIn.library == nullptr) {
        state.SkipWithError("the stand-in library was not found");
        return;
    }
    std::unique_ptr<D3dkmtAdapters> list(new D3dkmtAdapters{});
    GpuRecord records[kGpuSlots] = {};
    sampleD3dkmtAdapters(&standIn.functions, *list, nullptr, 0, records, 0);
    const int before = standIn.openHandles();
    for (auto _ : state) {
        for (uint64_t second = 1; second <= 3600; ++second) {
            if (second % 30 == 0) requestD3dkmtRescan();
            sampleD3dkmtAdapters(&standIn.functions, *list, nullptr, 0, records, second * 1000);
        }
    }
    state.counters["open_handles_before"] = before;
    state.counters["open_handles_after"] = standIn.openHandles();
    closeD3dkmtAdapters(standIn.functions, *list);
}
BENCHMARK(BM_HourOfRescans)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace tarvelon

BENCHMARK_MAIN();
