// Load generator: what tarvelon-agent costs a machine and what it can answer. First the agent, with
// the simulated GPU management library and two GPUs, next to Prometheus's node exporter in the same
// run, and an agent on a machine without the library beside them: all left idle, then all polled once
// a second (a UDP query, a GET of /metrics), beside the least an answer reading the same files can
// cost, with their wake-ups and processor time from the scheduler's accounting of every thread, and
// their peak resident memory. Then a fresh agent gets
// queries kept in flight over IPv4 loopback, from many addresses in turn since it answers one address
// only about ten full replies a second: answers per second, next to a bare recvfrom/sendto echo loop
// sending replies of the same length, measured in the same run (the limit of the path), and their
// ratio. Given an earlier build of the agent, it runs beside them (without the library) and the
// agent's cost is reported against it too, as a ratio from the same run.
//   agent_cost_bench [idle seconds, default 60] [seconds per load measurement, default 5]
//                    [seconds polled once a second, default 60] [earlier tarvelon-agent program]
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

// The number of a "Name:" line of a status file (/proc/PID/status, /proc/PID/task/TID/status), or -1.
long long statusNumber(const std::string& path, const char* name) {
    std::ifstream file(path);
    std::string line;
    const std::string key = std::string(name) + ":";
    while (std::getline(file, line)) {
        if (line.compare(0, key.size(), key) == 0) return std::atoll(line.c_str() + key.size());
    }
    return -1;
}

long peakResidentKb(pid_t pid) {
    return static_cast<long>(statusNumber("/proc/" + std::to_string(pid) + "/status", "VmHWM"));
}

// The agent program on port, with the given management library (nullptr: its default, absent here).
pid_t startAgent(uint16_t port, const char* nvml, const char* program) {
    const std::string portText = std::to_string(port);
    std::vector<const char*> argv = {program, "--port", portText.c_str()};
    if (nvml != nullptr) argv.insert(argv.end(), {"--nvml", nvml});
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv.data()), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Starts the agent and waits for its first answer; the reply's length, or -1 (the agent is then gone).
int startAnsweringAgent(uint16_t port, pid_t* agent, const char* nvml = nullptr,
                        const char* program = TARVELON_AGENT_PROGRAM) {
    *agent = startAgent(port, nvml, program);
    if (*agent <= 0) {
        std::fprintf(stderr, "cannot start %s\n", program);
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

// The scheduler's accounting of every thread of a process so far: the processor time from
// /proc/PID/task/*/schedstat, exact where the 10 ms ticks of /proc/PID/stat see nothing of so small a
// cost, and the wake-ups, each one the end of a voluntary context switch (/proc/PID/task/*/status:
// a thread that blocks gives up the processor voluntarily; being preempted is no wake-up).
struct SchedulerClock {
    double cpuSeconds;
    uint64_t wakeups;
};

SchedulerClock schedulerClock(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    SchedulerClock clock{0, 0};
    DIR* directory = opendir(tasks.c_str());
    if (directory == nullptr) return clock;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] == '.') continue;
        const std::string task = tasks + "/" + entry->d_name;
        std::ifstream schedstat(task + "/schedstat");
        unsigned long long nanoseconds = 0;
        if (schedstat >> nanoseconds) clock.cpuSeconds += static_cast<double>(nanoseconds) / 1e9;
        const long long switches = statusNumber(task + "/status", "voluntary_ctxt_switches");
        if (switches > 0) clock.wakeups += static_cast<uint64_t>(switches);
    }
    closedir(directory);
    return clock;
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

