// tarvelon-agent and tarvelon-query as programs over loopback: the agent reads a fixture tree and
// the simulated management library, the query tool asks it over IPv4 and IPv6, and both programs'
// exit statuses and messages are checked for the ways they end.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <string>
#include <vector>

#include "agent_fixture_root.h"
#include "agent_process.h"
#include "net_test_support.h"
#include "tarvelon_version.h"

namespace tarvelon {
namespace {

using testing_net::freeUdpPort;
using testing_net::ScriptedServer;
using testing_net::TestPeer;

// Whether TCP can listen on 127.0.0.1 at port: the agent's metrics endpoint takes the UDP port's
// number there.
bool tcpPortFree(uint16_t port) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(listener);
    return free;
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome runQuery(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {TARVELON_QUERY_PROGRAM};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ChildProcess query(command);
    EXPECT_TRUE(query.started());
    const int status = query.wait();
    return Outcome{status, query.out, query.err};
}

// Asks until an answer comes: the second server thread may bind a moment after the first reports.
Outcome queryUntilAnswered(const std::vector<std::string>& arguments) {
    Outcome outcome{};
    for (int attempt = 0; attempt < 30; ++attempt) {
        outcome = runQuery(arguments);
        if (outcome.status != 1) break;
    }
    return outcome;
}

// The whole HTTP answer to GET path on 127.0.0.1:port; empty when nothing answered.
std::string httpGet(uint16_t port, const char* path) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = std::string("GET ") + path + " HTTP/1.0\r\n\r\n";
        if (send(socket, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            for (ssize_t got; (got = recv(socket, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, got);
        }
    }
    close(socket);
    return answer;
}

size_t lineCount(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

class AgentEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        testing_net::startSocketsForTests();
        root.writeTypicalMachine();
        const std::string config = root.path() + "/simulated-nvml.txt";
        std::ofstream(config) << "count 2\n"
                                 "gpu 0 name Simulated A\ngpu 0 bus 1\ngpu 0 load 50\ngpu 0 rpm 1500\n"
                                 "gpu 0 maxGraphics 2000\ngpu 0 graphics 1000\ngpu 0 coreTemp 61\n"
                                 "gpu 1 name Simulated B\ngpu 1 bus 2\ngpu 1 total 8589934592\n"
                                 "gpu 1 free 2147483648\ngpu 1 memTemp 90\n";
        setenv("TARVELON_SIMULATED_NVML", config.c_str(), 1);
        for (int attempt = 0; attempt < 100 && (port == 0 || !tcpPortFree(port)); ++attempt)
            port = freeUdpPort();
        ASSERT_TRUE(tcpPortFree(port)) << "no port free for both UDP and TCP";
        portText = std::to_string(port);
    }

    std::vector<std::string> agentCommand(const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> command = {
            TARVELON_AGENT_PROGRAM, "--port", portText, "--name", "e2e-host", "--root", root.path(), "--nvml",
            TARVELON_SIMULATED_NVML};
        command.insert(command.end(), extra.begin(), extra.end());
        return command;
    }

    FixtureRoot root;
    uint16_t port = 0;
    std::string portText;
};

TEST_F(AgentEndToEnd, AnswersBothFamiliesWithTheMachinesFigures) {
    ChildProcess agent(agentCommand());
    ASSERT_TRUE(agent.waitForError("query server running on UDP port " + portText)) << agent.err;
    EXPECT_NE(agent.err.find("tarvelon-agent: 2 GPUs found through"), std::string::npos) << agent.err;

    const Outcome json = queryUntilAnswered({"--json", "127.0.0.1:" + portText});
    ASSERT_EQ(json.status, 0) << json.err;
    for (const char* member :
         {"\"hostName\": \"e2e-host\"", "\"cpuCount\": 4", "\"cpuMhz\": 2000", "\"cpuMaxFreqPct\": 50",
          "\"processCount\": 3", "\"threadCount\": 321", "\"physTotalMb\": 16384", "\"pageFreeMb\": 8192",
          "\"gpuCount\": 2", "\"gpuName\": \"Simulated A\"", "\"fanRpm\": 1472", "\"coreClockPct\": 50",
          "\"coreTempC\": 61", "\"gpuName\": \"Simulated B\"", "\"memTotalMb\": 8192", "\"memUsedPct\": 75",
          "\"memTempC\": 90"}) {
        EXPECT_NE(json.out.find(member), std::string::npos) << member << "\n" << json.out;
    }

    const Outcome text = queryUntilAnswered({"[::1]:" + portText});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("host          e2e-host\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("GPU 1         Simulated B, PCI bus 2 device 0\n"), std::string::npos)
        << text.out;

    // On the wire: the protocol's own bytes, two GPU records after the host record.
    TestPeer peer(IpFamily::IPv4);
    const std::vector<uint8_t> reply = peer.ask({1, 9, 0x31}, port);
    ASSERT_EQ(reply.size(), 131u + 2 * 108u);
    EXPECT_EQ(reply[1], 9);
    EXPECT_EQ(reply[2], 0x32);
    EXPECT_EQ(reply[3], 2);
    EXPECT_EQ(peer.ask({1, 9, 0x11}, port), (std::vector<uint8_t>{1, 9, 0x12}));
}

TEST_F(AgentEndToEnd, AmdAndIntelGpusOfTheRootFollowNvidiasOnBothEndpoints) {
    root.copyTree(std::string(TARVELON_GPU_FIXTURES) + "/gpu-root");
    ChildProcess agent(agentCommand({"--metrics", "127.0.0.1:" + portText, "--gpu-id-lists",
                                     std::string(TARVELON_GPU_FIXTURES) + "/gpu-id-lists"}));
    ASSERT_TRUE(agent.waitForError("query server running on UDP port " + portText)) << agent.err;
    // The first pass runs beside the servers' start.
    EXPECT_TRUE(agent.waitForError("GPU found: DG2 [Arc A770] (i915, 0000:03:00.0)")) << agent.err;

    const Outcome json = queryUntilAnswered({"--json", "127.0.0.1:" + portText});
    ASSERT_EQ(json.status, 0) << json.err;
    const size_t intel = json.out.find("\"gpuName\": \"DG2 [Arc A770]\"");
    const size_t amd = json.out.find("\"gpuName\": \"AMD Radeon RX 6800 XT\"");
    EXPECT_NE(json.out.find("\"gpuCount\": 4"), std::string::npos) << json.out;
    EXPECT_TRUE(json.out.find("Simulated B") < intel && intel < amd && amd != std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"memTotalMb\": 16368"), std::string::npos) << json.out;

    std::string metrics;
    for (int attempt = 0; attempt < 30 && metrics.empty(); ++attempt) {
        metrics = httpGet(port, "/metrics");
        if (metrics.empty()) usleep(100000);
    }
    for (const char* line :
         {"tarvelon_gpus 4\n", "tarvelon_gpu_info{gpu=\"2\",vendor=\"intel\",name=\"DG2 [Arc A770]\"",
          "tarvelon_gpu_info{gpu=\"3\",vendor=\"amd\",name=\"AMD Radeon RX 6800 XT\"",
          "tarvelon_gpu_temperature_celsius{gpu=\"3\",sensor=\"hotspot\"} 71\n",
          "tarvelon_gpu_power_limit_watts{gpu=\"2\"} 225\n"}) {
        EXPECT_NE(metrics.find(line), std::string::npos) << line << "\n" << metrics;
    }
}

TEST_F(AgentEndToEnd, CollectProcessesNamesTheProcessesOfEveryGpuOnMetrics) {
    root.copyTree(std::string(TARVELON_GPU_FIXTURES) + "/gpu-root");
    root.copyTree(std::string(TARVELON_GPU_FIXTURES) + "/gpu-proc");
    std::ofstream(root.path() + "/simulated-nvml.txt", std::ios::app)
        << "gpu 0 compute 2100 1073741824\ngpu 0 graphics 2200 -1\ngpu 0 sample 2100 73 1000\n";
    const auto scrape = [&] {
        std::string metrics;
        for (int attempt = 0; attempt < 30 && metrics.empty(); ++attempt) {
            metrics = httpGet(port, "/metrics");
            if (metrics.empty()) usleep(100000);
        }
        return metrics;
    };
    {
        ChildProcess agent(agentCommand({"--metrics", "127.0.0.1:" + portText}));
        ASSERT_TRUE(agent.waitForError("serving Prometheus metrics")) << agent.err;
        EXPECT_EQ(scrape().find("tarvelon_gpu_process"), std::string::npos);
    }
    ChildProcess agent(agentCommand({"--metrics", "127.0.0.1:" + portText, "--collect-processes"}));
    ASSERT_TRUE(agent.waitForError("serving Prometheus metrics")) << agent.err;
    const std::string metrics = scrape();
    // NVIDIA's GPUs fill slots 0 and 1, the Intel one 2, the AMD one 3. The busy shares of the
    // kernel's clients come from the second look on.
    for (const char* line : {
             "# TYPE tarvelon_gpu_process_memory_bytes gauge\n",
             "tarvelon_gpu_process_memory_bytes{gpu=\"0\",pid=\"2100\",command=\"trainer\"} 1073741824\n",
             "tarvelon_gpu_process_memory_bytes{gpu=\"2\",pid=\"1300\",command=\"a\\\"b\\\\c\"} 67108864\n"
             "tarvelon_gpu_process_memory_bytes{gpu=\"2\",pid=\"1500\",command=\"xe-client\"} 1048576\n"
             "tarvelon_gpu_process_memory_bytes{gpu=\"3\",pid=\"1200\",command=\"render\"} 268435456\n"
             "# HELP tarvelon_gpu_process_busy_ratio ",
             "tarvelon_gpu_process_busy_ratio{gpu=\"0\",pid=\"2100\",command=\"trainer\"} 0.73\n"
             "tarvelon_gpu_process_busy_ratio{gpu=\"0\",pid=\"2200\",command=\"viewer\"} 0\n# HELP",
         }) {
        EXPECT_NE(metrics.find(line), std::string::npos) << line << "\n" << metrics;
    }
    for (const char* absent : {"pid=\"1400\"", "pid=\"1600\"", "pid=\"1700\""})
        EXPECT_EQ(metrics.find(absent), std::string::npos) << absent << "\n" << metrics;
}

TEST_F(AgentEndToEnd, QueryProcessesListsEachGpusProcessesWithoutTheMetricsOption) {
    root.copyTree(std::string(TARVELON_GPU_FIXTURES) + "/gpu-root");
    root.copyTree(std::string(TARVELON_GPU_FIXTURES) + "/gpu-proc");
    std::ofstream(root.path() + "/simulated-nvml.txt", std::ios::app)
        << "gpu 0 compute 2100 1073741824\ngpu 0 graphics 2200 -1\ngpu 0 sample 2100 73 1000\n";
    ChildProcess agent(
        agentCommand({"--gpu-id-lists", std::string(TARVELON_GPU_FIXTURES) + "/gpu-id-lists"}));
    ASSERT_TRUE(agent.waitForError("query server running on UDP port " + portText)) << agent.err;

    // The full reply announces the question; the answer is one datagram a GPU.
    TestPeer peer(IpFamily::IPv4);
    const std::vector<uint8_t> reply = peer.ask({1, 9, 0x31}, port);
    ASSERT_GE(reply.size(), 131u);
    EXPECT_EQ(reply[4], 1);

    const Outcome text = queryUntilAnswered({"--processes", "127.0.0.1:" + portText});
    ASSERT_EQ(text.status, 0) << text.err;
    for (const char* line : {"GPU 0         Simulated A, PCI bus 1 device 0, 2 processes\n"
                             "     2100  trainer                          73 %    1024.0 MB\n"
                             "     2200  viewer                            0 %            -\n",
                             "GPU 2         DG2 [Arc A770], PCI bus 3 device 0, 2 processes\n"
                             "     1300  a\"b\\c                               -      64.0 MB\n"}) {
        EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
    }

    const Outcome json = queryUntilAnswered({"--json", "-p", "[::1]:" + portText});
    ASSERT_EQ(json.status, 0) << json.err;
    for (const char* member :
         {"\"gpuName\": \"AMD Radeon RX 6800 XT\"", "\"pid\": 1200", "\"name\": \"render\"",
          "\"memoryBytes\": 268435456", "\"name\": \"a\\\"b\\\\c\"", "\"processTotal\": 2"}) {
        EXPECT_NE(json.out.find(member), std::string::npos) << member << "\n" << json.out;
    }
}

TEST(QueryCommandLine, ProcessesAreAskedOnlyOfAServerThatAnnouncesThem) {
    testing_net::startSocketsForTests();
    std::atomic<int> processQuestions{0};
    ScriptedServer earlier(IpFamily::IPv4, [&processQuestions](uint8_t* buffer, int received) {
        if (buffer[2] == 0x33) ++processQuestions;
        LocalStore store{};
        store.gpus[0].present = 1;
        return buildAnswer(buffer, received, store);
    });
    const Outcome refused = runQuery({"--processes", "127.0.0.1:" + std::to_string(earlier.port())});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "tarvelon-query: 127.0.0.1:" + std::to_string(earlier.port()) +
                               " does not tell which processes use its GPUs (an earlier version)\n");
    EXPECT_EQ(processQuestions, 0);
}

TEST_F(AgentEndToEnd, LogsNothingPerRequestAndStopsCleanlyOnSigterm) {
    ChildProcess agent(agentCommand());
    ASSERT_TRUE(agent.waitForError("query server running on UDP port " + portText)) << agent.err;
    ASSERT_EQ(queryUntilAnswered({"127.0.0.1:" + portText}).status, 0);
    const size_t lines = lineCount(agent.err);
    TestPeer peer(IpFamily::IPv4);
    // Within the burst of full replies one address is granted at once.
    for (int i = 0; i < 15; ++i) ASSERT_EQ(peer.ask({1, static_cast<uint8_t>(i), 0x31}, port).size(), 347u);
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.wait(), 0) << agent.err;
    EXPECT_EQ(lineCount(agent.err), lines + 1) << agent.err;
    EXPECT_NE(agent.err.find("tarvelon-agent: stopping on SIGTERM\n"), std::string::npos) << agent.err;
}

