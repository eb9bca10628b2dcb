#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/proc_text.h"
#include "platform/sensors.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

struct Sample {
    bool valid;
    double seconds;
    bool cpuTimesRead;
    uint64_t cpuBusy;
    uint64_t cpuTotal;
    int32_t processes;
    bool threadsRead;
    int32_t threads;
    std::vector<InterfaceBytes> interfaces;
    std::vector<double> currentKhz;  // per processor
    std::vector<double> maximumKhz;
};

Sample previous;
Sample current;

bool readable(const char* path) {
    return access(path, R_OK) == 0;
}

std::string cpufreqPath(int cpu, const char* file) {
    return "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cpufreq/" + file;
}

int32_t countProcesses() {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return 0;
    int32_t count = 0;
    while (const dirent* entry = readdir(proc)) {
        const char* name = entry->d_name;
        bool digits = *name != 0;
        for (const char* c = name; *c != 0; ++c) digits = digits && *c >= '0' && *c <= '9';
        if (digits) ++count;
    }
    closedir(proc);
    return count;
}

Sample takeSample() {
    Sample sample{};
    sample.valid = true;
    sample.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    std::string text;
    sample.cpuTimesRead = readTextFile("/proc/stat", &text, kKernelListBytes) &&
                          parseCpuTimes(text, &sample.cpuBusy, &sample.cpuTotal);
    sample.processes = countProcesses();
    sample.threadsRead = readTextFile("/proc/loadavg", &text) && parseLoadavgThreads(text, &sample.threads);
    if (readTextFile("/proc/net/dev", &text, kKernelListBytes)) sample.interfaces = parseNetDev(text);
    const long processors = sysconf(_SC_NPROCESSORS_CONF);
    for (int cpu = 0; cpu < processors; ++cpu) {
        std::string currentText, maximumText;
        if (!readTextFile(cpufreqPath(cpu, "scaling_cur_freq"), &currentText) ||
            !readTextFile(cpufreqPath(cpu, "cpuinfo_max_freq"), &maximumText)) {
            continue;
        }
        sample.currentKhz.push_back(std::atof(currentText.c_str()));
        sample.maximumKhz.push_back(std::atof(maximumText.c_str()));
    }
    return sample;
}

// One block holding the items and, behind them, their names.
bool makeArray(const std::vector<std::u16string>& names, const std::vector<double>& values,
               CounterFormat format, CounterArray* array) {
    const size_t count = names.size();
    size_t nameUnits = 0;
    for (const std::u16string& name : names) nameUnits += name.size() + 1;
    void* buffer = std::malloc(sizeof(CounterItem) * count + sizeof(char16_t) * nameUnits + 1);
    if (buffer == nullptr) return false;
    auto* items = static_cast<CounterItem*>(buffer);
    auto* text = reinterpret_cast<char16_t*>(items + count);
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(text, names[i].c_str(), sizeof(char16_t) * (names[i].size() + 1));
        items[i].name = text;
        items[i].doubleValue = format == CounterFormat::Double ? values[i] : 0.0;
        const double clamped = values[i] < 2147483647.0 ? values[i] : 2147483647.0;
        items[i].longValue = format == CounterFormat::Long ? static_cast<int32_t>(clamped) : 0;
        text += names[i].size() + 1;
    }
    *array = CounterArray{items, static_cast<int32_t>(count), buffer};
    return true;
}

bool frequencyArray(bool percentOfMaximum, CounterFormat format, CounterArray* array) {
    std::vector<std::u16string> names;
    std::vector<double> values;
    for (size_t cpu = 0; cpu < current.currentKhz.size(); ++cpu) {
        names.push_back(fromUtf8("0," + std::to_string(cpu)));
        const double khz = current.currentKhz[cpu];
        const double maximum = current.maximumKhz[cpu];
        values.push_back(percentOfMaximum ? (maximum > 0 ? khz / maximum * 100.0 : 0.0) : khz / 1000.0);
    }
    return makeArray(names, values, format, array);
}