// Two GPUs for the simulated management library, in a file it reads on every call.
std::string writeSimulatedGpus() {
    char path[] = "/tmp/tarvelon-bench-nvml-XXXXXX";
    const int file = mkstemp(path);
    if (file < 0) return "";
    const std::string text =
        "count 2\ngpu 0 name Simulated A\ngpu 0 load 50\ngpu 0 maxGraphics 2000\ngpu 0 graphics 1000\n"
        "gpu 0 coreTemp 61\ngpu 1 name Simulated B\ngpu 1 total 8589934592\ngpu 1 free 2147483648\n";
    const bool written = write(file, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(file);
    return written ? path : "";
}

// What one process cost over a stretch of the run, per minute of it.
struct Stretch {
    double wakeupsPerMinute;
    double cpuSecondsPerMinute;
};

Stretch stretchOf(const SchedulerClock& before, const SchedulerClock& after, double seconds) {
    return Stretch{static_cast<double>(after.wakeups - before.wakeups) / seconds * 60.0,
                   (after.cpuSeconds - before.cpuSeconds) / seconds * 60.0};
}

struct Measured {
    Stretch idle;
    Stretch polled;
    long peakResidentKb;
};

const char* verdict(bool met) { return met ? "met" : "MISSED"; }

// The machine's load averages, so that a reader can tell a quiet run from a busy one.
std::string loadAverages() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// Tasks the machine has created since boot (/proc/stat "processes"). A pass lists /proc, its dearest
// read, only when a task was created or ended since the last one, so this tells a quiet machine too.
unsigned long long tasksCreated() {
    std::ifstream file("/proc/stat");
    for (std::string line; std::getline(file, line);) {
        if (line.compare(0, 10, "processes ") == 0) return std::strtoull(line.c_str() + 10, nullptr, 10);
    }
    return 0;
}

// The least an answer can cost on this machine when it reads what a pass reads: a child that answers
// every query by reading the four /proc files of a pass and sending a reply as long as the agent's,
// with nothing else (no parsing, no peek, no budget). What the agent costs beyond it is its own.
pid_t startLeastAnswer(uint16_t port, int replyBytes) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int listening = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(1);
    int files[4];
    const char* paths[4] = {"/proc/meminfo", "/proc/stat", "/proc/loadavg", "/proc/net/dev"};
    for (int i = 0; i < 4; ++i) files[i] = open(paths[i], O_RDONLY | O_CLOEXEC);
    static char text[65536];
    static uint8_t datagram[kDatagramBufferBytes];
    for (;;) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t received =
            recvfrom(listening, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (received != kRequestBytes) continue;
        for (int file : files) {
            if (pread(file, text, sizeof text, 0) < 0) _exit(1);
        }
        sendto(listening, datagram, static_cast<size_t>(replyBytes), 0, reinterpret_cast<sockaddr*>(&from),
               length);
    }
}

void stopAll(const std::vector<pid_t>& pids) {
    for (pid_t pid : pids) kill(pid, SIGTERM);
    for (pid_t pid : pids) waitpid(pid, nullptr, 0);
}