TEST_F(AgentEndToEnd, AListenAddressLimitsTheAnswersToIt) {
    ChildProcess agent(agentCommand({"--listen", "127.0.0.1"}));
    ASSERT_TRUE(agent.waitForError("query server running on UDP port " + portText)) << agent.err;
    EXPECT_EQ(queryUntilAnswered({"127.0.0.1:" + portText}).status, 0);
    const Outcome ipv6 = runQuery({"[::1]:" + portText});
    EXPECT_EQ(ipv6.status, 1);
    EXPECT_EQ(ipv6.err, "tarvelon-query: no answer from [::1]:" + portText + " within 900 ms\n");
}

TEST_F(AgentEndToEnd, ABusyPortEndsTheAgentWithAnError) {
    const SocketHandle holder = openUdpSocket(IpFamily::IPv4);
    ASSERT_EQ(bindWildcard(holder, IpFamily::IPv4, port), 0);
    ChildProcess agent(agentCommand({"-4"}));
    EXPECT_EQ(agent.wait(), 1) << agent.err;
    EXPECT_NE(agent.err.find(
                  "tarvelon-agent: query server error: IPv4: Could not bind to port. WSA Error Code : 10048 "
                  "(the port is already in use)\n"),
              std::string::npos)
        << agent.err;
    closeSocket(holder);
}

