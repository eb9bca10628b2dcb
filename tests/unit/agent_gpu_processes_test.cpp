// The processes using the agent's GPUs: fdinfo entries as amdgpu, i915 and xe write them (and
// garbled), the busy share of two counter readings, the choice of twenty a GPU, walks of a fixture
// /proc whose processes come, go and reuse PIDs, and the simulated management library's lists.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "agent/drm_processes.h"
#include "agent/nvml_processes.h"
#include "agent_fixture_root.h"

namespace tarvelon {
namespace {

TEST(DrmFdinfo, ReadsEachDriversKeysAndRefusesWhatIsNotAClient) {
    const struct {
        const char* text;
        bool client;
        uint64_t clientId;
        const char* pdev;
        bool memoryRead;
        uint64_t memoryBytes;
        const char* busiestEngine;  // the engine with the most time; null: none
        uint64_t busiestNs;
        uint32_t capacity;
    } cases[] = {
        {"pos:\t0\ndrm-driver:\tamdgpu\ndrm-client-id:\t17\ndrm-pdev:\t0000:0a:00.0\n"
         "drm-memory-vram:\t262144 KiB\ndrm-memory-gtt: \t2048 KiB\ndrm-engine-gfx:\t5000000000 ns\n"
         "drm-engine-compute:\t100 ns\n",
         true, 17, "0000:0a:00.0", true, 268435456, "gfx", 5000000000, 1},
        // i915: local memory, and an engine class of two engines.
        {"drm-driver:\ti915\ndrm-client-id:\t8\ndrm-pdev:\t0000:03:00.0\ndrm-resident-system0:\t4 MiB\n"
         "drm-resident-local0:\t64 MiB\ndrm-engine-video:\t9000 ns\ndrm-engine-capacity-video:\t2\n",
         true, 8, "0000:03:00.0", true, 67108864, "video", 9000, 2},
        // xe: memory in bytes without a unit, cycles rather than engine times.
        {"drm-driver:\txe\ndrm-client-id:\t40\ndrm-pdev:\t0000:03:00.0\ndrm-resident-vram0:\t1048576\n"
         "drm-cycles-rcs:\t100\n",
         true, 40, "0000:03:00.0", true, 1048576, nullptr, 0, 1},
        // amdgpu's own key wins over the resident one, in whichever order they come.
        {"drm-resident-vram0:\t1 KiB\ndrm-client-id:\t1\ndrm-pdev:\tp\ndrm-memory-vram:\t2 KiB\n", true, 1,
         "p", true, 2048, nullptr, 0, 1},
        // Garbled values are left out, the rest still read.
        {"drm-client-id:\t5\ndrm-pdev:\t0000:0a:00.0\ndrm-memory-vram:\t99999999999999999999 KiB\n"
         "drm-engine-gfx:\tmany ns\ndrm-engine-dma:\t12 us\ndrm-engine-capacity-gfx:\t0\n"
         "drm-memory-vram 5 KiB\n:\t\ndrm-engine-:\t4 ns\n",
         true, 5, "0000:0a:00.0", false, 0, nullptr, 0, 1},
        {"drm-client-id:\tx12\ndrm-pdev:\t0000:0a:00.0\ndrm-memory-vram:\t4 KiB\n", false, 0, "0000:0a:00.0",
         true, 4096, nullptr, 0, 1},
        {"pos:\t0\nflags:\t0100002\nmnt_id:\t25\nino:\t6\n", false, 0, "", false, 0, nullptr, 0, 1},
        {"drm-client-id:\t3\n", false, 3, "", false, 0, nullptr, 0, 1},
        {"", false, 0, "", false, 0, nullptr, 0, 1},
    };
    for (const auto& expected : cases) {
        SCOPED_TRACE(expected.text);
        DrmClientUsage usage;
        EXPECT_EQ(parseDrmFdinfo(expected.text, &usage), expected.client);
        EXPECT_EQ(usage.clientId, expected.clientId);
        EXPECT_EQ(usage.pdev, expected.pdev);
        EXPECT_EQ(usage.memoryRead, expected.memoryRead);
        EXPECT_EQ(usage.memoryBytes, expected.memoryBytes);
        const DrmEngineTime* busiest = nullptr;
        for (int i = 0; i < usage.engineCount; ++i) {
            if (busiest == nullptr || usage.engines[i].busyNs > busiest->busyNs) busiest = &usage.engines[i];
        }
        if (expected.busiestEngine == nullptr) {
            EXPECT_TRUE(busiest == nullptr || busiest->busyNs == 0);
        } else {
            ASSERT_NE(busiest, nullptr);
            EXPECT_STREQ(busiest->name, expected.busiestEngine);
            EXPECT_EQ(busiest->busyNs, expected.busiestNs);
            EXPECT_EQ(busiest->capacity, expected.capacity);
        }
    }
}

TEST(DrmFdinfo, BusyShareIsBetweenNoneAndAllOfTheWallTime) {
    const struct {
        uint64_t before, after, wall;
        uint32_t capacity;
        bool read;
        double share;
    } cases[] = {
        {1000, 501000, 1000000, 1, true, 0.5},
        {0, 1500000, 1000000, 2, true, 0.75},
        {0, 1200000, 1000000, 1, true, 1.0},  // read a moment apart from the clock
        {7, 7, 1000000, 1, true, 0.0},
        {2000, 1000, 1000000, 1, false, 0},  // went back: another file's counter
        {0, 10, 0, 1, false, 0},
    };
    for (const auto& expected : cases) {
        double share = -1;
        EXPECT_EQ(engineBusyShare(expected.before, expected.after, expected.wall, expected.capacity, &share),
                  expected.read);
        if (expected.read) {
            EXPECT_DOUBLE_EQ(share, expected.share) << expected.after;
        }
    }
}

TEST(GpuProcesses, KeepsTwentyAGpuByMemoryThenBusy) {
    std::vector<GpuProcess> processes;
    for (uint32_t pid = 1; pid <= 25; ++pid)
        processes.push_back(GpuProcess{1, pid, "p", pid > 3, pid * 10u, true, pid / 100.0});
    processes.push_back(GpuProcess{0, 99, "only", false, 0, true, 0.5});
    processes.push_back(GpuProcess{1, 100, "busy", false, 0, true, 0.9});
    keepTopProcesses(processes);
    ASSERT_EQ(processes.size(), 21u);
    EXPECT_EQ(processes[0].pid, 99u);
    EXPECT_EQ(processes[1].pid, 25u);  // the most memory first
    EXPECT_EQ(processes[20].pid, 6u);  // the twentieth of GPU 1
}

TEST(GpuProcesses, CommandNamesAreOneLineOfUtf8) {
    EXPECT_EQ(commandName("render\n"), "render");
    EXPECT_EQ(commandName("a\"b\\c\nrest"), "a\"b\\c");
    EXPECT_EQ(commandName(std::string("x\xff") + "y\n"), "x\xef\xbf\xbdy");
}

constexpr char kAmd[] = "0000:0a:00.0";

std::string amdClient(uint64_t id, uint64_t gfxNs, uint64_t vramKib) {
    return "drm-driver:\tamdgpu\ndrm-client-id:\t" + std::to_string(id) + "\ndrm-pdev:\t" + kAmd +
           "\ndrm-memory-vram:\t" + std::to_string(vramKib) + " KiB\ndrm-engine-gfx:\t" +
           std::to_string(gfxNs) + " ns\ndrm-engine-dec:\t0 ns\n";
}

class DrmWalk : public ::testing::Test {
  protected:
    void process(uint32_t pid, const std::string& comm, const std::vector<std::string>& fdinfos) {
        const std::string base = "/proc/" + std::to_string(pid);
        root.removeTree(base);
        root.write(base + "/comm", comm + "\n");
        for (size_t fd = 0; fd < fdinfos.size(); ++fd)
            root.write(base + "/fdinfo/" + std::to_string(fd + 3), fdinfos[fd]);
    }
    std::vector<GpuProcess> walkAt(uint64_t nowMs) {
        std::vector<GpuProcess> processes;
        walkDrmProcesses(walk, {"0000:03:00.0", kAmd}, 2, nowMs * 1000000, &processes);
        return processes;
    }

