// tarvelon-agent: a headless Linux daemon that answers Tarvelon's UDP queries with this machine's
// figures. It runs the panel program's query server, configured from the command line, over a
// sampler of its own that gathers the figures when a question finds them stale; at rest every thread
// blocks until a datagram, a connection or a signal comes. A server that cannot start ends it with
// status 1, so that a supervisor (systemd's Restart=on-failure) starts it again, and a configuration
// mistake with status 2; SIGTERM and SIGINT end it with status 0, SIGHUP reads the web configuration
// again.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "agent/agent_log.h"
#include "agent/agent_options.h"
#include "agent/agent_sampler.h"
#include "agent/metrics_server.h"
#include "net/query_server.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "platform/text16.h"
#include "settings/settings.h"
#include "tarvelon_version.h"
#include "telemetry/local_store.h"

using namespace tarvelon;

namespace {

// The server threads say so when their state changes; the main thread waits for that or a stop.
constexpr int kServerChangedSignal = SIGUSR1;
// The agent never switches its server off, so its threads wait for datagrams without a time-out.
constexpr uint32_t kEnabledCheckMs = 0;

std::string machineHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == 0) return "localhost";
    return name;
}

bool familyAvailable(IpFamily family) {
    const SocketHandle probe = openUdpSocket(family);
    if (probe == kNoSocket) return false;
    closeSocket(probe);
    return true;
}

// With the default of both families, a machine without one of them serves the other alone.
bool settleAvailableFamilies(ServerListen& listen) {
    const struct {
        bool* served;
        IpFamily family;
        const char* name;
    } families[] = {{&listen.serveIPv4, IpFamily::IPv4, "IPv4"}, {&listen.serveIPv6, IpFamily::IPv6, "IPv6"}};
    const bool both = listen.serveIPv4 && listen.serveIPv6;
    for (const auto& entry : families) {
        if (!both || !*entry.served || familyAvailable(entry.family)) continue;
        *entry.served = false;
        logLine(std::string(entry.name) +
                " is not available on this machine; answering over the other family only");
    }
    return listen.serveIPv4 || listen.serveIPv6;
}

void exitNow(int status) {
    std::fflush(stderr);
    _exit(status);  // the server threads never stop; nothing is left to save
}

}  // namespace

int main(int argc, char** argv) {
    AgentOptions options;
    std::string message;
    switch (parseAgentOptions(argc, argv, &options, &message)) {
        case OptionsOutcome::Help:
            std::fputs(agentUsageText(), stdout);
            return 0;
        case OptionsOutcome::Version:
            std::fputs("tarvelon-agent " TARVELON_VERSION "\n", stdout);
            return 0;
        case OptionsOutcome::Error:
            std::fprintf(stderr, "tarvelon-agent: %s\nTry 'tarvelon-agent --help' for more information.\n",
                         message.c_str());
            return 2;
        case OptionsOutcome::Run:
            break;
    }

    // Every thread started from here on inherits the blocked signals; the main thread takes them.
    sigset_t watchedSignals;
    sigemptyset(&watchedSignals);
    sigaddset(&watchedSignals, SIGTERM);
    sigaddset(&watchedSignals, SIGINT);
    sigaddset(&watchedSignals, SIGHUP);
    sigaddset(&watchedSignals, kServerChangedSignal);
    pthread_sigmask(SIG_BLOCK, &watchedSignals, nullptr);

    int32_t socketError = 0;
    startSockets(&socketError);
    if (!settleAvailableFamilies(options.listen)) {
        logLine("neither IPv4 nor IPv6 is available on this machine");
        return 1;
    }

    clearSettings();
    const std::string name = options.name.empty() ? machineHostName() : options.name;
    writeSettingText(settings.networkServerHostname, fromUtf8(name).c_str());
    settings.networkServerPort.store(options.port);
    settings.networkServerEnabled.store(1);
    logLine("starting as \"" + name + "\"");

    static AgentSampler sampler;
    sampler.host = makeLinuxHostSampler(options.root);
    sampler.drm = makeDrmGpus(options.root,
                              options.gpuIdLists.empty() ? systemIdLists() : idListsIn(options.gpuIdLists));
    sampler.keepFigures = options.metricsEnabled;
    sampler.collectProcesses = options.collectProcesses;
    sampler.drmProcesses = makeDrmProcessWalk(options.root);
    sampler.nvmlProcesses = makeNvmlProcessReader(options.root);
    const NvmlOpenOutcome outcome = openNvmlGpus(options.nvmlLibrary.c_str(), &sampler.gpus);
    logLine(gpuOutcomeLine(outcome, sampler.gpus.count, options.nvmlLibrary));
    // The first pass at start, so that the first question already gets rates over a known time; on a
    // thread of its own, so that the main thread is already waiting for the signals meanwhile.
    std::thread([] { refreshAgentFigures(sampler, tickCountMs()); }).detach();

    options.listen.enabledCheckMs = kEnabledCheckMs;
    setServerListen(options.listen);
    setServerAllowList(options.allow);
    setServerRecordsSource([] {
        refreshAgentFigures(sampler, tickCountMs());
        return readLocalStore();
    });
    setServerProcessesSource([](GpuProcessList(&lists)[kGpuSlots]) {
        return processListsForQuery(sampler, tickCountMs(), lists);
    });
    setServerStateListener([] { kill(getpid(), kServerChangedSignal); });
    startQueryServer();
    if (options.metricsEnabled) {
        std::string failure;
        const MetricsStart start = startMetricsServer(
            MetricsServerSetup{options.metrics, options.probeAllow, &sampler, options.ignoredInterfaces,
                               options.web, options.webConfigPath},
            &failure);
        if (start != MetricsStart::Serving) {
            logLine(failure);
            exitNow(start == MetricsStart::ConfigurationRefused ? 2 : 1);
        }
        logLine("serving Prometheus metrics on TCP port " + std::to_string(options.metrics.port) +
                (options.probeAllow.empty() ? "" : ", probes included") +
                (options.web.tls ? ", over TLS" : "") +
                (options.web.users.empty() ? "" : ", behind a password"));
    }

    int32_t loggedState = -1;
    std::string loggedLine;
    bool served = false;  // once running, a failure mends itself (the server binds again)
    for (;;) {
        char16_t serverMessage[kServerMessageUnits];
        copyServerMessage(serverMessage);
        const int32_t state = serverState.load();
        served = served || state == kServerRunning;
        const std::string line = serverStateLine(state, serverMessage, options.port);
        if (state != loggedState || line != loggedLine) {
            logLine(line);
            loggedState = state;
            loggedLine = line;
            if (state == kServerError && !served) exitNow(1);
        }
        const int signal = sigwaitinfo(&watchedSignals, nullptr);
        if (signal == SIGHUP) {
            if (options.webConfigPath.empty())
                logLine("SIGHUP: there is no web configuration to read again");
            else
                rereadMetricsWebConfig();
            continue;
        }
        if (signal == SIGTERM || signal == SIGINT) {
            logLine(std::string("stopping on ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"));
            exitNow(0);
        }
    }
}