TEST_F(AgentEndToEnd, WithoutTheManagementLibraryTheHostIsStillServed) {
    ChildProcess agent(agentCommand({"--nvml", root.path() + "/libnvidia-ml.so.1"}));
    ASSERT_TRUE(agent.waitForError("query server running on UDP port " + portText)) << agent.err;
    EXPECT_NE(agent.err.find("no NVIDIA GPUs: " + root.path() + "/libnvidia-ml.so.1 could not be loaded"),
              std::string::npos);
    const Outcome json = queryUntilAnswered({"--json", "127.0.0.1:" + portText});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_NE(json.out.find("\"gpuCount\": 0"), std::string::npos);
    EXPECT_NE(json.out.find("\"gpus\": []"), std::string::npos);
}

TEST(AgentCommandLine, HelpVersionAndRefusals) {
    ChildProcess help({TARVELON_AGENT_PROGRAM, "--help"});
    EXPECT_EQ(help.wait(), 0);
    EXPECT_EQ(help.out.rfind("Usage: tarvelon-agent [OPTION]...\n", 0), 0u) << help.out;
    for (const char* program : {TARVELON_AGENT_PROGRAM, TARVELON_QUERY_PROGRAM}) {
        ChildProcess version({program, "--version"});
        EXPECT_EQ(version.wait(), 0);
        EXPECT_EQ(version.out, std::string(program).substr(std::string(program).rfind('/') + 1) +
                                   " " TARVELON_VERSION "\n");
    }

    ChildProcess refused({TARVELON_AGENT_PROGRAM, "--port", "70000"});
    EXPECT_EQ(refused.wait(), 2);
    EXPECT_EQ(refused.err,
              "tarvelon-agent: invalid port '70000' for --port: give a number from 1 to 65535\n"
              "Try 'tarvelon-agent --help' for more information.\n");
}