    FixtureRoot root;
    DrmProcessWalk walk = makeDrmProcessWalk(root.path());
};

TEST_F(DrmWalk, SharesComeFromTheSameClientOfTheSamePidOnly) {
    process(10, "game", {amdClient(1, 1000000000, 1024), amdClient(1, 1000000000, 1024)});  // dup'ed
    process(11, "game-child", {amdClient(1, 1000000000, 1024)});                            // inherited
    process(12, "backwards", {amdClient(2, 9000000000, 4)});
    process(13, "leaving", {amdClient(3, 0, 4)});
    process(14, "old", {amdClient(4, 500000000, 8)});
    process(15, "late", {});
    process(16, "sender", {amdClient(6, 0, 4)});
    process(17, "receiver", {amdClient(6, 0, 4)});  // the same client, passed on
    std::vector<GpuProcess> first = walkAt(1000);
    ASSERT_EQ(first.size(), 5u);
    EXPECT_EQ(first[0].pid, 10u);
    EXPECT_EQ(first[0].slot, 3);
    EXPECT_EQ(first[0].memoryBytes, 1048576u);  // one client, counted once
    for (const GpuProcess& found : first) EXPECT_FALSE(found.busyRead) << found.pid;

    process(10, "game", {amdClient(1, 1250000000, 2048)});
    process(11, "game-child", {amdClient(1, 1250000000, 2048)});
    process(12, "backwards", {amdClient(2, 1000, 4)});
    root.removeTree("/proc/13");
    process(14, "new", {amdClient(9, 900000000, 8)});  // PID 14 used again by another program
    process(15, "late", {amdClient(5, 100, 4)});
    root.removeTree("/proc/16");
    process(17, "receiver", {amdClient(6, 400000000, 4)});
    const std::vector<GpuProcess> second = walkAt(1500);
    ASSERT_EQ(second.size(), 5u);
    const auto find = [&](uint32_t pid) {
        for (const GpuProcess& found : second) {
            if (found.pid == pid) return found;
        }
        ADD_FAILURE() << "no process " << pid;
        return GpuProcess{};
    };
    EXPECT_TRUE(find(10).busyRead);
    EXPECT_DOUBLE_EQ(find(10).busyRatio, 0.5);
    EXPECT_EQ(find(10).memoryBytes, 2097152u);
    EXPECT_FALSE(find(12).busyRead);
    EXPECT_EQ(find(14).command, "new");
    EXPECT_FALSE(find(14).busyRead);
    EXPECT_FALSE(find(15).busyRead);
    EXPECT_FALSE(find(17).busyRead);  // its time so far was the sender's
}

TEST_F(DrmWalk, AProcessWithoutANameIsLeftOut) {
    process(20, "named", {amdClient(1, 0, 4)});
    process(21, "gone", {amdClient(2, 0, 4)});
    root.remove("/proc/21/comm");
    const std::vector<GpuProcess> found = walkAt(1000);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].command, "named");
}

