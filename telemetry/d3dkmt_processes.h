// The processes behind each local GPU's load and memory, read through the kernel-thunk statistics
// with a handle of each process: which adapter a GPU is (NVIDIA's too, by its PCI bus and device),
// the table of processes opened for one round of samples, and one sample of an adapter's processes.
// Read only while someone looks: it opens every process of the machine.
#pragma once

#include <cstdint>

#include "platform/processes.h"
#include "telemetry/d3dkmt_access.h"
#include "telemetry/gpu_processes.h"
#include "telemetry/records.h"

namespace tarvelon {

constexpr int kMaxOpenedProcesses = 4096;

struct OpenedProcess {
    uint32_t pid;
    uint64_t startTime;
    ProcessHandle* handle;
};

// The processes open for one round. Those that could not be opened, or whose start time could not be
// read (it tells them from a later process with the same id), are only counted.
struct ProcessTable {
    int32_t count;
    int32_t unopened;
    OpenedProcess processes[kMaxOpenedProcesses];
};

void openProcessTable(ProcessTable& table);
void closeProcessTable(ProcessTable& table);

// The adapter of each of count GPU records, by PCI bus and device; found[i] false where none is.
void findGpuAdapters(const D3dkmtFunctions& functions, const GpuRecord* gpus, int32_t count,
                     D3dkmtLuid* luids, bool* found);

// One sample of the processes of the table that have figures on the adapter, and the adapter's own.
void sampleAdapterProcesses(const D3dkmtFunctions& functions, const D3dkmtLuid& luid,
                            const ProcessTable& table, GpuProcessSample& sample);

}  // namespace tarvelon
