#include "agent/linux_host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/text16.h"
#include "telemetry/sampler_pass.h"

namespace tarvelon {
namespace {

constexpr uint64_t kCpufreqLookAgainMs = 60000;
// The overcommit mode is an administrator's choice that hardly ever changes, and a sysctl file costs
// as much to read as /proc/meminfo.
constexpr uint64_t kOvercommitLookAgainMs = 60000;
// Each read of /proc/cpuinfo has the kernel sample the clock of every processor. A clock that stood
// still between two reads (most virtual machines) is read again once a minute, not every pass.
constexpr uint64_t kSteadyClockLookAgainMs = 60000;

// Per online processor with a cpufreq directory: the current frequency as percent of its maximum
// and in MHz, as instances named after the processor (none of them a total).
struct FrequencyItems {
    std::vector<CounterItem> percentOfMaximum;
    std::vector<CounterItem> megahertz;
};

void readFrequencies(LinuxHostSampler& sampler, const std::vector<int>& processors, uint64_t nowMs,
                     FrequencyItems* items) {
    std::string& text = sampler.text;
    // Grown before any item points at a name in it.
    for (int processor : processors) {
        if (static_cast<size_t>(processor) >= sampler.cpufreq.size()) sampler.cpufreq.resize(processor + 1);
    }
    for (int processor : processors) {
        CpufreqFiles& clock = sampler.cpufreq[processor];
        if (!clock.opened) {
            // A processor without cpufreq files is looked at again once a minute, not every pass.
            if (clock.looked && nowMs - clock.lookedAtMs < kCpufreqLookAgainMs) continue;
            clock.looked = true;
            clock.lookedAtMs = nowMs;
            const std::string directory =
                sampler.root + "/sys/devices/system/cpu/cpu" + std::to_string(processor) + "/cpufreq/";
            if (!readTextFile(directory + "cpuinfo_max_freq", &text) ||
                !parseKilohertz(text, &clock.maximumKhz))
                continue;
            clock.current = KeptFile(directory + "scaling_cur_freq");
            clock.name = fromUtf8("cpu" + std::to_string(processor));
            clock.opened = true;
        }
        double current;
        if (!clock.current.read(&text) || !parseKilohertz(text, &current)) continue;
        items->percentOfMaximum.push_back(
            CounterItem{clock.name.c_str(), current / clock.maximumKhz * 100.0, 0});
        items->megahertz.push_back(CounterItem{clock.name.c_str(), current / 1000.0, 0});
    }
}

void readCpuinfoClocks(LinuxHostSampler& sampler, size_t processors, uint64_t nowMs) {
    if (sampler.cpuinfoSteady && sampler.cpuinfoMhz.size() == processors &&
        nowMs - sampler.cpuinfoReadAtMs < kSteadyClockLookAgainMs)
        return;
    std::swap(sampler.cpuinfoBefore, sampler.cpuinfoMhz);
    sampler.cpuinfoMhz.clear();
    if (sampler.cpuinfo.read(&sampler.text)) parseCpuinfoMegahertz(sampler.text, &sampler.cpuinfoMhz);
    sampler.cpuinfoSteady = !sampler.cpuinfoMhz.empty() && sampler.cpuinfoMhz == sampler.cpuinfoBefore;
    sampler.cpuinfoReadAtMs = nowMs;
}

// Listing /proc is the dearest read of a pass. The set of processes can only change when a task is
// created (the fork counter moves) or one ends (the thread count changes without a fork), so the
// last count stands while both counters are where they were when it was listed.
bool countProcesses(LinuxHostSampler& sampler, const ProcStat& stat, bool statRead, bool threadsRead,
                    int32_t threads, int32_t* count) {
    const bool countersKnown = statRead && stat.forksRead && threadsRead;
    if (countersKnown && sampler.processesCounted && stat.forks == sampler.countedForks &&
        threads == sampler.countedThreads) {
        *count = sampler.processes;
        return true;
    }
    const bool listed = sampler.proc.countNumericEntries(&sampler.processes);
    sampler.processesCounted = listed && countersKnown;
    sampler.countedForks = stat.forks;
    sampler.countedThreads = threads;
    *count = sampler.processes;
    return listed;
}

CounterReading arrayReading(const std::vector<CounterItem>& items) {
    return CounterReading{true, true, 0.0, 0, items.data(), static_cast<int32_t>(items.size())};
}

CounterReading singleDouble(bool read, double value) {
    return CounterReading{true, read, value, 0, nullptr, 0};
}

CounterReading singleLong(bool read, int32_t value) {
    return CounterReading{true, read, 0.0, value, nullptr, 0};
}

}  // namespace

LinuxHostSampler makeLinuxHostSampler(const std::string& root) {
    LinuxHostSampler sampler{};
    sampler.root = root == "/" ? "" : root;
    sampler.meminfo = KeptFile(sampler.root + "/proc/meminfo");
    sampler.overcommit = KeptFile(sampler.root + "/proc/sys/vm/overcommit_memory");
    sampler.stat = KeptFile(sampler.root + "/proc/stat", kKernelListBytes);
    sampler.loadavg = KeptFile(sampler.root + "/proc/loadavg");
    sampler.netDev = KeptFile(sampler.root + "/proc/net/dev", kKernelListBytes);
    sampler.cpuinfo = KeptFile(sampler.root + "/proc/cpuinfo", kKernelListBytes);
    sampler.proc = KeptDirectory(sampler.root + "/proc");
    return sampler;
}

namespace {

double unixTimeSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

HostSourceGaps sampleLinuxHost(LinuxHostSampler& sampler, uint64_t nowMs, const char16_t* hostName,
                               HostRecord& host, HostPassFigures* figures) {
    HostSourceGaps gaps{};
    HostReadings readings{};
    copyText16(readings.hostName, kSettingTextUnits, hostName);
    std::string& text = sampler.text;

    if (!sampler.overcommitLooked || nowMs - sampler.overcommitLookedAtMs >= kOvercommitLookAgainMs) {
        sampler.strictCommit = sampler.overcommit.read(&text) && strictOvercommit(text);
        sampler.overcommitLooked = true;
        sampler.overcommitLookedAtMs = nowMs;
    }
    const bool strictCommit = sampler.strictCommit;
    readings.memoryRead =
        sampler.meminfo.read(&text) && parseMemoryFigures(text, strictCommit, &readings.memory);
    gaps.memory = !readings.memoryRead;

    ProcStat stat;
    std::swap(stat.processors, sampler.previousStat.processors);  // reuses its storage
    const bool statRead = sampler.stat.read(&text) && parseProcStat(text, &stat);
    gaps.processorTimes = !statRead;
    readings.cpuCount = statRead ? static_cast<uint16_t>(stat.processors.size()) : host.cpuCount;

    readings.countersCollected = true;
    double busy = 0;
    const bool loadRead = statRead && sampler.havePrevious && sampler.previousStatRead &&
                          busyPercent(sampler.previousStat, stat, &busy);
    readings.counters[kCounterProcessorTime] = singleDouble(loadRead, busy);

    FrequencyItems frequencies;
    if (statRead) readFrequencies(sampler, stat.processors, nowMs, &frequencies);
    // Without cpufreq the kernel still tells each processor's clock, though not its maximum.
    const bool cpufreqRead = !frequencies.megahertz.empty();
    if (!cpufreqRead) {
        readCpuinfoClocks(sampler, stat.processors.size(), nowMs);
        for (double megahertz : sampler.cpuinfoMhz)
            frequencies.megahertz.push_back(CounterItem{nullptr, megahertz, 0});
    }
    gaps.frequencies = frequencies.megahertz.empty();
    readings.counters[kCounterMaxFrequencyPct] = arrayReading(frequencies.percentOfMaximum);
    readings.counters[kCounterFrequencyMhz] = arrayReading(frequencies.megahertz);

    // The counters first, the listing after: a task created in between moves them for the next pass.
    int32_t threads = 0;
    const bool threadsRead = sampler.loadavg.read(&text) && parseLoadavgThreads(text, &threads);
    readings.counters[kCounterThreads] = singleLong(threadsRead, threads);
    int32_t processes = 0;
    const bool processesRead = countProcesses(sampler, stat, statRead, threadsRead, threads, &processes);
    readings.counters[kCounterProcesses] = singleLong(processesRead, processes);

    const bool netRead = sampler.netDev.read(&text);
    gaps.network = !netRead;
    std::vector<InterfaceBytes> interfaces;
    if (netRead) interfaces = parseNetDev(text);
    std::vector<InterfaceRate> rates;
    if (sampler.havePrevious) {
        rates = interfaceRates(sampler.previousInterfaces, interfaces,
                               static_cast<double>(nowMs - sampler.previousMs) / 1000.0);
    }
    std::vector<CounterItem> received, sent;
    std::vector<std::u16string> names;
    for (const InterfaceRate& rate : rates) names.push_back(fromUtf8(rate.name));
    for (size_t i = 0; i < rates.size(); ++i) {
        received.push_back(CounterItem{names[i].c_str(), 0.0, rates[i].receivedPerSecond});
        sent.push_back(CounterItem{names[i].c_str(), 0.0, rates[i].sentPerSecond});
    }
    readings.counters[kCounterBytesReceived] = arrayReading(received);
    readings.counters[kCounterBytesSent] = arrayReading(sent);

    applyHostReadings(host, readings);
    // The mean over no processor has no value: a clock not told shows 0.
    if (frequencies.megahertz.empty()) host.cpuMhz = 0;
    if (!cpufreqRead) host.cpuMaxFreqPct = 0;

    if (figures != nullptr) {
        *figures = HostPassFigures{readings.memoryRead, readings.memory, loadRead,    busy,
                                   processesRead,       processes,       threadsRead, threads,
                                   interfaces,          statRead,        {},          unixTimeSeconds()};
        std::copy(std::begin(stat.times), std::end(stat.times), figures->processorTicks);
    }
    sampler.havePrevious = true;
    sampler.previousMs = nowMs;
    sampler.previousStatRead = statRead;
    if (statRead) std::swap(sampler.previousStat, stat);
    sampler.previousInterfaces = std::move(interfaces);
    return gaps;
}

}  // namespace tarvelon