// Bytes per second of every interface seen in both of the last two samples.
bool rateArray(bool received, CounterFormat format, CounterArray* array) {
    if (!previous.valid) return false;
    const double elapsed = current.seconds - previous.seconds;
    if (elapsed <= 0) return false;
    std::vector<std::u16string> names;
    std::vector<double> values;
    for (const InterfaceBytes& now : current.interfaces) {
        for (const InterfaceBytes& before : previous.interfaces) {
            if (before.name != now.name) continue;
            const uint64_t a = received ? before.received : before.sent;
            const uint64_t b = received ? now.received : now.sent;
            names.push_back(fromUtf8(now.name));
            values.push_back(b >= a ? static_cast<double>(b - a) / elapsed : 0.0);
        }
    }
    return makeArray(names, values, format, array);
}

}  // namespace

bool openPerfQuery(bool (&added)[kPerfCounterCount]) {
    previous = Sample{};
    current = Sample{};
    const bool frequencies = readable("/sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq") &&
                             readable("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq");
    added[kCounterProcessorTime] = readable("/proc/stat");
    added[kCounterMaxFrequencyPct] = frequencies;
    added[kCounterFrequencyMhz] = frequencies;
    added[kCounterProcesses] = readable("/proc");
    added[kCounterThreads] = readable("/proc/loadavg");
    added[kCounterBytesReceived] = readable("/proc/net/dev");
    added[kCounterBytesSent] = readable("/proc/net/dev");
    return true;
}

void closePerfQuery() {
    previous = Sample{};
    current = Sample{};
}

bool collectPerfQuery() {
    previous = std::move(current);
    current = takeSample();
    return true;
}

bool readPerfDouble(PerfCounter counter, double* value) {
    if (counter != kCounterProcessorTime || !previous.valid || !previous.cpuTimesRead ||
        !current.cpuTimesRead) {
        return false;
    }
    if (current.cpuTotal <= previous.cpuTotal) return false;
    *value = 100.0 * static_cast<double>(current.cpuBusy - previous.cpuBusy) /
             static_cast<double>(current.cpuTotal - previous.cpuTotal);
    return true;
}

bool readPerfLong(PerfCounter counter, int32_t* value) {
    if (counter == kCounterProcesses && current.valid) {
        *value = current.processes;
        return true;
    }
    if (counter == kCounterThreads && current.threadsRead) {
        *value = current.threads;
        return true;
    }
    return false;
}

bool readPerfArray(PerfCounter counter, CounterFormat format, CounterArray* array) {
    *array = CounterArray{nullptr, 0, nullptr};
    switch (counter) {
        case kCounterMaxFrequencyPct:
            return frequencyArray(true, format, array);
        case kCounterFrequencyMhz:
            return frequencyArray(false, format, array);
        case kCounterBytesReceived:
            return rateArray(true, format, array);
        case kCounterBytesSent:
            return rateArray(false, format, array);
        default:
            return false;
    }
}

void freePerfArray(CounterArray* array) {
    std::free(array->buffer);
    *array = CounterArray{nullptr, 0, nullptr};
}

bool readMemoryStatus(MemoryStatus* status) {
    std::string text;
    return readTextFile("/proc/meminfo", &text) && parseMeminfo(text, status);
}

// There is no processor key; the system's own count is the source.
int32_t processorKeySubkeyCount() {
    return -1;
}

uint32_t systemProcessorCount() {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<uint32_t>(online) : 1;
}

// The counters above already read the system's own files; there is no second source to fall back on.
bool readProcessorTimes(ProcessorTimes*) {
    return false;
}

bool readProcessCounts(int32_t*, int32_t*) {
    return false;
}

int32_t readInterfaceOctets(InterfaceOctets (&)[kMaxInterfaces]) {
    return -1;
}

int32_t readProcessorClocks(ProcessorClock (&)[kMaxProcessorClocks]) {
    return -1;
}

}  // namespace tarvelon