class NvmlProcesses : public ::testing::Test {
  protected:
    void SetUp() override {
        configPath = root.path() + "/simulated-nvml.txt";
        setenv("TARVELON_SIMULATED_NVML", configPath.c_str(), 1);
        root.write("/proc/2100/comm", "trainer\n");
        root.write("/proc/2200/comm", "viewer\n");
    }
    void TearDown() override { closeNvmlGpus(&gpus); }
    void configure(const std::string& text) { std::ofstream(configPath, std::ios::trunc) << text; }
    std::vector<GpuProcess> read() {
        std::vector<GpuProcess> processes;
        readNvmlProcesses(reader, gpus, &processes);
        return processes;
    }

    FixtureRoot root;
    std::string configPath;
    NvmlGpus gpus{};
    NvmlProcessReader reader = makeNvmlProcessReader(root.path());
};

TEST_F(NvmlProcesses, ListsMergeAndTheNewestSampleGivesTheShare) {
    std::string config =
        "count 2\ngpu 0 compute 2100 1073741824\ngpu 0 graphics 2100 1073741824\n"
        "gpu 0 graphics 2200 -1\ngpu 0 sample 2100 73 1000\ngpu 0 sample 2100 50 500\n"
        "gpu 0 sample 2300 90 900\n";
    // More processes than the first array has room for, on a GPU that cannot tell their shares.
    config += "gpu 1 fail nvmlDeviceGetProcessUtilization 3\n";
    for (uint32_t pid = 5000; pid < 5040; ++pid) config += "gpu 1 compute " + std::to_string(pid) + " 4096\n";
    configure(config);
    ASSERT_EQ(openNvmlGpus(TARVELON_SIMULATED_NVML, &gpus), NvmlOpenOutcome::Ready);
    std::vector<GpuProcess> found = read();
    ASSERT_EQ(found.size(), 42u);
    EXPECT_EQ(found[0].pid, 2100u);
    EXPECT_EQ(found[0].command, "trainer");
    EXPECT_EQ(found[0].memoryBytes, 1073741824u);
    EXPECT_DOUBLE_EQ(found[0].busyRatio, 0.73);
    EXPECT_EQ(found[1].pid, 2200u);
    EXPECT_FALSE(found[1].memoryRead);
    EXPECT_TRUE(found[1].busyRead);
    EXPECT_EQ(found[1].busyRatio, 0);
    EXPECT_EQ(found[41].slot, 1);
    EXPECT_EQ(found[41].pid, 5039u);
    EXPECT_FALSE(found[41].busyRead);
    EXPECT_EQ(found[41].command, "");

    // No sample newer than the last seen: every process was idle since.
    found = read();
    ASSERT_EQ(found.size(), 42u);
    EXPECT_TRUE(found[0].busyRead);
    EXPECT_EQ(found[0].busyRatio, 0);
}

}  // namespace
}  // namespace tarvelon
