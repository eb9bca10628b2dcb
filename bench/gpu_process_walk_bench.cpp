// What one look for the processes using the AMD and Intel GPUs costs the agent: a walk of a fixture
// /proc of 1000 processes, each with eight descriptors (links to ordinary files, passed over) and one
// DRM client, every client's fdinfo read and compared with the walk before (goal: under 5 ms); and a
// walk of this machine's own /proc for a GPU none of its processes use, which is what an agent with
// --collect-processes pays on every scrape of a machine whose processes hold no GPU.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "agent/drm_processes.h"

namespace tarvelon {
namespace {

constexpr int kProcesses = 1000;
constexpr int kOtherDescriptors = 8;
const std::vector<std::string> kGpus = {"0000:03:00.0", "0000:0a:00.0"};

std::string makeFixture() {
    char pattern[] = "/dev/shm/tarvelon-walk-XXXXXX";
    const std::string root = mkdtemp(pattern);
    for (int pid = 1000; pid < 1000 + kProcesses; ++pid) {
        const std::string process = root + "/proc/" + std::to_string(pid);
        std::system(("mkdir -p '" + process + "/fd' '" + process + "/fdinfo'").c_str());
        std::ofstream(process + "/comm") << "worker" << pid << "\n";
        for (int fd = 0; fd < kOtherDescriptors; ++fd) {
            if (symlink("/dev/null", (process + "/fd/" + std::to_string(fd)).c_str()) != 0) std::abort();
            std::ofstream(process + "/fdinfo/" + std::to_string(fd))
                << "pos:\t0\nflags:\t02\nmnt_id:\t25\nino:\t6\n";
        }
        if (symlink("/dev/dri/renderD128", (process + "/fd/9").c_str()) != 0) std::abort();
        std::ofstream(process + "/fdinfo/9")
            << "pos:\t0\nflags:\t02100002\nmnt_id:\t24\nino:\t1031\ndrm-driver:\tamdgpu\ndrm-client-id:\t"
            << pid << "\ndrm-pdev:\t" << kGpus[pid % 2] << "\ndrm-memory-vram:\t" << pid * 1024
            << " KiB\ndrm-memory-gtt: \t2048 KiB\ndrm-engine-gfx:\t" << pid * 1000000
            << " ns\ndrm-engine-compute:\t0 ns\ndrm-engine-dec:\t0 ns\ndrm-engine-enc:\t0 ns\n";
    }
    return root;
}

void walkOfAThousandGpuProcesses(benchmark::State& state) {
    const std::string root = makeFixture();
    DrmProcessWalk walk = makeDrmProcessWalk(root);
    uint64_t nowNs = 1000000000;
    std::vector<GpuProcess> processes;
    for (auto _ : state) {
        processes.clear();
        nowNs += 1000000000;
        walkDrmProcesses(walk, kGpus, 0, nowNs, &processes);
        benchmark::DoNotOptimize(processes.data());
    }
    state.counters["processes"] = static_cast<double>(processes.size());
    std::system(("rm -rf '" + root + "'").c_str());
}
BENCHMARK(walkOfAThousandGpuProcesses)->Unit(benchmark::kMillisecond);

void walkOfThisMachine(benchmark::State& state) {
    DrmProcessWalk walk = makeDrmProcessWalk("");
    std::vector<GpuProcess> processes;
    for (auto _ : state) {
        processes.clear();
        walkDrmProcesses(walk, {"ffff:ff:1f.7"}, 0, 0, &processes);
        benchmark::DoNotOptimize(processes.data());
    }
}
BENCHMARK(walkOfThisMachine)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvelon

BENCHMARK_MAIN();
