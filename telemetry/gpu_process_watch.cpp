#include "telemetry/gpu_process_watch.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "telemetry/d3dkmt_processes.h"

namespace tarvelon {
namespace {

constexpr uint64_t kNeverAsked = 0;

std::atomic<uint64_t> askedAtMs[kGpuSlots];

// The sampler's own: the sample each GPU's next share is measured from, and which GPU it was of (a
// slot's GPU changes when an adapter comes or goes).
struct Baseline {
    bool kept;
    uint8_t pciBus;
    uint8_t pciSlot;
    GpuProcessSample sample;
};
Baseline baselines[kGpuSlots];
GpuProcessSample fresh;
ProcessTable table;

// What readers take, under the lock.
std::mutex publishedLock;
bool publishedRead[kGpuSlots];
int32_t publishedCount[kGpuSlots];
GpuProcessRow published[kGpuSlots][kMaxProcessRows];

// count -1: nothing read.
void publish(int32_t gpu, const GpuProcessRow* rows, int32_t count) {
    std::lock_guard<std::mutex> hold(publishedLock);
    publishedRead[gpu] = count >= 0;
    publishedCount[gpu] = std::max(count, 0);
    if (rows != nullptr) std::copy(rows, rows + publishedCount[gpu], published[gpu]);
}

}  // namespace

void askGpuProcesses(int32_t gpu, uint64_t nowMs) {
    if (gpu >= 0 && gpu < kGpuSlots) askedAtMs[gpu].store(nowMs == kNeverAsked ? 1 : nowMs);
}

void sampleAskedGpuProcesses(const D3dkmtFunctions* functions, const GpuRecord* gpus, int32_t count,
                             uint64_t nowMs) {
    bool asked[kGpuSlots] = {};
    bool any = false;
    for (int32_t gpu = 0; gpu < kGpuSlots; ++gpu) {
        const uint64_t at = askedAtMs[gpu].load();
        asked[gpu] =
            functions != nullptr && gpu < count && at != kNeverAsked && nowMs - at <= kProcessAskHoldMs;
        if (!asked[gpu] && baselines[gpu].kept) {
            baselines[gpu].kept = false;
            publish(gpu, nullptr, -1);
        }
        any = any || asked[gpu];
    }
    if (!any) return;

    D3dkmtLuid luids[kGpuSlots] = {};
    bool found[kGpuSlots] = {};
    findGpuAdapters(*functions, gpus, std::min(count, kGpuSlots), luids, found);
    bool anyFound = false;
    for (int32_t gpu = 0; gpu < kGpuSlots; ++gpu) anyFound = anyFound || (asked[gpu] && found[gpu]);
    if (anyFound) openProcessTable(table);  // every process of the machine: only when it serves
    static GpuProcessRow rows[kMaxProcessRows];
    for (int32_t gpu = 0; gpu < kGpuSlots; ++gpu) {
        if (!asked[gpu]) continue;
        Baseline& baseline = baselines[gpu];
        if (!found[gpu]) {
            baseline.kept = false;
            publish(gpu, nullptr, 0);
            continue;
        }
        sampleAdapterProcesses(*functions, luids[gpu], table, fresh);
        const bool sameGpu =
            baseline.kept && baseline.pciBus == gpus[gpu].pciBus && baseline.pciSlot == gpus[gpu].pciSlot;
        if (!sameGpu) baseline.sample.taken = false;  // no share is measured against another GPU's
        publish(gpu, rows, rankGpuProcesses(baseline.sample, fresh, rows, kMaxProcessRows));
        baseline.kept = true;
        baseline.pciBus = gpus[gpu].pciBus;
        baseline.pciSlot = gpus[gpu].pciSlot;
        baseline.sample = fresh;
    }
    closeProcessTable(table);
}

int32_t readGpuProcesses(int32_t gpu, GpuProcessRow* rows, int32_t capacity) {
    if (gpu < 0 || gpu >= kGpuSlots) return -1;
    std::lock_guard<std::mutex> hold(publishedLock);
    if (!publishedRead[gpu]) return -1;
    const int32_t count = std::min(publishedCount[gpu], capacity);
    std::copy(published[gpu], published[gpu] + count, rows);
    return count;
}

}  // namespace tarvelon
