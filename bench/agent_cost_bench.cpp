// Load generator: what tarvelon-agent costs a machine and what it can answer. It starts the agent
// built in the same tree on a free loopback port and lets it idle: its processor time per hour once
// past its start (from the scheduler's accounting), what the start took, and its peak resident memory. Then a
// fresh agent gets queries kept in flight over IPv4 loopback, from many addresses in turn since it
// answers one address only about ten full replies a second: answers per second, next to a bare
// recvfrom/sendto echo loop sending replies of the same length, measured in the same run (the limit
// of the path), and their ratio. Last, an agent next to Prometheus's node exporter, each polled once
// a second for the same time: processor time and peak memory of both, and the ratios.
//   agent_cost_bench [idle seconds, default 60] [seconds per load measurement, default 5]
//                    [seconds side by side with the node exporter, default 60]
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/loopback_load.h"
#include "net/protocol.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "platform/text16.h"

extern char** environ;

using namespace tarvelon;

namespace {

// A "VmHWM:" style line of /proc/PID/status, in kB.
long statusKilobytes(pid_t pid, const char* name) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string key = std::string(name) + ":";
    while (std::getline(file, line)) {
        if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
    }
    return -1;
}

pid_t startAgent(uint16_t port) {
    const std::string portText = std::to_string(port);
    const char* argv[] = {TARVELON_AGENT_PROGRAM, "--port", portText.c_str(), "--ipv4-only", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Starts the agent and waits for its first answer; the reply's length, or -1 (the agent is then gone).
int startAnsweringAgent(uint16_t port, pid_t* agent) {
    *agent = startAgent(port);
    if (*agent <= 0) {
        std::fprintf(stderr, "cannot start %s\n", TARVELON_AGENT_PROGRAM);
        return -1;
    }
    int replyBytes = -1;
    for (int attempt = 0; attempt < 100 && replyBytes < 0; ++attempt) replyBytes = askOnce(port, 500);
    if (replyBytes < 0) {
        std::fprintf(stderr, "the agent does not answer on port %u\n", port);
        kill(*agent, SIGKILL);
        waitpid(*agent, nullptr, 0);
    }
    return replyBytes;
}

void stopAgent(pid_t agent) {
    kill(agent, SIGTERM);
    waitpid(agent, nullptr, 0);
}

// Processor time of every thread of a process so far, in seconds: the scheduler's nanoseconds, since
// the agent uses too little for the 10 ms ticks of /proc/PID/stat to see.
double threadsCpuSeconds(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* directory = opendir(tasks.c_str());
    if (directory == nullptr) return 0;
    double seconds = 0;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream schedstat(tasks + "/" + entry->d_name + "/schedstat");
        unsigned long long nanoseconds = 0;
        if (schedstat >> nanoseconds) seconds += static_cast<double>(nanoseconds) / 1e9;
    }
    closedir(directory);
    return seconds;
}

uint16_t freeTcpPort() {
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

// GET /metrics from 127.0.0.1:port over a fresh connection, as a scraper does; the bytes received, or -1.
long getMetrics(uint16_t port) {
    const int connection = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const timeval patience{5, 0};  // an exporter that stalls ends the scrape, not the bench
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    long received = -1;
    if (connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const char request[] = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (send(connection, request, sizeof request - 1, 0) == static_cast<ssize_t>(sizeof request - 1)) {
            received = 0;
            char chunk[16384];
            ssize_t got;
            while ((got = recv(connection, chunk, sizeof chunk, 0)) > 0) received += got;
        }
    }
    close(connection);
    return received;
}

// Debian's prometheus-node-exporter with its default collectors, on loopback only; its pid once it
// answers, else -1.
pid_t startNodeExporter(uint16_t port) {
    const std::string listen = "--web.listen-address=127.0.0.1:" + std::to_string(port);
    const char* argv[] = {"prometheus-node-exporter", listen.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid <= 0) return -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (getMetrics(port) > 0) return pid;
        sleepMs(100);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// The agent and the node exporter side by side, each asked once a second (a UDP query, a GET of
// /metrics) for the same seconds: processor time per hour and peak resident memory of each.
void compareWithNodeExporter(double seconds) {
    std::printf("agent and node exporter, each polled once a second for %.0f s in the same run:\n", seconds);
    const uint16_t exporterPort = freeTcpPort();
    const pid_t exporter = startNodeExporter(exporterPort);
    if (exporter < 0) {
        std::printf("  prometheus-node-exporter cannot be started (scripts/install-deps installs it): no comparison\n");
        return;
    }
    const uint16_t agentPort = testing_net::findFreeUdpPort();
    pid_t agent = -1;
    if (startAnsweringAgent(agentPort, &agent) < 0) {
        kill(exporter, SIGTERM);
        waitpid(exporter, nullptr, 0);
        return;
    }
    sleepMs(2000);  // both past their start
    const double agentBefore = threadsCpuSeconds(agent);
    const double exporterBefore = threadsCpuSeconds(exporter);
    const uint64_t from = tickCountMs();
    long scraped = 0;
    for (uint64_t second = 1; tickCountMs() - from < seconds * 1000; ++second) {
        askOnce(agentPort, 500);
        scraped = getMetrics(exporterPort);
        const uint64_t due = from + second * 1000;
        const uint64_t now = tickCountMs();
        if (due > now) sleepMs(static_cast<uint32_t>(due - now));
    }
    const double elapsed = static_cast<double>(tickCountMs() - from) / 1000.0;
    const double agentCpu = threadsCpuSeconds(agent) - agentBefore;
    const double exporterCpu = threadsCpuSeconds(exporter) - exporterBefore;
    const long agentResident = statusKilobytes(agent, "VmHWM");
    const long exporterResident = statusKilobytes(exporter, "VmHWM");
    stopAgent(agent);
    kill(exporter, SIGTERM);
    waitpid(exporter, nullptr, 0);

    std::printf("  %-16s %14s %20s\n", "", "CPU s per hour", "peak resident kB");
    std::printf("  %-16s %14.2f %20ld\n", "tarvelon-agent", agentCpu / elapsed * 3600.0, agentResident);
    std::printf("  %-16s %14.2f %20ld   (%ld bytes per /metrics)\n", "node exporter",
                exporterCpu / elapsed * 3600.0, exporterResident, scraped);
    std::printf("  the agent uses %.0fx less CPU (goal: at least 20x) and %.1fx less memory (goal: at least 5x)\n",
                agentCpu > 0 ? exporterCpu / agentCpu : 0.0,
                agentResident > 0 ? static_cast<double>(exporterResident) / agentResident : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    const double idleSeconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const double loadSeconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    const double sideBySideSeconds = argc > 3 ? std::atof(argv[3]) : 60.0;
    int32_t error = 0;
    startSockets(&error);

    // Idle: started, asked once, then left alone; its processor time once past its start, and apart
    // what the start cost.
    pid_t agent = -1;
    if (startAnsweringAgent(testing_net::findFreeUdpPort(), &agent) < 0) return 1;
    sleepMs(2000);
    const double startUsed = threadsCpuSeconds(agent);
    const uint64_t idleFrom = tickCountMs();
    sleepMs(static_cast<uint32_t>(idleSeconds * 1000));
    const double idleUsed = threadsCpuSeconds(agent) - startUsed;
    const double idleElapsed = static_cast<double>(tickCountMs() - idleFrom) / 1000.0;
    const long idleResident = statusKilobytes(agent, "VmHWM");
    stopAgent(agent);
    std::printf("idle agent: %.2f CPU seconds per hour (%.3f s over %.0f s; goal: at most 1), peak resident %ld kB;"
                " its start took %.1f ms\n",
                idleUsed / idleElapsed * 3600.0, idleUsed, idleElapsed, idleResident, startUsed * 1000.0);

    // Under load: a fresh agent answering as fast as it can, next to a bare echo.
    const std::vector<SocketHandle> sources = openLoopbackSources(kLoadSources);
    if (sources.size() < static_cast<size_t>(kLoadWindow)) {
        std::fprintf(stderr, "could not bind %d loopback sources\n", kLoadWindow);
        return 1;
    }
    const uint16_t port = testing_net::findFreeUdpPort();
    const int replyBytes = startAnsweringAgent(port, &agent);
    if (replyBytes < 0) return 1;
    uint64_t nextQuery = 0;
    const double agentRate = measureLoad(sources, port, loadSeconds, nextQuery).repliesPerSecond;
    const long loadResident = statusKilobytes(agent, "VmHWM");
    stopAgent(agent);
    double echoRate;
    {
        EchoLoop echo(replyBytes);
        echoRate = measureLoad(sources, echo.port, loadSeconds, nextQuery).repliesPerSecond;
    }
    std::printf(
        "answers per second over IPv4 loopback (%d-byte replies, %d in flight, from %zu addresses):\n",
        replyBytes, kLoadWindow, sources.size());
    std::printf("  agent      %10.0f\n  bare echo  %10.0f\n  ratio      %10.2f\n", agentRate, echoRate,
                echoRate > 0 ? agentRate / echoRate : 0.0);
    std::printf("peak resident memory of the agent under load: %ld kB\n", loadResident);
    compareWithNodeExporter(sideBySideSeconds);
    return 0;
}