// Two agents, one with two simulated GPUs and one on a machine without the GPU library, and the node
// exporter side by side: left idle for idleSeconds, then each asked once a second (a UDP query, a GET
// of /metrics) for polledSeconds. The simulated library reads its configuration file at every call
// and brings the shared C++ runtime along (about 1.5 MB resident), costs no driver has in that form,
// so the polled and memory goals are held against the agent without it.
void compareWithNodeExporter(double idleSeconds, double polledSeconds, const char* earlierAgent) {
    std::printf("two agents and the node exporter in the same run: idle for %.0f s, then each polled once a "
                "second for %.0f s\n",
                idleSeconds, polledSeconds);
    std::printf("  load average at the start: %s\n", loadAverages().c_str());
    const std::string gpus = writeSimulatedGpus();
    setenv("TARVELON_SIMULATED_NVML", gpus.c_str(), 1);
    const uint16_t exporterPort = freeTcpPort();
    const pid_t exporter = startNodeExporter(exporterPort);
    if (exporter < 0) {
        std::printf("  prometheus-node-exporter cannot be started (scripts/install-deps installs it): no comparison\n");
        return;
    }
    const uint16_t agentPorts[2] = {testing_net::findFreeUdpPort(), testing_net::findFreeUdpPort()};
    const char* libraries[2] = {TARVELON_SIMULATED_NVML, "/nonexistent/libnvidia-ml.so.1"};
    std::vector<pid_t> pids;
    int replyBytes = -1;
    for (int i = 0; i < 2; ++i) {
        pid_t agent = -1;
        replyBytes = startAnsweringAgent(agentPorts[i], &agent, libraries[i]);
        if (replyBytes < 0) {
            stopAll(pids);
            stopAll({exporter});
            return;
        }
        pids.push_back(agent);
    }
    const uint16_t leastPort = testing_net::findFreeUdpPort();
    const pid_t leastAnswer = startLeastAnswer(leastPort, replyBytes);
    if (leastAnswer < 0) {  // never handed to stopAll: kill(-1) would signal every process we may
        std::printf("  the least answer cannot be started (fork failed): no comparison\n");
        stopAll(pids);
        stopAll({exporter});
        return;
    }
    pids.push_back(leastAnswer);
    pids.push_back(exporter);
    const uint16_t earlierPort = testing_net::findFreeUdpPort();
    if (earlierAgent != nullptr) {
        pid_t earlier = -1;
        if (startAnsweringAgent(earlierPort, &earlier, libraries[1], earlierAgent) < 0) {
            stopAll(pids);
            return;
        }
        pids.push_back(earlier);
    }
    for (int attempt = 0; attempt < 100 && askOnce(leastPort, 500) < 0; ++attempt) {
    }
    sleepMs(2000);  // all past their start
    const int kMeasured = static_cast<int>(pids.size());
    Measured measured[5];
    SchedulerClock before[5];
    for (int i = 0; i < kMeasured; ++i) before[i] = schedulerClock(pids[i]);
    const double startCpu = before[0].cpuSeconds;

    uint64_t from = tickCountMs();
    sleepMs(static_cast<uint32_t>(idleSeconds * 1000));
    double elapsed = static_cast<double>(tickCountMs() - from) / 1000.0;
    for (int i = 0; i < kMeasured; ++i) {
        const SchedulerClock after = schedulerClock(pids[i]);
        measured[i].idle = stretchOf(before[i], after, elapsed);
        before[i] = after;
    }

    from = tickCountMs();
    const unsigned long long tasksBefore = tasksCreated();
    long scraped = 0;
    // Each is asked in a fifth of the second of its own: asked right after another read the same
    // files, a process would find the kernel's side of its reads still warm and cost less.
    const auto waitUntil = [](uint64_t due) {
        const uint64_t now = tickCountMs();
        if (due > now) sleepMs(static_cast<uint32_t>(due - now));
    };
    for (uint64_t second = 0; tickCountMs() - from < polledSeconds * 1000; ++second) {
        const uint64_t start = from + second * 1000;
        askOnce(leastPort, 500);
        waitUntil(start + 200);
        askOnce(agentPorts[0], 500);
        waitUntil(start + 400);
        askOnce(agentPorts[1], 500);
        waitUntil(start + 600);
        scraped = getMetrics(exporterPort);
        waitUntil(start + 800);
        if (earlierAgent != nullptr) askOnce(earlierPort, 500);
        waitUntil(start + 1000);
    }
    elapsed = static_cast<double>(tickCountMs() - from) / 1000.0;
    const double tasksPerSecond = static_cast<double>(tasksCreated() - tasksBefore) / elapsed;
    for (int i = 0; i < kMeasured; ++i) {
        measured[i].polled = stretchOf(before[i], schedulerClock(pids[i]), elapsed);
        measured[i].peakResidentKb = peakResidentKb(pids[i]);
    }
    stopAll(pids);
    if (!gpus.empty()) std::remove(gpus.c_str());
    std::printf("  load average at the end: %s; the machine created %.1f tasks a second while polled\n",
                loadAverages().c_str(), tasksPerSecond);

    std::printf("  %-22s %21s %21s\n", "", "idle", "polled once a second");
    std::printf("  %-22s %10s %10s %10s %10s %18s\n", "", "wake-ups", "CPU ms", "wake-ups", "CPU s",
                "peak resident");
    std::printf("  %-22s %10s %10s %10s %10s %18s\n", "", "/ minute", "/ minute", "/ minute", "/ hour", "kB");
    const char* names[5] = {"agent, simulated GPUs", "agent, no GPU library", "least answer", "node exporter",
                            "earlier agent, no lib."};
    for (int i = 0; i < kMeasured; ++i) {
        std::printf("  %-22s %10.1f %10.3f %10.1f %10.3f %18ld\n", names[i], measured[i].idle.wakeupsPerMinute,
                    measured[i].idle.cpuSecondsPerMinute * 1000.0, measured[i].polled.wakeupsPerMinute,
                    measured[i].polled.cpuSecondsPerMinute * 60.0, measured[i].peakResidentKb);
    }
    const Measured& withGpus = measured[0];
    const Measured& plain = measured[1];
    const Measured& least = measured[2];
    const double cpuRatio = plain.polled.cpuSecondsPerMinute > 0
                                ? measured[3].polled.cpuSecondsPerMinute / plain.polled.cpuSecondsPerMinute
                                : 0.0;
    std::printf("  polled, the agent without the library cost %.2f times the least answer (reading the same four "
                "files, doing nothing else)\n",
                least.polled.cpuSecondsPerMinute > 0
                    ? plain.polled.cpuSecondsPerMinute / least.polled.cpuSecondsPerMinute
                    : 0.0);
    std::printf("  polled, the agent without the library cost %.1fx less CPU than the node exporter", cpuRatio);
    if (earlierAgent != nullptr) {
        const Measured& earlier = measured[4];
        std::printf(" and %.2f times the earlier build (%s)",
                    earlier.polled.cpuSecondsPerMinute > 0
                        ? plain.polled.cpuSecondsPerMinute / earlier.polled.cpuSecondsPerMinute
                        : 0.0,
                    earlierAgent);
    }
    std::printf("\n");
    std::printf("  the agent's start took %.1f ms of CPU with the simulated GPUs; the exporter answered %ld bytes "
                "per /metrics\n",
                startCpu * 1000.0, scraped);
    std::printf("  goals: idle with the simulated GPUs at most 3 wake-ups (%s) and 1 ms CPU (%s) a minute;\n",
                verdict(withGpus.idle.wakeupsPerMinute <= 3), verdict(withGpus.idle.cpuSecondsPerMinute <= 0.001));
    std::printf("         polled at most 0.45 CPU s an hour (%s) and at least 60x less CPU than the exporter "
                "(%.0fx: %s); peak resident at most 3.5 MB (%s)\n",
                verdict(plain.polled.cpuSecondsPerMinute * 60.0 <= 0.45), cpuRatio, verdict(cpuRatio >= 60),
                verdict(plain.peakResidentKb <= 3584));
}

}  // namespace

int main(int argc, char** argv) {
    const double idleSeconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const double loadSeconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    const double polledSeconds = argc > 3 ? std::atof(argv[3]) : 60.0;
    int32_t error = 0;
    startSockets(&error);
    compareWithNodeExporter(idleSeconds, polledSeconds, argc > 4 ? argv[4] : nullptr);

    // Under load: a fresh agent answering as fast as it can, next to a bare echo.
    const std::vector<SocketHandle> sources = openLoopbackSources(kLoadSources);
    if (sources.size() < static_cast<size_t>(kLoadWindow)) {
        std::fprintf(stderr, "could not bind %d loopback sources\n", kLoadWindow);
        return 1;
    }
    const uint16_t port = testing_net::findFreeUdpPort();
    pid_t agent = -1;
    const int replyBytes = startAnsweringAgent(port, &agent);
    if (replyBytes < 0) return 1;
    uint64_t nextQuery = 0;
    const double agentRate = measureLoad(sources, port, loadSeconds, nextQuery).repliesPerSecond;
    const long loadResident = peakResidentKb(agent);
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
