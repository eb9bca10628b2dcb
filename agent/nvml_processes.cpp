#include "agent/nvml_processes.h"

#include <algorithm>
#include <cstring>

#include "platform/posix/proc_text.h"

namespace tarvelon {
namespace {

// A count past this is not a process list but a fault of the library.
constexpr unsigned kMostNvmlProcesses = 65536;
// Room for processes started between being counted and being listed.
constexpr unsigned kRoomToSpare = 16;
constexpr int kListAttempts = 3;

// The count-in, count-out protocol: grows the array to the count the library asks for and tries
// again, as processes may start in between. False when no list came.
bool listProcesses(NvmlGetProcessesFunction get, NvmlDevice device, std::vector<NvmlProcessInfo>& infos) {
    if (get == nullptr) return false;
    if (infos.size() < kRoomToSpare) infos.resize(kRoomToSpare);
    for (int attempt = 0; attempt < kListAttempts; ++attempt) {
        unsigned count = static_cast<unsigned>(infos.size());
        const NvmlReturn status = get(device, &count, infos.data());
        if (status == kNvmlSuccess) {
            infos.resize(std::min<size_t>(count, infos.size()));
            return true;
        }
        if (status != kNvmlErrorInsufficientSize || count > kMostNvmlProcesses) return false;
        infos.resize(std::max<size_t>(count, infos.size()) + kRoomToSpare);
    }
    return false;
}

// The samples newer than lastSeen into samples; false when the library cannot tell. No sample
// newer (kNvmlErrorNotFound) is an answer: every process was idle.
bool utilizationSamples(NvmlGetProcessUtilizationFunction get, NvmlDevice device, unsigned long long lastSeen,
                        std::vector<NvmlProcessUtilizationSample>& samples) {
    samples.clear();
    if (get == nullptr) return false;
    unsigned count = 0;
    NvmlReturn status = get(device, nullptr, &count, lastSeen);
    for (int attempt = 0; attempt < kListAttempts; ++attempt) {
        if (status == kNvmlErrorNotFound || (status == kNvmlSuccess && count == 0)) {
            samples.clear();
            return true;
        }
        if (status == kNvmlSuccess && !samples.empty()) {
            samples.resize(std::min<size_t>(count, samples.size()));
            return true;
        }
        if ((status != kNvmlErrorInsufficientSize && status != kNvmlSuccess) || count > kMostNvmlProcesses)
            return false;
        samples.resize(count + kRoomToSpare);
        count = static_cast<unsigned>(samples.size());
        status = get(device, samples.data(), &count, lastSeen);
    }
    return false;
}

}  // namespace

NvmlProcessReader makeNvmlProcessReader(const std::string& root) {
    NvmlProcessReader reader{};
    reader.root = root == "/" ? "" : root;
    return reader;
}

void readNvmlProcesses(NvmlProcessReader& reader, const NvmlGpus& gpus, std::vector<GpuProcess>* processes) {
    if (reader.library != gpus.library) {
        // Another library's samples are on its own clock.
        std::fill(std::begin(reader.lastSeenUs), std::end(reader.lastSeenUs), 0ull);
        reader.library = gpus.library;
    }
    if (gpus.library == nullptr) return;
    const int slots = std::min(gpus.count, kGpuSlots);
    for (int slot = 0; slot < slots; ++slot) {
        const NvmlDevice device = gpus.devices[slot];
        const size_t first = processes->size();
        for (NvmlGetProcessesFunction get : {gpus.api.getComputeProcesses, gpus.api.getGraphicsProcesses}) {
            if (!listProcesses(get, device, reader.infos)) continue;
            for (const NvmlProcessInfo& info : reader.infos) {
                auto known = std::find_if(processes->begin() + first, processes->end(),
                                          [&](const GpuProcess& process) { return process.pid == info.pid; });
                if (known == processes->end()) {
                    processes->push_back(GpuProcess{slot, info.pid, "", false, 0, false, 0});
                    known = processes->end() - 1;
                }
                // A process with both kinds of context is listed twice with the memory of the whole.
                if (info.usedGpuMemory == kNvmlValueNotAvailable) continue;
                known->memoryRead = true;
                known->memoryBytes = std::max<uint64_t>(known->memoryBytes, info.usedGpuMemory);
            }
        }
        if (processes->size() == first) continue;
        if (utilizationSamples(gpus.api.getProcessUtilization, device, reader.lastSeenUs[slot],
                               reader.samples)) {
            for (auto process = processes->begin() + first; process != processes->end(); ++process) {
                process->busyRead = true;
                unsigned long long newest = 0;
                for (const NvmlProcessUtilizationSample& sample : reader.samples) {
                    if (sample.pid != process->pid || sample.timeStamp < newest) continue;
                    newest = sample.timeStamp;
                    process->busyRatio = std::min(sample.smUtil, 100u) / 100.0;
                }
            }
            for (const NvmlProcessUtilizationSample& sample : reader.samples)
                reader.lastSeenUs[slot] = std::max(reader.lastSeenUs[slot], sample.timeStamp);
        }
        for (auto process = processes->begin() + first; process != processes->end(); ++process) {
            // Read now, never kept: a PID used again is named for the process it is now.
            if (readTextFile(reader.root + "/proc/" + std::to_string(process->pid) + "/comm", &reader.text))
                process->command = commandName(reader.text);
        }
    }
}

}  // namespace tarvelon
