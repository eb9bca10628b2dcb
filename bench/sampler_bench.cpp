// One sampling pass with 16 simulated GPUs behind the GPU access layer, natively: the host's own
// figures, then every GPU operation of every slot, computed on a copy and published.
// Run from the build tree: it finds the simulated library in ../tests/fixtures beside itself.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "telemetry/local_store.h"
#include "telemetry/sampler.h"

namespace tarvelon {
namespace {

std::string benchDirectory() {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string executable(self, length > 0 ? static_cast<size_t>(length) : 0);
    return executable.substr(0, executable.find_last_of('/'));
}

void samplerPassWith16Gpus(benchmark::State& state) {
    const std::string configuration = "/tmp/tarvelon-bench-gpus-" + std::to_string(getpid()) + ".txt";
    if (FILE* file = std::fopen(configuration.c_str(), "w")) {
        std::fputs("physical 12\ntcc 4\n", file);
        std::fclose(file);
    }
    setenv("TARVELON_SIMULATED_GPUS", configuration.c_str(), 1);
    setenv("TARVELON_SYSTEM_DIR", (benchDirectory() + "/../tests/fixtures").c_str(), 1);

    openSamplerCounters();
    GpuContext* context = openGpuContext();
    if (context->count != 16) state.SkipWithError("the simulated GPU library was not found");
    for (auto _ : state) samplePass(context);
    benchmark::DoNotOptimize(readLocalStore());
    closeGpuContext(context);
    std::remove(configuration.c_str());
}
BENCHMARK(samplerPassWith16Gpus)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvelon

BENCHMARK_MAIN();