TEST(QueryCommandLine, UnansweredRejectedAndUnresolvableServers) {
    testing_net::startSocketsForTests();
    const Outcome unresolvable = runQuery({"no..such:8221"});
    EXPECT_EQ(unresolvable.status, 2);
    EXPECT_EQ(unresolvable.err.rfind("tarvelon-query: cannot resolve 'no..such': ", 0), 0u)
        << unresolvable.err;

    const Outcome badPort = runQuery({"127.0.0.1:0"});
    EXPECT_EQ(badPort.status, 2);
    EXPECT_NE(badPort.err.find("'0' in '127.0.0.1:0' is not a port from 1 to 65535"), std::string::npos);

    TestPeer silent(IpFamily::IPv4);
    const std::string silentPort = std::to_string(boundPort(silent.socket));
    const Outcome unanswered = runQuery({"127.0.0.1:" + silentPort});
    EXPECT_EQ(unanswered.status, 1);
    EXPECT_EQ(unanswered.err, "tarvelon-query: no answer from 127.0.0.1:" + silentPort + " within 900 ms\n");

    ScriptedServer refusing(IpFamily::IPv6, [](uint8_t* buffer, int) {
        buffer[2] = 0x02;  // "unknown code": a short answer is never accepted
        return 3;
    });
    const std::string refusingPort = std::to_string(refusing.port());
    const Outcome rejected = runQuery({"[::1]:" + refusingPort});
    EXPECT_EQ(rejected.status, 1);
    EXPECT_EQ(rejected.err,
              "tarvelon-query: [::1]:" + refusingPort +
                  " answered, but not with a full reply to this query (wrong sequence or code)\n");
}

}  // namespace
}  // namespace tarvelon
