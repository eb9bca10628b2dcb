// Load generator: what tarvelon-agent costs a machine and what it can answer. It starts the agent
// built in the same tree on a free loopback port and lets it idle: its processor time over its whole
// life (from the kernel's accounting when it ends) per hour, and its peak resident memory. Then a
// fresh agent gets queries kept in flight over IPv4 loopback, from many addresses in turn since it
// answers one address only about ten full replies a second: answers per second, next to a bare
// recvfrom/sendto echo loop sending replies of the same length, measured in the same run (the limit
// of the path), and their ratio.
//   agent_cost_bench [idle seconds, default 60] [seconds per load measurement, default 5]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
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
#include "telemetry/text16.h"

extern char** environ;

using namespace tarvelon;

namespace {

ResolvedAddress loopback(uint16_t port) {
    ResolvedAddress address{};
    char16_t service[16];
    format16(service, 16, u"%d", port);
    resolveUdpAddress(u"127.0.0.1", service, &address);
    return address;
}

// One query and its reply; the reply's length, or -1.
int askOnce(uint16_t port) {
    const SocketHandle socket = openUdpSocket(IpFamily::IPv4);
    bindLoopback(socket, IpFamily::IPv4, 0);
    setReceiveTimeout(socket, 500);
    uint8_t request[kRequestBytes];
    buildQueryRequest(1, request);
    sendTo(socket, request, kRequestBytes, loopback(port));
    std::vector<uint8_t> buffer(kDatagramBufferBytes);
    SocketAddress from{};
    from.length = 16;
    const int received = receiveFrom(socket, buffer.data(), kClientReadLimit, false, &from);
    closeSocket(socket);
    return received;
}

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
    for (int attempt = 0; attempt < 100 && replyBytes < 0; ++attempt) replyBytes = askOnce(port);
    if (replyBytes < 0) {
        std::fprintf(stderr, "the agent does not answer on port %u\n", port);
        kill(*agent, SIGKILL);
        waitpid(*agent, nullptr, 0);
    }
    return replyBytes;
}

// Stops the agent; its processor time (user and system, microsecond resolution) in seconds.
double stopAgent(pid_t agent) {
    kill(agent, SIGTERM);
    int status = 0;
    rusage usage{};
    wait4(agent, &status, 0, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const double idleSeconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const double loadSeconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    int32_t error = 0;
    startSockets(&error);

    // Idle: started, asked once, then left alone; its whole processor time over its whole life.
    pid_t agent = -1;
    const uint64_t idleFrom = tickCountMs();
    if (startAnsweringAgent(freeServerPort(), &agent) < 0) return 1;
    sleepMs(static_cast<uint32_t>(idleSeconds * 1000));
    const long idleResident = statusKilobytes(agent, "VmHWM");
    const double idleUsed = stopAgent(agent);
    const double idleElapsed = static_cast<double>(tickCountMs() - idleFrom) / 1000.0;
    std::printf("idle agent: %.2f CPU seconds per hour (%.3f s over %.0f s), peak resident %ld kB\n",
                idleUsed / idleElapsed * 3600.0, idleUsed, idleElapsed, idleResident);

    // Under load: a fresh agent answering as fast as it can, next to a bare echo.
    const std::vector<SocketHandle> sources = openLoopbackSources(kLoadSources);
    if (sources.size() < static_cast<size_t>(kLoadWindow)) {
        std::fprintf(stderr, "could not bind %d loopback sources\n", kLoadWindow);
        return 1;
    }
    const uint16_t port = freeServerPort();
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
    return 0;
}
