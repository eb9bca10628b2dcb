// Load generator: what the program costs while it sits on the desktop, natively. One process runs
// the sampler (with simulated GPUs when the test driver library is built), the query server switched
// on at a loopback port, the query client with a few slots polling that same server, and the panel's
// one-second tick onto a surface that draws nothing, for a fixed time. Prints the CPU time of the
// whole run (start-up included) as seconds per hour, and the peak resident memory.
//   resident_bench [seconds, default 60] [--slots N, default 4] [--gpus N, default 2]
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bench/null_surface.h"
#include "net/query_client.h"
#include "net/query_server.h"
#include "net/slot_table.h"
#include "panel/panel.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "platform/text16.h"
#include "settings/settings.h"
#include "telemetry/local_store.h"
#include "telemetry/sampler.h"

using namespace tarvelon;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

struct Options {
    double seconds = 60.0;
    int slots = 4;
    int gpus = 2;
};

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--slots") == 0 && hasValue) {
            options.slots = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--gpus") == 0 && hasValue) {
            options.gpus = std::atoi(argv[++i]);
        } else {
            options.seconds = std::atof(argv[i]);
        }
    }
    options.slots = options.slots < 0 ? 0 : options.slots > kServerSlots ? kServerSlots : options.slots;
    options.gpus = options.gpus < 0 ? 0 : options.gpus > kGpuSlots ? kGpuSlots : options.gpus;
    if (options.seconds <= 0) options.seconds = 60.0;
    return options;
}

std::string ownDirectory() {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string executable(self, length > 0 ? static_cast<size_t>(length) : 0);
    return executable.substr(0, executable.find_last_of('/'));
}

// Points the GPU access layer at the simulated library of this build tree with the given number of
// GPUs. Returns the configuration file to remove at the end, empty when there is none.
std::string provideSimulatedGpus(int gpus) {
    if (gpus == 0) return {};
    const std::string library = ownDirectory() + "/../tests/fixtures";
    if (access((library + "/libnvapi.so").c_str(), R_OK) != 0) {
        std::printf("note: %s/libnvapi.so is not built; running without GPUs\n", library.c_str());
        return {};
    }
    const std::string configuration = "/tmp/tarvelon-resident-gpus-" + std::to_string(getpid()) + ".txt";
    FILE* file = std::fopen(configuration.c_str(), "w");
    if (file == nullptr) return {};
    std::fprintf(file, "physical %d\n", gpus);
    std::fclose(file);
    setenv("TARVELON_SIMULATED_GPUS", configuration.c_str(), 1);
    setenv("TARVELON_SYSTEM_DIR", library.c_str(), 1);
    return configuration;
}

// A UDP port that is free on the wildcard address right now.
uint16_t freePort() {
    const SocketHandle probe = openUdpSocket(IpFamily::IPv4);
    bindWildcard(probe, IpFamily::IPv4, 0);
    const uint16_t port = boundPort(probe);
    closeSocket(probe);
    return port;
}

int slotsOk(int slots) {
    int ok = 0;
    for (int i = 0; i < slots; ++i) ok += slotTable[i].Status.load() == kStatusOk ? 1 : 0;
    return ok;
}

// A "Name:   value kB" line of /proc/self/status, in kB; -1 when absent.
long statusField(const char* name) {
    FILE* file = std::fopen("/proc/self/status", "r");
    if (file == nullptr) return -1;
    char line[256];
    long value = -1;
    const size_t nameLength = std::strlen(name);
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, name, nameLength) == 0 && line[nameLength] == ':') {
            value = std::atol(line + nameLength + 1);
            break;
        }
    }
    std::fclose(file);
    return value;
}

double seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    const uint64_t started = tickCountMs();
    const std::string gpuConfiguration = provideSimulatedGpus(options.gpus);

    // The program's own start-up order, with the settings given here instead of loaded.
    int32_t error = 0;
    if (!startSockets(&error)) return 1;
    clearSlotTable();
    clearSettings();
    setDefaultSettings(1920, 1080);
    const uint16_t port = freePort();
    settings.networkServerPort.store(port);
    settings.networkServerEnabled.store(1);
    for (int i = 0; i < options.slots; ++i) {
        ServerSlot& slot = slotTable[i];
        copyText16(slot.Hostname, kSlotTextUnits, u"127.0.0.1");
        slot.Port = port;
        slot.Active = 1;
        slot.Enabled = 1;
    }
    startSampler();
    startQueryServer();
    startQueryClient();
    NullSurface surface;
    auto panel = std::make_unique<PanelState>();
    fullPass(*panel, surface);

    // The user-interface thread's share: the tick once a second, on the schedule of a 1000 ms timer.
    const uint64_t runMs = static_cast<uint64_t>(options.seconds * 1000.0);
    int allOkAfterMs = -1;
    for (uint64_t tick = 1;; ++tick) {
        const uint64_t due = started + tick * 1000;
        const uint64_t now = tickCountMs();
        if (due > started + runMs) {
            if (started + runMs > now) sleepMs(static_cast<uint32_t>(started + runMs - now));
            break;
        }
        if (due > now) sleepMs(static_cast<uint32_t>(due - now));
        tickPass(*panel, surface);
        if (allOkAfterMs < 0 && slotsOk(options.slots) == options.slots) {
            allOkAfterMs = static_cast<int>(tickCountMs() - started);
        }
    }
    const double elapsed = static_cast<double>(tickCountMs() - started) / 1000.0;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double user = seconds(usage.ru_utime);
    const double system = seconds(usage.ru_stime);
    const double cpu = user + system;
    const uint64_t requests = requestCountIPv4.load() + requestCountIPv6.load();

    if (kSanitized) std::printf("warning: built with a sanitizer, which inflates both figures\n");
    std::printf(
        "run                     %.1f s: sampler with %d GPUs, server on port %u, %d slots polling it,\n"
        "                        panel tick once a second\n",
        elapsed, readLocalStore().host.gpuCount, port, options.slots);
    std::printf("server                  %s, %.2f requests/s answered\n", toUtf8(serverStateName()).c_str(),
                static_cast<double>(requests) / elapsed);
    if (allOkAfterMs >= 0) {
        std::printf("slots                   all %d OK %.1f s after start\n", options.slots,
                    allOkAfterMs / 1000.0);
    } else {
        std::printf("slots                   only %d of %d OK at the end\n", slotsOk(options.slots),
                    options.slots);
    }
    std::printf("threads                 %ld\n", statusField("Threads"));
    std::printf("CPU time                %.3f s (user %.3f s, system %.3f s)\n", cpu, user, system);
    std::printf("CPU seconds per hour    %.1f (%.3f %% of one core)\n", cpu * 3600.0 / elapsed,
                cpu * 100.0 / elapsed);
    std::printf("peak memory             VmHWM %ld kB, ru_maxrss %ld kB (VmRSS now %ld kB)\n",
                statusField("VmHWM"), usage.ru_maxrss, statusField("VmRSS"));
    std::fflush(stdout);
    if (!gpuConfiguration.empty()) std::remove(gpuConfiguration.c_str());
    std::_Exit(0);  // the program's threads run until the process ends
}
