#include "agent/linux_host.h"

#include <dirent.h>

#include <cstdio>
#include <cstring>

#include "telemetry/sampler_pass.h"
#include "telemetry/text16.h"

namespace tarvelon {
namespace {

bool countProcesses(const std::string& procDirectory, int32_t* count) {
    DIR* proc = opendir(procDirectory.c_str());
    if (proc == nullptr) return false;
    *count = 0;
    while (const dirent* entry = readdir(proc)) {
        const char* name = entry->d_name;
        bool digits = *name != 0;
        for (const char* c = name; *c != 0; ++c) digits = digits && *c >= '0' && *c <= '9';
        if (digits) ++*count;
    }
    closedir(proc);
    return true;
}

// Per online processor with a cpufreq directory: the current frequency as percent of its maximum
// and in MHz, as instances named after the processor (none of them a total).
struct FrequencyItems {
    std::vector<std::u16string> names;
    std::vector<CounterItem> percentOfMaximum;
    std::vector<CounterItem> megahertz;
};

void readFrequencies(const std::string& root, const std::vector<int>& processors, FrequencyItems* items) {
    for (int processor : processors) {
        const std::string directory =
            root + "/sys/devices/system/cpu/cpu" + std::to_string(processor) + "/cpufreq/";
        std::string text;
        double current, maximum;
        if (!readTextFile(directory + "scaling_cur_freq", &text) || !parseKilohertz(text, &current)) continue;
        if (!readTextFile(directory + "cpuinfo_max_freq", &text) || !parseKilohertz(text, &maximum)) continue;
        items->names.push_back(fromUtf8("cpu" + std::to_string(processor)));
        items->percentOfMaximum.push_back(CounterItem{nullptr, current / maximum * 100.0, 0});
        items->megahertz.push_back(CounterItem{nullptr, current / 1000.0, 0});
    }
    for (size_t i = 0; i < items->names.size(); ++i) {
        items->percentOfMaximum[i].name = items->names[i].c_str();
        items->megahertz[i].name = items->names[i].c_str();
    }
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
    return sampler;
}

HostSourceGaps sampleLinuxHost(LinuxHostSampler& sampler, uint64_t nowMs, const char16_t* hostName,
                               HostRecord& host, HostPassFigures* figures) {
    const std::string& root = sampler.root;
    HostSourceGaps gaps{};
    HostReadings readings{};
    copyText16(readings.hostName, kSettingTextUnits, hostName);

    std::string text;
    readings.memoryRead =
        readTextFile(root + "/proc/meminfo", &text) && parseMemoryFigures(text, &readings.memory);
    gaps.memory = !readings.memoryRead;

    ProcStat stat;
    const bool statRead = readTextFile(root + "/proc/stat", &text) && parseProcStat(text, &stat);
    gaps.processorTimes = !statRead;
    readings.cpuCount = statRead ? static_cast<uint16_t>(stat.processors.size()) : host.cpuCount;

    readings.countersCollected = true;
    double busy = 0;
    const bool loadRead = statRead && sampler.havePrevious && sampler.previousStatRead &&
                          busyPercent(sampler.previousStat, stat, &busy);
    readings.counters[kCounterProcessorTime] = singleDouble(loadRead, busy);

    FrequencyItems frequencies;
    if (statRead) readFrequencies(root, stat.processors, &frequencies);
    gaps.frequencies = frequencies.names.empty();
    readings.counters[kCounterMaxFrequencyPct] = arrayReading(frequencies.percentOfMaximum);
    readings.counters[kCounterFrequencyMhz] = arrayReading(frequencies.megahertz);

    int32_t processes = 0;
    const bool processesRead = countProcesses(root + "/proc", &processes);
    readings.counters[kCounterProcesses] = singleLong(processesRead, processes);
    int32_t threads = 0;
    const bool threadsRead =
        readTextFile(root + "/proc/loadavg", &text) && parseLoadavgThreads(text, &threads);
    readings.counters[kCounterThreads] = singleLong(threadsRead, threads);

    const bool netRead = readTextFile(root + "/proc/net/dev", &text);
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
    // The mean over no processor has no value; a machine without cpufreq shows no clock.
    if (frequencies.names.empty()) {
        host.cpuMhz = 0;
        host.cpuMaxFreqPct = 0;
    }

    if (figures != nullptr) {
        *figures = HostPassFigures{readings.memoryRead, readings.memory, loadRead, busy, processesRead,
                                   processes, threadsRead, threads, interfaces};
    }
    sampler.havePrevious = true;
    sampler.previousMs = nowMs;
    sampler.previousStatRead = statRead;
    if (statRead) sampler.previousStat = stat;
    sampler.previousInterfaces = std::move(interfaces);
    return gaps;
}

}  // namespace tarvelon
