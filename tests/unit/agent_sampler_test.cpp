// The agent's sampler on demand over a fixture tree: which questions run a pass and which share the
// last one, alone and from many threads at once.
#include "agent/agent_sampler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "agent_fixture_root.h"

namespace tarvelon {
namespace {

class AgentSamplerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root.writeTypicalMachine();
        sampler.host = makeLinuxHostSampler(root.path());
        sampler.drm = makeDrmGpus(root.path(), systemIdLists());  // not the machine's own GPUs
        sampler.keepFigures = true;
    }

    FixtureRoot root;
    AgentSampler sampler{};
};

TEST_F(AgentSamplerTest, AQuestionRunsAPassOnlyWhenTheFiguresAreStale) {
    const struct {
        uint64_t askedAtMs;
        bool runsPass;
    } questions[] = {
        {1000, true},    // nothing gathered yet
        {1500, false},   // half a second old
        {1899, false},   // just under 0.9 s
        {1900, true},    // 0.9 s old
        {1850, false},   // read the clock before the pass another asker ran
        {61900, true},   // after a minute of silence
        {61901, false},
    };
    for (const auto& question : questions) {
        EXPECT_EQ(refreshAgentFigures(sampler, question.askedAtMs), question.runsPass) << question.askedAtMs;
    }
    EXPECT_EQ(sampler.passMs, 61900u);
}

TEST_F(AgentSamplerTest, QuestionsArrivingTogetherShareOnePass) {
    ASSERT_TRUE(refreshAgentFigures(sampler, 4900));
    constexpr int kAskers = 8;
    std::atomic<bool> go{false};
    std::atomic<int> passes{0};
    std::atomic<int> figuresRead{0};
    std::vector<std::thread> askers;
    for (int i = 0; i < kAskers; ++i) {
        askers.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            if (i < 2) {
                // Fresh figures, read while the others' pass may be writing them.
                figuresRead += freshPassFigures(sampler, 5000).hostFigures.memoryRead ? 1 : 0;
            } else {
                passes += refreshAgentFigures(sampler, 5800) ? 1 : 0;
            }
        });
    }
    go.store(true);
    for (std::thread& asker : askers) asker.join();
    EXPECT_EQ(passes.load(), 1);
    EXPECT_EQ(figuresRead.load(), 2);
}

TEST_F(AgentSamplerTest, OnlyAScrapeLooksForTheProcessesUsingTheGpus) {
    root.copyTree(std::string(TARVELON_GPU_FIXTURES) + "/gpu-root");
    root.write("/proc/1200/comm", "render\n");
    root.write("/proc/1200/fdinfo/3",
               "drm-client-id:\t17\ndrm-pdev:\t0000:0a:00.0\ndrm-memory-vram:\t4 KiB\n");
    sampler.drmProcesses = makeDrmProcessWalk(root.path());
    EXPECT_EQ(freshPassFigures(sampler, 1000).gpuProcesses.size(), 0u);
    EXPECT_FALSE(sampler.drmProcesses.walked);  // not asked for

    sampler.collectProcesses = true;
    ASSERT_TRUE(refreshAgentFigures(sampler, 2000));  // a UDP query
    EXPECT_FALSE(sampler.drmProcesses.walked);
    EXPECT_EQ(freshPassFigures(sampler, 2000).gpuProcesses.size(), 1u);
    // A query's pass keeps what the last scrape found, and the next scrape looks again.
    ASSERT_TRUE(refreshAgentFigures(sampler, 2900));
    EXPECT_EQ(sampler.figures.gpuProcesses.size(), 1u);
    freshPassFigures(sampler, 3000);
    EXPECT_EQ(sampler.drmProcesses.walkedAtNs, 3000000000u);
}

}  // namespace
}  // namespace tarvelon
