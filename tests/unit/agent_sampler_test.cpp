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
    constexpr int kAskers = 8;
    std::atomic<int> passes{0};
    std::atomic<int> memoryRead{0};
    std::vector<std::thread> askers;
    for (int i = 0; i < kAskers; ++i) {
        askers.emplace_back([&, i] {
            if (i % 2 == 0) {
                passes += refreshAgentFigures(sampler, 5000) ? 1 : 0;
            } else {
                memoryRead += freshPassFigures(sampler, 5000).hostFigures.memoryRead ? 1 : 0;
            }
        });
    }
    for (std::thread& asker : askers) asker.join();
    // Either an asker of the store or one of the figures ran it; every figure came from it.
    EXPECT_LE(passes.load(), 1);
    EXPECT_EQ(memoryRead.load(), kAskers / 2);
    EXPECT_FALSE(refreshAgentFigures(sampler, 5000));
}

}  // namespace
}  // namespace tarvelon
