#include "panel/gpu_processes_command.h"

#include "history/gpu_process_csv.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "telemetry/d3dkmt_processes.h"
#include "telemetry/local_store.h"
#include "telemetry/sampler.h"

namespace tarvelon {
namespace {

constexpr uint32_t kSampleGapMs = 1000;

// One round: every process opened once, every GPU's adapter read with the same handles.
void sampleRound(const D3dkmtFunctions& functions, const D3dkmtLuid* luids, const bool* found, int32_t count,
                 GpuProcessSample* samples) {
    static ProcessTable table;
    openProcessTable(table);
    for (int32_t gpu = 0; gpu < count; ++gpu) {
        if (found[gpu]) sampleAdapterProcesses(functions, luids[gpu], table, samples[gpu]);
    }
    closeProcessTable(table);
}

}  // namespace

GpuProcessesOutcome writeGpuProcesses(const std::u16string& file) {
    if (file.empty()) return GpuProcessesOutcome::usage;
    // One pass finds the GPUs and numbers them as the panel does.
    samplingRoutine(kPrimingRun);
    const LocalStore store = readLocalStore();
    const int32_t count = store.host.gpuCount < kGpuSlots ? store.host.gpuCount : kGpuSlots;

    static GpuProcessList lists[kGpuSlots];
    static GpuProcessSample first[kGpuSlots];
    static GpuProcessSample second[kGpuSlots];
    int32_t listed = 0;
    if (const D3dkmtFunctions* functions = systemD3dkmtFunctions(); functions != nullptr && count > 0) {
        D3dkmtLuid luids[kGpuSlots] = {};
        bool found[kGpuSlots] = {};
        findGpuAdapters(*functions, store.gpus, count, luids, found);
        sampleRound(*functions, luids, found, count, first);
        sleepMs(kSampleGapMs);
        sampleRound(*functions, luids, found, count, second);
        for (int32_t gpu = 0; gpu < count; ++gpu) {
            if (!found[gpu]) continue;
            GpuProcessList& list = lists[listed++];
            list.gpu = gpu;
            list.pciBus = store.gpus[gpu].pciBus;
            list.pciSlot = store.gpus[gpu].pciSlot;
            list.count = rankGpuProcesses(first[gpu], second[gpu], list.rows, kMaxProcessRows);
        }
    }
    const std::string text = gpuProcessCsv(lists, listed);
    return replaceFile(file.c_str(), text.data(), text.size()) ? GpuProcessesOutcome::written
                                                               : GpuProcessesOutcome::cannotWrite;
}

const char* gpuProcessesMessage(GpuProcessesOutcome outcome) {
    switch (outcome) {
        case GpuProcessesOutcome::written:
            return "GPU processes written.";
        case GpuProcessesOutcome::usage:
            return "Usage: tarvelon.exe --gpu-processes FILE";
        case GpuProcessesOutcome::cannotWrite:
            break;
    }
    return "The file cannot be written.";
}

}  // namespace tarvelon
