#include "telemetry/gpu_processes.h"

#include <algorithm>
#include <cstring>

#include "platform/text16.h"

namespace tarvelon {
namespace {

// Shares are measured over at least a quarter second: over less, when each sample was taken weighs
// too much.
constexpr uint64_t kMinWindow100ns = 2'500'000;

struct Counters {
    int32_t nodeCount;
    const bool* read;
    const int64_t* times;
};

// The growth of one engine's running time; negative when it has none (unread, or gone backwards
// after a driver restart).
int64_t nodeDelta(const Counters& before, const Counters& now, int32_t node) {
    if (node >= before.nodeCount || !before.read[node] || !now.read[node]) return -1;
    return now.times[node] - before.times[node];
}

int32_t percentOf(int64_t ran, uint64_t window) {
    const uint64_t part = static_cast<uint64_t>(ran);
    return part >= window ? 100 : static_cast<int32_t>((part * 100 + window / 2) / window);
}

const ProcessOnGpu* sameProcess(const GpuProcessSample& sample, const ProcessOnGpu& process) {
    for (int32_t i = 0; i < sample.count; ++i) {
        const ProcessOnGpu& candidate = sample.processes[i];
        if (candidate.pid == process.pid && candidate.startTime == process.startTime) return &candidate;
    }
    return nullptr;
}

int32_t nodes(int32_t count) {
    return std::clamp(count, 0, kMaxProcessNodes);
}

}  // namespace

int32_t rankGpuProcesses(const GpuProcessSample& previous, const GpuProcessSample& current,
                         GpuProcessRow* ranked, int32_t capacity) {
    // Every row is ranked before the first capacity of them are handed out.
    GpuProcessRow rows[kMaxProcessRows];
    const bool windowSound =
        previous.taken && current.taken && current.takenAt >= previous.takenAt + kMinWindow100ns;
    const uint64_t window = windowSound ? current.takenAt - previous.takenAt : 0;
    // Per engine, the running time the named processes account for; the rest is the others'.
    int64_t namedRan[kMaxProcessNodes] = {};
    int32_t count = 0;
    for (int32_t i = 0; i < std::min(current.count, kMaxSampledProcesses); ++i) {
        const ProcessOnGpu& process = current.processes[i];
        const ProcessOnGpu* before = windowSound ? sameProcess(previous, process) : nullptr;
        int32_t load = 0;
        if (before != nullptr) {
            const Counters then{nodes(before->nodeCount), before->nodeRead, before->runningTimes};
            const Counters now{nodes(process.nodeCount), process.nodeRead, process.runningTimes};
            for (int32_t node = 0; node < now.nodeCount; ++node) {
                const int64_t ran = nodeDelta(then, now, node);
                if (ran < 0) continue;
                namedRan[node] += ran;
                load = std::max(load, percentOf(ran, window));
            }
        }
        if (load == 0 && process.dedicatedBytes == 0) continue;
        GpuProcessRow& row = rows[count++];
        row = GpuProcessRow{};
        row.pid = process.pid;
        copyText16(row.name, kProcessNameUnits, process.name);
        row.loadPct = load;
        row.memoryBytes = process.dedicatedBytes;
    }

    if (current.unopened > 0) {
        int32_t load = 0;
        if (windowSound) {
            const Counters then{nodes(previous.nodeCount), previous.nodeRead, previous.runningTimes};
            const Counters now{nodes(current.nodeCount), current.nodeRead, current.runningTimes};
            for (int32_t node = 0; node < now.nodeCount; ++node) {
                const int64_t ran = nodeDelta(then, now, node);
                if (ran > namedRan[node]) load = std::max(load, percentOf(ran - namedRan[node], window));
            }
        }
        uint64_t named = 0;
        for (int32_t i = 0; i < std::min(current.count, kMaxSampledProcesses); ++i)
            named += current.processes[i].dedicatedBytes;
        const uint64_t memory =
            current.dedicatedRead && current.dedicatedBytes > named ? current.dedicatedBytes - named : 0;
        if (load > 0 || memory > 0) rows[count++] = GpuProcessRow{true, 0, {}, load, memory};
    }

    std::sort(rows, rows + count, [](const GpuProcessRow& a, const GpuProcessRow& b) {
        if (a.loadPct != b.loadPct) return a.loadPct > b.loadPct;
        if (a.memoryBytes != b.memoryBytes) return a.memoryBytes > b.memoryBytes;
        if (a.unnamed != b.unnamed) return b.unnamed;
        return a.pid < b.pid;
    });
    const int32_t handed = std::min(count, capacity);
    std::copy(rows, rows + handed, ranked);
    return handed;
}

}  // namespace tarvelon
